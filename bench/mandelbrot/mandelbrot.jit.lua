-- Mandelbrot set over 600 x 400 points of [-2, 1] x [-1, 1], at most 256 iterations each,
-- (The same source runs unchanged under LuaJIT.)
-- in doubles; prints the total number of iterations.
local W, H, MAXIT = 600, 400, 256
local dx, dy = 3.0 / W, 2.0 / H
local total = 0
for py = 0, H - 1 do
  local ci = py * dy - 1.0
  for px = 0, W - 1 do
    local cr = px * dx - 2.0
    local zr, zi = 0.0, 0.0
    local n = 0
    while n < MAXIT do
      local zr2, zi2 = zr * zr, zi * zi
      if zr2 + zi2 > 4.0 then break end
      zi = zr * zi * 2.0 + ci
      zr = zr2 - zi2 + cr
      n = n + 1
    end
    total = total + n
  end
end
print(total)
