import datetime
d = datetime.datetime(2000, 1, 1)
base = d
acc = 0
day = datetime.timedelta(days=1)
second = datetime.timedelta(seconds=1)
for i in range(1000000):
    d = d + day
    d = d + second
    acc = (acc + (d - base).days + d.isoweekday() + d.isocalendar()[1]) % 1000000007
    str(d)
print(acc)
