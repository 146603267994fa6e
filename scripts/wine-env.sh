# Sourced by every script that runs Windows programs under Wine.
#
# Debian's "wine" starter takes the 32-bit loader whenever it is installed. On a kernel
# that cannot run 32-bit programs (built without IA32 emulation) that loader fails with
# "Exec format error", and so do wineboot, regsvr32 and msiexec, which start through the
# same starter. There a folder of small starters, put first on PATH, makes "wine" and
# "wine-stable" the 64-bit loader, which runs every 64-bit program.
# VANTREL_RUNS_32BIT tells the callers whether 32-bit programs can run here at all (one set
# by the caller is kept), and VANTREL_NO_32BIT the reason they give when they cannot.
# VANTREL_WINE_LOADERS (the folder of Debian's loaders "wine" and "wine64") and
# VANTREL_WINE_STARTERS (the starters' folder) are there for the tests.
_vantrel_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
_vantrel_loaders="${VANTREL_WINE_LOADERS:-/usr/lib/wine}"
export VANTREL_NO_32BIT="this machine cannot run 32-bit programs (its kernel has no IA32 emulation)"
if [ -z "${VANTREL_RUNS_32BIT:-}" ]; then
  if [ ! -x "$_vantrel_loaders/wine" ] || "$_vantrel_loaders/wine" --version >/dev/null 2>&1; then
    VANTREL_RUNS_32BIT=1
  else
    VANTREL_RUNS_32BIT=0
  fi
  export VANTREL_RUNS_32BIT
fi
if [ "$VANTREL_RUNS_32BIT" = 0 ] && [ -x "$_vantrel_loaders/wine64" ]; then
  _vantrel_shims="${VANTREL_WINE_STARTERS:-$_vantrel_root/build/wine64-starters}"
  _vantrel_starter="$(printf '#!/bin/sh\nexport WINELOADER="%s"\nexec "%s" "$@"' \
    "$_vantrel_loaders/wine64" "$_vantrel_loaders/wine64")"
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
unset _vantrel_root _vantrel_loaders _vantrel_shims _vantrel_starter _n
