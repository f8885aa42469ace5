#!/usr/bin/env bash
# Benchmark: "Make Archive of Source Files" against `gcab -cz` on the same files. Builds Release
# into build-bench-cab/, makes 20,000 small files and one 500 MiB file under /var/tmp, runs each
# tool RUNS times taking turns, and prints the median wall times, their ratio and Mivex's peak RSS.
#
#   bench/cab.sh                              # full run
#   CAB_RUNS=5 CAB_BIG_MB=64 bench/cab.sh     # other sizes or more runs
#
# Mivex runs as `mivex_cabbench` (bench/cabbench.cpp, offscreen): save dialog answered, status
# window updated and events processed before every file, the closing message. gcab gets the
# same files as arguments (its recursive add is quadratic in the file count). The content is base64
# text of random bytes, which MSZIP shrinks to about three quarters. `sync` runs before each timed
# run, so one run's writeback is not charged to the next; Mivex also fsyncs its own cabinet before
# renaming it into place, and that is inside its time.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$REPO/build-bench-cab"
RUNS=${CAB_RUNS:-3}
SMALL_FILES=${CAB_SMALL_FILES:-20000}
SMALL_BYTES=${CAB_SMALL_BYTES:-4096}
BIG_MB=${CAB_BIG_MB:-500}
WORK=${CAB_DIR:-/var/tmp}/mivex-cab-bench
VERIFY=${CAB_VERIFY:-1}

die() { echo "cab.sh: $*" >&2; exit 1; }
note() { echo "== $*" >&2; }
for tool in gcab cabextract /usr/bin/time; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
((RUNS >= 3)) || die "CAB_RUNS must be at least 3"

note "building Release into $BUILD"
cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$BUILD" mivex_cabbench >/dev/null
BENCH_BIN="$BUILD/mivex_cabbench"

# ---------------------------------------------------------------- the data, made once per shape

SRC="$WORK/src"
STAMP="$WORK/shape-$SMALL_FILES-$SMALL_BYTES-$BIG_MB"
if [[ ! -f $STAMP ]]; then
    note "making $SMALL_FILES files of $SMALL_BYTES bytes and one of $BIG_MB MiB in $SRC"
    rm -rf "$WORK"
    mkdir -p "$SRC/small"
    # Text cut from one endless stream, 100 files to a folder.
    (cd "$SRC/small" && for ((d = 0; d * 100 < SMALL_FILES; d++)); do
        n=$((SMALL_FILES - d * 100 < 100 ? SMALL_FILES - d * 100 : 100))
        dir=$(printf 'd%03d' "$d")
        mkdir "$dir"
        head -c $((n * SMALL_BYTES)) <&3 | split -a 2 -d -b "$SMALL_BYTES" - "$dir/f"
    done) 3< <(base64 -w 0 /dev/urandom)
    head -c $((BIG_MB * 1024 * 1024)) < <(base64 -w 76 /dev/urandom) >"$SRC/big.txt"
    touch "$STAMP"
fi
mapfile -t SMALL < <(find "$SRC/small" -type f | sort)
((${#SMALL[@]} == SMALL_FILES)) || die "expected $SMALL_FILES small files, found ${#SMALL[@]}"
OUT="$WORK/out"
mkdir -p "$OUT"
cat "${SMALL[@]}" "$SRC/big.txt" >/dev/null  # both tools read from the page cache

# ---------------------------------------------------------------- the runs

run_mivex() { # OUTPUT TIMEFILE
    QT_QPA_PLATFORM=offscreen /usr/bin/time -o "$2" -f "%e %M" \
        "$BENCH_BIN" "$1" "$SRC/small" "$SRC/big.txt" >"$OUT/mivex.log" 2>&1 ||
        { cat "$OUT/mivex.log" >&2; die "the Mivex run failed"; }
}
run_gcab() { # OUTPUT TIMEFILE
    /usr/bin/time -o "$2" -f "%e %M" gcab -cz "$1" "${SMALL[@]}" "$SRC/big.txt" >/dev/null ||
        die "the gcab run failed"
}

declare -a MIVEX_T GCAB_T MIVEX_RSS GCAB_RSS
for ((i = 0; i < RUNS; i++)); do
    # Turns alternate which tool goes first.
    order=(mivex gcab)
    ((i % 2 == 1)) && order=(gcab mivex)
    for tool in "${order[@]}"; do
        rm -f "$OUT/$tool.cab"
        sync
        "run_$tool" "$OUT/$tool.cab" "$OUT/$tool.time"
        read -r secs rss <"$OUT/$tool.time"
        note "run $((i + 1)) $tool: ${secs}s, peak RSS $((rss / 1024)) MiB"
        if [[ $tool == mivex ]]; then MIVEX_T+=("$secs"); MIVEX_RSS+=("$rss")
        else GCAB_T+=("$secs"); GCAB_RSS+=("$rss"); fi
    done
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
max() { printf '%s\n' "$@" | sort -g | tail -n 1; }

if ((VERIFY)); then
    note "checking Mivex's cabinet with cabextract"
    rm -rf "$OUT/x" && mkdir "$OUT/x"
    cabextract -q -d "$OUT/x" "$OUT/mivex.cab"
    diff -r "$SRC" "$OUT/x$SRC" >/dev/null || die "the extracted files differ from the sources"
    rm -rf "$OUT/x"
fi

m=$(median "${MIVEX_T[@]}")
g=$(median "${GCAB_T[@]}")
echo "files: $SMALL_FILES x $SMALL_BYTES bytes + 1 x $BIG_MB MiB; runs: $RUNS each"
echo "mivex  median ${m}s  (runs: ${MIVEX_T[*]})  peak RSS $(($(max "${MIVEX_RSS[@]}") / 1024)) MiB"
echo "gcab   median ${g}s  (runs: ${GCAB_T[*]})  peak RSS $(($(max "${GCAB_RSS[@]}") / 1024)) MiB"
echo "cabinet sizes: mivex $(stat -c %s "$OUT/mivex.cab") bytes, gcab $(stat -c %s "$OUT/gcab.cab") bytes"
awk -v m="$m" -v g="$g" 'BEGIN { printf "ratio mivex/gcab: %.3f\n", m / g }'
