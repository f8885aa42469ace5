#!/usr/bin/env bash
# Builds Mivex (Release) and starts it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIVEX_BUILD_TESTS=OFF >/dev/null
ninja -C build-release mivex
exec build-release/mivex "$@"
