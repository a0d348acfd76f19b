local x = 0
for i = 1, 10000000 do x = (x + i) & 255 end
print(x)
