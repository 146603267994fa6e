#!/usr/bin/env bash
# The main job: builds the 64-bit Windows program, then starts Vantrel.exe under Wine on
# a sample list of files, the way the shell extension's context menu starts it, and shows
# what it did: exit status, message boxes, registry values, data folder, list files.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
# "wine" that runs here: the 64-bit loader where 32-bit programs cannot run.
# shellcheck source=wine-env.sh
. scripts/wine-env.sh
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
  # Wine's own notes (a volume label it may not read) are not the program's output.
  scripts/wine-run.sh "$DRIVE" "$(winpath "$DIST/Vantrel.exe")" "$@" 2> >(grep -v '^wine: ' >&2) || true
}

DEMO="$ROOT/build/demo"
rm -rf "$DEMO"; mkdir -p "$DEMO/files" "$DEMO/icons"
printf 'quarterly figures\r\n' > "$DEMO/files/report.txt"
printf '[settings]\r\nmode=1\r\n' > "$DEMO/files/settings.ini"
printf '{\\rtf1 letter}\r\n' > "$DEMO/files/letter.rtf"
printf 'notes\r\n' > "$DEMO/files/notes.txt"
mkdir -p "$DEMO/files/a folder"

# This Wine prefix knows .ini and .rtf but gives them no icons, and has no .txt: the demo
# registers them as Windows does, machine-wide, with icons of Wine's own programs.
reg() { wine reg add "$@" /f >/dev/null 2>&1; }
reg 'HKLM\Software\Classes\.txt' /ve /d txtfile
reg 'HKLM\Software\Classes\txtfile' /ve /d 'Text Document'
reg 'HKLM\Software\Classes\txtfile\DefaultIcon' /ve /t REG_EXPAND_SZ /d '%SystemRoot%\system32\notepad.exe,0'
reg 'HKLM\Software\Classes\inifile\DefaultIcon' /ve /t REG_EXPAND_SZ /d '%SystemRoot%\system32\shell32.dll,1'
reg 'HKLM\Software\Classes\rtffile\DefaultIcon' /ve /t REG_EXPAND_SZ /d '"%ProgramFiles%\Windows NT\Accessories\wordpad.exe",0'
for t in txtfile inifile rtffile; do wine reg delete "HKLM\\Software\\Classes\\$t\\ShellEx" /f >/dev/null 2>&1 || true; done

# These types have no icon handler yet: the program asks the registrator service, the real
# VantrelRegistrator.exe from dist/, installed and started through the service control
# manager on a free loopback port.
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
reg 'HKLM\Software\Kestrane\Vantrel' /v ServicePort /t REG_DWORD /d "$PORT" /reg:32
REGISTRATOR="$(winpath "$DIST/VantrelRegistrator.exe")"
wine "$REGISTRATOR" --uninstall >/dev/null 2>&1 || true
echo "== registrator service on 127.0.0.1:$PORT"
wine "$REGISTRATOR" --install 2>&1 | tr -d '\r' | sed 's/^/  /'
wine "$REGISTRATOR" --start 2>&1 | tr -d '\r' | sed 's/^/  /'
trap 'wine "$REGISTRATOR" --uninstall >/dev/null 2>&1 || true; wineserver -k >/dev/null 2>&1 || true; [ -n "${XVFB_PID:-}" ] && kill $XVFB_PID 2>/dev/null || true' EXIT
handlers() {
  for t in txtfile inifile rtffile; do
    v=$(wine reg query "HKLM\\Software\\Classes\\$t\\ShellEx\\IconHandler" /ve 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}' || true)
    echo "  $t icon handler: ${v:-none}"
  done
}

list() {
  local out="$1"; shift
  : > "$out"
  for f in "$@"; do printf '%s\r\n' "$(winpath "$f")" >> "$out"; done
}

echo "== refresh the shell's icons, writing the program location"
vantrel -rv
wine reg query 'HKCU\Software\Kestrane\Vantrel' 2>/dev/null | tr -d '\r' | grep -E 'Vantrel(Path|Dir)' || true
APPDATA_DIR=$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -path '*AppData/Roaming/Kestrane/Vantrel' -type d | head -1)
echo "  data folder: ${APPDATA_DIR:-missing}"

echo "== the marker library staged beside the program"
scripts/wine-run.sh "build/$PRESET/tools/icontool.exe" groups "$(winpath "$DIST/icl/Main.icl")" | tr -d '\r' | head -20 || true

F="$DEMO/files"
echo "== mark report.txt and settings.ini \"Approved\" (marker 6); the list also holds an empty line, a folder and a missing file"
list "$DEMO/mark.tmp" "$F/report.txt" "$F/settings.ini" "$F/a folder" "$F/missing.txt"
sed -i 's/^\(.*settings.ini\r\)$/\1\n\r/' "$DEMO/mark.tmp"
vantrel -oi "$(winpath "$DEMO/mark.tmp")" "$(winpath "$DIST/icl/Main.icl")" 6
[ -f "$DEMO/mark.tmp" ] && echo "  list file kept" || echo "  list file deleted at exit"
handlers

