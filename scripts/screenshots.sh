#!/usr/bin/env bash
# Refreshes the pictures of the windows that the tests can stage, under a virtual X display:
# the archive's status window while the cabinet is written (docs/screenshots/status-writing.png),
# a run: progress-running.png, progress-paused.png, run-finished-details.png and the rows' marks
# after it (main-window-after-run.png); and the options dialogs (options-defaults.png,
# options-entry.png).
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

# A run: the progress window running and paused, then the closing box with its details (a skipped
# folder entry with its unfinished copy, and a source that is gone), the main window after it and
# the options dialogs.
ninja -C build mivex_runshots >/dev/null
mkdir -p "$work/Photos/2026" "$work/backup"
for i in $(seq 1 300); do head -c $((4 << 20)) /dev/zero >"$work/Photos/2026/holiday-$i.raw"; done
head -c 4096 /dev/urandom >"$work/notes.txt"
printf 'C-N --> %s --> %s\r\nC-N --> %s --> %s\r\nC-N --> %s --> %s\r\n' \
    "$work/Photos" "$work/backup" "$work/notes.txt" "$work/backup" \
    "$work/gone.doc" "$work/backup" >"$work/run.flq"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" build/mivex_runshots \
    "$PWD/docs/screenshots" "$work/run.flq"
