# Recursive fib(20) plain, then under the pure-Python profile module: prints
# the two times in seconds.
import profile
import time


def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)


start = time.perf_counter()
fib(20)
plain = time.perf_counter() - start
start = time.perf_counter()
profile.Profile().runcall(fib, 20)
profiled = time.perf_counter() - start
print(plain, profiled)
