#!/usr/bin/env python3
"""The Python side of bench/run-react-url-help.sh. With "gen DIR" writes
DIR/urls.txt (100,000 distinct URLs); with "run DIR RUNS" prints one
"name ms" line per operation, the median of RUNS runs:
  parse-url        urlsplit plus unquote of every component of each URL
  help-append      pydoc.render_doc of list.append (x200)
  help-system      pydoc.render_doc of str (x20)
  what-pri         a scan of the names and docstrings of builtins for "pri" (x200)
  react-N          one field set 100,000 times with N relations in a flat
                   table, propagated as the reactive engine does
"""
import builtins
import pydoc
import random
import sys
import time
from urllib.parse import urlsplit, unquote


def gen(directory):
    rng = random.Random(7)
    schemes = ["http", "https", "ftp", "mox", "svn+ssh"]
    words = ["alpha", "beta", "gamma", "delta", "docs", "index", "a%20b", "x~y", "img", "src"]
    out = []
    for i in range(100000):
        url = "%s://" % rng.choice(schemes)
        if rng.random() < 0.2:
            url += "user%d:pw@" % i
        url += "host%d.example.org" % rng.randrange(1000)
        if rng.random() < 0.3:
            url += ":%d" % rng.randrange(1, 65536)
        url += "/" + "/".join(rng.choice(words) for _ in range(rng.randrange(1, 5)))
        url += "/page%d.html" % i
        if rng.random() < 0.5:
            url += "?q=%d&r=%s" % (i, rng.choice(words))
        if rng.random() < 0.2:
            url += "#frag%d" % i
        out.append(url)
    with open(directory + "/urls.txt", "w") as f:
        f.write("\n".join(out) + "\n")


def parse_all(urls):
    for url in urls:
        p = urlsplit(url)
        netloc = p.netloc
        user = None
        if "@" in netloc:
            user, netloc = netloc.rsplit("@", 1)
            user = unquote(user)
        host, _, port = netloc.partition(":")
        (unquote(host), int(port) if port else None, unquote(p.path),
         unquote(p.query), unquote(p.fragment), user)


class Engine:
    """The flat relation table and the queue of the reactive engine."""

    def __init__(self):
        self.relations = []
        self.queue = []

    def pending(self, reactor, reaction):
        q = self.queue
        for i in range(0, len(q), 4):
            if q[i] is reactor and q[i + 1] is reaction:
                return True
        return False

    def evaluate(self, reaction):
        try:
            return reaction()
        except Exception as e:  # printed and ignored, as the engine does
            print(e)

    def check(self, reactor, field):
        rel = self.relations
        for i in range(0, len(rel), 4):
            if rel[i] is not reactor or rel[i + 1] != field:
                continue
            reaction, targets = rel[i + 2], rel[i + 3]
            if self.queue and self.pending(reactor, reaction):
                continue
            if not self.queue:
                self.queue.extend([reactor, reaction, targets, True])
                self.evaluate(reaction)
                q = len(self.queue)
                while True:
                    q -= 4
                    if self.queue[q + 3]:
                        del self.queue[q:]
                    else:
                        size = len(self.queue)
                        self.evaluate(self.queue[q + 1])
                        if size == len(self.queue):
                            del self.queue[q:]
                        else:
                            self.queue[q + 3] = True
                            q = len(self.queue)
                    if q == 0:
                        break
                del self.queue[:]
            else:
                self.queue.extend([reactor, reaction, targets, False])


class Reactor:
    def __init__(self, engine):
        self.__dict__["_engine"] = engine
        self.__dict__["v"] = 0

    def __setattr__(self, name, value):
        self.__dict__[name] = value
        self._engine.check(self, name)


def react_bench(count):
    engine = Engine()
    others = [Reactor(engine) for _ in range(count - 1)]
    for o in others:
        engine.relations.extend([o, "v", lambda: None, None])
    r = Reactor(engine)
    seen = [0]

    def reaction():
        seen[0] = r.v

    engine.relations.extend([r, "v", reaction, None])
    for i in range(100000):
        r.v = i
    assert seen[0] == 99999


def what_pri():
    hits = []
    for name in sorted(dir(builtins)):
        doc = getattr(getattr(builtins, name), "__doc__", None) or ""
        if "pri" in name or "pri" in doc:
            hits.append(name)
    return hits


def median_ms(fn, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append((time.perf_counter() - t) * 1000)
    times.sort()
    return times[(len(times) - 1) // 2]


def run(directory, runs):
    urls = open(directory + "/urls.txt").read().split()
    print("parse-url", median_ms(lambda: parse_all(urls), runs))
    print("help-append", median_ms(lambda: [pydoc.render_doc(list.append) for _ in range(200)], runs))
    print("help-system", median_ms(lambda: [pydoc.render_doc(str) for _ in range(20)], runs))
    print("what-pri", median_ms(lambda: [what_pri() for _ in range(200)], runs))
    for n in (10, 100, 1000):
        print("react-%d" % n, median_ms(lambda: react_bench(n), runs))


if __name__ == "__main__":
    if sys.argv[1] == "gen":
        gen(sys.argv[2])
    else:
        run(sys.argv[2], int(sys.argv[3]))
