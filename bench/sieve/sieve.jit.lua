-- Sieve of Eratosthenes over 8,000,000 flags; prints the number of primes.
-- (The same source runs unchanged under LuaJIT.)
local N = 8000000
local flags = {}
for i = 0, N - 1 do flags[i] = 1 end
flags[0], flags[1] = 0, 0
local i = 2
while i * i < N do
  if flags[i] == 1 then
    for j = i * i, N - 1, i do flags[j] = 0 end
  end
  i = i + 1
end
local count = 0
for k = 0, N - 1 do count = count + flags[k] end
print(count)
