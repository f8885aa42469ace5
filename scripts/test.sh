#!/usr/bin/env bash
# Builds Mivex with its tests and runs every test, the Windows build's under Wine too.
# MIVEX_SANITIZE=1 builds with ASan and UBSan (and leaves the Windows build, which it does not touch).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=build
flags=()
if [[ "${MIVEX_SANITIZE:-0}" == 1 ]]; then
    build=build-asan
    flags=(-DMIVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
if [[ "${MIVEX_SANITIZE:-0}" != 1 ]]; then
    scripts/test-windows.sh
fi
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
ninja -C "$build"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
