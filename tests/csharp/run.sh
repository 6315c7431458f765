#!/usr/bin/env bash
# Builds the C# host with mono's compiler and runs it against the Linux library; its output must
# match expected.txt line for line. Then the README's C# snippet. Usage: run.sh <folder of libqor_lib.so> <work dir>
set -euo pipefail
libdir=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
mcs -nologo -warnaserror -out:"$work/qor_csharp_host.exe" "$here/../../csharp/QorLib.cs" "$here/Program.cs"
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" mono "$work/qor_csharp_host.exe" >"$work/output.txt"
cat "$work/output.txt"
diff -u "$here/expected.txt" "$work/output.txt"

# The README's C# snippet, built with the same declarations.
"$here/../consumer/snippet.sh" csharp "$here/../../README.md" >"$work/readme.cs"
mcs -nologo -warnaserror -out:"$work/readme.exe" "$here/../../csharp/QorLib.cs" "$work/readme.cs"
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" mono "$work/readme.exe" | tee "$work/readme.txt"
[ "$(cat "$work/readme.txt")" = "1 4 9 16" ]
