#!/usr/bin/env bash
# A marked file's icon stream read by independent readers: icotool lists its images and
# Pillow decodes every one of them with the sizes the directory states.
set -euo pipefail
ICO="$1"
[ -s "$ICO" ] || { echo "no sample icon at $ICO"; exit 1; }
icotool -l "$ICO"
/usr/bin/python3 - "$ICO" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1])
sizes = sorted(im.info['sizes'])
assert sizes == [(16, 16), (32, 32), (48, 48), (256, 256)], sizes
for s in sizes:
    im.size = s
    rgba = im.convert('RGBA')
    assert rgba.size == s
    assert any(p[3] for p in rgba.getdata()), f"{s} is empty"
print("Pillow reads", sizes)
PY
