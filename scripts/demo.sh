#!/usr/bin/env bash
# Builds the library and runs the demo host program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)" --target qor_demo >/dev/null
build/native/bin/qor_demo
