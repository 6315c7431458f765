#!/usr/bin/env bash
# Fails unless the library exports exactly the qor_ functions and the members of class ary.
set -euo pipefail
platform=$1 tool=$2 lib=$3
if [ "$platform" = windows ]; then
  # The export table's name list: the lines after "[Ordinal/Name Pointer] Table".
  names=$("$tool" -p "$lib" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[\s*[0-9]*\] //p')
else
  names=$("$tool" -D --defined-only "$lib" | awk '{print $3}')
fi
[ -n "$names" ] || { echo "no exports found in $lib"; exit 1; }
bad=0
for n in $names; do
  case "$n" in
    qor_*) ;;
    _ZN3ary*|_ZNK3ary*) ;;                 # members of class ary (Itanium mangling)
    *) echo "unexpected export: $n"; bad=1 ;;
  esac
done
for want in qor_create_array qor_destroy_array qor_init_array qor_init_array_ex qor_get_info \
            qor_get_buf qor_get_data_byte qor_sum; do
  grep -qx "$want" <<<"$names" || { echo "missing export: $want"; bad=1; }
done
grep -q '^_ZN3ary4initE' <<<"$names" || { echo "missing export: ary::init"; bad=1; }
if [ "$platform" = windows ]; then
  # Statically linked against the compiler's runtime: only the system's DLLs may be imported.
  for dll in $("$tool" -p "$lib" | sed -n 's/^\s*DLL Name: //p'); do
    case "${dll,,}" in
      kernel32.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-*) ;;
      *) echo "imports a non-system DLL: $dll"; bad=1 ;;
    esac
  done
fi
exit $bad
