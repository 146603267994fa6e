#!/usr/bin/env bash
# A preset built but not tested (win32 where 32-bit programs cannot run): the tests ctest
# would run there count as skipped in the totals, with the reason; never as passed, and a
# build whose tests cannot be counted is a failure.
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK=$(mktemp -d)
trap "rm -rf \"\$WORK\"" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT

failures=0
check() {  # description, then a test command
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# A build folder with three tests, one of them disabled (ctest still lists it).
mkdir -p "$WORK/src"
cat > "$WORK/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(NotRun NONE)
enable_testing()
add_test(NAME one COMMAND false)
add_test(NAME two COMMAND false)
add_test(NAME three COMMAND false)
set_tests_properties(three PROPERTIES DISABLED ON)
CMAKE
cmake -S "$WORK/src" -B "$WORK/build" >/dev/null 2>&1 || { echo "FAILED: test project does not configure"; exit 1; }

summarize() { python3 "$ROOT/scripts/summarize-tests.py" win32 --not-run "no IA32 here" "$1" "$WORK/totals"; }

: > "$WORK/totals"
out=$(summarize "$WORK/build"); rc=$?
check "three tests skipped, nothing passed or failed" [ "$(cat "$WORK/totals")" = "0 0 3" ]
check "the reason in one line" grep -qxF "win32: tests skipped (3 CTest tests): no IA32 here" <<<"$out"
check "the preset's count line" grep -qxF "win32: 0 passed, 0 failed, 3 skipped" <<<"$out"
check "status 0" [ "$rc" = 0 ]

# Counts add to what the totals already hold.
summarize "$WORK/build" >/dev/null
check "a second preset appends its line" [ "$(cat "$WORK/totals")" = "$(printf '0 0 3\n0 0 3')" ]

# A folder that is no build (configure failed, wrong path): a failure, not a skip.
for bad in "$WORK/missing" "$WORK/src"; do
  : > "$WORK/totals"
  out=$(summarize "$bad"); rc=$?
  check "$(basename "$bad"): counted as one failure" [ "$(cat "$WORK/totals")" = "0 1 0" ]
  check "$(basename "$bad"): says why, status 1" grep -q "cannot count the tests of $bad" <<<"$out" && [ "$rc" = 1 ]
done

[ "$failures" = 0 ]
