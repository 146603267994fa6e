#!/usr/bin/env bash
# Builds the Windows Installer packages from the staged program folders:
#   build/packages/Vantrel-<version>-x64.msi  from build/win64/dist (+ VantrelShlExt32.dll of build/win32/dist)
#   build/packages/Vantrel-<version>-x86.msi  from build/win32/dist
# each through a stripped copy of the folder (build/packages/stage-win64, stage-win32).
# The packages carry the shell extension's COM registration as their own registry data. It is
# what regsvr32 of each DLL writes, taken from a throwaway Wine prefix in which the DLLs are
# registered from their installed folder (64-bit prefix for x64, 32-bit prefix for x86).
# Where no 32-bit program can run (a kernel without IA32 emulation), the 32-bit DLL's part
# of the x64 package is derived from the 64-bit DLL's registration in the same prefix
# (package_wxs.py derive32 says why that is the same registration), and the x86 package,
# whose prefix is a 32-bit one, is not built.
# VANTREL_PACKAGE_VERSION overrides the version (1.0.1.0), VANTREL_PACKAGES the output folder,
# VANTREL_PACKAGE_ARCHS the architectures ("x64 x86").
# Every program, DLL and package is signed (scripts/sign.sh: a release certificate from the
# environment, or the build's development certificate under build/signing); the x64 package
# carries the identity package (Vantrel-<version>-x64.msix) that gives the shell extension's
# Explorer command its place in Windows 11's context menu.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=wine-env.sh
. "$ROOT/scripts/wine-env.sh"
# shellcheck source=sign.sh
. "$ROOT/scripts/sign.sh"
VERSION="${VANTREL_PACKAGE_VERSION:-1.0.1.0}"
OUT="${VANTREL_PACKAGES:-$ROOT/build/packages}"
ARCHS=(${VANTREL_PACKAGE_ARCHS:-x64 x86})
if [ "$VANTREL_RUNS_32BIT" = 0 ] && [[ " ${ARCHS[*]} " == *" x86 "* ]]; then
  if [ -n "${VANTREL_PACKAGE_ARCHS:-}" ]; then
    echo "package: cannot build the x86 package: its registration data is taken in a 32-bit Wine prefix, and $VANTREL_NO_32BIT" >&2
    exit 1
  fi
  echo "package: x86 package not built: its registration data is taken in a 32-bit Wine prefix, and $VANTREL_NO_32BIT"
  ARCHS=(x64)