echo "== colour settings.ini and letter.rtf Blue, then mark letter.rtf \"Rejected\" (marker 8)"
list "$DEMO/colour.tmp" "$F/settings.ini" "$F/letter.rtf"
vantrel -ci "$(winpath "$DEMO/colour.tmp")" 16748891
list "$DEMO/reject.tmp" "$F/letter.rtf"
vantrel -oi "$(winpath "$DEMO/reject.tmp")" "$(winpath "$DIST/icl/Main.icl")" 8
handlers

echo "== a file of an unregistered type and a bad colour"
printf 'x' > "$F/data.xyz"
list "$DEMO/odd.tmp" "$F/data.xyz" "$F/notes.txt"
vantrel -ci "$(winpath "$DEMO/odd.tmp")" 3556862
list "$DEMO/bad.tmp" "$F/notes.txt"
vantrel -ci "$(winpath "$DEMO/bad.tmp")" abc

echo "== the streams written (Wine keeps a stream file:name as a file of that name)"
for f in report.txt settings.ini letter.rtf notes.txt; do
  if [ -f "$F/$f:vantrelicon" ]; then
    echo "  $f:vantrelicon $(stat -c %s "$F/$f:vantrelicon") bytes; $f:vantreliconinfo:"
    tr -d '\r' < "$F/$f:vantreliconinfo" | sed 's/^/      /'
    scripts/wine-run.sh "build/$PRESET/tools/icontool.exe" export "$(winpath "$F/$f:vantrelicon")" \
      "$(winpath "$DEMO/icons")" >/dev/null 2>&1 || true
  else
    echo "  $f: no icon stream"
  fi
