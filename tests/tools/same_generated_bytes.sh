#!/usr/bin/env bash
# The files the 32-bit build's own generator tools made under Wine (Main.icl, the
# program's icon, the menu pictures) are byte for byte those of the 64-bit build.
#   same_generated_bytes.sh <win64 build folder> <win32 build folder>
set -u
w64="$1" w32="$2"
files=(dist/icl/Main.icl generated/Vantrel.ico)
for id in $(seq 300 333); do files+=("shellext/gen/icon$id.ico"); done
same=0 differ=0
for f in "${files[@]}"; do
  if [ ! -s "$w64/$f" ] || [ ! -s "$w32/$f" ]; then
    echo "missing: $f"; differ=$((differ + 1))
  elif cmp -s "$w64/$f" "$w32/$f"; then
    same=$((same + 1))
  else
    echo "differs: $f ($(stat -c %s "$w32/$f") bytes in the 32-bit build, $(stat -c %s "$w64/$f") in the 64-bit one)"
    differ=$((differ + 1))
  fi
done
echo "$same of ${#files[@]} generated files the same in both builds"
[ "$differ" = 0 ]
