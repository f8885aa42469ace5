#!/usr/bin/env bash
# Cross-builds the unattended program for 64-bit Windows into build-windows/ (mivex.exe, linked
# statically: it needs no DLL beside it), with Debian's MinGW-w64. The window is not built: it
# needs Qt 6 for Windows (README, "Building for Windows").
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=windows/cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "$@" >/dev/null
ninja -C build-windows
