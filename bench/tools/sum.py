# sum and statistics.fmean of a million floats: prints the two times.
import random
import statistics
import time

random.seed(7)
values = [random.random() for _ in range(1000000)]
start = time.perf_counter()
sum(values)
middle = time.perf_counter()
statistics.fmean(values)
print(middle - start, time.perf_counter() - middle)
