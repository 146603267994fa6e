#!/usr/bin/env bash
# Every marker of Main.icl drawn over real type icons from Wine's own programs, plain and
# tinted with each colour of the colour table, as a marking makes them. Pillow reads each
# result back: one image per size that both the marker and the type icon have. A gallery
# of the results (PNG) is left in the output folder to be looked at.
set -euo pipefail
ICONTOOL="$1"; ICL="$2"; OUT="$3"
WINE_DIR=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if [ ! -f "$WINE_DIR/shell32.dll" ]; then echo "Wine's programs are not installed: skipped"; exit 0; fi
rm -rf "$OUT"; mkdir -p "$OUT/icons" "$OUT/png"
# Type icons: a document and a folder icon of shell32, and the icons of two programs.
"$ICONTOOL" extract "$WINE_DIR/shell32.dll" 0 "$OUT/icons/doc.ico" >/dev/null
"$ICONTOOL" extract "$WINE_DIR/shell32.dll" 4 "$OUT/icons/folder.ico" >/dev/null
"$ICONTOOL" extract "$WINE_DIR/notepad.exe" 0 "$OUT/icons/notepad.ico" >/dev/null
"$ICONTOOL" extract "$WINE_DIR/wordpad.exe" 0 "$OUT/icons/wordpad.ico" >/dev/null
markers=$("$ICONTOOL" groups "$ICL" | tail -n +2 | wc -l)
for m in $(seq 0 $((markers - 1))); do
  "$ICONTOOL" extract "$ICL" "$m" "$OUT/icons/marker-$m.ico" >/dev/null
done
for base in doc folder notepad wordpad; do
  for m in $(seq 0 $((markers - 1))); do
    "$ICONTOOL" compose "$OUT/icons/$base.ico" "$OUT/icons/marker-$m.ico" "$OUT/icons/$base-m$m.ico" >/dev/null
    for colour in Red Orange Yellow Green Blue Purple Gray; do
      "$ICONTOOL" colorize "$OUT/icons/$base.ico" "$colour" "$OUT/icons/$base-$colour.ico" >/dev/null
      "$ICONTOOL" compose "$OUT/icons/$base-$colour.ico" "$OUT/icons/marker-$m.ico" "$OUT/icons/$base-$colour-m$m.ico" >/dev/null
    done
  done
done
/usr/bin/python3 - "$OUT" "$markers" <<'PY'
import sys, glob, os
from PIL import Image
out, markers = sys.argv[1], int(sys.argv[2])
def sizes(path):
    return set(Image.open(path).info['sizes'])
count = 0
for base in ['doc', 'folder', 'notepad', 'wordpad']:
    base_sizes = sizes(f'{out}/icons/{base}.ico')
    for m in range(markers):
        expected = base_sizes & sizes(f'{out}/icons/marker-{m}.ico')
        for variant in [f'{base}-m{m}'] + [f'{base}-{c}-m{m}' for c in ['Red', 'Orange', 'Yellow', 'Green', 'Blue', 'Purple', 'Gray']]:
            got = sizes(f'{out}/icons/{variant}.ico')
            assert got == expected, (variant, got, expected)
            count += 1
# A gallery: per base icon, the plain marked icons at 32 and 48 pixels, then Approved
# (marker 6) over each tint.
for base in ['doc', 'folder', 'notepad', 'wordpad']:
    tiles = []
    for name in [f'{base}-m{m}' for m in range(markers)] + [f'{base}-{c}-m6' for c in ['Red', 'Orange', 'Yellow', 'Green', 'Blue', 'Purple', 'Gray']]:
        im = Image.open(f'{out}/icons/{name}.ico')
        for s in (48, 32, 16):
            im.size = (s, s)
            tiles.append(im.convert('RGBA').resize((48, 48), Image.NEAREST) if s == 16 else im.convert('RGBA'))
    sheet = Image.new('RGBA', (len(tiles) // 3 * 52, 3 * 52), (235, 235, 235, 255))
    for i, t in enumerate(tiles):
        col, row = divmod(i, 3)
        sheet.alpha_composite(t, (col * 52 + 2, row * 52 + 2))
    sheet.save(f'{out}/png/{base}.png')
print(f'{count} marked icons read back with the expected sizes; gallery in {out}/png')
PY
