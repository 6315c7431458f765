#!/usr/bin/env bash
# Builds the library, runs the C demo (a summary of every operation group), then the Python demo,
# which draws a noisy two-tone spectrum, a histogram, and two fits into one PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)" --target qor_lib qor_demo >/dev/null
build/native/bin/qor_demo
echo
QOR_LIB_PATH=build/native/libqor_lib.so PYTHONPATH=python MPLBACKEND=Agg \
  /usr/bin/python3 examples/demo.py build/native/qor_demo.png
