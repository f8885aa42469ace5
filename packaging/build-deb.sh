#!/usr/bin/env bash
# Builds the Debian package in a build folder of its own (default build-deb beside the sources):
# Release, no tests, with the hardening flags of dpkg-buildflags. Prints the package's path.
#
#   packaging/build-deb.sh [BUILD_DIR]
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-deb}

"$src/scripts/deps.sh"
command -v dpkg-buildflags >/dev/null || {
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y dpkg-dev
}

# Debian's flags: stack protector, fortified functions, full RELRO and immediate binding. CMake
# reads no CPPFLAGS, so the preprocessor's part (_FORTIFY_SOURCE) goes with the compiler's.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
# Flags are read only when a build folder is first configured: start afresh.
rm -rf "$build"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIVEX_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" >&2
rm -f "$build"/mivex_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$build"/mivex_*.deb
