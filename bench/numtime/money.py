from decimal import Decimal, ROUND_HALF_UP, getcontext
getcontext().prec = 40
m = Decimal(0)
r = Decimal(0)
step = Decimal("1.23457")
cent = Decimal("0.01")
for i in range(1000000):
    m = m + step
    r = (m * 3).quantize(cent, rounding=ROUND_HALF_UP)
print("$" + str(r.quantize(Decimal("0.00001"))))
