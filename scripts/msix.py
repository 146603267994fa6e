#!/usr/bin/env python3
"""Packs and checks Vantrel's identity package (an MSIX package: an OPC zip with a block map).

  msix.py manifest <template> <out.xml> --publisher SUBJECT --version A.B.C.D
      fills in the package manifest's template (@PUBLISHER@, @VERSION@)
  msix.py pack <folder> <out.msix>
      packs every file of the folder (AppxManifest.xml at its top) as a package: the files
      stored uncompressed, then AppxBlockMap.xml (a SHA-256 hash of every 64 KiB block of
      every file) and [Content_Types].xml (deflated)
  msix.py check <file.msix> [--publisher SUBJECT]
      reads a package back (signed or not): every block re-hashed against the block map, the
      sizes and local header sizes it states, the content types of every part, and the
      manifest (its identity, its logos, and the context-menu commands' classes against the
      COM server's); prints the identity and the CLSIDs

Exit status: 0 on success, 1 when the input is refused (each fault printed), 2 on a usage error.
"""
import base64
import hashlib
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile
import zlib
from urllib.parse import quote, unquote
from xml.sax.saxutils import escape, quoteattr

BLOCK = 65536
BLOCKMAP_NS = "http://schemas.microsoft.com/appx/2010/blockmap"
SHA256 = "http://www.w3.org/2001/04/xmlenc#sha256"
TYPES_NS = "http://schemas.openxmlformats.org/package/2006/content-types"
FOUNDATION = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"
UAP = "{http://schemas.microsoft.com/appx/manifest/uap/windows10}"
COM = "{http://schemas.microsoft.com/appx/manifest/com/windows10}"
CONTEXT_MENUS = "windows.fileExplorerContextMenus"
MANIFEST, BLOCKMAP, TYPES, SIGNATURE = "AppxManifest.xml", "AppxBlockMap.xml", "[Content_Types].xml", "AppxSignature.p7x"
FOOTPRINT_TYPES = {MANIFEST: "application/vnd.ms-appx.manifest+xml", BLOCKMAP: "application/vnd.ms-appx.blockmap+xml",
                   SIGNATURE: "application/vnd.ms-appx.signature"}
TYPES_BY_EXTENSION = {"png": "image/png", "jpg": "image/jpeg", "jpeg": "image/jpeg", "gif": "image/gif",
                      "ico": "image/vnd.microsoft.icon", "xml": "application/xml", "txt": "text/plain",
                      "dll": "application/x-msdownload", "exe": "application/x-msdownload"}
# A certificate subject as the manifest's Publisher takes it: attribute=value pairs, ", " between.
RDN = r'(CN|L|O|OU|E|C|S|STREET|T|G|I|SN|DC|SERIALNUMBER|OID(\.(0|[1-9][0-9]*))+)=([^,+="<>#;]+|"[^"]*")'
PUBLISHER = re.compile(r"%s(, %s)*\Z" % (RDN, RDN))
VERSION = re.compile(r"(0|[1-9][0-9]{0,4})(\.(0|[1-9][0-9]{0,4})){3}\Z")
GUID = re.compile(r"[0-9A-Fa-f]{8}-([0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}\Z")
DOS_DATE, DOS_TIME = 0x21, 0  # 1980-01-01 00:00: the same bytes from every build


class Refused(Exception):
    pass


def part_name(path):
    """The zip item name of a file: its OPC part name (without the leading "/"), percent-encoded."""
    segments = path.split("/")
    if any(s in ("", ".", "..") or s.endswith(".") for s in segments):
        raise Refused("%s: not a name a package part can have" % path)
    return "/".join(quote(s, safe="!$&'()*+,;=:@-._~") for s in segments)


def valid_version(text):
    return bool(VERSION.match(text)) and all(int(p) <= 65535 for p in text.split("."))


