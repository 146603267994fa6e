#!/usr/bin/env bash
# The set-up's package steps against stand-ins for apt-get, apt-cache and dpkg-query:
# a mirror in the middle of a sync (update fails), an install that does not resolve
# until the base suite is named, and the failures that must still stop the set-up.
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK=$(mktemp -d)
trap "rm -rf \"\$WORK\"" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
mkdir -p "$WORK/bin"
export STANDIN="$WORK/state"

cat > "$WORK/bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STANDIN/calls"
standin_emulator() { printf '#!/bin/sh\necho "qemu-i386 version %s (Debian)"\n' "$1" > "$STANDIN_QEMU"; chmod +x "$STANDIN_QEMU"; }
# The backports suite answers unless STANDIN/backports-unreachable; installing qemu-user
# makes the emulator STANDIN_QEMU names, of the suite's version.
case " $* " in *-backports*) [ -e "$STANDIN/backports-unreachable" ] && exit 100 ;; esac
case " $* " in
  *" install "*-backports*qemu-user*) standin_emulator 10.0.2 ;;
  *" install "*qemu-user*) standin_emulator 7.2.0 ;;
esac
case " $* " in *" update "*)
  n=$(cat "$STANDIN/update-failures" 2>/dev/null || echo 0)
  if [ "$n" != 0 ]; then
    [ "$n" = always ] || echo $((n - 1)) > "$STANDIN/update-failures"
    echo "E: Failed to fetch http://mirror/dists/x-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
    exit 100
  fi
  exit 0 ;;
esac
case " $* " in
  *" -t "*) [ -e "$STANDIN/base-install-fails" ] || exit 0 ;;
  *) [ -e "$STANDIN/plain-install-fails" ] || exit 0 ;;
esac
echo "E: Unable to correct problems, you have held broken packages." >&2
exit 100
SH
cat > "$WORK/bin/apt-cache" <<'SH'
#!/usr/bin/env bash
[ "$1" = policy ] || exit 0
echo "$2:"
if grep -qxF "$2" "$STANDIN/no-candidate" 2>/dev/null; then echo "  Candidate: (none)"; else echo "  Candidate: 1.0-1"; fi
SH
cat > "$WORK/bin/dpkg-query" <<'SH'
#!/usr/bin/env bash
p="${*: -1}"
grep -qxF "$p" "$STANDIN/installed" 2>/dev/null && echo "install ok installed" && exit 0
exit 1
SH
chmod +x "$WORK/bin/"*
printf 'NAME="Test"\nVERSION_CODENAME=sidetest\n' > "$WORK/os-release"

