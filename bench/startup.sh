#!/usr/bin/env bash
# Start-up time of the window: from process start to the first shown and painted main window,
# under Xvfb, over several runs; prints each run and the median in milliseconds.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${BENCH_ROUNDS:-11}
command -v xvfb-run >/dev/null || { apt-get update && apt-get install -y xvfb xauth; }
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIVEX_BUILD_TESTS=OFF >/dev/null
ninja -C build-bench mivex mivex-gui mivex_startupprobe >/dev/null
times=$(xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
  for i in \$(seq $runs); do LD_PRELOAD=$PWD/build-bench/libmivex_startupprobe.so build-bench/mivex 2>/dev/null; done" |
  awk '/startup-ms/ { print $2 }')
echo "start-up to first shown window (ms):" $times
echo "$times" | sort -n | awk '{ v[NR] = $1 } END { printf "median: %.1f ms over %d runs\n", v[int((NR + 1) / 2)], NR }'