def check_manifest(data, files):
    """(identity, verb CLSIDs, class CLSIDs, faults) of a manifest; `files`: the package's
    file names (lower case, "\\" between folders), where the logos must be."""
    faults = []
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        return {}, [], [], ["%s: not XML (%s)" % (MANIFEST, e)]
    identity = root.find(FOUNDATION + "Identity")
    if root.tag != FOUNDATION + "Package" or identity is None:
        return {}, [], [], ["%s: no Package with an Identity" % MANIFEST]
    ident = {k: identity.get(k, "") for k in ("Name", "Publisher", "Version", "ProcessorArchitecture")}
    if not PUBLISHER.match(ident["Publisher"]):
        faults.append("%s: Publisher [%s] is not a certificate subject" % (MANIFEST, ident["Publisher"]))
    if not valid_version(ident["Version"]):
        faults.append("%s: Version [%s] is not four numbers up to 65535" % (MANIFEST, ident["Version"]))
    logos = [e.text or "" for e in root.iter(FOUNDATION + "Logo")]
    for visual in root.iter(UAP + "VisualElements"):
        logos += [v for k, v in visual.attrib.items() if k.endswith("Logo")]
    for logo in logos:
        if logo.strip().replace("/", "\\").lower() not in files:
            faults.append("%s: logo [%s] is not in the package" % (MANIFEST, logo))
    verbs, classes = [], []
    for ext in root.iter():
        if ext.tag.endswith("}Extension") and ext.get("Category") == CONTEXT_MENUS:
            verbs += [v.get("Clsid", "") for v in ext.iter() if v.tag.endswith("}Verb")]
        elif ext.tag == COM + "Extension" and ext.get("Category") == "windows.comServer":
            classes += [c.get("Id", "") for c in ext.iter(COM + "Class")]
    for clsid in verbs + classes:
        if not GUID.match(clsid):
            faults.append("%s: [%s] is not a CLSID" % (MANIFEST, clsid))
    verb_set, class_set = {c.upper() for c in verbs}, {c.upper() for c in classes}
    for clsid in sorted(verb_set - class_set):
        faults.append("%s: the context menu's verb names class %s, which the COM server does not declare" % (MANIFEST, clsid))
    for clsid in sorted(class_set - verb_set):
        faults.append("%s: the COM server declares class %s, which no context-menu verb names" % (MANIFEST, clsid))
    return ident, verbs, classes, faults


def cmd_manifest(template, out, publisher, version):
    if not PUBLISHER.match(publisher):
        raise Refused("publisher [%s] is not a certificate subject (CN=..., O=...)" % publisher)
    if not valid_version(version):
        raise Refused("version [%s] is not four numbers up to 65535" % version)
    text = open(template, encoding="utf-8").read()
    text = text.replace("@PUBLISHER@", escape(publisher, {'"': "&quot;"})).replace("@VERSION@", version)
    left = re.findall(r"@[A-Z_]+@", text)
    if left:
        raise Refused("%s: no value for %s" % (template, ", ".join(sorted(set(left)))))
    write_file(out, text.encode("utf-8"))


