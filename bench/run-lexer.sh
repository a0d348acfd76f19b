#!/usr/bin/env bash
# Lexer throughput beside its peers, in one run: the Mox lexer loading a
# generated 20 MB data file, Python's json.loads on the same data as JSON
# and Lua 5.4 loading it as a table constructor. Prints MB/s of each (best
# of five, the file's bytes over the time) and the ratios.
#
# usage: bench/run-lexer.sh [MEGABYTES]
set -eu
cd "$(dirname "$0")/.."
mb=${1:-20}
build=build/bench-lexer
data=$build/lexer-data
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_BENCH=ON -DMOX_TESTS=OFF >/dev/null
cmake --build "$build" --target lexer_bench -j 3 >/dev/null
mkdir -p "$data"
[ -f "$data/data.mox" ] && [ "$(cat "$data/size" 2>/dev/null)" = "$mb" ] ||
  { python3 bench/lexer-gen.py "$data" "$mb" && echo "$mb" > "$data/size"; }

mox_line=$("$build/lexer_bench" "$data/data.mox" 5)
echo "$mox_line"
json_line=$(python3 - "$data/data.json" <<'PY'
import json, sys, time
text = open(sys.argv[1], encoding="utf-8").read()
size = len(text.encode("utf-8")) / 1e6
best = float("inf")
for _ in range(5):
    start = time.perf_counter()
    json.loads(text)
    best = min(best, time.perf_counter() - start)
print("json.loads   %8.3f s  %7.1f MB/s" % (best, size / best))
PY
)
echo "$json_line"
lua_line=$(lua5.4 - "$data/data.lua" <<'LUA'
local f = assert(io.open(arg[1], "rb"))
local text = f:read("a")
f:close()
local best = math.huge
for _ = 1, 5 do
  local start = os.clock()
  local t = assert(load(text))()
  local elapsed = os.clock() - start
  if elapsed < best then best = elapsed end
  t = nil
  collectgarbage()
end
print(string.format("lua load     %8.3f s  %7.1f MB/s", best, #text / 1e6 / best))
LUA
)
echo "$lua_line"
rate() { echo "$1" | sed -n 's|.* \([0-9.]*\) MB/s.*|\1|p'; }
awk -v m="$(rate "$mox_line")" -v j="$(rate "$json_line")" -v l="$(rate "$lua_line")" \
  'BEGIN { printf "ratios (MB/s): mox/json.loads %.2f  mox/lua %.2f\n", m / j, m / l }'
