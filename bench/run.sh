#!/usr/bin/env bash
# Benchmark: Mivex against cp -a, rsync -a and mv on one local filesystem.
# See bench/README.md for the datasets, the knobs and how to read the table.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT_DIR="$REPO/bench/out"

ROUNDS=${BENCH_ROUNDS:-5}
WARMUP=${BENCH_WARMUP:-1}
BIG_MB=${BENCH_BIG_MB:-1024}
SMALL_FILES=${BENCH_SMALL_FILES:-20000}
SMALL_KB=${BENCH_SMALL_KB:-4}
PARENT_DIR=${BENCH_DIR:-/var/tmp}
KEEP=${BENCH_KEEP:-0}
FILES_PER_FOLDER=100   # files in each leaf folder
FOLDERS_PER_GROUP=10   # leaf folders in each top-level folder

die() { echo "run.sh: $*" >&2; exit 1; }
note() { echo "== $*" >&2; }

check_count() { # VARIABLE VALUE MINIMUM
    if [[ ! $2 =~ ^(0|[1-9][0-9]{0,8})$ ]] || (($2 < $3)); then
        die "$1 must be a whole number of at least $3"
    fi
}
check_count BENCH_ROUNDS "$ROUNDS" 1
check_count BENCH_WARMUP "$WARMUP" 0
check_count BENCH_BIG_MB "$BIG_MB" 1
check_count BENCH_SMALL_FILES "$SMALL_FILES" 1
check_count BENCH_SMALL_KB "$SMALL_KB" 1
((ROUNDS >= 5)) || note "warning: BENCH_ROUNDS=$ROUNDS; use at least 5 for numbers worth quoting"
command -v rsync >/dev/null || die "rsync is not installed"

# ---------------------------------------------------------------- the binary

if [[ -n ${MIVEX:-} ]]; then
    MIVEX_SRC=$(realpath -e -- "$MIVEX" 2>/dev/null) || MIVEX_SRC=
    [[ -f $MIVEX_SRC && -x $MIVEX_SRC ]] || die "MIVEX=$MIVEX is not an executable file"
else
    BUILD_DIR="$REPO/build-bench"
    note "building Mivex (Release) in $BUILD_DIR"
    if ! build_out=$(cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DMIVEX_BUILD_TESTS=OFF 2>&1 && ninja -C "$BUILD_DIR" mivex 2>&1); then
        echo "$build_out" | grep -E -m 20 'FAILED:|error:|CMake Error|\.cpp:[0-9]+' >&2 || echo "$build_out" | tail -n 20 >&2
        die "the build failed; fix it or pass MIVEX=binary"
    fi
    MIVEX_SRC="$BUILD_DIR/mivex"
fi

# ---------------------------------------------------------------- the work folder

