#!/usr/bin/env bash
# Builds the C# host with mono's compiler and runs it against the Linux library; its output must
# match expected.txt line for line. Usage: run.sh <folder of libqor_lib.so> <work dir>
set -euo pipefail
libdir=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
mcs -nologo -warnaserror -out:"$work/qor_csharp_host.exe" "$here/QorLib.cs" "$here/Program.cs"
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" mono "$work/qor_csharp_host.exe" >"$work/output.txt"
cat "$work/output.txt"
diff -u "$here/expected.txt" "$work/output.txt"
