#!/usr/bin/env bash
# Cross-builds the unattended program for 64-bit Windows into build-windows/ (mivex.exe, linked
# statically: it needs no DLL beside it), with Debian's MinGW-w64. The window is not built: it
# needs Qt 6 for Windows (README, "Building for Windows").
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=windows/cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "$@" >/dev/null
ninja -C build-windows
