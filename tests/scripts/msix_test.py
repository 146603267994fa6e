#!/usr/bin/env python3
"""scripts/msix.py: the identity package packed from the real template and logos drawn from the
program's icon, read back by our checker, by unzip and, signed, by osslsigncode; damaged
packages and manifests refused with the fault named.

usage: msix_test.py <icontool> <Vantrel.ico>
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MSIX = [sys.executable, os.path.join(ROOT, "scripts", "msix.py")]
TEMPLATE = os.path.join(ROOT, "package", "identity", "AppxManifest.xml.in")
CLSID = "4718F949-F953-4038-9DC3-E72D050B1DBC"
PUBLISHER = 'CN="Kestrane, Vantrel Test", O=Kestrane'
failures, passed = [], [0]


def run(*args):
    r = subprocess.run(list(args), capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def expect(what, ok, detail=""):
    if ok:
        passed[0] += 1
    else:
        failures.append(what)
        print("FAIL: %s\n%s" % (what, detail))


def refused(what, args, *needles):
    rc, out = run(*args)
    expect(what, rc == 1 and all(n in out for n in needles), "exit %d, wanted 1 naming %s:\n%s" % (rc, needles, out))


def rewrite(src, dst, changes):
    """A copy of a package with some parts' bytes replaced (each stays stored or deflated)."""
    with zipfile.ZipFile(src) as zin, zipfile.ZipFile(dst, "w") as zout:
        for info in zin.infolist():
            zout.writestr(info, changes.get(info.filename, zin.read(info)))


def main(icontool, icon):
    work = tempfile.mkdtemp(prefix="vantrel-msix-")
    try:
        content = os.path.join(work, "content")
        os.makedirs(os.path.join(content, "Assets"))
        rc, out = run(*MSIX, "manifest", TEMPLATE, os.path.join(content, "AppxManifest.xml"),
                      "--publisher", PUBLISHER, "--version", "1.0.1.0")
        expect("manifest filled in", rc == 0, out)
        for name, size in (("StoreLogo", 50), ("Square150x150Logo", 150), ("Square44x44Logo", 44)):
            rc, out = run(icontool, "picture", icon, str(size), os.path.join(content, "Assets", name + ".png"))
            expect("logo %s drawn" % name, rc == 0, out)
        # More than two blocks, no extension, a name that needs percent-encoding.
        big = bytes((i * 7 + i // 251) & 0xFF for i in range(150000))
        open(os.path.join(content, "Assets", "big data ä"), "wb").write(big)
        package = os.path.join(work, "Vantrel.msix")
        rc, out = run(*MSIX, "pack", content, package)
        expect("pack", rc == 0, out)
        rc, out = run(*MSIX, "check", package, "--publisher", PUBLISHER)
        expect("check of the packed package", rc == 0 and "Kestrane.Vantrel 1.0.1.0 x64" in out and CLSID in out, out)
        with zipfile.ZipFile(package) as z:
            names = z.namelist()
            blockmap = z.read("AppxBlockMap.xml").decode()
        expect("part names percent-encoded, footprint last", "Assets/big%20data%20%C3%A4" in names
               and names[-3:] == ["AppxManifest.xml", "AppxBlockMap.xml", "[Content_Types].xml"], names)
        entry = re.search(r'<File Name="Assets\\big data ä" Size="150000" LfhSize="\d+">(.*?)</File>', blockmap, re.S)
        expect("three blocks for 150000 bytes", entry and entry.group(1).count("<Block ") == 3, blockmap)
        rc, out = run("unzip", "-t", package)
        expect("unzip -t", rc == 0, out)

        # A flipped byte in the second block of a payload file.
        with zipfile.ZipFile(package) as z:
            info = z.getinfo("Assets/big%20data%20%C3%A4")
        data = bytearray(open(package, "rb").read())
        data[info.header_offset + 30 + len(info.filename) + 70000] ^= 0x20
        damaged = os.path.join(work, "damaged.msix")
        open(damaged, "wb").write(data)
        refused("flipped byte", MSIX + ["check", damaged], "Assets\\big data ä: block 1 (bytes 65536-131071)")
        # Parts without a content type; a wrong local header size; another publisher.
        with zipfile.ZipFile(package) as z:
            types, manifest = z.read("[Content_Types].xml").decode(), z.read("AppxManifest.xml").decode()
        rewrite(package, damaged, {"[Content_Types].xml": re.sub(r'<Default Extension="png"[^>]*/>', "", types),
                                   "AppxBlockMap.xml": blockmap.replace('LfhSize="50"', 'LfhSize="51"')})
        refused("content types and LfhSize", MSIX + ["check", damaged], "no content type for /Assets/StoreLogo.png",
                "Assets\\StoreLogo.png: LfhSize 51, its local header has 50 bytes")
        refused("publisher", MSIX + ["check", package, "--publisher", "CN=Someone Else"], "expected [CN=Someone Else]")

        # Manifests the packer refuses: classes that differ, a logo that is missing.
        other = "5718F949-F953-4038-9DC3-E72D050B1DBC"
        for what, text, needles in (
                ("CLSIDs differ", manifest.replace('Id="%s"' % CLSID, 'Id="%s"' % other), (CLSID, other)),
                ("missing logo", manifest.replace("Assets\\StoreLogo.png", "Assets\\Store.png"), ("logo [Assets\\Store.png]",))):
            open(os.path.join(content, "AppxManifest.xml"), "w", encoding="utf-8").write(text)
            refused("pack: " + what, MSIX + ["pack", content, os.path.join(work, "bad.msix")], *needles)
        expect("nothing written for a refused manifest", not os.path.exists(os.path.join(work, "bad.msix")))
        refused("version refused", MSIX + ["manifest", TEMPLATE, os.path.join(work, "m.xml"), "--publisher", PUBLISHER,
                                           "--version", "1.0.70000.0"], "1.0.70000.0")

        # Signed with a throwaway certificate whose subject is the publisher.
        key, cert, signed = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "signed.msix"))
        rc, out = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", key, "-out", cert,
                      "-subj", "/O=Kestrane/CN=Kestrane, Vantrel Test", "-addext", "extendedKeyUsage=codeSigning")
        expect("throwaway certificate", rc == 0, out)
        rc, out = run("osslsigncode", "sign", "-certs", cert, "-key", key, "-in", package, "-out", signed)
        expect("osslsigncode sign", rc == 0, out)
        rc, out = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
        expect("osslsigncode verify", rc == 0 and "Signature verification: ok" in out, out)
        rc, out = run(*MSIX, "check", signed, "--publisher", PUBLISHER)
        expect("check of the signed package", rc == 0 and "signed" in out, out)
        rc, out = run("unzip", "-t", signed)
        expect("unzip -t of the signed package", rc == 0, out)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("msix: %d passed, %d failed" % (passed[0], len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    for tool in ("unzip", "openssl", "osslsigncode"):
        if not shutil.which(tool):
            sys.exit("msix: %s is missing: run scripts/setup.sh" % tool)
    sys.exit(main(sys.argv[1], sys.argv[2]))