failures=0
check() {  # description, then a test command (or one string of shell conditions)
  local what="$1"; shift
  if if [ $# = 1 ]; then eval "$1"; else "$@"; fi; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# Runs the set-up's install step in a subshell with the stand-ins first on PATH.
run_install() {
  (
    PATH="$WORK/bin:$PATH"
    OS_RELEASE_FILE="$WORK/os-release" VANTREL_APT_TRIES=3 VANTREL_APT_PAUSE=0
    # shellcheck source=/dev/null
    source "$ROOT/scripts/setup.sh"
    ensure_sources() { echo 0; }
    APT_PACKAGES=(gcc wine32:i386)
    install_packages
  ) >"$WORK/out" 2>"$WORK/err"
  echo $? > "$WORK/rc"
}
scenario() { rm -rf "$STANDIN"; mkdir -p "$STANDIN"; : > "$STANDIN/calls"; }
calls() { grep -c "^apt-get $1" "$STANDIN/calls"; }

# Mid-sync: every update fails, but the packages have candidates; the plain install
# does not resolve, the base suite's does.
scenario; echo always > "$STANDIN/update-failures"; touch "$STANDIN/plain-install-fails"
run_install
check "mid-sync: the set-up goes on and succeeds" [ "$(cat "$WORK/rc")" = 0 ]
check "mid-sync: update tried 3 times" [ "$(calls update)" = 3 ]
check "mid-sync: says so in one line" [ "$(grep -c 'apt-get update failed (status 100) 3 times; going on' "$WORK/err")" = 1 ]
check "mid-sync: second install names the suite read from os-release" grep -qx "apt-get install -y -qq --no-install-recommends -t sidetest gcc wine32:i386" "$STANDIN/calls"
check "mid-sync: two installs in all" [ "$(calls install)" = 2 ]

# A passing fault: two failed updates, then a good one; one plain install.
scenario; echo 2 > "$STANDIN/update-failures"
run_install
check "retry: succeeds" [ "$(cat "$WORK/rc")" = 0 ]
check "retry: third update succeeded, no failure line" '[ "$(calls update)" = 3 ] && ! grep -q "going on" "$WORK/err"'
check "retry: one install, without a suite" '[ "$(calls install)" = 1 ] && ! grep -q -- " -t " "$STANDIN/calls"'

# Update fails and a needed package has no candidate: stop before installing, with apt's text.
scenario; echo always > "$STANDIN/update-failures"; echo 'wine32:i386' > "$STANDIN/no-candidate"
run_install
check "missing index: fails" [ "$(cat "$WORK/rc")" != 0 ]
check "missing index: nothing installed" [ "$(calls install)" = 0 ]
check "missing index: apt's reason shown" grep -q 'Mirror sync in progress' "$WORK/err"

# Neither install resolves: fail with apt's own reason.
scenario; touch "$STANDIN/plain-install-fails" "$STANDIN/base-install-fails"
run_install
check "no resolution: fails" [ "$(cat "$WORK/rc")" != 0 ]
check "no resolution: apt's reason shown" grep -q 'held broken packages' "$WORK/err"

# Everything installed: quiet, and apt is not asked at all.
scenario; printf 'gcc\nwine32:i386\n' > "$STANDIN/installed"
run_install
check "installed: succeeds quietly" '[ "$(cat "$WORK/rc")" = 0 ] && [ ! -s "$WORK/err" ] && [ ! -s "$WORK/out" ]'
check "installed: apt not called" [ ! -s "$STANDIN/calls" ]

# 32-bit programs by emulation: stand-ins for Wine's 32-bit loader (runs natively, or once
# an enabled qemu-i386 entry is registered), for mount, and for the kernel's binfmt_misc
# files (a folder whose "register" makes an entry, as the kernel does).
LOADERS="$WORK/loaders"; BINFMT="$WORK/binfmt"; QEMU="$WORK/qemu-i386"
mkdir -p "$LOADERS"
cat > "$LOADERS/wine" <<SH
#!/bin/sh
[ -e "$STANDIN/broken-emulator" ] && exit 1
if [ -e "$STANDIN/native" ] || grep -qx enabled "$BINFMT/qemu-i386" 2>/dev/null; then echo wine-8.0; exit 0; fi
echo "cannot execute binary file: Exec format error" >&2; exit 126
SH
cat > "$WORK/bin/mount" <<'SH'
#!/bin/sh
echo "mount $*" >> "$STANDIN/calls"
[ -e "$STANDIN/mount-refused" ] && exit 32
touch "$4/register"
SH
export STANDIN_QEMU="$QEMU"
chmod +x "$LOADERS/wine" "$WORK/bin/mount"

run_emulation() {  # [VAR=value...]
  (
    PATH="$WORK/bin:$PATH"
    for a in "$@"; do export "$a"; done
    export VANTREL_WINE_LOADERS="$LOADERS" VANTREL_BINFMT_DIR="$BINFMT" VANTREL_QEMU_I386="$QEMU" \
      VANTREL_FILESYSTEMS="$STANDIN/filesystems" OS_RELEASE_FILE="$WORK/os-release"
    # shellcheck source=/dev/null
    source "$ROOT/scripts/setup.sh"
    binfmt_write() {
      [ -e "$STANDIN/register-refused" ] && return 1
      case "$1" in
        */register) echo "$2" > "$STANDIN/registered"
                    printf 'enabled\ninterpreter %s\nflags: F\n' "$(echo "$2" | cut -d: -f7)" > "$BINFMT/$(echo "$2" | cut -d: -f2)" ;;
        *) [ "$2" = -1 ] && rm -f "$1" ;;
      esac
    }
    ensure_32bit_runs
  ) >"$WORK/out" 2>"$WORK/err"
  echo $? > "$WORK/rc"
}
machine() {  # a machine without IA32 emulation whose kernel has binfmt_misc, not mounted
  scenario; rm -rf "$BINFMT" "$QEMU"; mkdir -p "$BINFMT"
  printf 'nodev\tsysfs\nnodev\tbinfmt_misc\n' > "$STANDIN/filesystems"
}
ok_quiet() { [ "$(cat "$WORK/rc")" = 0 ] && [ ! -s "$WORK/err" ]; }
said() { [ "$(cat "$WORK/rc")" = 0 ] && grep -q "$1" "$WORK/err"; }

