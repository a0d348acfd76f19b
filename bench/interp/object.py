class O:
    def __init__(self):
        self.a = 0
        self.b = 3
def main():
    o = O()
    for i in range(1, 1000001):
        o.a = (o.a + o.b) & 65535
        o.b = (o.b + 1) & 255
    print(o.a)
main()
