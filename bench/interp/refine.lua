local function f(a, scale)
  if scale then return a * scale end
  return a + 1
end
local t = 0
for i = 1, 1000000 do t = (t + f(i, 2) + f(i)) & 65535 end
print(t)