fi
DIST64="$ROOT/build/win64/dist"
DIST32="$ROOT/build/win32/dist"
mkdir -p "$OUT"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# capture <arch> <tsv>: registers the DLLs with regsvr32 in a fresh prefix and records what it wrote.
CAPTURE_DIR='C:\Program Files\Kestrane\Vantrel'
capture() {
  local arch="$1" tsv="$2" prefix="$OUT/capture-$1"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  local winearch=win64; [ "$arch" = x86 ] && winearch=win32
  (
    export WINEPREFIX="$prefix" WINEARCH="$winearch"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    local dir="$prefix/drive_c/Program Files/Kestrane/Vantrel"
    mkdir -p "$dir"
    : > "$tsv"
    local step=0 dll regsvr view
    if [ "$arch" = x64 ]; then
      set -- "$DIST64/VantrelShlExt64.dll" 'C:\windows\system32\regsvr32.exe' 64 \
             "$DIST32/VantrelShlExt32.dll" 'C:\windows\syswow64\regsvr32.exe' 32
    else
      set -- "$DIST32/VantrelShlExt32.dll" 'C:\windows\system32\regsvr32.exe' 32
    fi
    while [ $# -gt 0 ]; do
      dll="$1" regsvr="$2" view="$3"; shift 3
      if [ "$arch" = x64 ] && [ "$view" = 32 ]; then
        # What the 32-bit regsvr32 would write after the 64-bit DLL's registration (the rows
        # so far, the prefix as they left it), derived from that registration. Where no
        # 32-bit regsvr32 runs it is the package's; where one runs, the package takes what
        # that wrote, and its test compares the two (regsvr32-x64-derived32.tsv, -real32.tsv).
        python3 "$ROOT/scripts/package_wxs.py" derive32 "$prefix/system.reg" "$tsv" \
          "$CAPTURE_DIR\\VantrelShlExt64.dll" "$CAPTURE_DIR\\$(basename "$dll")" "$tsv.part"
        if [ "$VANTREL_RUNS_32BIT" = 0 ]; then
          cat "$tsv.part" >> "$tsv"; rm -f "$tsv.part"
          continue
        fi
        mv -f "$tsv.part" "$OUT/regsvr32-x64-derived32.tsv"
      fi
      cp "$dll" "$dir/"
      cp "$prefix/system.reg" "$prefix/before-$step.reg"
      wine "$regsvr" /s "C:\\Program Files\\Kestrane\\Vantrel\\$(basename "$dll")"
      wineserver -w
      python3 "$ROOT/scripts/package_wxs.py" capture "$prefix/before-$step.reg" "$prefix/system.reg" "$view" "$tsv.part"
      [ "$arch" = x64 ] && [ "$view" = 32 ] && cp "$tsv.part" "$OUT/regsvr32-x64-real32.tsv"
      cat "$tsv.part" >> "$tsv"; rm -f "$tsv.part"
      step=$((step + 1))
    done
    wineserver -k >/dev/null 2>&1 || true
  )
  rm -rf "$prefix"
  [ -s "$tsv" ] || { echo "package: regsvr32 wrote nothing for $arch" >&2; return 1; }
}

for f in "$DIST64/Vantrel.exe" "$DIST32/Vantrel.exe" "$DIST32/VantrelShlExt32.dll"; do
  [ -f "$f" ] || { echo "package: $f is missing: build the win64 and win32 presets first" >&2; exit 1; }
done
# The packages carry the program folders without the builds' debugging information:
# stage-win64 and stage-win32 in the output folder, the same files with their executables
# and DLLs stripped, are what the packages install (and what their tests compare with).
stage() {  # <dist> <stage> <strip tool>
  rm -rf "$2"
  cp -r "$1" "$2"
  find "$2" -type f \( -iname '*.exe' -o -iname '*.dll' \) -exec "$3" --strip-debug {} +
}
stage "$DIST64" "$OUT/stage-win64" x86_64-w64-mingw32-strip
stage "$DIST32" "$OUT/stage-win32" i686-w64-mingw32-strip
ICON64="$ROOT/build/win64/generated/Vantrel.ico"
ICON32="$ROOT/build/win32/generated/Vantrel.ico"
DIST64="$OUT/stage-win64"
DIST32="$OUT/stage-win32"
# Signed after stripping (stripping would break the signatures), both folders even when only
# the x64 package is built: it carries the 32-bit shell extension too.
mapfile -t binaries < <(find "$DIST64" "$DIST32" -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
vantrel_sign "${binaries[@]}"

# The identity package (x64): a manifest naming the shell extension's Explorer command and
# its logos, drawn from the program's icon by our own icontool; the program folder is its
# external location, and the x64 package installs it there as VantrelIdentity.msix.
PUBLISHER="$(vantrel_sign_publisher)"
BUILT_PUBLISHER="$(sed -n 's/^VANTREL_PUBLISHER:STRING=//p' "$ROOT/build/win64/CMakeCache.txt")"
if [ "$PUBLISHER" != "$BUILT_PUBLISHER" ]; then
  echo "package: the signing certificate's publisher \"$PUBLISHER\" is not the one Vantrel.exe was built for (\"$BUILT_PUBLISHER\"): configure win64 with -DVANTREL_PUBLISHER=\"$PUBLISHER\"" >&2
  exit 1
fi
ID="$OUT/identity-x64"
rm -rf "$ID"; mkdir -p "$ID/Assets"
python3 "$ROOT/scripts/msix.py" manifest "$ROOT/package/identity/AppxManifest.xml.in" "$ID/AppxManifest.xml" \
  --publisher "$PUBLISHER" --version "$VERSION"
for logo in StoreLogo:50 Square150x150Logo:150 Square44x44Logo:44; do
  "$ROOT/scripts/wine-run.sh" "$ROOT/build/win64/tools/icontool.exe" picture "Z:$ICON64" "${logo#*:}" "Z:$ID/Assets/${logo%:*}.png"
done
MSIX="$OUT/Vantrel-$VERSION-x64.msix"
python3 "$ROOT/scripts/msix.py" pack "$ID" "$MSIX"
vantrel_sign "$MSIX"
python3 "$ROOT/scripts/msix.py" check "$MSIX" --publisher "$PUBLISHER" >/dev/null
cp "$MSIX" "$DIST64/VantrelIdentity.msix"
echo "package: $MSIX ($(stat -c %s "$MSIX") bytes)"

for arch in "${ARCHS[@]}"; do
  if [ "$arch" = x64 ]; then dist="$DIST64"; icon="$ICON64"; extra=(--dist32 "$DIST32"); else dist="$DIST32"; icon="$ICON32"; extra=(); fi
  # The picture the build compiled into Vantrel.exe as its icon.
  [ -f "$icon" ] && extra+=(--icon "$icon")
  tsv="$OUT/regsvr32-$arch.tsv"
  [ "$arch" = x64 ] && rm -f "$OUT/regsvr32-x64-derived32.tsv" "$OUT/regsvr32-x64-real32.tsv"
  capture "$arch" "$tsv"
  wxs="$OUT/Vantrel-$VERSION-$arch.wxs"
  python3 "$ROOT/scripts/package_wxs.py" wxs --arch "$arch" --version "$VERSION" --dist "$dist" "${extra[@]}" \
    --com "$tsv" --out "$wxs"
  msi="$OUT/Vantrel-$VERSION-$arch.msi"
  wixl -a "$arch" -o "$msi" "$wxs"
  vantrel_sign "$msi"
  echo "package: $msi ($(stat -c %s "$msi") bytes)"
done
