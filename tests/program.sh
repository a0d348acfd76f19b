#!/usr/bin/env bash
# Whole-program checks: the executable starts and ends cleanly, and the
# fault handler turns a hardware fault into the runtime-error exit.
# Usage: program.sh <mox executable> [emulator]
set -u
mox="$1"; emu="${2:-}"
probe="$(dirname "$mox")/fault-probe${mox##*mox}"
fails=0
check() {  # description, expected status, expected text (grep -E) or "", command...
  local what="$1" want="$2" text="$3"; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" != "$want" ]; then echo "FAIL: $what: status $rc, expected $want"; echo "$out" | head -5; fails=$((fails+1)); return; fi
  if [ -n "$text" ] && ! echo "$out" | grep -qE "$text"; then echo "FAIL: $what: output lacks '$text'"; echo "$out" | head -5; fails=$((fails+1)); return; fi
  echo "ok: $what"
}
export MOX_ERROR_BOX=stderr
export ASAN_OPTIONS="handle_segv=0:handle_sigbus=0:${ASAN_OPTIONS:-}"
check "starts and ends cleanly" 0 "" $emu "$mox"
check "a null write ends with runtime error 1" 1 "Runtime Error 1: access violation" $emu "$probe" null
# The runner carries the program's manifest, so that a script sees the
# version the system reports (the test prefix says Windows 10), not the one
# Windows hands to programs that declare no support for it.
run="$(dirname "$mox")/mox-run${mox##*mox}"
if [ -n "$emu" ]; then
  script=$(mktemp --suffix=.mox)
  echo "print select os-info 'version" > "$script"
  check "mox-run sees the system's own version" 0 "^10\.0\." $emu "$run" "$script"
  rm -f "$script"
fi
if [ -z "$emu" ]; then
  "$probe" wait & pid=$!
  sleep 0.3; kill -INT "$pid"; wait "$pid"; rc=$?
  if [ "$rc" = 0 ]; then echo "ok: Ctrl+C ends quietly"; else echo "FAIL: Ctrl+C status $rc"; fails=$((fails+1)); fi
fi
exit "$fails"
