#!/usr/bin/python3
"""Icons written by icontool, read back by independent readers; real icons exported by
icontool, compared with Pillow's reading of the same files.

usage: independent_readers.py <icontool>    (exit 77 = skipped: a reader is missing)
"""
import glob
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

try:
    from PIL import Image, IcoImagePlugin
except ImportError:
    print("Pillow is not installed")
    sys.exit(77)

TOOL = sys.argv[1]
ICOTOOL = shutil.which("icotool")
PNGCHECK = shutil.which("pngcheck")
failures = []

STANDARD16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
              (128, 128, 128), (192, 192, 192), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
              (255, 0, 255), (0, 255, 255), (255, 255, 255)]

REAL_ICONS = [
    "/usr/share/clang/scan-view-14/share/bugcatcher.ico",
    "/usr/share/doc/fp-compiler/3.2.2/wince/SysInfo/sysinfo.ico",
    "/root/.pyenv/versions/3.13.0/lib/python3.13/idlelib/Icons/idle.ico",
    "/root/.pyenv/versions/3.7.16/lib/python3.7/idlelib/Icons/idle.ico",
    "/usr/lib/google-cloud-sdk/platform/google_appengine/php/new_project_template/favicon.ico",
    "/usr/lib/google-cloud-sdk/platform/gsutil/third_party/pyasn1/docs/source/.static/favicon.ico",
]


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def run(*args):
    result = subprocess.run(list(args), capture_output=True, text=True)
    if result.returncode != 0:
        fail("%s failed (%d): %s" % (" ".join(args), result.returncode, result.stderr.strip()))
    return result.stdout


def directory(path):
    """(offset, size, bits, is_png) of each entry, in directory order."""
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    out = []
    for i in range(count):
        w, h, _, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        out.append((offset, size, bits, data[offset:offset + 8] == b"\x89PNG\r\n\x1a\n"))
    return kind, out, data


def pillow_frames(path):
    """Pillow's RGBA reading of every entry, in directory order."""
    with open(path, "rb") as f:
        ico = IcoImagePlugin.IcoFile(f)
        by_offset = {e["offset"]: i for i, e in enumerate(ico.entry)}
        _, entries, _ = directory(path)
        return [ico.frame(by_offset[offset]).convert("RGBA") for offset, _, _, _ in entries]


def same_pixels(what, ours, theirs):
    """Same size; same alpha everywhere; same colour wherever the pixel is not transparent."""
    if ours.size != theirs.size:
        fail("%s: size %s, reader says %s" % (what, ours.size, theirs.size))
        return
    a, b = ours.convert("RGBA").load(), theirs.convert("RGBA").load()
    for y in range(ours.size[1]):
        for x in range(ours.size[0]):
            p, q = a[x, y], b[x, y]
            if p[3] != q[3] or (p[3] != 0 and p[:3] != q[:3]):
                fail("%s: pixel (%d, %d) is %s, reader says %s" % (what, x, y, p, q))
                return


def expected_at_depth(picture, depth):
    """What an image built at `depth` must look like: alpha kept at 32 bits, else opaque
    where the picture is at least half opaque."""
    if depth == 32:
        return picture
    out = picture.copy()
    px = out.load()
    for y in range(out.size[1]):
        for x in range(out.size[0]):
            r, g, b, a = px[x, y]
            px[x, y] = (r, g, b, 0 if a < 128 else 255)
    return out


