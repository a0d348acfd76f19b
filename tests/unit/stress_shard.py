#!/usr/bin/env python3
"""Runs one shard of the unit suite, the shards balanced by measured time.

    stress_shard.py BINARY INDEX COUNT TIMES

GoogleTest's own sharding deals the tests out by index, so that one shard
gets the few slow tests and waits on them while the others are long done.
Here every test is weighed by its time in TIMES (lines "SECONDS NAME",
measured under the sanitizers with a collection at every allocation; a test
missing from it weighs as much as the median one), and the tests are dealt
out longest first, each to the shard with the least time so far. Every run
lists the tests afresh, so that a new test is never left out of every
shard. To measure the times again:

    MOX_GC_STRESS=1 BINARY --gtest_output=xml:times.xml
    stress_shard.py --times times.xml > TIMES
"""
import os
import subprocess
import sys
import xml.etree.ElementTree as ET


def list_tests(binary):
    out = subprocess.run([binary, "--gtest_list_tests"], check=True, stdout=subprocess.PIPE,
                         env=dict(os.environ, GTEST_FILTER="*")).stdout.decode()
    names, suite = [], ""
    for line in out.splitlines():
        if not line.strip():
            continue
        if not line.startswith(" "):
            suite = line.split("#")[0].strip()
        else:
            names.append(suite + line.split("#")[0].strip())
    return names


def read_times(path):
    times = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                times[parts[1]] = float(parts[0])
    return times


def deal(names, times, count):
    known = sorted(times.values())
    default = known[len(known) // 2] if known else 1.0
    shards = [[0.0, []] for _ in range(count)]
    for name in sorted(names, key=lambda n: (-times.get(n, default), n)):
        lightest = min(shards, key=lambda s: s[0])
        lightest[0] += times.get(name, default)
        lightest[1].append(name)
    return shards


def times_from_xml(path):
    for case in ET.parse(path).getroot().iter("testcase"):
        print("%.3f %s.%s" % (float(case.get("time")), case.get("classname"), case.get("name")))


def main(argv):
    if len(argv) == 3 and argv[1] == "--times":
        times_from_xml(argv[2])
        return 0
    if len(argv) != 5:
        sys.exit(__doc__)
    binary, index, count, times_path = argv[1], int(argv[2]), int(argv[3]), argv[4]
    weight, names = deal(list_tests(binary), read_times(times_path), count)[index]
    print("shard %d of %d: %d tests, about %.0f s by the measured times" %
          (index, count, len(names), weight), flush=True)
    if not names:
        return 0
    env = dict(os.environ)
    env.pop("GTEST_TOTAL_SHARDS", None)
    env.pop("GTEST_SHARD_INDEX", None)
    return subprocess.run([binary, "--gtest_brief=1", "--gtest_filter=" + ":".join(names)],
                          env=env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
