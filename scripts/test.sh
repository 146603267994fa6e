#!/usr/bin/env bash
# Builds every preset and runs every test: natively (gcc; clang with AddressSanitizer,
# UBSan and a short libFuzzer run), and under Wine in 64-bit and 32-bit processes.
# Ends with one summary line over all presets.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh || exit 1
# Wine's starters for this machine, and VANTREL_RUNS_32BIT: whether it runs 32-bit programs.
# shellcheck source=wine-env.sh
. "$ROOT/scripts/wine-env.sh"
echo "== 32-bit programs run ${VANTREL_32BIT_BY:-not at all: $VANTREL_NO_32BIT}${VANTREL_32BIT_EMULATOR:+ ($VANTREL_32BIT_EMULATOR)}"

PRESETS=(${VANTREL_PRESETS:-native fuzz win64 win32})
# Where 32-bit programs run by emulation, the win32 preset runs all its tests (with longer
# waits), unless the emulator is Debian's qemu-i386 7.2 (the set-up takes a newer one from
# backports where it can): that one ends a 32-bit Wine process with a segmentation fault
# once several of its threads call into Wine at once (8 threads creating files are enough),
# so with it the win32 preset runs what its 32-bit half does on its own: the shell
# extension's registration (machine-wide, per user, regsvr32), its icon handler and menu,
# the 32-bit program marking, colouring and restoring files as the menu starts it, the
# library and its readers, and the generator tools' bytes against the win64 build's. The
# tests whose programs run threads are left out there and counted as skipped: the
# engine's and windows' units (app.units, with its background threads), the threaded
# imaging tests, the registrator service, and the list file's concurrent writers.
# VANTREL_WIN32_ALL=1 runs them all.

EMULATED_TESTS="shellext.module|shellext.handlers|app.program|registrator.parser|markers|main_icl_windows|app.text|imaging_platform_view_tests|generators.same_bytes_as_win64"
EMULATED_FILTER="-ListFile.ConcurrentWritersNeverShareAName"
EMULATED_LEFT_OUT="not run where 32-bit programs run by emulation: their programs run several threads at once, which ${VANTREL_32BIT_EMULATOR:-the emulator} ends with a segmentation fault (the win64 preset runs the same tests)"
LOGDIR="$ROOT/build/logs"
mkdir -p "$LOGDIR"
TOTALS="$LOGDIR/totals.txt"
: > "$TOTALS"

