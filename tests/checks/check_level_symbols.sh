#!/usr/bin/env bash
# An inline or template function compiled with one level's flags must never become the copy the
# linker keeps for everyone: each level's objects may define symbols only in qor::krn::lN.
set -euo pipefail
nm_tool=$1 level=$2; shift 2
bad=0
for obj in "$@"; do
  # Defined symbols that are global or weak (upper-case types, plus v/w/u; N is debug information).
  while read -r type name; do
    case "$name" in
      "qor::krn::l${level}::"*) ;;
      DW.ref.__gxx_personality_v0) ;;  # the C++ unwinder's personality reference, one for all levels
      .refptr.*) ;;  # MinGW's pointer to an external variable: an address, the same bytes at every level
      *) echo "$(basename "$obj"): $type $name"; bad=1 ;;
    esac
  done < <("$nm_tool" -C --defined-only "$obj" | awk '$2 ~ /^[A-Zuvw]$/ && $2 != "U" && $2 != "N" { t=$2; $1=""; $2=""; sub(/^  /, ""); print t, $0 }')
done
[ $bad = 0 ] || echo "level $level objects define symbols outside qor::krn::l${level}"
exit $bad
