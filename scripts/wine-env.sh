# Sourced by every script that runs Windows programs under Wine.
#
# Debian's "wine" starter takes the 32-bit loader whenever it is installed. On a kernel
# that cannot run 32-bit programs (built without IA32 emulation) that loader fails with
# "Exec format error", and so do wineboot, regsvr32 and msiexec, which start through the
# same starter. There a folder of small starters, put first on PATH, makes "wine" and
# "wine-stable" the 64-bit loader, which runs every 64-bit program. Where 32-bit programs
# run by emulation the same starters are used: 64-bit programs then start natively, and
# the 64-bit loader hands each 32-bit program to the 32-bit one, which the emulator runs.
# VANTREL_RUNS_32BIT tells the callers whether 32-bit programs can run here at all (one set
# by the caller is kept), and VANTREL_NO_32BIT the reason they give when they cannot.
# VANTREL_32BIT_BY says how they run ("natively", or "by emulation" where the set-up
# registered qemu-i386 with binfmt_misc; VANTREL_32BIT_EMULATOR is then its name and version,
# "qemu-i386 version 10.0.2") and VANTREL_32BIT_SCALE how much longer a 32-bit
# test may wait for its windows and processes (1 natively; emulation is many times slower).
# VANTREL_WINE_LOADERS (the folder of Debian's loaders "wine" and "wine64"),
# VANTREL_WINE_STARTERS (the starters' folder) and VANTREL_BINFMT_DIR are there for the tests.
_vantrel_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
_vantrel_loaders="${VANTREL_WINE_LOADERS:-/usr/lib/wine}"
export VANTREL_NO_32BIT="this machine cannot run 32-bit programs (its kernel has no IA32 emulation, and scripts/setup.sh could not register an emulator)"
if [ -z "${VANTREL_RUNS_32BIT:-}" ]; then
  if [ ! -x "$_vantrel_loaders/wine" ] || "$_vantrel_loaders/wine" --version >/dev/null 2>&1; then
    VANTREL_RUNS_32BIT=1
  else
    VANTREL_RUNS_32BIT=0
  fi
  export VANTREL_RUNS_32BIT
fi
if [ -z "${VANTREL_32BIT_BY:-}" ]; then
  VANTREL_32BIT_BY=""
  if [ "$VANTREL_RUNS_32BIT" = 1 ]; then
    VANTREL_32BIT_BY=natively
    for _e in "${VANTREL_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"/*; do
      case "${_e##*/}" in register|status) continue ;; esac
      if [ -f "$_e" ] && grep -qx enabled "$_e" 2>/dev/null && grep -q '^interpreter .*/qemu-i386' "$_e" 2>/dev/null; then
        VANTREL_32BIT_BY="by emulation"
        VANTREL_32BIT_EMULATOR="$("$(sed -n 's/^interpreter //p' "$_e")" --version 2>/dev/null | sed -n '1s/ *(.*//p')"
        break
      fi
    done
  fi
  export VANTREL_32BIT_BY VANTREL_32BIT_EMULATOR
fi
# Debian's qemu-i386 7.2 ends a 32-bit Wine process with a segmentation fault once several of
# its threads call into Wine at once; VANTREL_32BIT_THREADS=0 says that 32-bit programs
# running threads cannot be tested here (qemu 8 and later run them).
if [ -z "${VANTREL_32BIT_THREADS:-}" ]; then
  VANTREL_32BIT_THREADS=1
  if [ "$VANTREL_32BIT_BY" = "by emulation" ] && \
     [ "$(echo "${VANTREL_32BIT_EMULATOR:-}" | sed -n 's/.* version \([0-9]*\).*/\1/p')" -lt 8 ] 2>/dev/null; then
    VANTREL_32BIT_THREADS=0
  fi
  export VANTREL_32BIT_THREADS
fi
# Debian's qemu-i386 (7.2) looks for free guest memory page by page, so Wine's reservation of
# the upper half of a 32-bit address space (to keep it from programs that are not
# large-address-aware) costs about a minute at every start of a 32-bit process. A guest
# address space of 2 GB and 16 MB holds what such a program may use (2 GB, as on Windows)
# and Wine's own mappings, and brings the start down to about two seconds.
if [ "$VANTREL_32BIT_BY" = "by emulation" ] && [ -z "${QEMU_RESERVED_VA:-}" ]; then
  export QEMU_RESERVED_VA=0x81000000
fi
if [ -z "${VANTREL_32BIT_SCALE:-}" ]; then
  VANTREL_32BIT_SCALE=1
  [ "$VANTREL_32BIT_BY" = "by emulation" ] && VANTREL_32BIT_SCALE=6
  export VANTREL_32BIT_SCALE
fi
if { [ "$VANTREL_RUNS_32BIT" = 0 ] || [ "$VANTREL_32BIT_BY" = "by emulation" ]; } && [ -x "$_vantrel_loaders/wine64" ]; then
  _vantrel_shims="${VANTREL_WINE_STARTERS:-$_vantrel_root/build/wine64-starters}"
  # A 32-bit prefix (WINEARCH=win32) holds 32-bit programs only: it starts through the
  # 32-bit loader, which runs where it runs by emulation.
  _vantrel_starter="$(printf '#!/bin/sh\nif [ "$WINEARCH" = win32 ]; then export WINELOADER="%s"; exec "%s" "$@"; fi\nexport WINELOADER="%s"\nexec "%s" "$@"' \
    "$_vantrel_loaders/wine" "$_vantrel_loaders/wine" "$_vantrel_loaders/wine64" "$_vantrel_loaders/wine64")"
  # Written again when they name another loader; each writer through a file of its own,
  # as several tests may start at once.
  if [ "$(cat "$_vantrel_shims/wine-stable" 2>/dev/null)" != "$_vantrel_starter" ]; then
    mkdir -p "$_vantrel_shims"
    for _n in wine wine-stable; do
      printf '%s\n' "$_vantrel_starter" > "$_vantrel_shims/$_n.$$.tmp"
      chmod +x "$_vantrel_shims/$_n.$$.tmp"
      mv -f "$_vantrel_shims/$_n.$$.tmp" "$_vantrel_shims/$_n"
    done
  fi
  case ":$PATH:" in *":$_vantrel_shims:"*) ;; *) export PATH="$_vantrel_shims:$PATH" ;; esac
  export WINELOADER="$_vantrel_loaders/wine64"
fi
unset _vantrel_root _vantrel_loaders _vantrel_shims _vantrel_starter _n _e
