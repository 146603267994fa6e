#!/usr/bin/env bash
# Installs everything a fresh Debian machine needs to build and test Vantrel, and
# cross-builds libpng for both MinGW targets. Idempotent and quiet when all is there.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${VANTREL_DEPS:-$ROOT/.deps}"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

log() { echo "setup: $*" >&2; }

APT_PACKAGES=(
  cmake g++ clang-14 make pkg-config dpkg-dev
  mingw-w64 mingw-w64-tools libz-mingw-w64-dev
  libpng-dev zlib1g-dev googletest libbenchmark-dev
  wine wine64 wine32:i386 xvfb xauth x11-utils
  icoutils python3-pil imagemagick pngcheck libmagick++-dev
  wixl osslsigncode openssl unzip
)

missing_packages() {
  local p
  for p in "${APT_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
      echo "$p"
    fi
  done
}

ensure_sources() {
  local changed=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    changed=1
  fi
  # Source entries for the same suites as the binary ones, so apt-get source can
  # fetch Debian's own libpng1.6 with its security patches.
  local src=/etc/apt/sources.list.d/vantrel-deb-src.sources
  if [ ! -f "$src" ]; then
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      [ "$f" = "$src" ] && continue
      grep -q 'debian' "$f" || continue
      awk 'BEGIN{RS="";ORS="\n\n"} /Types:[^\n]*deb/ && /debian/ {sub(/Types:[^\n]*/,"Types: deb-src"); print}' "$f"
    done | $SUDO tee "$src" >/dev/null
    if [ ! -s "$src" ] && [ -f /etc/apt/sources.list ]; then
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $SUDO tee /etc/apt/sources.list.d/vantrel-deb-src.list >/dev/null
      $SUDO rm -f "$src"
    fi
    changed=1
  fi
  echo "$changed"
}

# The release's own base suite (for example "bookworm"), read from the system.
base_suite() {
  local f="${OS_RELEASE_FILE:-/etc/os-release}" codename=""
  [ -r "$f" ] && codename=$(sed -n 's/^VERSION_CODENAME=//p' "$f" | tr -d '"' | head -1)
  [ -n "$codename" ] || codename=$(lsb_release -cs 2>/dev/null || true)
  echo "$codename"
}