def write_file(path, data):
    """Writes through a temporary file, so that a failure leaves no half-written output."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def cmd_pack(folder, out):
    paths = []
    for top, dirs, names in os.walk(folder):
        dirs.sort()
        for name in sorted(names):
            full = os.path.join(top, name)
            if not os.path.isfile(full):
                raise Refused("%s: not a regular file" % full)
            paths.append(os.path.relpath(full, folder).replace(os.sep, "/"))
    lower = [p.lower() for p in paths]
    if MANIFEST.lower() not in lower:
        raise Refused("%s: no %s" % (folder, MANIFEST))
    for reserved in (BLOCKMAP, TYPES, SIGNATURE, "AppxMetadata"):
        if any(p == reserved.lower() or p.startswith(reserved.lower() + "/") for p in lower):
            raise Refused("%s: %s is made by the packer or the signer, not taken from the folder" % (folder, reserved))
    if len(set(lower)) != len(lower):
        raise Refused("%s: names that differ only in case" % folder)
    paths.sort(key=lambda p: p.lower() == MANIFEST.lower())  # the manifest last, as makeappx does
    files = [(p, open(os.path.join(folder, p), "rb").read()) for p in paths]
    _, _, _, faults = check_manifest(dict(files)[MANIFEST], {p.lower().replace("/", "\\") for p in paths})
    if faults:
        raise Refused("\n".join(faults))

    zip_out, central, blockmap = bytearray(), bytearray(), []
    blockmap.append('<?xml version="1.0" encoding="UTF-8"?>\n<BlockMap xmlns="%s" HashMethod="%s">\n' % (BLOCKMAP_NS, SHA256))

    def add(name, data, deflate=False):
        raw = name.encode("ascii")
        crc = zlib.crc32(data)
        if deflate:
            packer = zlib.compressobj(9, zlib.DEFLATED, -15)
            stored, method = packer.compress(data) + packer.flush(), 8
        else:
            stored, method = data, 0
        if len(zip_out) + len(stored) + 30 + len(raw) >= 1 << 32:
            raise Refused("the package would need ZIP64 (4 GiB or more)")
        central.extend(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, DOS_TIME, DOS_DATE, crc,
                                   len(stored), len(data), len(raw), 0, 0, 0, 0, 0, len(zip_out)) + raw)
        header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, DOS_TIME, DOS_DATE, crc, len(stored), len(data),
                             len(raw), 0)
        zip_out.extend(header + raw + stored)
        return len(header) + len(raw)

    for path, data in files:
        lfh = add(part_name(path), data)
        blockmap.append("  <File Name=%s Size=\"%d\" LfhSize=\"%d\">\n" % (quoteattr(path.replace("/", "\\")), len(data), lfh))
        for at in range(0, len(data), BLOCK):
            digest = base64.b64encode(hashlib.sha256(data[at:at + BLOCK]).digest()).decode()
            blockmap.append("    <Block Hash=\"%s\"/>\n" % digest)
        blockmap.append("  </File>\n")
    blockmap.append("</BlockMap>\n")
    add(BLOCKMAP, "".join(blockmap).encode("utf-8"))

    types = ['<?xml version="1.0" encoding="UTF-8"?>\n<Types xmlns="%s">' % TYPES_NS]
    extensions = sorted({p.rsplit(".", 1)[1].lower() for p, _ in files if "." in p.split("/")[-1] and p != MANIFEST})
    types += ['<Default Extension=%s ContentType="%s"/>' % (quoteattr(e), TYPES_BY_EXTENSION.get(e, "application/octet-stream"))
              for e in extensions]
    types += ['<Override PartName="/%s" ContentType="application/octet-stream"/>' % part_name(p)
              for p, _ in files if "." not in p.split("/")[-1]]
    types += ['<Override PartName="/%s" ContentType="%s"/>' % (n, FOOTPRINT_TYPES[n]) for n in (MANIFEST, BLOCKMAP)]
    # Deflated, as makeappx writes it: signing rewrites this part, and osslsigncode writes
    # the new one deflated whatever the old one was (a stored one would then be corrupt).
    add(TYPES, ("".join(types) + "</Types>").encode("utf-8"), deflate=True)

    count = len(files) + 2
    eocd = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), len(zip_out), 0)
    write_file(out, bytes(zip_out + central + eocd))
    print("%s: %d file(s), %d bytes" % (out, len(files), len(zip_out) + len(central) + len(eocd)))


def read_entries(path):
    """{name: (info, local header size, uncompressed bytes)} of every zip entry, read from the
    file's own bytes (the central directory through zipfile)."""
    data = open(path, "rb").read()
    try:
        infos = zipfile.ZipFile(path).infolist()
    except (zipfile.BadZipFile, OSError) as e:
        raise Refused("%s: not a zip file (%s)" % (path, e))
    entries, faults = {}, []
    for info in infos:
        name = info.filename
        if name.endswith("/"):
            faults.append("%s: a directory entry (a package has none)" % name)
            continue
        if name.lower() in (n.lower() for n in entries):
            faults.append("%s: in the zip twice" % name)
            continue
        at = info.header_offset
        if at + 30 > len(data) or data[at:at + 4] != b"PK\x03\x04":
            faults.append("%s: no local header where the central directory says" % name)
            continue
        flags, method, _, _, crc, csize, usize, nlen, elen = struct.unpack_from("<HHHHIIIHH", data, at + 6)
        start = at + 30 + nlen + elen
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED) or flags & 0x41:
            faults.append("%s: encrypted or compressed other than by deflate" % name)
            continue
        if start + info.compress_size > len(data):
            faults.append("%s: its data runs past the end of the file" % name)
            continue
        stored = data[start:start + info.compress_size]
        try:
            content = stored if info.compress_type == zipfile.ZIP_STORED else zlib.decompress(stored, -15)
        except zlib.error as e:
            faults.append("%s: its deflated data does not inflate (%s)" % (name, e))
            continue
        if len(content) != info.file_size:
            faults.append("%s: %d bytes, the zip says %d" % (name, len(content), info.file_size))
        entries[name] = (info, 30 + nlen + elen, content)
    return entries, faults


