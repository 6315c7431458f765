#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need from Debian's packages, when run as
# root and something is missing. Without root it only says what is missing.
set -euo pipefail
need=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need+=(cmake)
have g++ || need+=(g++)
have nm || need+=(binutils)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
have qemu-x86_64 || need+=(qemu-user)
have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
have wine || need+=(wine wine64)
# The interface fuzzer: clang with libFuzzer and the sanitizer runtimes.
have clang++ || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
# Hosts in other languages and the packaging checks.
have pkg-config || need+=(pkg-config)
have mcs || need+=(mono-mcs)
have mono || need+=(mono-runtime)
pymod() { [ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import $1" >/dev/null 2>&1; }
pymod numpy || need+=(python3-numpy)
pymod matplotlib || need+=(python3-matplotlib)
pymod pytest || need+=(python3-pytest)
pymod setuptools || need+=(python3-setuptools)
pymod pip || need+=(python3-pip)
pymod ensurepip || need+=(python3-venv)
if [ "${QOR_WITH_BENCH_PEERS:-0}" = 1 ]; then
  [ -f /usr/include/fftw3.h ] || need+=(libfftw3-dev)
  [ -f /usr/include/sleef.h ] || need+=(libsleef-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
fi
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages (run as root to install them): ${need[*]}" >&2
  exit 0
fi
echo "installing: ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends "${need[@]}" >/dev/null ||
  { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${need[@]}" >/dev/null; }
