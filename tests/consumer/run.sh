#!/usr/bin/env bash
# Installs a qor_lib build into a fresh prefix, then builds the consumer project against that tree
# alone, once through find_package and once through pkg-config, and runs what it built; then the
# README's C and C++ snippets, the same way.
# Usage: run.sh linux|windows <qor build dir> <work dir> [toolchain file]
set -euo pipefail
platform=$1 build=$2 work=$3 toolchain=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

if [ "$platform" = windows ]; then
  cc=x86_64-w64-mingw32-gcc-posix cxx=x86_64-w64-mingw32-g++-posix
  wine=$(command -v wine || command -v wine64)
  export WINEDEBUG=-all
  # DLLs are found the way Windows finds them, through the search path: qor_lib.dll in the
  # installed tree, the C++ host's own runtime (libstdc++ and its companions) in the compiler's.
  runtime=()
  for dll in libstdc++-6.dll libwinpthread-1.dll; do
    runtime+=("$(dirname "$(realpath "$("$cxx" -print-file-name=$dll)")")")
  done
  WINEPATH="$(cd "$prefix/bin" && pwd)"
  for dir in "${runtime[@]}"; do WINEPATH+=";$dir"; done
  export WINEPATH
  run() { "$wine" "$1.exe"; }
  cmake_args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dqor_lib_DIR="$prefix/lib/cmake/qor_lib")
else
  cc=${CC:-cc} cxx=${CXX:-c++}
  export LD_LIBRARY_PATH="$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  run() { "$1"; }
  cmake_args=(-DCMAKE_PREFIX_PATH="$prefix")
fi

echo "--- find_package ($platform)"
cmake -S "$here" -B "$work/cmake" -DCMAKE_BUILD_TYPE=Release "${cmake_args[@]}" >/dev/null
cmake --build "$work/cmake" >/dev/null
run "$work/cmake/c_consumer"
run "$work/cmake/cpp_consumer"

echo "--- pkg-config ($platform)"
# Only the installed tree's .pc files: nothing of the build machine may leak into a cross build.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=
read -ra cflags <<<"$(pkg-config --cflags qor_lib)"
read -ra libs <<<"$(pkg-config --libs qor_lib)"
mkdir -p "$work/pc"
"$cc" -std=c11 -Wall -Wextra -Werror "${cflags[@]}" "$here/consumer.c" -o "$work/pc/c_consumer" "${libs[@]}"
"$cxx" -std=c++17 -Wall -Wextra -Werror "${cflags[@]}" "$here/consumer.cpp" -o "$work/pc/cpp_consumer" "${libs[@]}"
run "$work/pc/c_consumer"
run "$work/pc/cpp_consumer"

echo "--- README snippets ($platform)"
mkdir -p "$work/readme"
"$here/snippet.sh" c "$here/../../README.md" >"$work/readme/host.c"
"$here/snippet.sh" cpp "$here/../../README.md" >"$work/readme/host.cpp"
"$cc" -std=c11 -Wall -Wextra -Werror "${cflags[@]}" "$work/readme/host.c" -o "$work/readme/c_host" "${libs[@]}"
"$cxx" -std=c++17 -Wall -Wextra -Werror "${cflags[@]}" "$work/readme/host.cpp" -o "$work/readme/cpp_host" "${libs[@]}"
run "$work/readme/c_host"
run "$work/readme/cpp_host"
