#!/usr/bin/env bash
# The queue gestures at their limits (see gesturebench.cpp); prints the times it measured. With
# BENCH_TREE=folder (a D9-sized tree such as a copy of /usr/share), also one folder entry of it in
# the window against the unattended run, BENCH_TREE_ROUNDS rounds (3), and the check before it;
# BENCH_DROP_FILES=0 times that alone.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIVEX_BUILD_TESTS=OFF >/dev/null
ninja -C build-bench mivex_gesturebench mivex >/dev/null
build-bench/mivex_gesturebench "${BENCH_DIR:-/var/tmp}/mivex-gesturebench" "${BENCH_DROP_FILES:-10000}" \
    "$PWD/build-bench/mivex" ${BENCH_TREE:+"$BENCH_TREE" "${BENCH_TREE_ROUNDS:-3}"}
