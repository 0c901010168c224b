-- In-place quicksort of 1,000,000 pseudo-random 32-bit integers; prints a hash of the
-- sorted array: h = h * 31 + a[i], modulo 2^32. Lua 5.4 integers are 64-bit, so the
-- values stay exact and compare as unsigned.
local N = 1000000

local function quicksort(a, lo, hi)
  local i, j = lo, hi
  local pivot = a[(lo + hi) // 2]
  while i <= j do
    while a[i] < pivot do i = i + 1 end
    while a[j] > pivot do j = j - 1 end
    if i <= j then
      a[i], a[j] = a[j], a[i]
      i = i + 1
      j = j - 1
    end
  end
  if lo < j then quicksort(a, lo, j) end
  if i < hi then quicksort(a, i, hi) end
end

local a = {}
local x = 12345
for i = 0, N - 1 do
  x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
  a[i] = x
end
quicksort(a, 0, N - 1)
local h = 0
for i = 0, N - 1 do h = (h * 31 + a[i]) & 0xFFFFFFFF end
print(h)
