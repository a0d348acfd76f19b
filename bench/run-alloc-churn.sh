#!/usr/bin/env bash
# Times the allocation churn of the runtime against Lua 5.4 in one run and
# prints the time and peak-memory ratios (mox / lua; below 1 is better).
# Usage: bench/run-alloc-churn.sh [iterations]
set -eu
cd "$(dirname "$0")/.."
n="${1:-5000000}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build build/bench --target alloc-churn >/dev/null
measure() {  # prints "seconds kilobytes"
  /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1
}
read -r mt mm <<<"$(measure build/bench/alloc-churn "$n")"
read -r lt lm <<<"$(measure lua5.4 bench/alloc-churn.lua "$n")"
echo "mox: ${mt}s ${mm}KB   lua 5.4: ${lt}s ${lm}KB"
python3 -c "print(f'time ratio mox/lua: {$mt/$lt:.2f}   peak memory ratio mox/lua: {$mm/$lm:.2f}')"
