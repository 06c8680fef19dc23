#!/usr/bin/env bash
# Installs the dependencies, builds Quokka and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test through ctest. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOKKA_SANITIZE=ON -DQUOKKA_BUILD_TESTS=ON
cmake --build "$build" -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 300