done
echo "  change journal:"
tr -d '\r' < "$APPDATA_DIR/Changes.dat" | sed 's/^/      /'
if command -v convert >/dev/null && ls "$DEMO/icons"/*.png >/dev/null 2>&1; then
  convert "$DEMO/icons"/*-48x48-*.png +repage +append -background '#e8e8e8' -flatten "$DEMO/marked-48.png" 2>/dev/null || true
fi
echo "  icons as PNG: $DEMO/icons/ (48-pixel row: $DEMO/marked-48.png)"

echo "== the main window on the three marked files (pictures in $DEMO/window/)"
mkdir -p "$DEMO/window"
SELECTED="$APPDATA_DIR/selectedfiles.dat"
list "$SELECTED" "$F/report.txt" "$F/settings.ini" "$F/letter.rtf"
WINDOW="build/$PRESET/tests/app/vantrel_window.exe"
shots() {  # picture names and the driver's actions, run on the program without a switch
  scripts/wine-run.sh "$WINDOW" "$(winpath "$DIST/Vantrel.exe")" -- "$@" 2> >(grep -v '^wine: ' >&2) | tr -d '\r' || true
}
W="$(winpath "$DEMO/window")"
shots shot "$W\\multiple-colors.bmp" page 1 shot "$W\\multiple-main.bmp" hover 7 shot "$W\\hint.bmp" \
  about "$W\\about.bmp" mode single page 1 shot "$W\\single-colors.bmp" close
echo "  selectedfiles.dat after the window closed:"
tr -d '\r' < "$SELECTED" | sed 's/^/      /'
# Three files of one deep folder: each entry shows its file name, the path's middle gives
# way; the hint and the single mode's name box show the rest.
echo "== the main window on three files of one deep folder, at 96 and 144 DPI"
DEEP="$WINEPREFIX/drive_c/users/someone/Documents/Projects/2026/Quarterly reports/Drafts"
DEEP_WIN='C:\users\someone\Documents\Projects\2026\Quarterly reports\Drafts'
rm -rf "$DEEP"; mkdir -p "$DEEP"
DEEP_FILES=("Q1 revenue report.txt" "Q2 revenue report.txt" "Summary for the board.txt")
deep_list() { for f in "${DEEP_FILES[@]}"; do printf '%s\r\n' "$DEEP_WIN\\$f"; done > "$SELECTED"; }
for f in "${DEEP_FILES[@]}"; do printf 'draft\r\n' > "$DEEP/$f"; done
deep_list
shots clickfile 1 shot "$W\\deep-folder.bmp" hoverfile 2 shot "$W\\deep-folder-hint.bmp" \
  mode single shot "$W\\deep-folder-single.bmp" close
deep_list
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
shots clickfile 1 shot "$W\\dpi144-deep-folder.bmp" hoverfile 2 shot "$W\\dpi144-deep-folder-hint.bmp" \
  mode single shot "$W\\dpi144-deep-folder-single.bmp" close
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
list "$SELECTED" "$F/report.txt" "$F/settings.ini" "$F/letter.rtf"
# "Marked Files...": report.txt loses its icon stream (as a service that drops streams
# leaves it) and the journal names a file that is gone.
rm -f "$F/report.txt:vantrelicon"
printf '%s\r\n' "$(winpath "$F/draft.txt")" >> "$APPDATA_DIR/Changes.dat"
echo "== Marked Files: marked, lost (report.txt's stream deleted) and missing (draft.txt) files"
shots marked "$W\\marked-files.bmp" close
# The same windows at 150 %: the system DPI of this Wine prefix set to 144 for one start.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
shots page 1 shot "$W\\dpi144.bmp" marked "$W\\marked-files-dpi144.bmp" close
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1

echo "== My Markers: a PNG drawn here and icons of Wine's programs added as markers in the window"
rm -rf "$APPDATA_DIR/icl"
# A flag on a pole, 3:2, with a soft shadow: a picture of no marker size, with alpha.
/usr/bin/python3 - "$F/flag.png" <<'PY'
import sys
from PIL import Image, ImageDraw
im = Image.new("RGBA", (360, 240), (0, 0, 0, 0))
d = ImageDraw.Draw(im)
d.ellipse((40, 200, 200, 236), fill=(0, 0, 0, 70))
d.rectangle((60, 20, 76, 220), fill=(90, 60, 40, 255))
d.polygon([(76, 24), (330, 60), (76, 140)], fill=(230, 40, 60, 255))
d.polygon([(76, 60), (250, 72), (76, 104)], fill=(255, 200, 40, 230))
im.save(sys.argv[1])
PY
list "$SELECTED" "$F/report.txt" "$F/settings.ini" "$F/letter.rtf"
shots addmarker "$(winpath "$F/flag.png")" "Flag" "$W\\add-marker-png.bmp" \
  addmarker 'C:\windows\system32\notepad.exe' "Notepad" "$W\\add-marker-exe.bmp" \
  addmarker 'C:\windows\system32\winemine.exe' "Mine" - shot "$W\\my-markers.bmp" \
  menu 2 shot "$W\\my-markers-menu.bmp" close
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
shots addmarker 'C:\windows\system32\shell32.dll' "Shell" "$W\\dpi144-add-marker.bmp" \
  shot "$W\\dpi144-my-markers.bmp" close
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
echo "  the data folder's icl:"
for m in "$APPDATA_DIR"/icl/*; do
  echo "      $(basename "$m") $(stat -c %s "$m") bytes$(case "$m" in *.icl) printf ': '; scripts/wine-run.sh "build/$PRESET/tools/icontool.exe" names "$(winpath "$m")" 2>/dev/null | tr -d '\r' | tr '\n' ' ';; esac)"
done
echo "  notes.txt marked with \"Flag\" from the command line, then the marker removed in the window and the file coloured:"
list "$DEMO/flag.tmp" "$F/notes.txt"
vantrel -oi "$(winpath "$DEMO/flag.tmp")" "$(winpath "$(ls "$APPDATA_DIR"/icl/User-1-*.icl)")" 0
tr -d '\r' < "$F/notes.txt:vantreliconinfo" | sed 's/^/      /'
mkdir -p "$DEMO/icons/flag"
scripts/wine-run.sh "build/$PRESET/tools/icontool.exe" export "$(winpath "$F/notes.txt:vantrelicon")" \
  "$(winpath "$DEMO/icons/flag")" >/dev/null 2>&1 || true
echo "      its icon as PNG: $DEMO/icons/flag/"
shots page 2 remove 1 "$W\\remove-question.bmp" shot "$W\\my-markers-removed.bmp" close
list "$DEMO/flag.tmp" "$F/notes.txt"
vantrel -ci "$(winpath "$DEMO/flag.tmp")" 16748891
for b in "$DEMO/window"/*.bmp; do
  [ -f "$b" ] && convert "$b" "${b%.bmp}.png" 2>/dev/null && rm -f "$b"
done
ls "$DEMO/window"/*.png 2>/dev/null | sed 's/^/  /' || true

# The README's picture: each marked file's 48-pixel icon (shown twice as large, pixel for
# pixel) above the main window on those files, so it shows what this build does. The
# screen copy of the window is cut to the window itself (Xvfb shows black around it).
if [ -f "$DEMO/window/multiple-main.png" ]; then
  mkdir -p "$ROOT/docs"
  /usr/bin/python3 - "$DEMO/window/multiple-main.png" "$ROOT/docs/vantrel.png" \
    "$DEMO"/icons/report-*-48x48-32.png "$DEMO"/icons/settings-*-48x48-32.png \
    "$DEMO"/icons/letter-*-48x48-32.png "$DEMO"/icons/notes-*-48x48-32.png <<'PY' &&
import sys
from PIL import Image
window = Image.open(sys.argv[1]).convert("RGB")
window = window.crop(window.convert("L").point(lambda v: 255 if v else 0).getbbox())
icons = [Image.open(p).convert("RGBA").resize((96, 96), Image.NEAREST) for p in sys.argv[3:]]
gap, back = 16, (232, 232, 232)
row_w = len(icons) * 96 + (len(icons) - 1) * gap
w = max(window.width, row_w) + 2 * gap
out = Image.new("RGB", (w, gap + 96 + gap + window.height + gap), back)
x = (w - row_w) // 2
for icon in icons:
    out.paste(icon, (x, gap), icon)
    x += 96 + gap
out.paste(window, ((w - window.width) // 2, 2 * gap + 96))
out.save(sys.argv[2], optimize=True)
PY
  echo "== README picture: docs/vantrel.png"
fi
