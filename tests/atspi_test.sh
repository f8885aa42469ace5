#!/usr/bin/env bash
# The window over the real accessibility bus: a virtual display, a session bus, at-spi2-core.
# Exit status 77 (skipped) when a tool is missing.
set -uo pipefail
for tool in xvfb-run xauth dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
# Debian's pyatspi belongs to the system's Python, not to one a user put first on the PATH.
py=/usr/bin/python3 && [[ -x $py ]] || py=python3
"$py" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }
export HOME=${HOME:-/tmp}
# A display number of its own (others running xvfb-run -a at the same moment all begin at 99),
# and no server reset when a client such as the bus launcher leaves: a reset refuses connections.
exec xvfb-run -a -n $((100 + RANDOM % 900)) -s "-noreset -screen 0 1024x768x24" \
    dbus-run-session -- "$py" "$(dirname "$0")/atspi_names.py" "$1"
