-- Formats 1,000,000 pseudo-random signed 32-bit numbers as "%d," and appends them to a
-- text chunk; every 64 numbers the chunk is hashed (h = h * 31 + byte, modulo 2^32) and
-- emptied. Prints the hash.
local N, PER_CHUNK = 1000000, 64
local format, byte = string.format, string.byte

local h = 0
local function hash_chunk(chunk)
  for i = 1, #chunk do h = (h * 31 + byte(chunk, i)) & 0xFFFFFFFF end
end

local x = 12345
local chunk = ""
for i = 1, N do
  x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
  local v = x >= 0x80000000 and x - 0x100000000 or x
  chunk = chunk .. format("%d,", v)
  if i % PER_CHUNK == 0 then
    hash_chunk(chunk)
    chunk = ""
  end
end
hash_chunk(chunk)
print(h)
