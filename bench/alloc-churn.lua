-- Allocation churn: the same work as alloc-churn.cpp, with tables and strings.
local iterations = tonumber(arg[1]) or 5000000
local ring_size = 100000
local start = os.clock()
local ring = {}
for i = 1, ring_size do ring[i] = false end
for i = 0, iterations - 1 do
  local text = "item" .. i
  local item = {i, text, false}
  if i % 64 == 0 then ring[(i // 64) % ring_size + 1] = item end
end
io.write(string.format("lua: %d iterations in %.3f s\n", iterations, os.clock() - start))
