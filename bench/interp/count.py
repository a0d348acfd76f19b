def main():
    x = 0
    for i in range(1, 10000001):
        x = (x + i) & 255
    print(x)
main()