def make_picture(size, depth, rnd):
    img = Image.new("RGBA", (size, size))
    px = img.load()
    if depth == 32:
        colours = None
    elif depth == 24 or depth == 8:
        colours = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(60)]
    elif depth == 4:
        colours = STANDARD16
    else:
        colours = [(0, 0, 0), (255, 255, 255)]
    for y in range(size):
        for x in range(size):
            if (x - size / 2) ** 2 + (y - size / 2) ** 2 > (size / 2) ** 2:
                px[x, y] = (0, 0, 0, 0)  # transparent corners
            elif colours is None:
                px[x, y] = (x * 255 // size, y * 255 // size, rnd.randrange(256), rnd.choice([255, 255, 128, 30, 1]))
            else:
                px[x, y] = rnd.choice(colours) + (rnd.choice([255, 255, 200, 127, 40]),)
    return img


def check_written_icons(work):
    rnd = random.Random(20240501)
    for depth in (32, 24, 8, 4, 1):
        sizes = [16, 24, 32, 48, 256] if depth == 32 else [16, 32, 48]
        pictures = []
        for size in sizes:
            path = os.path.join(work, "pic-%d-%d.png" % (depth, size))
            make_picture(size, depth, rnd).save(path)
            pictures.append(path)
        ico = os.path.join(work, "written-%d.ico" % depth)
        run(TOOL, "build", ico, "--depth", str(depth), *pictures)
        if not os.path.exists(ico):
            continue
        expected = [expected_at_depth(Image.open(p).convert("RGBA"), depth) for p in pictures]
        kind, entries, data = directory(ico)
        if kind != 1 or len(entries) != len(sizes):
            fail("%s: type %d with %d entries" % (ico, kind, len(entries)))
            continue
        for (offset, size, bits, is_png), want in zip(entries, expected):
            if bits != depth:
                fail("%s: entry of %d bits, wanted %d" % (ico, bits, depth))
            if is_png != (want.size[0] >= 256):
                fail("%s: %dpx entry stored %s" % (ico, want.size[0], "as PNG" if is_png else "as DIB"))
            if is_png and PNGCHECK:
                raw = os.path.join(work, "entry.png")
                open(raw, "wb").write(data[offset:offset + size])
                run(PNGCHECK, "-q", raw)
        for i, (frame, want) in enumerate(zip(pillow_frames(ico), expected)):
            same_pixels("Pillow, %s image %d" % (os.path.basename(ico), i), want, frame)
        if ICOTOOL:
            listing = run(ICOTOOL, "-l", ico)
            found = [(int(w), int(b)) for w, b in re.findall(r"--width=(\d+) .*--bit-depth=(\d+)", listing)]
            if found != [(s, depth) for s in sizes]:
                fail("icotool lists %s: %s" % (os.path.basename(ico), found))
            out = os.path.join(work, "icotool-%d" % depth)
            os.makedirs(out, exist_ok=True)
            run(ICOTOOL, "-x", "-o", out, ico)
            for i, want in enumerate(expected):
                got = glob.glob(os.path.join(out, "*_%d_*.png" % (i + 1)))
                if len(got) != 1:
                    fail("icotool extracted %s for image %d" % (got, i))
                    continue
                same_pixels("icotool, %s image %d" % (os.path.basename(ico), i), want, Image.open(got[0]))


def check_real_icons(work):
    found = [p for p in REAL_ICONS if os.path.isfile(p)]
    if not found:
        print("no real icons on this machine; that part is skipped")
    for n, path in enumerate(found):
        out = os.path.join(work, "real-%d" % n)
        exported = run(TOOL, "export", path, out).split()
        frames = pillow_frames(path)
        if len(exported) != len(frames):
            fail("%s: exported %d images, Pillow reads %d" % (path, len(exported), len(frames)))
            continue
        for i, (png, frame) in enumerate(zip(exported, frames)):
            if PNGCHECK:
                run(PNGCHECK, "-q", png)
            _, entries, _ = directory(path)
            if entries[i][2] == 32 and frame.getextrema()[3] == (0, 0):
                continue  # a 32-bit image without alpha: Pillow ignores its mask
            same_pixels("%s image %d" % (path, i), Image.open(png), frame)


def check_pictures(work):
    """icontool picture: an image of the asked size as it is; another size scaled from the
    smallest larger image (the largest where none is larger), close to Pillow's Lanczos."""
    ico = os.path.join(work, "written-32.ico")  # 16, 24, 32, 48 and 256 pixels
    if not os.path.exists(ico):
        return
    frames = {f.size[0]: f for f in pillow_frames(ico)}
    for size, source in ((32, 32), (44, 48), (150, 256), (300, 256)):
        png = os.path.join(work, "picture-%d.png" % size)
        said = run(TOOL, "picture", ico, str(size), png)
        if "from the %dx%d image" % (source, source) not in said:
            fail("picture %d: %s (wanted it from the %dpx image)" % (size, said.strip(), source))
            continue
        if PNGCHECK:
            run(PNGCHECK, "-q", png)
        ours = Image.open(png).convert("RGBA")
        if size == source:
            same_pixels("picture %d" % size, ours, frames[source])
            continue
        # Premultiplied by alpha on both sides, so that transparent pixels' colours do not count.
        theirs = frames[source].resize((size, size), Image.LANCZOS)
        diff = [abs(p[c] * p[3] - q[c] * q[3]) / 255.0 + (abs(p[3] - q[3]) if c == 0 else 0)
                for p, q in zip(ours.getdata(), theirs.getdata()) for c in range(3)]
        if ours.size != (size, size) or sum(diff) / len(diff) > 4:
            fail("picture %d: %s, mean difference from Pillow's scaling %.1f" % (size, ours.size, sum(diff) / len(diff)))
    for bad in ("0", "x", "9000"):
        if subprocess.run([TOOL, "picture", ico, bad, os.path.join(work, "bad.png")], capture_output=True).returncode != 2:
            fail("picture %s: not refused" % bad)


def main():
    work = tempfile.mkdtemp(prefix="vantrel-readers-")
    try:
        check_written_icons(work)
        check_real_icons(work)
        check_pictures(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d failure(s)" % len(failures))
        return 1
    print("all readers agree")
    return 0


sys.exit(main())
