-- In-place quicksort of 1,000,000 pseudo-random 32-bit integers; prints a hash of the
-- sorted array: h = h * 31 + a[i], modulo 2^32. LuaJIT numbers are doubles: every
-- intermediate product stays below 2^53, so the values are exact and compare as unsigned.
local N = 1000000
local rshift = bit.rshift

local function quicksort(a, lo, hi)
  local i, j = lo, hi
  local pivot = a[rshift(lo + hi, 1)]
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
  x = (x * 1664525 + 1013904223) % 4294967296
  a[i] = x
end
quicksort(a, 0, N - 1)
local h = 0
for i = 0, N - 1 do h = (h * 31 + a[i]) % 4294967296 end
print(string.format("%.0f", h))
