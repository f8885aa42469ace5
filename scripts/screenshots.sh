#!/usr/bin/env bash
# Refreshes the pictures of the windows that the tests can stage, under a virtual X display:
# the archive's status window while the cabinet is written (docs/screenshots/status-writing.png).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
ninja -C build mivex_cabbench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Projects/site"
for i in 1 2 3 4; do head -c $((12 << 20)) /dev/urandom >"$work/Projects/site/clip-$i.mp4"; done
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" build/mivex_cabbench \
    --shot "$PWD/docs/screenshots/status-writing.png" "$work/x.cab" "$work/Projects"