[[ -d $PARENT_DIR ]] || die "BENCH_DIR=$PARENT_DIR is not a folder"
WORK=$(mktemp -d "$PARENT_DIR/mivex-bench.XXXXXX")
cleanup() {
    local status=$?
    if [[ $KEEP == 1 ]]; then
        note "work folder kept: $WORK"
    else
        rm -rf -- "$WORK"
        sync  # see drop_dest: settled deletions hold up the next run's file creation for less time
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The command line ends the list path at the first " -", and entries are split at " -->".
[[ $WORK != *" -"* && $WORK != *$'\n'* && $WORK != *$'\r'* ]] ||
    die "the work folder path '$WORK' contains ' -' or a line break; choose another BENCH_DIR"

# Run a private copy of the binary: Mivex logs into its own folder, so the logs stay in the work
# folder and go away with it instead of piling up next to the build.
mkdir -p "$WORK/bin" "$WORK/lists" "$WORK/data" "$WORK/dest" "$WORK/trash"
cp -- "$MIVEX_SRC" "$WORK/bin/mivex"
MIVEX_BIN="$WORK/bin/mivex"

FS_TYPE=$(findmnt -n -o FSTYPE -T "$WORK" 2>/dev/null || stat -f -c %T "$WORK")
[[ $FS_TYPE != tmpfs ]] || note "warning: $WORK is on tmpfs, not on a disk"

# Room for the big file twice (source and copy), the small tree once per copy run plus its source
# (small copies are only deleted at the end, see drop_dest), and some slack.
tree_kb=$((SMALL_FILES * (SMALL_KB + 3) / 4 * 4 * 11 / 10))
need_kb=$((2 * BIG_MB * 1024 + (1 + 3 * (WARMUP + ROUNDS)) * tree_kb + 256 * 1024))
free_kb=$(df -Pk "$WORK" | awk 'NR == 2 { print $4 }')
((free_kb >= need_kb)) || die "need about $((need_kb / 1024)) MiB free under $PARENT_DIR, have $((free_kb / 1024)) MiB"

# ---------------------------------------------------------------- datasets

BIG_SRC="$WORK/data/big.bin"
TREE_SRC="$WORK/data/tree"   # copied by the small-file runs, then moved to and fro by the move runs

LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
note "creating ${BIG_MB} MiB random file"
head -c "$((BIG_MB * 1024 * 1024))" /dev/urandom >"$BIG_SRC"

# SMALL_FILES files of SMALL_KB KiB: tree/gNNN/dNN/fNNN, FILES_PER_FOLDER files per leaf folder,
# FOLDERS_PER_GROUP leaf folders per top-level folder (20,000 files: 20 x 10 folders of 100).
note "creating $SMALL_FILES files of $SMALL_KB KiB"
make_tree() {
    local root=$1 left=$SMALL_FILES folder=0 n dir
    while ((left > 0)); do
        n=$((left < FILES_PER_FOLDER ? left : FILES_PER_FOLDER))
        printf -v dir '%s/g%03d/d%02d' "$root" $((folder / FOLDERS_PER_GROUP)) $((folder % FOLDERS_PER_GROUP))
        mkdir -p "$dir"
        head -c "$((n * SMALL_KB * 1024))" /dev/urandom | split -b "$((SMALL_KB * 1024))" -d -a 3 - "$dir/f"
        left=$((left - n))
        folder=$((folder + 1))
    done
}
make_tree "$TREE_SRC"
count=$(find "$TREE_SRC" -type f | wc -l)
((count == SMALL_FILES)) || die "made $count small files, expected $SMALL_FILES"

# What a moved tree must look like: every entry's type and relative path, each file's size, and
# a checksum of each file's content.
listing() {
    (
        cd "$1"
        find . -mindepth 1 \( -type f -printf 'f %s %P\n' \) -o -printf '%y - %P\n' | LC_ALL=C sort
        find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r md5sum
    )
}
listing "$TREE_SRC" >"$WORK/tree.listing"

# ---------------------------------------------------------------- tools

# Each tool puts the source INTO an existing destination folder under the source's own name.
run_mivex() { # KIND(C|M) SOURCE DESTFOLDER
    local list="$WORK/lists/entry.flq" status=0
    printf '%s-O --> %s --> %s\r\n' "$1" "$2" "$3" >"$list"
    "$MIVEX_BIN" "$list" -auto >/dev/null || status=$?
    if ((status != 0)); then
        echo "run.sh: mivex exited with $status for: $(tr -d '\r' <"$list")" >&2
        local log
        for log in "$WORK"/bin/*-log.txt; do [[ -f $log ]] && tail -n 5 "$log" >&2; done
        return 1
    fi
}
run_tool() { # TOOL KIND SOURCE DESTFOLDER
    case $1 in
        mivex) run_mivex "$2" "$3" "$4" ;;
        cp) cp -a -- "$3" "$4/" ;;
        rsync) rsync -a -- "$3" "$4/" ;;
        mv) mv -- "$3" "$4/" ;;
        *) die "unknown tool $1" ;;
    esac
}
tool_label() {
    case $1 in cp) echo "cp -a" ;; rsync) echo "rsync -a" ;; *) echo "$1" ;; esac
}

# ---------------------------------------------------------------- timing

RAW="$WORK/times.csv"   # dataset,tool,round,seconds (timed rounds only)
: >"$RAW"

# Runs one tool, flushing the previous run's dirty pages first so they are not billed to this one.
# Round 0 is a warm-up: run the same way, not recorded.
timed() { # DATASET TOOL ROUND KIND SOURCE DESTFOLDER
    local t0 t1 secs
    sync
    t0=$(date +%s.%N)
    run_tool "$2" "$4" "$5" "$6" || die "$2 failed on $1, $( (($3 > 0)) && echo "round $3" || echo warm-up)"
    t1=$(date +%s.%N)
    secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
    if (($3 > 0)); then
        echo "$1,$2,$3,$secs" >>"$RAW"
        printf '   %-18s %-6s round %d: %.3f s\n' "$1" "$2" "$3" "$secs" >&2
    else
        printf '   %-18s %-6s warm-up: %.3f s\n' "$1" "$2" "$secs" >&2
    fi
}

# Prints the words starting with word N (mod their count) and wrapping around. Each round starts
# one tool further along the cycle, so no tool always runs first or last in a round.
rotate() { # N WORD...
    local n=$1 i
    shift
    for ((i = 0; i < $#; i++)); do
        local k=$(((i + n) % $# + 1))
        echo "${!k}"
    done
}

# How a used destination is dropped: "delete" removes it at once, "defer" moves it aside into the
# trash, which goes with the work folder at the end. Small-file copies are deferred: ext4 without a
# journal does not reuse an inode for a minute or more after its file is deleted and checks every
# such inode it passes when it creates a file, so deleting 20,000 files between runs makes each
# following run slower than the last, whichever tool it is (see README.md).
drop_dest() { # DESTFOLDER delete|defer
    if [[ $2 == defer ]]; then
        mv -- "$1" "$(mktemp -d "$WORK/trash/XXXXXX")/"
    else
        rm -rf -- "$1"
    fi
}

bench_copy() { # DATASET SOURCE delete|defer
    local dataset=$1 src=$2 drop=$3 round tool dest
    note "dataset $dataset"
    for ((round = 1 - WARMUP; round <= ROUNDS; round++)); do
        for tool in $(rotate "$((round + WARMUP - 1))" mivex cp rsync); do
            dest="$WORK/dest/$dataset-$tool"
            mkdir "$dest"
            timed "$dataset" "$tool" "$((round > 0 ? round : 0))" C "$src" "$dest"
            if ((round == 1)); then
                diff -r -q -- "$src" "$dest/$(basename "$src")" >&2 ||
                    die "$tool: the copy of $src differs from the source"
            fi
            drop_dest "$dest" "$drop"
        done
    done
}

# The tree is moved into a fresh destination folder, checked, and moved back for the next run: a
# rename on one filesystem, so nothing is created or deleted between runs.
bench_move() { # DATASET SOURCE
    local dataset=$1 src=$2 round tool dest
    note "dataset $dataset"
    for ((round = 1 - WARMUP; round <= ROUNDS; round++)); do
        for tool in $(rotate "$((round + WARMUP - 1))" mivex mv); do
            dest="$WORK/dest/$dataset-$tool"
            mkdir "$dest"
            timed "$dataset" "$tool" "$((round > 0 ? round : 0))" M "$src" "$dest"
            [[ ! -e $src ]] || die "$tool: the move left its source $src behind"
            listing "$dest/$(basename "$src")" >"$WORK/moved.listing"
            cmp -s "$WORK/moved.listing" "$WORK/tree.listing" ||
                die "$tool: the moved tree does not match the reference listing"
            mv -- "$dest/$(basename "$src")" "$src"
            rmdir -- "$dest"
        done
    done
}

DS_BIG="big-${BIG_MB}MiB"
DS_SMALL="small-${SMALL_FILES}x${SMALL_KB}KiB"
DS_MOVE="move-${SMALL_FILES}x${SMALL_KB}KiB"

bench_copy "$DS_BIG" "$BIG_SRC" delete
bench_copy "$DS_SMALL" "$TREE_SRC" defer
bench_move "$DS_MOVE" "$TREE_SRC"

# ---------------------------------------------------------------- report

median() { # DATASET TOOL -> median seconds, unrounded
    awk -F, -v d="$1" -v t="$2" '$1 == d && $2 == t { print $4 }' "$RAW" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }'; }

table() {
    local dataset tools tool m base cp_ratio
    printf '%-20s %-9s %10s %11s %9s\n' dataset tool median_s tool/mivex mivex/cp
    for dataset in "$DS_BIG" "$DS_SMALL" "$DS_MOVE"; do
        if [[ $dataset == "$DS_MOVE" ]]; then tools="mivex mv"; else tools="mivex cp rsync"; fi
        base=$(median "$dataset" mivex)
        cp_ratio=-
        [[ $dataset == "$DS_MOVE" ]] || cp_ratio=$(ratio "$base" "$(median "$dataset" cp)")
        for tool in $tools; do
            m=$(median "$dataset" "$tool")
            printf '%-20s %-9s %10.3f %11s %9s\n' "$dataset" "$(tool_label "$tool")" "$m" \
                "$(ratio "$m" "$base")" "$([[ $tool == mivex ]] && echo "$cp_ratio" || echo -)"
        done
    done
}

mkdir -p "$OUT_DIR"
stamp=$(date +%Y%m%d-%H%M%S)
report="$OUT_DIR/bench-$stamp.txt"
TABLE=$(table)
{
    echo "# mivex benchmark $(date '+%Y-%m-%d %H:%M:%S')"
    echo "# host $(uname -n), kernel $(uname -r), $(nproc) CPUs, filesystem $FS_TYPE under $PARENT_DIR"
    echo "# binary $MIVEX_SRC, source $(git -C "$REPO" describe --always --dirty 2>/dev/null || echo unknown)"
    if [[ -z ${MIVEX:-} ]]; then
        echo "# build options: $(grep -E '^(CMAKE_BUILD_TYPE|CMAKE_CXX_FLAGS|MIVEX_[A-Z_]+):' "$BUILD_DIR/CMakeCache.txt" |
            sed 's/:[A-Z]*=/=/' | tr '\n' ' ')"
    fi
    echo "# load average at start $LOAD_START, at end $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine adds noise)"
    echo "# rounds $ROUNDS, big file $BIG_MB MiB, small files $SMALL_FILES x $SMALL_KB KiB"
    echo "# median wall seconds over the rounds, after $WARMUP untimed warm-up round(s);"
    echo "# sync before every run; page cache not dropped (sources are read from memory)"
    echo
    echo "$TABLE"
    echo
    echo "# every run: dataset,tool,round,seconds"
    cat "$RAW"
} >"$report"
cp -- "$report" "$OUT_DIR/latest.txt"

echo
echo "$TABLE"
echo
note "report written to $report"