machine; touch "$STANDIN/native"
run_emulation
check "IA32 kernel: nothing installed, mounted or registered, quietly" 'ok_quiet && [ ! -s "$STANDIN/calls" ] && [ ! -e "$BINFMT/qemu-i386" ]'

machine
run_emulation
check "emulation: qemu-user installed from backports, binfmt_misc mounted" 'grep -q "install .*-t sidetest-backports qemu-user" "$STANDIN/calls" && grep -qx "mount -t binfmt_misc binfmt_misc $BINFMT" "$STANDIN/calls"'
check "emulation: the system's sources left as they are" '! grep -q "^apt-get update" "$STANDIN/calls" && grep -q "sourceparts=- -o APT::Get::List-Cleanup=0 update" "$STANDIN/calls"'
check "emulation: i386 ELF programs registered to the emulator" grep -qxF ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' "$STANDIN/registered"
check "emulation: the last line says so" 'said "32-bit programs run by emulation" && tail -1 "$WORK/err" | grep -q "run by emulation: $QEMU registered"'
: > "$STANDIN/calls"; rm "$STANDIN/registered"
run_emulation
check "emulation, again: quiet, nothing done twice" 'ok_quiet && [ ! -s "$STANDIN/calls" ] && [ ! -e "$STANDIN/registered" ]'
check "turned off: our registration taken back" run_emulation VANTREL_NO_EMULATION=1
check "turned off: said, and 32-bit programs fail again" 'said "turned off" && [ ! -e "$BINFMT/qemu-i386" ] && ! "$LOADERS/wine" 2>/dev/null'

machine; run_emulation VANTREL_NO_EMULATION=1
check "turned off on a fresh machine: nothing installed or mounted" 'ok_quiet && [ ! -s "$STANDIN/calls" ]'
machine; printf 'nodev\tsysfs\n' > "$STANDIN/filesystems"; run_emulation
check "no binfmt_misc: the reason, nothing installed" 'said "no binfmt_misc" && [ ! -s "$STANDIN/calls" ]'
machine; touch "$STANDIN/mount-refused"; run_emulation
check "mount refused: the reason, no registration" 'said "could not be mounted" && [ ! -e "$STANDIN/registered" ]'
machine; touch "$STANDIN/register-refused"; run_emulation
check "registration refused: the reason" said "refused the registration"
machine; STANDIN_QEMU="$QEMU" bash -c "$(sed -n '/^standin_emulator()/p' "$WORK/bin/apt-get"); standin_emulator 7.2.0"; run_emulation
check "an emulator older than 8 is replaced by backports' one" '[ "$("$QEMU" --version)" = "qemu-i386 version 10.0.2 (Debian)" ]'
machine; touch "$STANDIN/backports-unreachable"; run_emulation
check "backports unreachable: the release's own emulator, said" 'said "taking the release" && grep -q "^apt-get install -y -qq --no-install-recommends qemu-user" "$STANDIN/calls" && said "run by emulation"'
machine; touch "$STANDIN/broken-emulator"; run_emulation
check "loader fails under the emulator: registration taken back" 'said "registration taken back" && [ ! -e "$BINFMT/qemu-i386" ]'

[ "$failures" = 0 ]
