#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks every ELF file below a folder (an unpacked package) for Debian's hardening, as
# hardening-check does, with readelf alone: executables are position-independent; every file has
# read-only relocations (relro) bound at load (now), calls the stack protector and fortified libc
# functions. Prints one line per file that lacks one; exit 1 when any does.
#   packaging/hardening-check.sh DIR
set -uo pipefail
dir=$1
status=0
count=0
while IFS= read -r -d '' file; do
  [[ $(head -c4 "$file" | od -An -c | tr -d ' ') == 177ELF ]] || continue
  count=$((count + 1))
  header=$(readelf -h "$file")
  dynamic=$(readelf -d "$file")
  segments=$(readelf -lW "$file")
  symbols=$(readelf --dyn-syms -W "$file")
  missing=()
  if grep -q 'Type: *DYN' <<<"$header"; then
    # An executable (it has an interpreter) must say it is a PIE, not a library.
    if grep -q 'INTERP' <<<"$segments" && ! grep -q 'Flags:.*PIE' <<<"$dynamic"; then
      missing+=(pie)
    fi
  else
    missing+=(pie)
  fi
  grep -q 'GNU_RELRO' <<<"$segments" || missing+=(relro)
  grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic" || missing+=(now)
  grep -q '__stack_chk_fail' <<<"$symbols" || missing+=(stack-protector)
  grep -qE '__[a-z_]+_chk(@|$| )' <<<"$symbols" || missing+=(fortify)
  if ((${#missing[@]})); then
    echo "${file#"$dir"/}: no ${missing[*]}"
    status=1
  fi
done < <(find "$dir" -type f -print0)
if ((count == 0)); then
  echo "no ELF file below $dir"
  exit 1
fi
exit $status
