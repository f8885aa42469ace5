#!/usr/bin/env bash
# How the copy of many small files scales with the cores: Mivex (C-O, one folder entry) copies the
# same tree with its threads limited to 1, 2, ... N cores (taskset), in turn, and prints the median
# wall and CPU time of each against one core. On a machine with more cores than this one, it
# checks the curve written in bench/RESULTS.md.
#   bench/cores.sh [MIVEX]    BENCH_CORES="1 2 4 8 16"  BENCH_ROUNDS=5  BENCH_SMALL_FILES=20000
#   BENCH_SMALL_FOLDERS=200  BENCH_TMPFS_DIR=/dev/shm
set -euo pipefail
export LC_ALL=C
BENCH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$BENCH/lib.sh"

MIVEX_BIN=$(realpath -e -- "${1:-$BENCH/../build-bench/mivex}") || die "no mivex binary; pass its path"
ROUNDS=${BENCH_ROUNDS:-5}
FILES=${BENCH_SMALL_FILES:-20000}
FOLDERS=${BENCH_SMALL_FOLDERS:-200}
MAX=$(nproc)
CORES=${BENCH_CORES:-$(seq 1 "$MAX" | tr '\n' ' ')}
WORK=$(mktemp -d "${BENCH_TMPFS_DIR:-/dev/shm}/mivex-cores.XXXXXX")
trap 'rm -rf -- "$WORK"' EXIT
[[ $(stat -f -c %T "$WORK") == tmpfs ]] || note "warning: $WORK is not on a tmpfs"

note "making $FILES files of 4 KiB in $FOLDERS folders"
make_tree "$WORK/tree" "$FILES" "$FOLDERS" 4
cp -- "$MIVEX_BIN" "$WORK/mivex"
: >"$WORK/times"
for ((round = 0; round <= ROUNDS; round++)); do  # round 0 is a warm-up
    for n in $(rotate "$round" $CORES); do
        ((n <= MAX)) || continue
        rm -rf -- "$WORK/dest"
        mkdir "$WORK/dest"
        printf 'C-O --> %s --> %s\r\n' "$WORK/tree" "$WORK/dest" >"$WORK/list.flq"
        sync
        # The threads follow the cores the process may use (sched_getaffinity): 1 core copies on
        # the walking thread, n cores with n copying threads.
        t0=$EPOCHREALTIME
        /usr/bin/time -f '%U %S' -o "$WORK/cpu" taskset -c "0-$((n - 1))" "$WORK/mivex" "$WORK/list.flq" -auto
        t1=$EPOCHREALTIME
        read -r user sys <"$WORK/cpu"
        diff -rq "$WORK/tree" "$WORK/dest/tree" >/dev/null || die "the copy on $n core(s) differs"
        ((round == 0)) || echo "$n $((${t1/./} - ${t0/./})) $(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1e6 }')" >>"$WORK/times"
    done
done
echo "# $FILES x 4 KiB in $FOLDERS folders, tmpfs; medians of $ROUNDS rounds; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %12s %10s %12s\n' cores wall speedup cpu
base=
for n in $CORES; do
    ((n <= MAX)) || continue
    wall=$(awk -v n="$n" '$1 == n { print $2 }' "$WORK/times" | median)
    cpu=$(awk -v n="$n" '$1 == n { print $3 }' "$WORK/times" | median)
    [[ -n $base ]] || base=$wall
    printf '%-6s %12s %10s %12s\n' "$n" "$(fmt_us "$wall")" "$(ratio "$base" "$wall")" "$(fmt_us "$cpu")"
done
