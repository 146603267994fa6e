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
if [ "$1" = update ]; then
  n=$(cat "$STANDIN/update-failures" 2>/dev/null || echo 0)
  if [ "$n" != 0 ]; then
    [ "$n" = always ] || echo $((n - 1)) > "$STANDIN/update-failures"
    echo "E: Failed to fetch http://mirror/dists/x-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
    exit 100
  fi
  exit 0
fi
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
check() {  # description, then a test command
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
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
check "mid-sync: second install names the suite read from os-release" \
  grep -qx "apt-get install -y -qq --no-install-recommends -t sidetest gcc wine32:i386" "$STANDIN/calls"
check "mid-sync: two installs in all" [ "$(calls install)" = 2 ]

# A passing fault: two failed updates, then a good one; one plain install.
scenario; echo 2 > "$STANDIN/update-failures"
run_install
check "retry: succeeds" [ "$(cat "$WORK/rc")" = 0 ]
check "retry: third update succeeded, no failure line" [ "$(calls update)" = 3 ] && ! grep -q 'going on' "$WORK/err"
check "retry: one install, without a suite" [ "$(calls install)" = 1 ] && ! grep -q -- ' -t ' "$STANDIN/calls"

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
check "installed: succeeds quietly" [ "$(cat "$WORK/rc")" = 0 ] && [ ! -s "$WORK/err" ] && [ ! -s "$WORK/out" ]
check "installed: apt not called" [ ! -s "$STANDIN/calls" ]

[ "$failures" = 0 ]
