#!/usr/bin/env bash
# Authenticode signing of Vantrel's programs, DLLs, Windows Installer packages and identity
# package with osslsigncode. Sourced by package.sh; as a command it signs the files it is given:
#   bash scripts/sign.sh <file>...
#
# The certificate:
#   VANTREL_SIGN_PFX             a release certificate (PKCS#12: key, certificate, its chain)
#   VANTREL_SIGN_PASSWORD        its password (may be empty), or
#   VANTREL_SIGN_PASSWORD_FILE   a file whose first line is the password
#   VANTREL_SIGN_CAFILE          the roots a release signature is verified against
#                                (default: the system's, osslsigncode's default)
#   VANTREL_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping server (none unless given)
# Without VANTREL_SIGN_PFX the build signs with a development certificate it makes itself in
# VANTREL_SIGN_DIR (default build/signing): dev-root.pem, a self-signed root, and dev-code.pem,
# the code-signing certificate it issued, whose subject is VANTREL_PUBLISHER (default
# "CN=Kestrane Vantrel Development"). Both are made once and reused while they stay valid for
# at least VANTREL_SIGN_MIN_DAYS (30) more days and the subject is still the one asked for.
#
# Publisher strings are written as Windows writes a certificate's subject, and as an MSIX
# manifest's Identity/@Publisher must spell it: the most specific name first, the reverse of
# the order in which the certificate encodes its names (the order of RFC 2253, which
# `openssl x509 -subject` prints the other way round unless told -nameopt dn_rev), parts
# separated by ", ", Windows' short names (S for stateOrProvinceName, E for emailAddress),
# and a value that holds , + = " < > # ; or leading or trailing spaces in double quotes with
# its quotes doubled (RFC 2253's backslash escapes are not what Windows writes).
# A subject of C=DE, O=Kestrane, CN=Vantrel in the certificate is "CN=Vantrel, O=Kestrane, C=DE".

_VSIGN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

_vsign_fail() { echo "sign: $*" >&2; return 1; }
_vsign_dir() { echo "${VANTREL_SIGN_DIR:-$_VSIGN_ROOT/build/signing}"; }
_vsign_release() { [ -n "${VANTREL_SIGN_PFX:-}" ]; }

# The Windows short name of an attribute as openssl names it.
_vsign_attr_name() {
  case "$1" in
    CN | L | O | OU | C | DC | SN | STREET | T | G | I) echo "$1" ;;
    ST) echo S ;; emailAddress) echo E ;; street) echo STREET ;; title) echo T ;; GN) echo G ;;
    initials) echo I ;; serialNumber) echo SERIALNUMBER ;; description) echo Description ;;
    postalCode) echo PostalCode ;; dnQualifier) echo dnQualifier ;;
    *) return 1 ;;
  esac
}

