#!/usr/bin/env bash
# Builds the whole program with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, so the fuzz targets build too) and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/install-deps.sh

build="${GRAZULO_TEST_BUILD:-$root/build-tests}"
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DGRAZULO_SANITIZE=ON -DGRAZULO_FUZZ=ON
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