# One virtual display for every test that opens a window.
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 60 90); do [ -e "/tmp/.X$n-lock" ] || break; done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
cleanup() {
  WINEPREFIX="$ROOT/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
  for p in "$ROOT"/build/packages/test-x64 "$ROOT"/build/packages/test-x86; do
    [ -d "$p" ] && WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true
  done
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT

status=0
for preset in "${PRESETS[@]}"; do
  echo "== $preset: configure and build"
  # Where 32-bit programs cannot run, the win32 build takes its generated files (Main.icl,
  # icons) from the win64 build's generator tools, built before it.
  # Its tests wait VANTREL_32BIT_SCALE times longer (32-bit programs by emulation are many
  # times slower), and its own tools' files are compared with the win64 build's.
  configure=()
  note=""
  if [ "$preset" = win32 ]; then
    generators=""
    [ "$VANTREL_RUNS_32BIT" = 0 ] && generators="$ROOT/build/win64"
    configure=(-DVANTREL_GENERATORS_FROM="$generators" -DVANTREL_WAIT_SCALE="$VANTREL_32BIT_SCALE"
               -DVANTREL_COMPARE_GENERATORS_WITH="$ROOT/build/win64")
    note="32-bit programs ${VANTREL_32BIT_BY:-not run}${VANTREL_32BIT_EMULATOR:+, $VANTREL_32BIT_EMULATOR}"
  fi
  export VANTREL_SUMMARY_NOTE="$note"
  if ! cmake --preset "$preset" "${configure[@]}" >"$LOGDIR/$preset-configure.log" 2>&1; then
    tail -30 "$LOGDIR/$preset-configure.log"; echo "$preset: configure failed"; echo "0 1 0" >> "$TOTALS"; status=1; continue
  fi
  if ! cmake --build --preset "$preset" -j2 >"$LOGDIR/$preset-build.log" 2>&1; then
    grep -E 'error|Error' "$LOGDIR/$preset-build.log" | head -30; echo "$preset: build failed"; echo "0 1 0" >> "$TOTALS"; status=1; continue
  fi
  if grep -E '^/work.*warning:|^[^ ]*\.(cpp|h):[0-9]+:[0-9]+: warning' "$LOGDIR/$preset-build.log" | grep -v '/usr/' | head -5 | grep -q .; then
    echo "$preset: our code compiled with warnings:"; grep -E 'warning:' "$LOGDIR/$preset-build.log" | grep -v '/usr/' | head -10
  fi
  if [ "$preset" = win32 ] && [ "$VANTREL_RUNS_32BIT" = 0 ]; then
    # Built (the packages need its program folder), but its tests are 32-bit programs.
    /usr/bin/env python3 scripts/summarize-tests.py "$preset" --not-run "$VANTREL_NO_32BIT" "build/$preset" "$TOTALS" || status=1
    continue
  fi
  case "$preset" in win*) scripts/wine-run.sh --init ;; esac
  echo "== $preset: test"
  rm -rf "build/$preset/test-results"; mkdir -p "build/$preset/test-results"
  select=(); left=()
  if [ "$preset" = win32 ] && [ "$VANTREL_32BIT_THREADS" = 0 ] && [ "${VANTREL_WIN32_ALL:-0}" != 1 ]; then
    select=(-R "^($EMULATED_TESTS)\$")
    left=(--left-out "$EMULATED_LEFT_OUT" "build/$preset" "build/win64/test-results")
    export GTEST_FILTER="$EMULATED_FILTER"
  fi
  start=$SECONDS
  ctest --preset "$preset" "${select[@]}" --output-junit "$ROOT/build/$preset/test-results/ctest-junit.xml" 2>&1 | tee "$LOGDIR/$preset-test.log" | grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed' || true
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
  unset GTEST_FILTER
  echo "$preset: tests took $((SECONDS - start)) s"
  /usr/bin/env python3 scripts/summarize-tests.py "$preset" "build/$preset/test-results/ctest-junit.xml" \
    "build/$preset/test-results" "$TOTALS" "${left[@]}" || status=1
done

# The installer packages, when both Windows presets are built: each installed, used,
# repaired, upgraded and removed with Wine's own msiexec in a throwaway prefix.
if [ -f build/win64/dist/Vantrel.exe ] && [ -f build/win32/dist/Vantrel.exe ] && [[ " ${PRESETS[*]} " == *" win32 "* ]]; then
  echo "== packages: build and test"
  if bash scripts/package.sh >"$LOGDIR/package-build.log" 2>&1; then
    grep '^package:' "$LOGDIR/package-build.log"
    for arch in x64 x86; do
      dist=build/packages/stage-win64; extra=(build/packages/stage-win32)
      [ "$arch" = x86 ] && { dist=build/packages/stage-win32; extra=(); }
      python3 tests/package/package_test.py "$arch" build/packages "$dist" "${extra[@]}" \
        >"$LOGDIR/package-$arch-test.log" 2>&1 || status=1
      grep -E '^  (FAIL|install:|uninstall:)|^  skip .*32-bit programs' "$LOGDIR/package-$arch-test.log" | head -20
      line=$(grep -E "^packages-$arch: " "$LOGDIR/package-$arch-test.log" || echo "packages-$arch: 0 passed, 1 failed, 0 skipped")
      echo "$line"
      echo "$line" | awk '{print $2, $4, $6}' >> "$TOTALS"
    done
  else
    tail -20 "$LOGDIR/package-build.log"; echo "packages: build failed"; echo "0 1 0" >> "$TOTALS"; status=1
  fi
fi

read -r P F S < <(awk '{p+=$1; f+=$2; s+=$3} END {print p+0, f+0, s+0}' "$TOTALS")
[ "$F" = 0 ] || status=1
echo
echo "tests: $P passed, $F failed, $S skipped"
exit $status
