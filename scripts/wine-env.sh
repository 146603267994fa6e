# Sourced by every script that runs Windows programs under Wine.
#
# Debian's "wine" starter takes the 32-bit loader whenever it is installed. On a kernel
# that cannot run 32-bit programs (built without IA32 emulation) that loader fails with
# "Exec format error", and so do wineboot, regsvr32 and msiexec, which start through the
# same starter. There a folder of small starters, put first on PATH, makes "wine" and
# "wine-stable" the 64-bit loader, which runs every 64-bit program.
# VANTREL_RUNS_32BIT tells the callers whether 32-bit programs can run here at all.
_vantrel_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -z "${VANTREL_RUNS_32BIT:-}" ]; then
  if [ ! -x /usr/lib/wine/wine ] || /usr/lib/wine/wine --version >/dev/null 2>&1; then
    VANTREL_RUNS_32BIT=1
  else
    VANTREL_RUNS_32BIT=0
  fi
  export VANTREL_RUNS_32BIT
fi
if [ "$VANTREL_RUNS_32BIT" = 0 ] && [ -x /usr/lib/wine/wine64 ]; then
  _vantrel_shims="$_vantrel_root/build/wine64-starters"
  if [ ! -x "$_vantrel_shims/wine-stable" ]; then
    mkdir -p "$_vantrel_shims"
    for _n in wine wine-stable; do
      printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' > "$_vantrel_shims/$_n.tmp"
      chmod +x "$_vantrel_shims/$_n.tmp"
      mv -f "$_vantrel_shims/$_n.tmp" "$_vantrel_shims/$_n"
    done
  fi
  case ":$PATH:" in *":$_vantrel_shims:"*) ;; *) export PATH="$_vantrel_shims:$PATH" ;; esac
  export WINELOADER=/usr/lib/wine/wine64
fi
unset _vantrel_root _vantrel_shims _n
