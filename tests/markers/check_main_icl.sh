#!/usr/bin/env bash
# Main.icl as independent readers see it: wrestool lists and extracts its groups,
# icotool and Pillow read each extracted icon, and the names after "ICL" are the markers'.
set -euo pipefail
ICL="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
groups=$(wrestool -l -t14 "$ICL" 2>/dev/null | wc -l)
icons=$(wrestool -l -t3 "$ICL" 2>/dev/null | wc -l)
[ "$groups" -ge 12 ] || { echo "only $groups icon groups"; exit 1; }
[ "$icons" = $((groups * 5)) ] || { echo "$icons images for $groups groups"; exit 1; }
wrestool -x -t14 -o "$WORK" "$ICL" 2>/dev/null
for g in $(seq 1 "$groups"); do
  ico="$WORK/$(basename "$ICL")_14_$g.ico"
  sizes=$(icotool -l "$ico" | sed -n 's/.*--width=\([0-9]*\) .*--bit-depth=\([0-9]*\).*/\1:\2/p' | tr '\n' ' ')
  [ "$sizes" = "16:32 24:32 32:32 48:32 256:32 " ] || { echo "group $g: $sizes"; exit 1; }
done
/usr/bin/python3 - "$ICL" "$WORK" "$groups" <<'PY'
import sys, glob
from PIL import Image
icl, work, groups = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(icl, 'rb').read()
at = data.index(b'\x03ICL') + 4
names = []
while data[at]:
    names.append(data[at + 1:at + 1 + data[at]].decode('ascii'))
    at += 1 + data[at]
assert len(names) == groups, names
for pos, name in {0: 'Hi-Priority', 2: 'Low Priority', 3: 'Planned Work', 5: 'Done Work', 6: 'Approved', 8: 'Rejected'}.items():
    assert names[pos] == name, (pos, names[pos])
for g in range(1, groups + 1):
    im = Image.open(f"{work}/{icl.split('/')[-1]}_14_{g}.ico")
    assert sorted(im.info['sizes']) == [(16, 16), (24, 24), (32, 32), (48, 48), (256, 256)], im.info['sizes']
    im.size = (256, 256)
    big = im.convert('RGBA')
    # The sign is in the lower left; the upper right stays clear.
    assert big.getpixel((250, 5))[3] == 0 and big.getpixel((40, 220))[3] == 255, g
print(f"Main.icl: {groups} markers, names {names}")
PY
