#!/usr/bin/env bash
# Builds Mivex (Release) and starts it with the given arguments.
set -euo pipefail
# The list is named from the caller's folder; this script builds from its own.
if (($# > 0)) && [[ $1 != /* && $1 != -* ]]; then
    set -- "$PWD/$1" "${@:2}"
fi
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIVEX_BUILD_TESTS=OFF >/dev/null
ninja -C build-release mivex
exec build-release/mivex "$@"
