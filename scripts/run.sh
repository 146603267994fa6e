#!/usr/bin/env bash
# The main job: builds the 64-bit Windows program, then starts Vantrel.exe under Wine on
# a sample list of files, the way the shell extension's context menu starts it, and shows
# what it did: exit status, message boxes, registry values, data folder, list files.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
PRESET="${VANTREL_PRESET:-win64}"
echo "== building $PRESET"
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" -j2 >/dev/null

export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 60 90); do [ -e "/tmp/.X$n-lock" ] || break; done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  trap 'wineserver -k >/dev/null 2>&1 || true; kill $XVFB_PID 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi

DIST="build/$PRESET/dist"
DRIVE="build/$PRESET/tests/app/vantrel_drive.exe"
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }
vantrel() {
  echo "\$ Vantrel.exe $*"
  scripts/wine-run.sh "$DRIVE" "$(winpath "$DIST/Vantrel.exe")" "$@" || true
}

DEMO="$ROOT/build/demo"
rm -rf "$DEMO"; mkdir -p "$DEMO/files"
printf 'quarterly figures\r\n' > "$DEMO/files/report.txt"
printf 'notes\r\n' > "$DEMO/files/notes.txt"
mkdir -p "$DEMO/files/a folder"
LIST="$DEMO/selected.tmp"
{
  printf '%s\r\n' "$(winpath "$DEMO/files/report.txt")"
  printf '\r\n'
  printf '%s\r\n' "$(winpath "$DEMO/files/a folder")"
  printf '%s\r\n' "$(winpath "$DEMO/files/missing.txt")"
  printf '%s' "$(winpath "$DEMO/files/notes.txt")"
} > "$LIST"
echo "== sample list $(winpath "$LIST"): two files, an empty line, a folder and a missing file"

echo "== refresh the shell's icons, writing the program location"
vantrel -rv
wine reg query 'HKCU\Software\Kestrane\Vantrel' 2>/dev/null | tr -d '\r' | grep -E 'Vantrel(Path|Dir)' || true
APPDATA_DIR=$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -path '*AppData/Roaming/Kestrane/Vantrel' -type d | head -1)
echo "  data folder: ${APPDATA_DIR:-missing}"

echo "== the marker library staged beside the program"
scripts/wine-run.sh "build/$PRESET/tools/icontool.exe" groups "$(winpath "$DIST/icl/Main.icl")" | tr -d '\r' | head -20 || true

echo "== mark the listed files with marker 6 of Main.icl, keeping the list (-dd)"
vantrel -oi "$(winpath "$LIST")" "$(winpath "$DIST/icl/Main.icl")" 6 -dd
[ -f "$LIST" ] && echo "  list file kept: yes" || echo "  list file kept: no"

echo "== colour them with a value that is no integer"
vantrel -ci "$(winpath "$LIST")" abc
[ -f "$LIST" ] && echo "  list file kept: yes" || echo "  list file deleted at exit: yes"
