def f(a, scale=None):
    return a * scale if scale is not None else a + 1
def main():
    t = 0
    for i in range(1, 1000001):
        t = (t + f(i, scale=2) + f(i)) & 65535
    print(t)
main()
