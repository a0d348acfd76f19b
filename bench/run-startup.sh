#!/usr/bin/env bash
# Start-up with the library: mox-run of an empty file against `python3 -c
# pass`, 20 runs each, interleaved, in one run; prints the medians and their
# ratio (mox / python; below 1 is better). hyperfine is used when installed.
# Usage: bench/run-startup.sh [build-folder]   (default build/bench)
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build/bench}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target mox-run -j3 >/dev/null
empty="$(mktemp --suffix=.mox)"
trap 'rm -f "$empty"' EXIT
if command -v hyperfine >/dev/null; then
  hyperfine -N --warmup 3 --runs 20 "$dir/mox-run $empty" "python3 -c pass"
  exit
fi
python3 - "$dir/mox-run" "$empty" <<'PY'
import statistics, subprocess, sys, time
mox = [sys.argv[1], sys.argv[2]]
py = ["python3", "-c", "pass"]
times = {"mox": [], "python": []}
for _ in range(3):  # warm-up
    subprocess.run(mox, check=True)
    subprocess.run(py, check=True)
for _ in range(20):
    for name, cmd in (("mox", mox), ("python", py)):
        t = time.perf_counter()
        subprocess.run(cmd, check=True)
        times[name].append(time.perf_counter() - t)
m = statistics.median(times["mox"])
p = statistics.median(times["python"])
print(f"mox-run (empty file): median {m * 1000:.1f} ms   python3 -c pass: median {p * 1000:.1f} ms")
print(f"ratio mox/python: {m / p:.2f}")
PY
