def main():
    s = ""
    for i in range(1, 1000001):
        s += "abc"
    print(len(s))
main()