# True when every named package has an install candidate in the indexes apt has now.
have_candidates() {
  local p cand
  for p in "$@"; do
    cand=$(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: *//p' | head -1)
    [ -n "$cand" ] && [ "$cand" != "(none)" ] || return 1
  done
}

# apt-get update, tried a few times: a mirror in the middle of a sync answers one
# index with the wrong size for a while. When it still fails but the indexes this
# set-up needs are there, it goes on.
apt_update() {
  local tries="${VANTREL_APT_TRIES:-3}" pause="${VANTREL_APT_PAUSE:-10}" i rc=0 err
  err=$(mktemp)
  for ((i = 1; i <= tries; i++)); do
    rc=0
    $SUDO apt-get update -qq >/dev/null 2>"$err" || rc=$?
    [ "$rc" = 0 ] && { rm -f "$err"; return 0; }
    [ "$i" -lt "$tries" ] && sleep "$pause"
  done
  if have_candidates "$@" && { [ "$#" -gt 0 ] || apt-cache showsrc libpng1.6 2>/dev/null | grep -q '^Version:'; }; then
    log "apt-get update failed (status $rc) $tries times; going on with the indexes at hand: $(grep -m1 '^E:' "$err" | cut -c1-160)"
    rm -f "$err"
    return 0
  fi
  cat "$err" >&2; rm -f "$err"
  log "apt-get update failed (status $rc) and the package indexes needed are missing"
  return 1
}

# apt-get install; when the plain install cannot be resolved (an update suite whose
# indexes for one architecture are behind the other's), once more with the packages
# taken from the release's base suite.
apt_install() {
  local err suite
  err=$(mktemp)
  if DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"$err"; then
    rm -f "$err"; return 0
  fi
  suite=$(base_suite)
  if [ -n "$suite" ]; then
    log "install did not resolve; trying again with packages from the base suite $suite"
    if DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends -t "$suite" "$@" >/dev/null 2>"$err"; then
      rm -f "$err"; return 0
    fi
  fi
  cat "$err" >&2; rm -f "$err"
  log "could not install: $*"
  return 1
}

install_packages() {
  local changed missing
  changed=$(ensure_sources)
  missing=$(missing_packages || true)
  if [ -n "$missing" ] || [ "$changed" = 1 ] || [ ! -d /var/lib/apt/lists ] || \
     ! ls /var/lib/apt/lists/*Sources* >/dev/null 2>&1; then
    log "installing packages: $(echo $missing | tr '\n' ' ')"
    # shellcheck disable=SC2086
    apt_update $missing || exit 1
    if [ -n "$missing" ]; then
      # shellcheck disable=SC2086
      apt_install $missing || exit 1
    fi
  fi
}

# Cross-build Debian's libpng1.6 for one MinGW target into $CACHE/<triplet>.
build_libpng() {
  local triplet="$1"
  local prefix="$CACHE/$triplet"
  [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/include/png.h" ] && return 0
  mkdir -p "$CACHE/src"
  local srcdir
  srcdir=$(find "$CACHE/src" -maxdepth 1 -type d -name 'libpng1.6-*' | sort -V | tail -1)
  if [ -z "$srcdir" ]; then
    log "fetching Debian's libpng1.6 source"
    local versions v ok=0
    versions=$(apt-cache showsrc libpng1.6 | awk '/^Version:/{print $2}' | sort -rV | uniq)
    for v in $versions; do
      if (cd "$CACHE/src" && apt-get source -qq --download-only "libpng1.6=$v" >/dev/null 2>&1); then
        (cd "$CACHE/src" && dpkg-source -x --no-check "libpng1.6_${v#*:}.dsc" >/dev/null 2>&1) && ok=1 && break
      fi
      log "libpng1.6 $v did not download; trying an older version"
    done
    [ "$ok" = 1 ] || { log "could not fetch libpng1.6 source"; exit 1; }
    srcdir=$(find "$CACHE/src" -maxdepth 1 -type d -name 'libpng1.6-*' | sort -V | tail -1)
  fi
  log "cross-building libpng for $triplet"
  local bdir="$CACHE/build-$triplet"
  rm -rf "$bdir"
  cmake -S "$srcdir" -B "$bdir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$triplet.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF \
    -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON \
    -DZLIB_LIBRARY="/usr/$triplet/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$triplet/include" \
    >"$bdir.log" 2>&1 || { cat "$bdir.log" >&2; exit 1; }
  cmake --build "$bdir" -j"$(nproc)" >>"$bdir.log" 2>&1 || { tail -50 "$bdir.log" >&2; exit 1; }
  cmake --install "$bdir" >>"$bdir.log" 2>&1 || { tail -50 "$bdir.log" >&2; exit 1; }
  # The static library name differs between libpng's build variants; keep one stable name.
  if [ ! -f "$prefix/lib/libpng16.a" ]; then
    local a
    a=$(find "$prefix/lib" -name 'libpng*.a' | head -1)
    [ -n "$a" ] && cp "$a" "$prefix/lib/libpng16.a"
  fi
  rm -rf "$bdir"
}

# Where the kernel cannot run 32-bit programs (no IA32 emulation) but offers binfmt_misc,
# Debian's qemu-user runs them by emulation: registered for i386 ELF files, it runs Wine's
# 32-bit loader, and with it every 32-bit Windows program, transparently. Nothing happens
# where 32-bit programs run already; where anything is refused, the 32-bit tests are
# skipped with their reason as before. VANTREL_NO_EMULATION=1 leaves the machine alone
# and takes back a registration of ours.
# Seams for the test: VANTREL_WINE_LOADERS, VANTREL_BINFMT_DIR, VANTREL_FILESYSTEMS, VANTREL_QEMU_I386.
BINFMT_NAME=qemu-i386
# i386 ELF executables and shared objects (ET_EXEC or ET_DYN, EM_386); F opens the
# interpreter once at registration, so it is found from every mount namespace.
binfmt_line() {
  printf ':%s:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:%s:%s:F' \
    "$BINFMT_NAME" \
    '\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' "$1"
}

# binfmt_write <file> <text>: one write to a binfmt_misc file (register, or an entry's -1).
binfmt_write() { printf '%s' "$2" | $SUDO tee "$1" >/dev/null 2>&1; }

# qemu-user 7.2 (bookworm's own) ends a 32-bit Wine process with a segmentation fault once
# several of its threads call into Wine at once; from version 8 on its threads hold. The
# release's backports suite carries a newer one: it is installed from there, through a
# sources list of our own given to apt for these two calls only (the system's lists stay as
# they are), and the release's own version where backports cannot be reached.
QEMU_THREADS_FIXED=8
qemu_major() { "$1" --version 2>/dev/null | sed -n 's/^qemu-[a-z0-9_]* version \([0-9]*\).*/\1/p' | head -1; }
install_qemu_user() {
  local suite list uri keyring opts
  suite="$(base_suite)-backports"
  uri=$(grep -hs '^URIs:.*debian/\?$' /etc/apt/sources.list.d/*.sources | head -1 | awk '{print $2}')
  [ -n "$uri" ] || uri=http://deb.debian.org/debian
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  list=$(mktemp)
  printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' "$uri" "$suite" "$keyring" > "$list"
  opts=(-o "Dir::Etc::sourcelist=$list" -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0)
  log "installing qemu-user from $suite to run 32-bit programs by emulation"
  if $SUDO apt-get "${opts[@]}" update -qq >/dev/null 2>&1 &&
     DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${opts[@]}" install -y -qq --no-install-recommends \
       -t "$suite" qemu-user >/dev/null 2>&1; then
    rm -f "$list"; return 0
  fi
  rm -f "$list"
  log "qemu-user from $suite did not install; taking the release's own (its 32-bit programs may not run threads)"
  apt_install qemu-user || true
}

ensure_32bit_runs() {
  local loader="${VANTREL_WINE_LOADERS:-/usr/lib/wine}/wine"
  local binfmt="${VANTREL_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"
  local qemu="${VANTREL_QEMU_I386:-/usr/bin/qemu-i386}"
  local entry="$binfmt/$BINFMT_NAME"
  if [ "${VANTREL_NO_EMULATION:-0}" = 1 ]; then
    if [ -f "$entry" ] && grep -qxF "interpreter $qemu" "$entry"; then
      binfmt_write "$entry" -1 && log "32-bit emulation turned off: $BINFMT_NAME taken back from binfmt_misc"
    fi
    return 0
  fi
  [ -x "$loader" ] || return 0
  "$loader" --version >/dev/null 2>&1 && return 0
  if ! grep -qw binfmt_misc "${VANTREL_FILESYSTEMS:-/proc/filesystems}" 2>/dev/null; then
    log "32-bit programs cannot run here and the kernel has no binfmt_misc: the 32-bit tests are skipped"
    return 0
  fi
  if [ "$(qemu_major "$qemu")" -lt "$QEMU_THREADS_FIXED" ] 2>/dev/null || [ ! -x "$qemu" ]; then
    install_qemu_user
    [ -x "$qemu" ] || { log "qemu-user did not install: the 32-bit tests are skipped"; return 0; }
  fi
  if [ ! -e "$binfmt/register" ] && ! $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    log "binfmt_misc could not be mounted at $binfmt: the 32-bit tests are skipped"
    return 0
  fi
  if [ -e "$entry" ]; then
    log "binfmt_misc has an entry $BINFMT_NAME, yet Wine's 32-bit loader does not run: the 32-bit tests are skipped"
    return 0
  fi
  if ! binfmt_write "$binfmt/register" "$(binfmt_line "$qemu")" || [ ! -e "$entry" ]; then
    log "binfmt_misc refused the registration of $qemu: the 32-bit tests are skipped"
    return 0
  fi
  if ! "$loader" --version >/dev/null 2>&1; then
    binfmt_write "$entry" -1 || true
    log "Wine's 32-bit loader does not run under $qemu either: registration taken back, the 32-bit tests are skipped"
    return 0
  fi
  log "32-bit programs run by emulation: $qemu registered with binfmt_misc for i386 programs (VANTREL_NO_EMULATION=1 turns it off)"
}

main() {
  install_packages
  ensure_32bit_runs
  build_libpng x86_64-w64-mingw32
  build_libpng i686-w64-mingw32
}

# Sourced by its test for the functions alone.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then main; fi
