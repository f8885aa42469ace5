#!/usr/bin/env bash
# Refreshes the pictures of the windows that the tests can stage, under a virtual X display:
# the archive's status window while the cabinet is written (docs/screenshots/status-writing.png).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
ninja -C build ui_archive_test >/dev/null
MIVEX_SCREENSHOT_DIR="$PWD/docs/screenshots" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x768x24" build/tests/ui_archive_test screenshotFromEnvironment