def check_blockmap(entries, faults):
    """Checks every payload file against AppxBlockMap.xml; returns the names it lists."""
    root = ET.fromstring(entries[BLOCKMAP][2])
    if root.tag != "{%s}BlockMap" % BLOCKMAP_NS or root.get("HashMethod") != SHA256:
        faults.append("%s: not a block map hashed with SHA-256" % BLOCKMAP)
        return set()
    listed = set()
    for file in root.findall("{%s}File" % BLOCKMAP_NS):
        name = file.get("Name", "")
        try:
            zip_name = part_name(name.replace("\\", "/"))
        except Refused as e:
            faults.append("%s: %s" % (BLOCKMAP, e))
            continue
        if zip_name.lower() in listed:
            faults.append("%s: %s listed twice" % (BLOCKMAP, name))
        listed.add(zip_name.lower())
        if zip_name not in entries:
            faults.append("%s: lists %s, which is not in the package" % (BLOCKMAP, name))
            continue
        info, lfh, content = entries[zip_name]
        if file.get("Size") != str(len(content)):
            faults.append("%s: Size %s, the file has %d bytes" % (name, file.get("Size"), len(content)))
        if file.get("LfhSize") != str(lfh):
            faults.append("%s: LfhSize %s, its local header has %d bytes" % (name, file.get("LfhSize"), lfh))
        blocks = file.findall("{%s}Block" % BLOCKMAP_NS)
        if len(blocks) != (len(content) + BLOCK - 1) // BLOCK:
            faults.append("%s: %d block(s) in the block map for %d bytes" % (name, len(blocks), len(content)))
        for i, block in enumerate(blocks):
            part = content[i * BLOCK:(i + 1) * BLOCK]
            if block.get("Hash") != base64.b64encode(hashlib.sha256(part).digest()).decode():
                faults.append("%s: block %d (bytes %d-%d) differs from its hash in the block map"
                              % (name, i, i * BLOCK, i * BLOCK + len(part) - 1))
        sizes = [b.get("Size") for b in blocks]
        if info.compress_type == zipfile.ZIP_STORED and any(s is not None for s in sizes):
            faults.append("%s: stored uncompressed, but its blocks have compressed sizes" % name)
        elif info.compress_type == zipfile.ZIP_DEFLATED and (None in sizes or sum(map(int, sizes)) != info.compress_size):
            faults.append("%s: its blocks' compressed sizes do not add up to %d" % (name, info.compress_size))
        if zlib.crc32(content) != info.CRC:
            faults.append("%s: its CRC-32 differs from the zip's" % name)
    for name in entries:
        if name not in (BLOCKMAP, TYPES, SIGNATURE) and name.lower() not in listed:
            faults.append("%s: in the package but not in the block map" % name)
    return listed


def check_types(entries, faults):
    root = ET.fromstring(entries[TYPES][2])
    if root.tag != "{%s}Types" % TYPES_NS:
        faults.append("%s: no Types element" % TYPES)
        return
    defaults = {e.get("Extension", "").lower(): e.get("ContentType") for e in root.findall("{%s}Default" % TYPES_NS)}
    overrides = {e.get("PartName", "").lower(): e.get("ContentType") for e in root.findall("{%s}Override" % TYPES_NS)}
    for name in entries:
        if name == TYPES:
            continue
        last = name.split("/")[-1]
        kind = overrides.get("/" + name.lower()) or (defaults.get(last.rsplit(".", 1)[1].lower()) if "." in last else None)
        if not kind:
            faults.append("%s: no content type for /%s" % (TYPES, name))
        elif name in FOOTPRINT_TYPES and kind != FOOTPRINT_TYPES[name]:
            faults.append("%s: /%s is %s, not %s" % (TYPES, name, kind, FOOTPRINT_TYPES[name]))


def cmd_check(path, publisher):
    entries, faults = read_entries(path)
    for required in (MANIFEST, BLOCKMAP, TYPES):
        if required not in entries:
            faults.append("%s: no %s" % (path, required))
    ident, verbs, classes = {}, [], []
    if not faults:
        try:
            listed = check_blockmap(entries, faults)
            check_types(entries, faults)
        except (ET.ParseError, ValueError) as e:
            raise Refused("%s: a block map or content types that cannot be read (%s)" % (path, e))
        ident, verbs, classes, more = check_manifest(entries[MANIFEST][2], {unquote(n).replace("/", "\\") for n in listed})
        faults += more
        if SIGNATURE in entries and entries[SIGNATURE][2][:4] != b"PKCX":
            faults.append("%s: not an APPX signature" % SIGNATURE)
        if publisher is not None and ident.get("Publisher") != publisher:
            faults.append("%s: Publisher [%s], expected [%s]" % (MANIFEST, ident.get("Publisher"), publisher))
    if ident:
        print("%s: %s %s %s, publisher %s; %s" % (path, ident["Name"], ident["Version"], ident["ProcessorArchitecture"],
                                                  ident["Publisher"], "signed" if SIGNATURE in entries else "not signed"))
        print("  context-menu verbs: %s; COM classes: %s" % (" ".join(verbs) or "none", " ".join(classes) or "none"))
    if faults:
        raise Refused("\n".join(faults))
    print("  %d file(s) and their blocks match the block map" % (len(entries) - 2 - (SIGNATURE in entries)))


def main(argv):
    args, options = [], {}
    it = iter(argv)
    for a in it:
        if a in ("--publisher", "--version"):
            options[a[2:]] = next(it, None)
        else:
            args.append(a)
    try:
        if args[:1] == ["manifest"] and len(args) == 3 and options.get("publisher") and options.get("version"):
            cmd_manifest(args[1], args[2], options["publisher"], options["version"])
        elif args[:1] == ["pack"] and len(args) == 3 and not options:
            cmd_pack(args[1], args[2])
        elif args[:1] == ["check"] and len(args) == 2 and "version" not in options:
            cmd_check(args[1], options.get("publisher"))
        else:
            sys.stderr.write(__doc__)
            return 2
    except (Refused, OSError) as e:
        for line in str(e).splitlines():
            print("msix: %s" % line, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
