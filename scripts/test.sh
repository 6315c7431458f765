#!/usr/bin/env bash
# Builds and runs every test: the native suite (also under emulated older processors), the suite
# with AddressSanitizer and UndefinedBehaviorSanitizer, racing threads under ThreadSanitizer, the
# interface fuzzer for a bounded time (QOR_FUZZ_SECONDS, default 60), and the Windows DLL's suite
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
export WINEDEBUG=-all

run() {  # name, then extra cmake arguments
  local dir=build/$1; shift
  echo "=== $dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# One target and its tests only: name, target, test regex, then extra cmake arguments.
run_one() {
  local dir=build/$1 target=$2 tests=$3; shift 3
  echo "=== $dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$target" >/dev/null
  ctest --test-dir "$dir" --output-on-failure -R "$tests"
}

run native
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run sanitize -DQOR_SANITIZE=ON
TSAN_OPTIONS=halt_on_error=1 run_one tsan qor_threads '^threads$' -DQOR_SANITIZE=thread
CC=clang CXX=clang++ run_one fuzz qor_fuzz '^fuzz_interface$' -DQOR_FUZZ=ON -DQOR_FUZZ_SECONDS="${QOR_FUZZ_SECONDS:-60}"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  run windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
else
  echo "MinGW-w64 or Wine missing: the Windows suite did not run" >&2
  exit 1
fi
echo "all tests passed"
