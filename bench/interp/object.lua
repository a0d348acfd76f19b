local o = {a = 0, b = 3}
for i = 1, 1000000 do
  o.a = (o.a + o.b) & 65535
  o.b = (o.b + 1) & 255
end
print(o.a)
