#!/usr/bin/env bash
# The loader choice of scripts/wine-env.sh against stand-ins for Debian's Wine loaders:
# a 32-bit loader the kernel cannot run (Exec format error), and one that runs.
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK=$(mktemp -d)
trap "rm -rf \"\$WORK\"" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT

# loaders <folder> <32-bit loader: runs|fails>: the 64-bit loader says who started it
# and with which WINELOADER; Debian's wineboot starts through "wine-stable" on PATH.
loaders() {
  mkdir -p "$1/lib" "$1/bin"
  printf '#!/bin/sh\necho "wine64 WINELOADER=$WINELOADER $*"\n' > "$1/lib/wine64"
  case "$2" in
    runs) printf '#!/bin/sh\necho "wine32 $*"\n' > "$1/lib/wine" ;;
    fails) printf '#!/bin/sh\necho "cannot execute binary file: Exec format error" >&2\nexit 126\n' > "$1/lib/wine" ;;
  esac
  printf '#!/bin/sh\necho "debian-wine $*"\n' > "$1/bin/wine"
  printf '#!/bin/sh\necho "debian-wine-stable $*"\n' > "$1/bin/wine-stable"
  printf '#!/bin/sh\nexec wine-stable wineboot.exe "$@"\n' > "$1/bin/wineboot"
  chmod +x "$1"/lib/* "$1"/bin/*
}

# source_env <folder> [VAR=value...]: sources wine-env.sh in a clean shell and prints
# what a caller sees afterwards.
source_env() {
  local dir="$1"; shift
  env -i HOME="$HOME" PATH="$dir/bin:/usr/bin:/bin" "$@" \
    VANTREL_WINE_LOADERS="$dir/lib" VANTREL_WINE_STARTERS="$dir/starters" VANTREL_BINFMT_DIR="$dir/binfmt" bash -c '
      . "$0"; . "$0"
      echo "runs32=$VANTREL_RUNS_32BIT loader=${WINELOADER:-unset}"
      echo "by=$VANTREL_32BIT_BY scale=$VANTREL_32BIT_SCALE qemu-va=${QEMU_RESERVED_VA:-unset}"
      echo "emulator=$VANTREL_32BIT_EMULATOR threads=$VANTREL_32BIT_THREADS"
      echo "path=$PATH"
      wine --version; wineboot -u' "$ROOT/scripts/wine-env.sh" 2>&1
}

failures=0
check() {  # description, then a test command (or one string of shell conditions)
  local what="$1"; shift
  if if [ $# = 1 ]; then eval "$1"; else "$@"; fi; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
has() { grep -qxF -- "$2" <<<"$1"; }

# The kernel has no IA32 emulation: wine, and wineboot through wine-stable, take wine64.
loaders "$WORK/no32" fails
out=$(source_env "$WORK/no32")
check "no IA32: 32-bit programs reported as not running" has "$out" "runs32=0 loader=$WORK/no32/lib/wine64"
check "no IA32: wine runs the 64-bit loader" has "$out" "wine64 WINELOADER=$WORK/no32/lib/wine64 --version"
check "no IA32: wineboot starts through the 64-bit loader" has "$out" "wine64 WINELOADER=$WORK/no32/lib/wine64 wineboot.exe -u"
check "no IA32: no way, no scale" has "$out" "by= scale=1 qemu-va=unset"
check "no IA32: the starters are on PATH once, first" has "$out" "path=$WORK/no32/starters:$WORK/no32/bin:/usr/bin:/bin"

# Starters left by another loader's folder are written again.
loaders "$WORK/moved" fails
mkdir -p "$WORK/moved/starters"; cp "$WORK/no32/starters/"* "$WORK/moved/starters/"
out=$(source_env "$WORK/moved")
check "stale starters: rewritten for this loader" has "$out" "wine64 WINELOADER=$WORK/moved/lib/wine64 --version"

# The 32-bit loader runs: nothing changes, Debian's own starters stay in charge.
loaders "$WORK/ia32" runs
out=$(source_env "$WORK/ia32")
check "IA32: 32-bit programs run" has "$out" "runs32=1 loader=unset"
check "IA32: PATH untouched" has "$out" "path=$WORK/ia32/bin:/usr/bin:/bin"
check "IA32: wine and wineboot through Debian's starters" 'has "$out" "debian-wine --version" && has "$out" "debian-wine-stable wineboot.exe -u"'
check "IA32: no starters written" [ ! -e "$WORK/ia32/starters" ]
check "IA32: natively, waits as they are" has "$out" "by=natively scale=1 qemu-va=unset"

# The loader runs because the set-up registered qemu-i386 with binfmt_misc: by emulation,
# with longer waits; a disabled entry, or one for another emulator, is not emulation.
loaders "$WORK/emul" runs
mkdir -p "$WORK/emul/binfmt"; : > "$WORK/emul/binfmt/register"; echo enabled > "$WORK/emul/binfmt/status"
printf 'enabled\ninterpreter /usr/bin/qemu-arm\n' > "$WORK/emul/binfmt/qemu-arm"
printf 'disabled\ninterpreter /usr/bin/qemu-i386\nflags: F\n' > "$WORK/emul/binfmt/qemu-i386"
check "disabled entry: natively" has "$(source_env "$WORK/emul")" "by=natively scale=1 qemu-va=unset"
printf 'enabled\ninterpreter /usr/bin/qemu-i386\nflags: F\n' > "$WORK/emul/binfmt/qemu-i386"
out=$(source_env "$WORK/emul")
check "qemu-i386 registered: by emulation, longer waits, a 2 GB guest" has "$out" "by=by emulation scale=6 qemu-va=0x81000000"
check "qemu-i386 registered: wine runs the 64-bit loader, which hands 32-bit programs on" \
  has "$out" "wine64 WINELOADER=$WORK/emul/lib/wine64 --version"
check "qemu-i386 registered: a 32-bit prefix starts through the 32-bit loader" \
  has "$(source_env "$WORK/emul" WINEARCH=win32)" "wine32 --version"

# Which emulator: qemu-i386 7.2 cannot run a 32-bit program's threads, later ones can.
mkdir -p "$WORK/emul/qemu"
for v in 7.2.0 10.0.2; do
  printf '#!/bin/sh\necho "qemu-i386 version %s (Debian 1:%s+dfsg)"\n' "$v" "$v" > "$WORK/emul/qemu/qemu-i386"
  chmod +x "$WORK/emul/qemu/qemu-i386"
  printf 'enabled\ninterpreter %s\nflags: F\n' "$WORK/emul/qemu/qemu-i386" > "$WORK/emul/binfmt/qemu-i386"
  out=$(source_env "$WORK/emul")
  threads=1; [ "$v" = 7.2.0 ] && threads=0
  check "qemu-i386 $v: named, threads $threads" has "$out" "emulator=qemu-i386 version $v threads=$threads"
done

[ "$failures" = 0 ]
