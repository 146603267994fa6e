#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's throwaway prefix (never ~/.wine).
# The prefix is created once with wineboot; an Xvfb display is started when none is set.
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${VANTREL_WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko download prompts: nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$(dirname "$WINEPREFIX")"
# shellcheck source=wine-env.sh
. "$ROOT/scripts/wine-env.sh"

if [ -z "${DISPLAY:-}" ]; then
  # One shared Xvfb for ad-hoc runs, kept for later calls.
  XLOCK="$(dirname "$WINEPREFIX")/xvfb.display"
  (
    flock 8
    if [ -f "$XLOCK" ] && kill -0 "$(cut -d' ' -f2 "$XLOCK")" 2>/dev/null; then exit 0; fi
    for n in $(seq 91 120); do
      [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 8>&- &
      pid=$!
      for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      echo ":$n $pid" > "$XLOCK"
      exit 0
    done
  ) 8>"$XLOCK.lock"
  export DISPLAY="$(cut -d' ' -f1 "$XLOCK")"
fi

(
  flock 9
  if [ ! -f "$WINEPREFIX/.vantrel-ready" ]; then
    echo "wine-run: creating WINEPREFIX $WINEPREFIX" >&2
    # The lock descriptor must not live on in wineserver, which outlasts this call.
    wineboot -i >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
    touch "$WINEPREFIX/.vantrel-ready"
  fi
  # A program that crashes prints its backtrace and ends, instead of waiting behind
  # Wine's crash dialog until a test's timeout.
  if [ ! -f "$WINEPREFIX/.vantrel-nocrashdialog" ]; then
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
    touch "$WINEPREFIX/.vantrel-nocrashdialog"
  fi
) 9>"$WINEPREFIX.lock"

# "--init" only prepares the prefix (and display), so a test run starts on a ready prefix.
[ "${1:-}" = "--init" ] && exit 0
# A GoogleTest program writes its report at its end. One that ended without it crashed
# (under emulation a 32-bit program's crash can reach the caller as exit status 0), so
# that is a failure whatever the status says.
report=""
case "${GTEST_OUTPUT:-}" in xml:Z:/*) report="${GTEST_OUTPUT#xml:Z:}" ;; xml:/*) report="${GTEST_OUTPUT#xml:}" ;; esac
[ -z "$report" ] && exec wine "$@"
rm -f "$report"
wine "$@"
rc=$?
if [ "$rc" = 0 ] && [ ! -s "$report" ]; then
  echo "wine-run: $1 ended without its test report $report: it crashed" >&2
  exit 1
fi
exit "$rc"