# _vsign_publisher_of <certificate PEM file>: its subject as a manifest's Publisher.
_vsign_publisher_of() {
  local lines line name value out="" sep=""
  # One name a line, most specific first, RFC 2253 escapes (so a "+" that separates the
  # values of one multi-valued name stands out from a "+" in a value).
  lines=$(openssl x509 -in "$1" -noout -subject -nameopt sep_multiline,dn_rev,sname,esc_2253,esc_ctrl,utf8) ||
    { _vsign_fail "cannot read the certificate $1"; return 1; }
  while IFS= read -r line; do
    line="${line#"${line%%[! ]*}"}"
    case "$line" in "" | subject=*) continue ;; esac
    [[ "$line" == *" + "* ]] && { _vsign_fail "the subject of $1 has a multi-valued name ($line), which a publisher cannot name"; return 1; }
    name=$(_vsign_attr_name "${line%%=*}") ||
      { _vsign_fail "the subject of $1 has an attribute Windows has no short name for: ${line%%=*}"; return 1; }
    value="${line#*=}"
    value=$(printf '%s' "$value" | sed 's/\\\([,+"\\<>;#= ]\)/\1/g')
    if [[ "$value" =~ [,+=\"\<\>#\;] || "$value" == " "* || "$value" == *" " ]]; then
      value="\"${value//\"/\"\"}\""
    fi
    out+="$sep$name=$value"; sep=", "
  done <<< "$lines"
  [ -n "$out" ] || { _vsign_fail "the certificate $1 has an empty subject"; return 1; }
  printf '%s\n' "$out"
}

# _vsign_subject_arg <publisher>: the publisher as openssl req -subj wants it (the certificate's
# order, the reverse of the publisher's). Only plain values: a development subject needs no more.
_vsign_subject_arg() {
  local part key subj="" rest="$1"
  [[ "$rest" =~ [\"\\/+\<\>#\;] ]] &&
    { _vsign_fail "VANTREL_PUBLISHER \"$1\": a development publisher takes only plain values (no \" \\ / + < > # ;)"; return 1; }
  while [ -n "$rest" ]; do
    part="${rest%%, *}"
    [ "$part" = "$rest" ] && rest="" || rest="${rest#*, }"
    key="${part%%=*}"
    [[ "$part" == *=* && -n "${part#*=}" && "${part#*=}" != *[=,]* && "$key" =~ ^[A-Za-z]+$ ]] ||
      { _vsign_fail "VANTREL_PUBLISHER \"$1\": \"$part\" is not NAME=value (parts separated by \", \")"; return 1; }
    case "$key" in S) key=ST ;; E) key=emailAddress ;; esac
    subj="/$key=${part#*=}$subj"
  done
  printf '%s\n' "$subj"
}

# Makes the development root and code-signing certificate, unless valid ones for the
# publisher asked for are there.
_vsign_dev_certificate() {
  local dir publisher subj days=730 min_days="${VANTREL_SIGN_MIN_DAYS:-30}" why=""
  dir=$(_vsign_dir)
  publisher="${VANTREL_PUBLISHER:-CN=Kestrane Vantrel Development}"
  # Keys inside the source tree live under build/, which git ignores.
  local real
  real=$(realpath -m "$dir")
  if [[ "$real/" == "$_VSIGN_ROOT/"* && "$real/" != "$_VSIGN_ROOT/build/"* ]]; then
    _vsign_fail "VANTREL_SIGN_DIR $dir is in the source tree outside build/: its private keys could be committed"
    return 1
  fi
  subj=$(_vsign_subject_arg "$publisher") || return 1
  mkdir -p "$dir" || { _vsign_fail "cannot make $dir"; return 1; }
  (
    exec 9> "$dir/.lock" && flock 9
    local f have=""
    for f in dev-root.key dev-root.pem dev-code.key dev-code.pem dev-chain.pem; do
      [ -s "$dir/$f" ] || why="${why:-$f is missing}"
    done
    if [ -z "$why" ]; then
      for f in dev-root.pem dev-code.pem; do
        openssl x509 -in "$dir/$f" -noout -checkend $((min_days * 86400)) > /dev/null 2>&1 ||
          why="${why:-$f expires within $min_days days}"
      done
    fi
    [ -z "$why" ] && have=$(_vsign_publisher_of "$dir/dev-code.pem" 2> /dev/null)
    [ -z "$why" ] && [ "$have" != "$publisher" ] && why="its publisher is \"$have\", not \"$publisher\""
    [ -z "$why" ] && ! openssl verify -CAfile "$dir/dev-root.pem" "$dir/dev-code.pem" > /dev/null 2>&1 &&
      why="dev-code.pem was not issued by dev-root.pem"
    [ -z "$why" ] && [ "$(openssl x509 -in "$dir/dev-code.pem" -noout -pubkey)" != "$(openssl pkey -in "$dir/dev-code.key" -pubout 2> /dev/null)" ] &&
      why="dev-code.key is not dev-code.pem's key"
    [ -z "$why" ] && exit 0
    echo "sign: making a development certificate in $dir ($why)" >&2
    umask 077
    local tmp="$dir/new.$$"
    rm -rf "$tmp" && mkdir "$tmp" || exit 1
    cat > "$tmp/ext" <<EOF
[req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
    # shellcheck disable=SC2015  # the block after || ends the subshell
    openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days $((days + 1)) -keyout "$tmp/dev-root.key" \
      -out "$tmp/dev-root.pem" -subj "/CN=Vantrel Development Root (not trusted)" -config "$tmp/ext" \
      -extensions root > "$tmp/log" 2>&1 &&
      openssl req -new -newkey rsa:3072 -nodes -sha256 -keyout "$tmp/dev-code.key" -out "$tmp/dev-code.csr" \
        -subj "$subj" -config "$tmp/ext" >> "$tmp/log" 2>&1 &&
      openssl x509 -req -in "$tmp/dev-code.csr" -CA "$tmp/dev-root.pem" -CAkey "$tmp/dev-root.key" -sha256 \
        -days "$days" -set_serial "0x$(openssl rand -hex 16)" -extfile "$tmp/ext" -extensions code \
        -out "$tmp/dev-code.pem" >> "$tmp/log" 2>&1 ||
      { cat "$tmp/log" >&2; rm -rf "$tmp"; echo "sign: could not make the development certificate" >&2; exit 1; }
    cat "$tmp/dev-code.pem" "$tmp/dev-root.pem" > "$tmp/dev-chain.pem"
    chmod 600 "$tmp/dev-root.key" "$tmp/dev-code.key"
    chmod 644 "$tmp/dev-root.pem" "$tmp/dev-code.pem" "$tmp/dev-chain.pem"
    for f in dev-root.key dev-root.pem dev-code.key dev-code.pem dev-chain.pem; do mv -f "$tmp/$f" "$dir/$f"; done
    rm -rf "$tmp"
    have=$(_vsign_publisher_of "$dir/dev-code.pem") || exit 1
    [ "$have" = "$publisher" ] ||
      { echo "sign: the development certificate's publisher is \"$have\", not \"$publisher\"" >&2; exit 1; }
  )
}

# The release password: first line of VANTREL_SIGN_PASSWORD_FILE, or VANTREL_SIGN_PASSWORD.
# Sets _vsign_pw (never printed; it reaches the tools on their standard input).
_vsign_read_password() {
  if [ -n "${VANTREL_SIGN_PASSWORD_FILE:-}" ]; then
    [ -z "${VANTREL_SIGN_PASSWORD+set}" ] ||
      { _vsign_fail "set VANTREL_SIGN_PASSWORD or VANTREL_SIGN_PASSWORD_FILE, not both"; return 1; }
    [ -r "$VANTREL_SIGN_PASSWORD_FILE" ] ||
      { _vsign_fail "cannot read VANTREL_SIGN_PASSWORD_FILE $VANTREL_SIGN_PASSWORD_FILE"; return 1; }
    _vsign_pw=""
    IFS= read -r _vsign_pw < "$VANTREL_SIGN_PASSWORD_FILE" || [ -n "$_vsign_pw" ] || _vsign_pw=""
  elif [ -n "${VANTREL_SIGN_PASSWORD+set}" ]; then
    _vsign_pw="$VANTREL_SIGN_PASSWORD"
  else
    _vsign_fail "VANTREL_SIGN_PFX is set: give its password in VANTREL_SIGN_PASSWORD (may be empty) or VANTREL_SIGN_PASSWORD_FILE"
    return 1
  fi
}

# _vsign_release_leaf <out PEM>: the release certificate's own certificate, out of the PKCS#12 file.
_vsign_release_leaf() {
  [ -r "$VANTREL_SIGN_PFX" ] || { _vsign_fail "cannot read VANTREL_SIGN_PFX $VANTREL_SIGN_PFX"; return 1; }
  local _vsign_pw legacy
  _vsign_read_password || return 1
  for legacy in "" -legacy; do  # -legacy: files exported with RC2/3DES, as older Windows does
    if [ -z "$_vsign_pw" ]; then
      openssl pkcs12 $legacy -in "$VANTREL_SIGN_PFX" -nokeys -clcerts -passin pass: -out "$1" 2> /dev/null
    else
      printf '%s\n' "$_vsign_pw" | openssl pkcs12 $legacy -in "$VANTREL_SIGN_PFX" -nokeys -clcerts -passin stdin -out "$1" 2> /dev/null
    fi && [ -s "$1" ] && return 0
  done
  _vsign_fail "cannot open VANTREL_SIGN_PFX $VANTREL_SIGN_PFX: wrong password, or not a PKCS#12 file"
}

# Prints the publisher of the certificate in use (what an MSIX manifest's Publisher must say).
vantrel_sign_publisher() {
  if _vsign_release; then
    local tmp rc
    tmp=$(mktemp) || return 1
    _vsign_release_leaf "$tmp" && _vsign_publisher_of "$tmp"
    rc=$?; rm -f "$tmp"
    return $rc
  fi
  _vsign_dev_certificate && _vsign_publisher_of "$(_vsign_dir)/dev-code.pem"
}

# vantrel_sign <file>...: signs each file in place (SHA-256, certificate chain included).
vantrel_sign() {
  [ $# -gt 0 ] || { _vsign_fail "vantrel_sign: no file given"; return 1; }
  local f publisher tmp out log xtrace=""
  for f in "$@"; do
    [ -f "$f" ] || { _vsign_fail "cannot sign $f: no such file"; return 1; }
    case "${f,,}" in
      *.exe | *.dll | *.msi | *.msix | *.appx) ;;
      *) _vsign_fail "cannot sign $f: not a program or DLL (.exe, .dll), Windows Installer package (.msi) or app package (.msix, .appx)"; return 1 ;;
    esac
  done
  publisher=$(vantrel_sign_publisher) || return 1
  if _vsign_release && [ -n "${VANTREL_PUBLISHER:-}" ] && [ "$VANTREL_PUBLISHER" != "$publisher" ]; then
    _vsign_fail "VANTREL_PUBLISHER is \"$VANTREL_PUBLISHER\", but the release certificate's publisher is \"$publisher\""
    return 1
  fi
  # Windows installs an app package only when its manifest names the signer as its publisher.
  for f in "$@"; do
    case "${f,,}" in *.msix | *.appx) ;; *) continue ;; esac
    local named
    named=$(python3 - "$f" <<'PY'
import sys, zipfile, xml.etree.ElementTree as ET
try:
    with zipfile.ZipFile(sys.argv[1]) as z:
        root = ET.fromstring(z.read('AppxManifest.xml'))
except (OSError, KeyError, zipfile.BadZipFile, ET.ParseError) as e:
    sys.exit('no readable AppxManifest.xml (%s)' % e)
ident = [e for e in root if e.tag.endswith('}Identity') or e.tag == 'Identity']
if not ident or ident[0].get('Publisher') is None:
    sys.exit('its AppxManifest.xml has no Identity Publisher')
print(ident[0].get('Publisher'))
PY
    ) || { _vsign_fail "cannot sign $f: $named"; return 1; }
    [ "$named" = "$publisher" ] ||
      { _vsign_fail "cannot sign $f: its manifest's publisher is \"$named\", the certificate's is \"$publisher\""; return 1; }
  done
  local key=(-certs "$(_vsign_dir)/dev-chain.pem" -key "$(_vsign_dir)/dev-code.key")
  _vsign_release && key=(-pkcs12 "$VANTREL_SIGN_PFX")
  local ts=()
  [ -n "${VANTREL_SIGN_TIMESTAMP_URL:-}" ] && ts=(-ts "$VANTREL_SIGN_TIMESTAMP_URL")
  # The password is in a shell variable from here on: no tracing of the commands that use it.
  [[ $- == *x* ]] && xtrace=1 && set +x
  local _vsign_pw="" rc=0
  _vsign_release && { _vsign_read_password || rc=1; }
  for f in "$@"; do
    [ $rc = 0 ] || break
    out="$f.signing.$$"; log="$f.signing.$$.log"
    rm -f "$out"
    local cmd=(osslsigncode sign "${key[@]}" -h sha256 -n Vantrel "${ts[@]}" -in "$f" -out "$out") st=0
    if _vsign_release && [ -n "$_vsign_pw" ]; then
      printf '%s\n' "$_vsign_pw" | "${cmd[@]}" -readpass - > "$log" 2>&1 || st=$?
    elif _vsign_release; then
      "${cmd[@]}" -pass "" > "$log" 2>&1 || st=$?
    else
      "${cmd[@]}" > "$log" 2>&1 || st=$?
    fi
    # osslsigncode 2.9 rewrites a stored (not deflated) [Content_Types].xml with a wrong CRC
    # and still reports success: a package whose entries do not read back is not kept.
    if [ $st = 0 ] && [[ "${f,,}" == *.msix || "${f,,}" == *.appx ]] &&
      ! python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$out" 2> /dev/null; then
      echo "sign: the signed $f does not read back (an entry's CRC is wrong); deflate its [Content_Types].xml" > "$log"
      st=1
    fi
    if [ $st != 0 ] || [ ! -s "$out" ]; then
      cat "$log" >&2
      _vsign_fail "could not sign $f"
      rc=1
    else
      # In place, keeping the file's mode.
      if chmod --reference="$f" "$out" && mv -f "$out" "$f"; then
        echo "sign: $f (publisher $publisher)"
      else
        _vsign_fail "could not replace $f"; rc=1
      fi
    fi
    rm -f "$out" "$log"
  done
  _vsign_pw=""
  [ -n "$xtrace" ] && set -x
  return $rc
}

# vantrel_sign_verify <file>...: each file's signature is there and verifies against the roots
# in use (the development root, or VANTREL_SIGN_CAFILE / the system's for a release).
vantrel_sign_verify() {
  [ $# -gt 0 ] || { _vsign_fail "vantrel_sign_verify: no file given"; return 1; }
  local f ca=() log rc=0 signer
  if _vsign_release; then
    [ -n "${VANTREL_SIGN_CAFILE:-}" ] && ca=(-CAfile "$VANTREL_SIGN_CAFILE")
  else
    [ -s "$(_vsign_dir)/dev-root.pem" ] || { _vsign_fail "no development root in $(_vsign_dir) to verify with"; return 1; }
    ca=(-CAfile "$(_vsign_dir)/dev-root.pem")
  fi
  log=$(mktemp) || return 1
  for f in "$@"; do
    if [ ! -f "$f" ]; then
      _vsign_fail "verify: $f: no such file"; rc=1
    elif osslsigncode verify "${ca[@]}" -in "$f" > "$log" 2>&1 && grep -q '^Signature verification: ok' "$log"; then
      signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$log" | head -1)
      echo "verify: $f ok (signer $signer)"
    else
      cat "$log" >&2
      _vsign_fail "verify: $f: signature missing or not valid"; rc=1
    fi
  done
  rm -f "$log"
  return $rc
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  [ $# -gt 0 ] || { echo "usage: bash scripts/sign.sh <file>... (see the comment at its top)" >&2; exit 2; }
  vantrel_sign "$@"
fi
