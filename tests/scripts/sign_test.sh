#!/usr/bin/env bash
# Signing with scripts/sign.sh: a MinGW program and a wixl package signed with the
# development certificate (made once, in a signing folder of the test's own) and with a
# release certificate made here, each verified by osslsigncode; changed or foreign
# signatures rejected; the release password in no output and no command line.
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK=$(mktemp -d)
trap "rm -rf \"\$WORK\"" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
cd "$WORK" || exit 1
failures=0
check() {  # description, then a test command (or one string of shell conditions)
  local what="$1"; shift
  if if [ $# = 1 ]; then eval "$1"; else "$@"; fi; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# The tools' command lines, as ps shows them, are logged by stand-ins that run the real tools.
mkdir bin
for t in osslsigncode openssl; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/argv"\nexec %s "$@"\n' "$t" "$WORK" "$(command -v $t)" > "bin/$t"
done
chmod +x bin/*
export PATH="$WORK/bin:$PATH" VANTREL_SIGN_DIR="$WORK/signing" VANTREL_PUBLISHER="CN=Kestrane Vantrel Development, O=Kestrane, C=DE"
unset VANTREL_SIGN_PFX VANTREL_SIGN_PASSWORD VANTREL_SIGN_PASSWORD_FILE VANTREL_SIGN_CAFILE VANTREL_SIGN_TIMESTAMP_URL
sign() { (set -euo pipefail; . "$ROOT/scripts/sign.sh"; "$@") > out 2> err; }

echo 'int main(void) { return 0; }' > t.c
x86_64-w64-mingw32-gcc -o plain.exe t.c || exit 1
cat > t.wxs <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
<Product Id="6f1f7a52-3c3e-4a51-9d0e-0a5e1c1b2a01" Name="T" Language="1033" Version="1.0.0.0" Manufacturer="K" UpgradeCode="6f1f7a52-3c3e-4a51-9d0e-0a5e1c1b2a02">
<Package InstallerVersion="500" Compressed="yes"/><Media Id="1" Cabinet="t.cab" EmbedCab="yes"/>
<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="T">
<Component Id="C" Guid="6f1f7a52-3c3e-4a51-9d0e-0a5e1c1b2a03"><File Id="F" Name="t.exe" Source="plain.exe" KeyPath="yes"/></Component>
</Directory></Directory></Directory><Feature Id="Main" Level="1"><ComponentRef Id="C"/></Feature></Product></Wix>
EOF
wixl -o plain.msi t.wxs || exit 1
cp plain.exe a.exe; cp plain.msi a.msi
git_before=$(git -C "$ROOT" status --porcelain --ignored)

# Development certificate, the script run as a command.
(bash "$ROOT/scripts/sign.sh" a.exe a.msi) > out 2> err
check "dev: signed, a line per file naming the publisher" '[ "$(grep -cx "sign: a\.[a-z]* (publisher $VANTREL_PUBLISHER)" out)" = 2 ]'
check "dev: both verify against the development root" sign vantrel_sign_verify a.exe a.msi
check "dev: publisher is the subject, most specific name first" '[ "$(sign vantrel_sign_publisher; cat out)" = "$VANTREL_PUBLISHER" ] &&
  [ "$(openssl x509 -in signing/dev-code.pem -noout -subject -nameopt oneline)" = "subject=C = DE, O = Kestrane, CN = Kestrane Vantrel Development" ]'
text() { openssl x509 -in "signing/$1" -noout -text; }
check "dev: a CA root and a code-signing certificate it issued" 'text dev-root.pem | grep -q "CA:TRUE" && text dev-code.pem | grep -q "CA:FALSE" &&
  text dev-code.pem | grep -A1 "Extended Key Usage" | grep -qx " *Code Signing" && text dev-code.pem | grep -A1 "Key Usage: critical" | grep -qx " *Digital Signature" &&
  text dev-code.pem | grep -q "Public-Key: (3072 bit)" && openssl verify -CAfile signing/dev-root.pem signing/dev-code.pem >/dev/null'
check "dev: keys mode 600, only in the signing folder, nothing in the source tree" '[ "$(stat -c %a signing/dev-root.key signing/dev-code.key)" = "600
600" ] && [ -z "$(find . -name "*.key" -not -path "./signing/*")" ] && [ "$(git -C "$ROOT" status --porcelain --ignored)" = "$git_before" ]'
check "dev: a signing folder in the source tree outside build/ is refused" '! VANTREL_SIGN_DIR="$ROOT/dev-keys" sign vantrel_sign plain.exe && grep -q "outside build/" err && [ ! -e "$ROOT/dev-keys" ]'
fp() { openssl x509 -in "signing/$1" -noout -fingerprint -sha256; }
before="$(fp dev-root.pem)$(fp dev-code.pem)"; code_before=$(fp dev-code.pem); cp plain.exe b.exe
sign vantrel_sign b.exe
check "dev: a second run reuses the certificate" '[ "$(fp dev-root.pem)$(fp dev-code.pem)" = "$before" ] && ! grep -q making err && sign vantrel_sign_verify b.exe'
cp plain.exe c.exe
VANTREL_PUBLISHER="CN=Kestrane Other" sign vantrel_sign c.exe
check "dev: another publisher makes a new certificate" '[ "$(fp dev-code.pem)" != "$code_before" ] && grep -q "publisher is \"$VANTREL_PUBLISHER\", not" err &&
  grep -qx "sign: c.exe (publisher CN=Kestrane Other)" out'
sign vantrel_sign a.exe  # back to the test's publisher, for the checks below

# What verification must reject.
cp a.exe tampered.exe; printf '\x5a' | dd of=tampered.exe bs=1 seek=1100 conv=notrunc status=none
check "reject: one byte changed" '! cmp -s a.exe tampered.exe && ! sign vantrel_sign_verify tampered.exe'
check "reject: no signature" '! sign vantrel_sign_verify plain.exe && grep -q "signature missing" err'
openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.pem -days 30 -subj "/CN=Kestrane Vantrel Development" \
  -addext extendedKeyUsage=codeSigning 2> /dev/null
osslsigncode sign -certs other.pem -key other.key -h sha256 -in plain.exe -out other.exe > /dev/null
check "reject: signed by another certificate of the same name" '[ -s other.exe ] && ! sign vantrel_sign_verify other.exe'
cp plain.exe x.txt
check "reject: a file that is not signable, left as it was" '! sign vantrel_sign x.txt && grep -q "cannot sign x.txt" err && cmp -s x.txt plain.exe'
python3 -c 'import zipfile; zipfile.ZipFile("p.msix", "w").writestr("AppxManifest.xml", "<Package><Identity Publisher=\"CN=Someone Else\"/></Package>")'
check "reject: an app package naming another publisher" '! sign vantrel_sign p.msix && grep -q "publisher is \"CN=Someone Else\"" err'

# Release certificate: a root and a signing certificate made here, a PKCS#12 file with a password.
PW='Tr0ub4dor-release-pw'; printf '%s\n' "$PW" > pw
openssl req -x509 -newkey rsa:2048 -nodes -keyout rca.key -out rca.pem -days 30 -subj "/CN=Release Test Root" \
  -addext basicConstraints=critical,CA:TRUE 2> /dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout rel.key -out rel.csr -subj "/C=DE/O=Kestrane, Inc./CN=Kestrane Release" 2> /dev/null
printf 'extendedKeyUsage=codeSigning\nbasicConstraints=CA:FALSE\n' > rel.ext
openssl x509 -req -in rel.csr -CA rca.pem -CAkey rca.key -set_serial 7 -days 30 -extfile rel.ext -out rel.pem 2> /dev/null
openssl pkcs12 -export -in rel.pem -inkey rel.key -certfile rca.pem -out rel.pfx -passout "file:pw"
: > argv; cp plain.exe r.exe; cp plain.msi r.msi
export VANTREL_SIGN_PFX="$WORK/rel.pfx" VANTREL_SIGN_CAFILE="$WORK/rca.pem"
REL='CN=Kestrane Release, O="Kestrane, Inc.", C=DE'
VANTREL_PUBLISHER="" VANTREL_SIGN_PASSWORD_FILE="$WORK/pw" sign vantrel_sign r.exe r.msi; cat out err > all
VANTREL_PUBLISHER="" VANTREL_SIGN_PASSWORD_FILE="$WORK/pw" sign vantrel_sign_verify r.exe r.msi; cat out err >> all
check "release: signed and verified, the subject in the output" '[ "$(grep -c "^verify: r\.[a-z]* ok (signer /C=DE/O=Kestrane, Inc./CN=Kestrane Release)" all)" = 2 ] &&
  [ "$(grep -c "(publisher $REL)" all)" = 2 ] && ! grep -q making all'
check "release: not verified against the development root alone" '! VANTREL_SIGN_PFX= sign vantrel_sign_verify r.exe'
cp plain.exe e.exe
VANTREL_PUBLISHER="" VANTREL_SIGN_PASSWORD="$PW" sign vantrel_sign e.exe; cat out err >> all
check "release: the password from the environment" 'grep -qx "sign: e.exe (publisher $REL)" out'
cp plain.exe w.exe
VANTREL_SIGN_PASSWORD=wrong-pw sign vantrel_sign w.exe; cat out err >> all
check "release: a wrong password fails, file unchanged" 'grep -q "wrong password" err && cmp -s w.exe plain.exe'
check "release: VANTREL_PUBLISHER that is not the certificate's is refused" '! VANTREL_SIGN_PASSWORD="$PW" sign vantrel_sign e.exe && grep -q "release certificate.s publisher is" err'
check "release: the password in no output and no command line" '[ -s argv ] && grep -q -- "-readpass -" argv && ! grep -qe "$PW" -e wrong-pw all argv'

[ "$failures" = 0 ]
