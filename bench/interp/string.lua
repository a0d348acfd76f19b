local parts = {}
for i = 1, 1000000 do parts[#parts + 1] = "abc" end
local s = table.concat(parts)
print(#s)
