#!/usr/bin/env bash
# The benchmark suite: Mivex's unattended mode against cp -a, rsync -a and tar, on a private tmpfs
# and on the disk, with return times and times including `sync`, plus start-up, peak memory and
# the window at its limits. One table of ratios first, then the machine, then every single value.
# See bench/README.md for the datasets, the knobs and how to read the table.
# Over 500 lines: one dataset a function, all in one script so that a run needs only bash, the
# peers and GNU time, and a subset runs with BENCH_ONLY; the shared helpers are in lib.sh.
set -euo pipefail
export LC_ALL=C

BENCH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(dirname "$BENCH")
# shellcheck source=lib.sh
source "$BENCH/lib.sh"
START_US=${EPOCHREALTIME/./}
START_DATE=$(date '+%Y-%m-%d %H:%M:%S')
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)

# ---------------------------------------------------------------- knobs

QUICK=${BENCH_QUICK:-0}
sized() { if [[ $QUICK == 1 ]]; then echo "$2"; else echo "$1"; fi; }  # FULL QUICK
ROUNDS=${BENCH_ROUNDS:-$(sized 5 3)}
MAX_ROUNDS=${BENCH_MAX_ROUNDS:-}  # 3 x ROUNDS once ROUNDS is known to be a number
SPREAD=${BENCH_SPREAD:-0.20}
WARMUP=${BENCH_WARMUP:-1}
BIG_MB=${BENCH_BIG_MB:-$(sized 1024 64)}
VERIFY_MB=${BENCH_VERIFY_MB:-$(sized 2048 64)}
SMALL_FILES=${BENCH_SMALL_FILES:-$(sized 20000 2000)}
SMALL_FOLDERS=${BENCH_SMALL_FOLDERS:-$(sized 200 20)}
SMALL_KB=${BENCH_SMALL_KB:-4}
SPARSE_MB=${BENCH_SPARSE_MB:-$(sized 2048 128)}
SPARSE_DATA_KB=1024
STARTUP_RUNS=${BENCH_STARTUP_RUNS:-$(sized 30 10)}
MEM_FILES=${BENCH_MEM_FILES:-$(sized 200000 5000)}
MEM_FOLDERS=${BENCH_MEM_FOLDERS:-$(sized 2000 50)}
MEM_KB=${BENCH_MEM_KB:-1}
MEM_ROUNDS=${BENCH_MEM_ROUNDS:-$(sized 3 1)}
DROP_FILES=${BENCH_DROP_FILES:-$(sized 10000 1000)}
META_FILES=${BENCH_META_FILES:-$(sized 2000 500)}
META_FOLDERS=${BENCH_META_FOLDERS:-$(sized 20 5)}
LINK_FILES=${BENCH_LINK_FILES:-$(sized 10000 1000)}
LIST_FILES=${BENCH_LIST_FILES:-$(sized 10000 1000)}
KEEPBOTH_ROWS=${BENCH_KEEPBOTH_ROWS:-$(sized 32767 2000)}
RERUN_MB=${BENCH_RERUN_MB:-$(sized 2048 128)}
RERUN_FILES=${BENCH_RERUN_FILES:-16}
MOVE_SIZES=${BENCH_MOVE_FILES:-$(sized 100000,300000 5000)}
MOVE_FOLDERS_PER=${BENCH_MOVE_PER_FOLDER:-100}
PARENT_DIR=${BENCH_DIR:-/var/tmp}
TMPFS_PARENT=${BENCH_TMPFS_DIR:-}
TMPFS_SIZE=${BENCH_TMPFS_SIZE:-8G}
ONLY=${BENCH_ONLY:-D1,D2,D3,D4,D5,D6,D6b,D7,D8,D9,D10,D11,D12,D13,D14,D15,MEM,MOVEMEM,WIN}
FSES=${BENCH_FS:-tmpfs,disk}
DISK_MODE=${BENCH_DISK:-$( ((EUID == 0)) && echo image || echo folder)}
KEEP=${BENCH_KEEP:-0}
DROP_CACHES=${BENCH_DROP_CACHES:-1}
DROP_CACHES_FILE=${BENCH_DROP_CACHES_FILE:-/proc/sys/vm/drop_caches}  # the self-test gives a file of its own
OUT_DIR=${BENCH_OUT:-$BENCH/out}
FORCE=${BENCH_FORCE:-0}
RESULTS=${BENCH_RESULTS:-$BENCH/RESULTS.md}
LOADAVG=${BENCH_LOADAVG:-/proc/loadavg}  # the self-test gives a file of its own
MAX_LOAD=0.5  # above it, before any dataset, the run's numbers are not recorded in RESULTS
SETTLE=${BENCH_SETTLE:-240}  # seconds a dataset waits at most for the load to fall below MAX_LOAD

check_count() { # VARIABLE VALUE MINIMUM
    if [[ ! $2 =~ ^(0|[1-9][0-9]{0,8})$ ]] || (($2 < $3)); then
        die "$1 must be a whole number of at least $3"
    fi
}
check_count BENCH_ROUNDS "$ROUNDS" 1
check_count BENCH_WARMUP "$WARMUP" 0
MAX_ROUNDS=${MAX_ROUNDS:-$((3 * ROUNDS))}
check_count BENCH_MAX_ROUNDS "$MAX_ROUNDS" "$ROUNDS"
[[ $SPREAD =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "BENCH_SPREAD must be a number such as 0.20"
check_count BENCH_BIG_MB "$BIG_MB" 1
check_count BENCH_VERIFY_MB "$VERIFY_MB" 1
check_count BENCH_SMALL_FILES "$SMALL_FILES" 1
check_count BENCH_SMALL_FOLDERS "$SMALL_FOLDERS" 1
check_count BENCH_SMALL_KB "$SMALL_KB" 1
check_count BENCH_SPARSE_MB "$SPARSE_MB" 8
check_count BENCH_STARTUP_RUNS "$STARTUP_RUNS" 1
check_count BENCH_MEM_FILES "$MEM_FILES" 1
check_count BENCH_MEM_FOLDERS "$MEM_FOLDERS" 1
check_count BENCH_MEM_KB "$MEM_KB" 1
check_count BENCH_MEM_ROUNDS "$MEM_ROUNDS" 1
check_count BENCH_DROP_FILES "$DROP_FILES" 1
check_count BENCH_META_FILES "$META_FILES" 1
check_count BENCH_META_FOLDERS "$META_FOLDERS" 1
check_count BENCH_LINK_FILES "$LINK_FILES" 10
check_count BENCH_LIST_FILES "$LIST_FILES" 1
check_count BENCH_KEEPBOTH_ROWS "$KEEPBOTH_ROWS" 1
check_count BENCH_MOVE_PER_FOLDER "$MOVE_FOLDERS_PER" 1
for n in ${MOVE_SIZES//,/ }; do check_count BENCH_MOVE_FILES "$n" 1; done
[[ $DISK_MODE == image || $DISK_MODE == folder ]] || die "BENCH_DISK must be image or folder"
[[ $QUICK == [01] && $KEEP == [01] && $FORCE == [01] && $DROP_CACHES == [01] ]] ||
    die "BENCH_QUICK, BENCH_KEEP, BENCH_FORCE and BENCH_DROP_CACHES take 0 or 1"
[[ -r $LOADAVG ]] || die "cannot read the load average from $LOADAVG"
((SMALL_FOLDERS <= SMALL_FILES && MEM_FOLDERS <= MEM_FILES && META_FOLDERS <= META_FILES)) ||
    die "more folders than files"
((ROUNDS >= 5)) || note "warning: BENCH_ROUNDS=$ROUNDS; use at least 5 for numbers worth quoting"

ALL_DATASETS="D1 D2 D3 D4 D5 D6 D6B D7 D8 D9 D10 D11 D12 D13 D14 D15 MEM MOVEMEM WIN"
for ds in ${ONLY//,/ }; do
    [[ " $ALL_DATASETS " == *" ${ds^^} "* ]] || die "BENCH_ONLY: unknown dataset '$ds' (known: $ALL_DATASETS)"
done
for fs in ${FSES//,/ }; do
    [[ $fs == tmpfs || $fs == disk ]] || die "BENCH_FS: unknown filesystem '$fs' (tmpfs, disk)"
done
selected() { [[ ,${ONLY^^}, == *,${1^^},* ]]; }
FS_LIST=()
for fs in tmpfs disk; do [[ ,$FSES, != *,$fs,* ]] || FS_LIST+=("$fs"); done
((${#FS_LIST[@]} > 0)) || die "BENCH_FS names no filesystem"

# D3 copies a real tree: the Qt headers installed on the machine unless BENCH_TREE names another.
TREE_SRC=${BENCH_TREE:-}
if [[ -z $TREE_SRC ]] && selected D3; then
    TREE_SRC=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null) || TREE_SRC=/usr/include/x86_64-linux-gnu/qt6
fi
if selected D3; then
    [[ -d $TREE_SRC ]] || die "no tree to copy for D3 at '$TREE_SRC'; set BENCH_TREE"
    TREE_SRC=$(realpath -e -- "$TREE_SRC")
    [[ $TREE_SRC != / ]] || die "BENCH_TREE must not be /"
    TREE_FILES=$(find "$TREE_SRC" -type f | wc -l)
fi
# D9 copies real data: /usr/share unless BENCH_REAL names another tree; at least 50,000 entries
# unless quick.
REAL_SRC=${BENCH_REAL:-/usr/share}
if selected D9; then
    [[ -d $REAL_SRC ]] || die "no tree to copy for D9 at '$REAL_SRC'; set BENCH_REAL"
    REAL_SRC=$(realpath -e -- "$REAL_SRC")
    [[ $REAL_SRC != / ]] || die "BENCH_REAL must not be /"
    REAL_ENTRIES=$(find "$REAL_SRC" | wc -l)
    ((REAL_ENTRIES >= 50000 || QUICK == 1 || ${BENCH_REAL_ANY:-0} == 1)) ||
        die "D9: $REAL_SRC holds $REAL_ENTRIES entries, fewer than 50,000 (BENCH_REAL_ANY=1 takes it anyway)"
fi

command -v rsync >/dev/null || die "rsync is not installed"
if selected D8 && ! { command -v setfacl && command -v setfattr; } >/dev/null; then
    ((EUID == 0)) || die "D8 needs setfacl and setfattr; install the packages 'acl' and 'attr'"
    note "installing acl and attr"
    apt-get install -y acl attr >/dev/null || die "could not install the packages 'acl' and 'attr'"
fi
if selected MEM && [[ ! -x /usr/bin/time ]]; then
    ((EUID == 0)) || die "GNU time (/usr/bin/time) is missing; install the package 'time'"
    note "installing GNU time"
    apt-get install -y time >/dev/null || die "could not install the package 'time'"
fi

# ---------------------------------------------------------------- the binaries

BUILD_DIR="$REPO/build-bench"
build=()
if [[ -n ${MIVEX:-} ]]; then
    MIVEX_SRC=$(realpath -e -- "$MIVEX" 2>/dev/null) || MIVEX_SRC=
    [[ -f $MIVEX_SRC && -x $MIVEX_SRC ]] || die "MIVEX=$MIVEX is not an executable file"
else
    build+=(mivex)
    MIVEX_SRC="$BUILD_DIR/mivex"
fi
GESTUREBENCH=
if selected WIN; then
    if [[ -n ${MIVEX_GESTUREBENCH:-} ]]; then
        GESTUREBENCH=$MIVEX_GESTUREBENCH
    elif [[ -n ${MIVEX:-} && -x $(dirname "$MIVEX_SRC")/mivex_gesturebench ]]; then
        GESTUREBENCH="$(dirname "$MIVEX_SRC")/mivex_gesturebench"  # built with that binary
    else
        build+=(mivex_gesturebench)
        GESTUREBENCH="$BUILD_DIR/mivex_gesturebench"
    fi
fi
if ((${#build[@]} > 0)); then
    note "building ${build[*]} (Release) in $BUILD_DIR"
    if ! build_out=$(cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DMIVEX_BUILD_TESTS=OFF 2>&1 && ninja -C "$BUILD_DIR" "${build[@]}" 2>&1); then
        echo "$build_out" | grep -E -m 20 'FAILED:|error:|CMake Error|\.cpp:[0-9]+' >&2 || echo "$build_out" | tail -n 20 >&2
        die "the build failed; fix it or pass MIVEX=binary (and MIVEX_GESTUREBENCH=binary)"
    fi
fi
if selected WIN; then
    GESTUREBENCH=$(realpath -e -- "$GESTUREBENCH" 2>/dev/null) || GESTUREBENCH=
    [[ -f $GESTUREBENCH && -x $GESTUREBENCH ]] || die "MIVEX_GESTUREBENCH is not an executable file"
fi

# ---------------------------------------------------------------- work folders

[[ -d $PARENT_DIR ]] || die "BENCH_DIR=$PARENT_DIR is not a folder"
WORK=$(mktemp -d "$(realpath -e -- "$PARENT_DIR")/mivex-bench.XXXXXX")
TMPFS_MOUNT=
TMPFS_ROOT=
DISK_MOUNT=
DISK_LOOP=
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    cd /
    if [[ $KEEP == 1 ]]; then
        note "kept: $WORK${TMPFS_ROOT:+ and $TMPFS_ROOT}${TMPFS_MOUNT:+ (umount $TMPFS_MOUNT when done)}"
    else
        if [[ -n $TMPFS_MOUNT ]]; then
            umount -- "$TMPFS_MOUNT" 2>/dev/null || umount -l -- "$TMPFS_MOUNT" ||
                echo "run.sh: could not unmount $TMPFS_MOUNT" >&2
        elif [[ -n $TMPFS_ROOT ]]; then
            rm -rf -- "$TMPFS_ROOT"
        fi
        if [[ -n $DISK_MOUNT ]]; then
            umount -- "$DISK_MOUNT" 2>/dev/null || umount -l -- "$DISK_MOUNT" ||
                echo "run.sh: could not unmount $DISK_MOUNT" >&2
        fi
        [[ -z $DISK_LOOP ]] || losetup -d "$DISK_LOOP" 2>/dev/null || true
        if ! mountpoint -q -- "$WORK/tmpfs" 2>/dev/null && ! mountpoint -q -- "$WORK/disk" 2>/dev/null; then
            rm -rf -- "$WORK"
        fi
        sync
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [[ -n $TMPFS_PARENT ]]; then
    TMPFS_ROOT=$(mktemp -d "$(realpath -e -- "$TMPFS_PARENT")/mivex-bench.XXXXXX")
elif ((EUID == 0)); then
    mkdir "$WORK/tmpfs"
    mount -t tmpfs -o "size=$TMPFS_SIZE,mode=0755" mivex-bench "$WORK/tmpfs" ||
        die "could not mount a tmpfs on $WORK/tmpfs; set BENCH_TMPFS_DIR to a folder on a tmpfs"
    TMPFS_MOUNT="$WORK/tmpfs"
    TMPFS_ROOT=$TMPFS_MOUNT
else
    TMPFS_ROOT=$(mktemp -d /dev/shm/mivex-bench.XXXXXX)
fi
fs_type() { findmnt -n -o FSTYPE -T "$1" 2>/dev/null || stat -f -c %T "$1"; }
[[ $(fs_type "$TMPFS_ROOT") == tmpfs ]] || die "$TMPFS_ROOT is not on a tmpfs"
[[ $(fs_type "$WORK") != tmpfs ]] || note "warning: $WORK is on a tmpfs, not on a disk; set BENCH_DIR"

# Room: the disk keeps every small-file copy until the end (see drop_dest), and a dataset may
# take up to MAX_ROUNDS rounds.
runs=$((WARMUP + MAX_ROUNDS))
small_kib=$((SMALL_FILES * ((SMALL_KB + 3) / 4 * 4) + (SMALL_FOLDERS * 11 / 10 + 1) * 4))
tree_kib=0
! selected D3 || tree_kib=$(du -sk -- "$TREE_SRC" | cut -f1)
big_mb=$((BIG_MB > SPARSE_MB ? BIG_MB : SPARSE_MB))
big_kib=$(((big_mb > VERIFY_MB ? big_mb : VERIFY_MB) * 2048))
meta_kib=$((META_FILES * ((SMALL_KB + 3) / 4 * 4) + (META_FOLDERS * 11 / 10 + 1) * 12))
real_kib=0
! selected D9 || real_kib=$(du -sk -- "$REAL_SRC" | cut -f1)
link_kib=$((LINK_FILES * ((SMALL_KB + 3) / 4 * 4)))
list_kib=$((LIST_FILES * ((SMALL_KB + 3) / 4 * 4)))
move_max=0
for n in ${MOVE_SIZES//,/ }; do ((n <= move_max)) || move_max=$n; done
selected MOVEMEM || move_max=0
move_kib=$((move_max * 4 + move_max / MOVE_FOLDERS_PER * 4))
need_disk=$((big_kib + (2 + 13 * runs) * small_kib + (1 + 4 * runs) * tree_kib + (2 + 3 * runs) * meta_kib +
    3 * real_kib + (1 + 3 * runs) * link_kib + 2 * runs * list_kib + runs * KEEPBOTH_ROWS * 4 + 2 * move_kib + 512 * 1024))
need_inodes=$(((2 + 13 * runs) * (SMALL_FILES + SMALL_FOLDERS * 11 / 10 + 1) + (1 + 4 * runs) * ${TREE_FILES:-0} * 11 / 10 +
    (2 + 3 * runs) * (META_FILES + META_FOLDERS * 22 / 10 + 2) + 3 * ${REAL_ENTRIES:-0} + (1 + 3 * runs) * LINK_FILES +
    2 * runs * LIST_FILES + runs * KEEPBOTH_ROWS + 2 * move_max * 11 / 10))
mem_kib=$((2 * MEM_FILES * ((MEM_KB + 3) / 4 * 4)))
((mem_kib >= 2 * move_kib)) || mem_kib=$((2 * move_kib))
need_tmpfs=$(((big_kib > mem_kib ? big_kib : mem_kib) + 4 * small_kib + 2 * tree_kib + 3 * meta_kib + 256 * 1024))
free_disk=$(df -Pk "$WORK" | awk 'NR == 2 { print $4 }')
free_inodes=$(df -Pi "$WORK" | awk 'NR == 2 { print $4 }')
[[ $DISK_MODE == folder ]] || free_inodes=  # the image gets what it needs
free_tmpfs=$(df -Pk "$TMPFS_ROOT" | awk 'NR == 2 { print $4 }')
((free_disk >= need_disk)) || die "need about $((need_disk / 1024)) MiB free under $PARENT_DIR, have $((free_disk / 1024)) MiB"
[[ ! $free_inodes =~ ^[0-9]+$ ]] || ((free_inodes >= need_inodes)) ||
    die "need about $need_inodes free inodes under $PARENT_DIR, have $free_inodes"
((free_tmpfs >= need_tmpfs)) ||
    die "need about $((need_tmpfs / 1024)) MiB on the tmpfs, have $((free_tmpfs / 1024)) MiB; raise BENCH_TMPFS_SIZE"


# The disk: by default a fresh ext4 made with mkfs's defaults (a journal; no online discard) in an
# image file on the disk under BENCH_DIR, attached with direct I/O so that its writes reach the disk
# without a second page cache. The machine's own filesystem may be anything (here: ext4 without a
# journal and mounted with discard, where creating files is slow for minutes after any large
# delete and every freed block is discarded at once); BENCH_DISK=folder measures on it instead.
if [[ $DISK_MODE == image ]]; then
    { command -v mkfs.ext4 && command -v losetup; } >/dev/null ||
        die "BENCH_DISK=image needs mkfs.ext4 and losetup (e2fsprogs, mount); or set BENCH_DISK=folder"
    mkfs.ext4 -q -F -N $((need_inodes * 5 / 4 + 65536)) "$WORK/disk.img" $((need_disk * 5 / 4))k >/dev/null ||
        die "mkfs.ext4 failed on $WORK/disk.img"
    DISK_LOOP=$(losetup --find --show --direct-io=on "$WORK/disk.img" 2>/dev/null ||
        losetup --find --show "$WORK/disk.img") || die "could not attach $WORK/disk.img to a loop device; set BENCH_DISK=folder"
    mkdir "$WORK/disk"
    mount -- "$DISK_LOOP" "$WORK/disk" || die "could not mount $DISK_LOOP; set BENCH_DISK=folder"
    DISK_MOUNT="$WORK/disk"
fi

declare -A ROOT=([disk]="$WORK/disk" [tmpfs]="$TMPFS_ROOT")
for fs in disk tmpfs; do
    # A list line ends its path at " -->" and the command line its list path at " -".
    [[ ${ROOT[$fs]} != *" -"* && ${ROOT[$fs]} != *[$'\r\n']* ]] ||
        die "the work folder '${ROOT[$fs]}' contains ' -' or a line break; choose another BENCH_DIR"
    mkdir -p "${ROOT[$fs]}"/{bin,lists,data,dest,trash,stage}
    # A private copy of the binary: Mivex writes its day log beside itself, so the log lands on the
    # filesystem under test and goes away with the work folder.
    cp -- "$MIVEX_SRC" "${ROOT[$fs]}/bin/mivex"
done
TOOL_OUTPUT="${ROOT[tmpfs]}/tool.out"   # on the tmpfs: a sync after a run has nothing to write for it
RAW="$WORK/times.csv"       # fs,dataset,tool,round,return_us,sync_us,cpu_us,cold (round <= 0: warm-up; cold 1: cache dropped)
FILE_COUNTS="$WORK/files.csv"  # fs,dataset,regular files a run copies
LOADS="$WORK/loads.csv"     # dataset,fs (- for one run over both),1-minute load before it
BLOCKS="$WORK/blocks.csv"   # fs,dataset,tool,round,KiB
MEMORY="$WORK/memory.csv"   # tool,round,peak_rss_KiB,seconds
WINDOW="$WORK/window.csv"   # measure,round,ms
NOTES="$WORK/notes.txt"     # peers whose results differ from the source in metadata only
WINDOW_LINES="$WORK/window.txt"  # what mivex_gesturebench printed, round by round
: >"$RAW"
: >"$LOADS"
: >"$BLOCKS"
: >"$MEMORY"
: >"$WINDOW"
: >"$NOTES"
: >"$WINDOW_LINES"
: >"$FILE_COUNTS"

# Before every run on the disk the page cache is dropped (after the sync that precedes every
# run), so that the run reads its source from the disk and finds none of the disk's folders or
# inodes in memory. On the tmpfs the data lives in the page cache: there the sync alone.
# Writing to drop_caches needs root; without it the suite says so once and goes on.
CACHE_POLICY="dropped before every disk run (after the sync); tmpfs runs: sync only"
if [[ $DROP_CACHES == 0 ]]; then
    CACHE_POLICY="not dropped (BENCH_DROP_CACHES=0): a disk run may read its source from memory"
elif [[ ,$FSES, != *,disk,* ]]; then
    DROP_CACHES=0
    CACHE_POLICY="not dropped: no dataset on the disk (BENCH_FS); sync only"
elif ! (echo 3 >"$DROP_CACHES_FILE") 2>/dev/null; then
    DROP_CACHES=0
    if ((EUID != 0)); then
        CACHE_POLICY="not dropped: not root; a disk run may read its source from memory"
    else
        CACHE_POLICY="not dropped: cannot write to $DROP_CACHES_FILE; a disk run may read its source from memory"
    fi
    note "page cache $CACHE_POLICY"
fi

# ---------------------------------------------------------------- tools

LIST=
# Sets CMD to the command that puts SOURCE into the existing folder DEST (or moves it there).
set_cmd() { # FS TOOL SOURCE DEST
    local fs=$1 tool=$2 src=$3 dest=$4
    case $tool in
        mivex | mivex_fresh | mivex_o) mivex_cmd "$fs" C-O "$src" "$dest" ;;
        mivex_n) mivex_cmd "$fs" C-N "$src" "$dest" ;;
        mivex_mo) mivex_cmd "$fs" M-O "$src" "$dest" ;;
        mivex_u) mivex_cmd "$fs" C-U "$src" "$dest" ;;
        mivex_verify) mivex_cmd "$fs" C-O "$src" "$dest" && CMD+=(--verify) ;;
        cp | cp_full) CMD=(cp -a -- "$src" "$dest/") ;;
        rsync) CMD=(rsync -a -- "$src" "$dest/") ;;
        cp_diff) CMD=(cp_diff "$src" "$dest") ;;
        cp_cmp) CMD=(cp_cmp "$src" "$dest") ;;
        rsync_S) CMD=(rsync -a -S -- "$src" "$dest/") ;;
        rsync_I_full) CMD=(rsync -a -I -- "$src" "$dest/") ;;
        rsync_HAX) CMD=(rsync -aHAX -- "$src" "$dest/") ;;
        rsync_H) CMD=(rsync -aH -- "$src" "$dest/") ;;
        tar) CMD=(tar_pipe "" "${src%/*}" "${src##*/}" "$dest") ;;
        tar_S) CMD=(tar_pipe -S "${src%/*}" "${src##*/}" "$dest") ;;
        mv) CMD=(mv -- "$src" "$dest/") ;;
        cp_sync_rm) CMD=(cp_sync_rm "$src" "$dest") ;;
        *) die "unknown tool $tool" ;;
    esac
}
# The list is written before the clock starts; Mivex reads it inside the timed run.
mivex_cmd() { # FS CODE SOURCE DEST
    LIST="${ROOT[$1]}/lists/entry.flq"
    printf '%s --> %s --> %s\r\n' "$2" "$3" "$4" >"$LIST"
    CMD=("${ROOT[$1]}/bin/mivex" "$LIST" -auto)
}
label() {
    case $1 in
        mivex) echo "mivex C-O" ;;
        mivex_fresh) echo "mivex C-O, empty dest" ;;
        mivex_o) echo "mivex C-O onto full" ;;
        mivex_n) echo "mivex C-N onto full" ;;
        mivex_mo) echo "mivex M-O" ;;
        mivex_u) echo "mivex C-U" ;;
        mivex_verify) echo "mivex C-O --verify" ;;
        cp_diff) echo "cp -a; diff -r" ;;
        cp_cmp) echo "cp; cmp" ;;
        cp) echo "cp -a" ;;
        cp_full) echo "cp -a onto full" ;;
        rsync) echo "rsync -a" ;;
        rsync_S) echo "rsync -aS" ;;
        rsync_I_full) echo "rsync -aI onto full" ;;
        rsync_HAX) echo "rsync -aHAX" ;;
        rsync_H) echo "rsync -aH" ;;
        mivex_folder) echo "mivex, 1 folder entry" ;;
        tar) echo "tar | tar" ;;
        tar_S) echo "tar -S | tar" ;;
        mv) echo "mv" ;;
        cp_sync_rm) echo "cp -a;sync;rm -r" ;;
        *) echo "$1" ;;
    esac
}
round_label() { if (($1 > 0)); then echo "round $1"; else echo "warm-up"; fi; }

tool_failed() { # FS DATASET TOOL ROUND
    {
        echo "run.sh: $3 exited with $RUN_STATUS on $2 ($1, $(round_label "$4")): ${CMD[*]}"
        [[ ${CMD[0]} != */bin/mivex ]] || echo "list: $(tr -d '\r' <"$LIST")"
        tail -n 20 "$TOOL_OUTPUT"
        local log
        for log in "${ROOT[$1]}"/bin/*-log.txt; do
            [[ ! -f $log || ${CMD[0]} != */bin/mivex ]] || { echo "end of $log:"; tail -n 5 "$log"; }
        done
    } >&2
    exit 1
}

# Runs CMD once, timed, and records both times and the CPU time it took. On the disk the page
# cache is dropped first (see CACHE_POLICY).
run_and_record() { # FS DATASET TOOL ROUND
    local cold=0
    DROP_CACHES_INTO=
    if [[ $1 == disk && $DROP_CACHES == 1 ]]; then
        DROP_CACHES_INTO=$DROP_CACHES_FILE
        cold=1
    fi
    timed_run "${CMD[@]}"
    ((RUN_STATUS == 0)) || tool_failed "$@"
    echo "$1,$2,$3,$4,$RUN_RET_US,$RUN_SYNC_US,$RUN_CPU_US,$cold" >>"$RAW"
    printf '   %-4s %-10s %-13s %-8s %8d ms  with sync %8d ms  cpu %8d ms (%s)\n' "$2" "$1" "$3" \
        "$(round_label "$4")" $((RUN_RET_US / 1000)) $((RUN_SYNC_US / 1000)) $((RUN_CPU_US / 1000)) \
        "$(efficiency "$RUN_CPU_US" "$RUN_RET_US")" >&2
}

# One value of every timed round of TOOL on DATASET and FS, a line each (FIELD of RAW: 5 return
# time, 6 with sync, 7 CPU time).
times_of() { # FS DATASET TOOL FIELD
    awk -F, -v f="$1" -v d="$2" -v t="$3" -v c="$4" '$1 == f && $2 == d && $3 == t && $4 > 0 { print $c }' "$RAW"
}

# Whether round ROUND of DATASET on FS is to run: the warm-up and the first ROUNDS timed rounds
# always; after them more, up to MAX_ROUNDS, as long as the return times of any of TOOLS spread
# wider than SPREAD ((max - min) / median over the middle half of the timed rounds so far).
need_round() { # FS DATASET ROUND TOOL...
    local fs=$1 ds=$2 round=$3 tool
    shift 3
    ((round > ROUNDS)) || return 0
    ((round <= MAX_ROUNDS)) || return 1
    for tool; do
        if times_of "$fs" "$ds" "$tool" 5 | wide_spread "$SPREAD"; then
            note "$ds on $fs: the times of $tool spread wider than $SPREAD; round $round"
            return 0
        fi
    done
    return 1
}

# The number of regular files one run of DATASET on FS copies, for the CPU time per file.
record_files() { echo "$1,$2,$3" >>"$FILE_COUNTS"; } # FS DATASET COUNT

# A result whose content differs from what it should be is a failure of the suite, not a number;
# so is Mivex's result with other metadata. A peer's differing metadata (tar keeps whole seconds;
# rsync -a leaves a folder's new mtime when it falls in the same second as the source's) is noted
# once per tool in the report.
check_result() { # FS DATASET TOOL REFERENCE RESULT
    local out status=0
    out=$(same_tree "$4" "$5") || status=$?
    if ((status == 1)) || { ((status == 2)) && [[ $3 == mivex* ]]; }; then
        die "$3 on $2 ($1): '$5' does not match '$4': $out"
    elif ((status == 2)) && ! grep -q "^$3 " "$NOTES"; then
        printf '%s on %s (%s): %s\n' "$3" "$2" "$1" "$(echo "$out" | tr '\n' ' ')" >>"$NOTES"
    elif ((status != 0 && status != 2)); then
        die "checking $3 on $2 ($1) failed: $out"
    fi
}

# What the metadata listing does not see: hard links, ACLs and extended attributes, compared with
# the copy cp -a made (rsync -naiHAX lists what it would change). Mivex may differ in nothing.
check_like_cp() { # FS DATASET TOOL CP_COPY RESULT
    local out
    out=$(rsync -naiHAX --delete -- "$4/" "$5/" 2>&1) || die "rsync -naiHAX failed on $3's result on $2 ($1): $out"
    [[ -n $out ]] || return 0
    out=$(head -n 4 <<<"$out" | tr '\n' ' ')
    if [[ $3 == mivex* ]]; then
        die "$3 on $2 ($1): links or attributes differ from cp -a's copy (rsync -naiHAX): $out"
    elif ! grep -q "^$3 " "$NOTES"; then
        printf '%s on %s (%s): differs from cp -a under rsync -naiHAX: %s\n' "$3" "$2" "$1" "$out" >>"$NOTES"
    fi
}

# How a used destination goes. On ext4 without a journal a new inode is not taken from those freed
# in the last minute or more, and the allocator checks each such inode it passes: deleting 20,000
# files between runs made every following small-file run slower, whichever tool ran. So on the
# disk small-file copies go to the trash, which is emptied at the end; big files go at once.
drop_dest() { # FS DEST small|big
    if [[ $1 == disk && $3 == small ]]; then
        mv -- "$2" "${ROOT[disk]}/trash/"
    else
        rm -rf -- "$2"
    fi
}
new_dest() { mktemp -d "${ROOT[$1]}/dest/XXXXXX"; }

# ---------------------------------------------------------------- data

# The small-file tree of a filesystem, made once and kept for D2, D5, D6 and D6b.
small_tree() { echo "${ROOT[$1]}/data/small/tree"; }
ensure_small_tree() { # FS
    local tree
    tree=$(small_tree "$1")
    [[ ! -d $tree ]] || return 0
    note "making $SMALL_FILES files of $SMALL_KB KiB in $SMALL_FOLDERS folders on $1"
    mkdir -p "${tree%/*}"
    make_tree "$tree" "$SMALL_FILES" "$SMALL_FOLDERS" "$SMALL_KB"
    local count
    count=$(find "$tree" -type f | wc -l)
    ((count == SMALL_FILES)) || die "made $count small files, expected $SMALL_FILES"
}

# ---------------------------------------------------------------- datasets

# Copies SOURCE into a fresh folder with each tool in turn; checks every copy.
bench_copy() { # FS DATASET SOURCE small|big TOOL...
    local fs=$1 ds=$2 src=$3 drop=$4 round tool dest kib
    shift 4
    note "$ds on $fs"
    record_files "$fs" "$ds" "$(find "$src" -type f | wc -l)"
    for ((round = 1 - WARMUP; ; round++)); do
        need_round "$fs" "$ds" "$round" "$@" || break
        for tool in $(rotate "$((round + WARMUP - 1))" "$@"); do
            dest=$(new_dest "$fs")
            set_cmd "$fs" "$tool" "$src" "$dest"
            run_and_record "$fs" "$ds" "$tool" "$round"
            check_result "$fs" "$ds" "$tool" "$src" "$dest/${src##*/}"
            if [[ $ds == D8 || $ds == D10 ]]; then
                check_like_cp "$fs" "$ds" "$tool" "$META_REF/${src##*/}" "$dest/${src##*/}"
            fi
            if [[ $ds == D4 ]]; then
                kib=$(allocated_kib "$dest/${src##*/}")
                echo "$fs,$ds,$tool,$round,$kib" >>"$BLOCKS"
            fi
            drop_dest "$fs" "$dest" "$drop"
        done
    done
}

d1() { # FS
    local src="${ROOT[$1]}/data/big.bin"
    note "making a $BIG_MB MiB random file on $1"
    head -c "$((BIG_MB * 1024 * 1024))" /dev/urandom >"$src"
    bench_copy "$1" D1 "$src" big mivex cp rsync tar
    rm -f -- "$src"
}

d2() { # FS
    ensure_small_tree "$1"
    bench_copy "$1" D2 "$(small_tree "$1")" small mivex cp rsync tar
}

d3() { # FS
    local src="${ROOT[$1]}/data/${TREE_SRC##*/}"
    note "copying $TREE_SRC onto $1"
    cp -a -- "$TREE_SRC" "${ROOT[$1]}/data/"
    bench_copy "$1" D3 "$src" small mivex cp rsync tar
    drop_dest "$1" "$src" small
}

# A tree of hard links, extended attributes and ACLs (and capabilities as root). cp -a's copy of
# it, made once untimed, is what every result must equal under rsync -naiHAX.
META_REF=
d8() { # FS
    local home="${ROOT[$1]}/data/meta"
    note "making $META_FILES files of $SMALL_KB KiB with hard links, attributes and ACLs on $1"
    mkdir -p "$home/ref"
    make_meta_tree "$home/tree" "$META_FILES" "$META_FOLDERS" "$SMALL_KB" $((EUID == 0 ? 1 : 0))
    cp -a -- "$home/tree" "$home/ref/"
    META_REF="$home/ref"
    bench_copy "$1" D8 "$home/tree" small mivex cp rsync_HAX
    drop_dest "$1" "$home" small
}

# Real data: REAL_SRC (/usr/share unless BENCH_REAL says otherwise) copied once onto the
# filesystem, untimed, then copied by each tool. Copies go at once: they are large.
d9() { # FS
    local src="${ROOT[$1]}/data/real/${REAL_SRC##*/}"
    note "copying $REAL_SRC ($REAL_ENTRIES entries) onto $1"
    mkdir -p "${src%/*}"
    cp -a -- "$REAL_SRC" "${src%/*}/"
    bench_copy "$1" D9 "$src" big mivex cp
    rm -rf -- "${src%/*}"
}

# A tree in which every file has a second name: LINK_FILES files in folders of 100, and links/
# holding another name of each. A copy that keeps hard links writes each inode once.
d10() { # FS
    local home="${ROOT[$1]}/data/links"
    note "making $LINK_FILES files of $SMALL_KB KiB, each with a second name, on $1"
    mkdir -p "$home/ref"
    make_tree "$home/tree" "$LINK_FILES" $(((LINK_FILES + 99) / 100)) "$SMALL_KB"
    mkdir "$home/tree/links"
    cp -al -- "$home/tree"/g* "$home/tree/links/"
    cp -a -- "$home/tree" "$home/ref/"
    META_REF="$home/ref"
    bench_copy "$1" D10 "$home/tree" small mivex cp rsync_H
    drop_dest "$1" "$home" small
}

# A list of LIST_FILES entries of one file each against one entry of the folder that holds them,
# both Mivex: what an entry costs beyond its file. Each list is written before the clock starts.
d11() { # FS
    local fs=$1 home="${ROOT[$1]}/data/list" list="${ROOT[$1]}/lists/many.flq" round tool dest
    note "making $LIST_FILES files of $SMALL_KB KiB in one folder on $fs"
    mkdir -p "$home/files"
    head -c $((LIST_FILES * SMALL_KB * 1024)) /dev/urandom |
        split -b $((SMALL_KB * 1024)) -d -a ${#LIST_FILES} - "$home/files/f"
    (cd "$home/files" && find . -type f -printf '%P\n' | sort) >"$home/names"
    record_files "$fs" D11 "$LIST_FILES"
    for ((round = 1 - WARMUP; ; round++)); do
        need_round "$fs" D11 "$round" mivex_entries mivex_folder || break
        for tool in $(rotate "$((round + WARMUP - 1))" mivex_entries mivex_folder); do
            dest=$(new_dest "$fs")
            if [[ $tool == mivex_entries ]]; then
                awk -v s="$home/files" -v d="$dest" '{ printf "C-O --> %s/%s --> %s\r\n", s, $0, d }' "$home/names" >"$list"
                CMD=("${ROOT[$fs]}/bin/mivex" "$list" -auto)
                LIST=$list
                run_and_record "$fs" D11 "$tool" "$round"
                # The folder itself was made by the suite: give it the source's mode and times.
                chmod --reference="$home/files" -- "$dest"
                touch -r "$home/files" -- "$dest"
                check_result "$fs" D11 "$tool" "$home/files" "$dest"
            else
                set_cmd "$fs" mivex "$home/files" "$dest"
                run_and_record "$fs" D11 "$tool" "$round"
                check_result "$fs" D11 "$tool" "$home/files" "$dest/files"
            fi
            drop_dest "$fs" "$dest" small
        done
    done
    drop_dest "$fs" "$home" small
}

# KEEPBOTH_ROWS identical keep-both rows of one 4 KiB file into one folder: the n-th copy is
# "one - Copy (n).bin". One list per round, no warm-up.
d12() { # FS
    local fs=$1 src="${ROOT[$1]}/data/one-kb.bin" list="${ROOT[$1]}/lists/keepboth.flq" round dest count last
    head -c 4096 /dev/urandom >"$src"
    note "D12: $KEEPBOTH_ROWS keep-both rows on $fs"
    record_files "$fs" D12 "$KEEPBOTH_ROWS"
    for ((round = 1; round <= ROUNDS; round++)); do
        dest=$(new_dest "$fs")
        awk -v line="C-N --> $src --> $dest" -v n="$KEEPBOTH_ROWS" 'BEGIN { for (i = 0; i < n; i++) printf "%s\r\n", line }' >"$list"
        CMD=("${ROOT[$fs]}/bin/mivex" "$list" -auto)
        LIST=$list
        run_and_record "$fs" D12 mivex_kb "$round"
        count=$(find "$dest" -type f | wc -l)
        ((count == KEEPBOTH_ROWS)) || die "D12 ($fs): $count files, expected $KEEPBOTH_ROWS"
        last="$dest/one-kb - Copy ($((KEEPBOTH_ROWS - 1))).bin"
        ((KEEPBOTH_ROWS > 2)) || last="$dest/one-kb.bin"
        cmp -s -- "$src" "$last" || die "D12 ($fs): '$last' is missing or differs"
        drop_dest "$fs" "$dest" small
    done
    rm -f -- "$src"
}

# Runs CMD after a sync under GNU time and sets the caller's rss (peak, KiB) and secs; a failed run
# stops the suite. Called directly, not in a subshell, so that a failure does stop it.
peak_rss() { # FS DATASET TOOL ROUND
    local status=0
    sync
    /usr/bin/time -f '%M %e' -o "$WORK/time.out" "${CMD[@]}" >"$TOOL_OUTPUT" 2>&1 || status=$?
    RUN_STATUS=$status
    ((status == 0)) || tool_failed "$@"
    read -r rss secs < <(tail -n 1 "$WORK/time.out")
    [[ $rss =~ ^[0-9]+$ ]] || die "could not read the peak RSS from GNU time: $(cat "$WORK/time.out")"
}

# Peak resident memory of a move from the tmpfs to the disk, for each size in MOVE_SIZES (files
# of 1 KiB, MOVE_FOLDERS_PER to a folder), against mv. The source is made again before each run.
movemem() {
    local n ref stage="${ROOT[tmpfs]}/stage" tool dest rss secs
    for n in ${MOVE_SIZES//,/ }; do
        ref="${ROOT[tmpfs]}/data/movemem/tree"
        note "MOVEMEM: making $n files of 1 KiB on tmpfs"
        make_tree "$ref" "$n" $(((n + MOVE_FOLDERS_PER - 1) / MOVE_FOLDERS_PER)) 1
        for tool in mivex_mo mv; do
            cp -a -- "$ref" "$stage/"
            dest=$(new_dest disk)
            set_cmd disk "$tool" "$stage/tree" "$dest"
            peak_rss tmpfs+disk MOVEMEM "$tool" 1
            echo "$tool@$n,1,$rss,$secs" >>"$MEMORY"
            printf '   MOVEMEM %-9s %-8s peak RSS %6d KiB, %s s\n' "$n" "$tool" "$rss" "$secs" >&2
            [[ ! -e $stage/tree ]] || die "$tool on MOVEMEM: the source is still there after the move"
            check_result tmpfs+disk MOVEMEM "$tool" "$ref" "$dest/tree"
            rm -rf -- "$dest"
        done
        rm -rf -- "${ref%/*}"
    done
}

# The peers get their sparse options here: rsync -S, and -S on tar's create side.
d4() { # FS
    local src="${ROOT[$1]}/data/sparse.bin" kib
    note "making a $SPARSE_MB MiB sparse file holding $SPARSE_DATA_KB KiB on $1"
    make_sparse "$src" "$SPARSE_MB" "$SPARSE_DATA_KB"
    kib=$(allocated_kib "$src")
    ((kib < SPARSE_DATA_KB * 2)) || die "the sparse source takes $kib KiB; does $1 keep holes?"
    echo "$1,D4,source,0,$kib" >>"$BLOCKS"
    bench_copy "$1" D4 "$src" big mivex cp rsync_S tar_S
    rm -f -- "$src"
}

# The small tree again, onto a destination already holding all of it (made untimed with cp -a),
# against Mivex's copy into an empty folder in the same rounds.
d5() { # FS
    local fs=$1 src round tool dest count want tools=(mivex_fresh mivex_o mivex_n cp_full rsync_I_full)
    ensure_small_tree "$fs"
    src=$(small_tree "$fs")
    note "D5 on $fs"
    record_files "$fs" D5 "$SMALL_FILES"
    for ((round = 1 - WARMUP; ; round++)); do
        need_round "$fs" D5 "$round" "${tools[@]}" || break
        for tool in $(rotate "$((round + WARMUP - 1))" "${tools[@]}"); do
            dest=$(new_dest "$fs")
            [[ $tool == mivex_fresh ]] || cp -a -- "$src" "$dest/"
            set_cmd "$fs" "$tool" "$src" "$dest"
            run_and_record "$fs" D5 "$tool" "$round"
            check_result "$fs" D5 "$tool" "$src" "$dest/tree"
            if [[ $tool == mivex_n ]]; then
                check_result "$fs" D5 "$tool" "$src" "$dest/tree - Copy"
            fi
            count=$(find "$dest" -mindepth 1 -maxdepth 1 | wc -l)
            want=1
            [[ $tool != mivex_n ]] || want=2
            ((count == want)) || die "$tool on D5 ($fs): the destination holds $count items, expected $want"
            drop_dest "$fs" "$dest" small
        done
    done
}

# A copy of the small tree moved into a fresh folder on the same filesystem, checked against the
# tree it was copied from, and moved back (a rename) for the next run.
d6() { # FS
    local fs=$1 ref home round tool dest
    ensure_small_tree "$fs"
    ref=$(small_tree "$fs")
    home="${ROOT[$fs]}/data/move"
    mkdir -p "$home"
    cp -a -- "$ref" "$home/"
    note "D6 on $fs"
    for ((round = 1 - WARMUP; ; round++)); do
        need_round "$fs" D6 "$round" mivex_mo mv || break
        for tool in $(rotate "$((round + WARMUP - 1))" mivex_mo mv); do
            dest=$(new_dest "$fs")
            set_cmd "$fs" "$tool" "$home/tree" "$dest"
            run_and_record "$fs" D6 "$tool" "$round"
            [[ ! -e $home/tree ]] || die "$tool on D6 ($fs): the source is still there after the move"
            check_result "$fs" D6 "$tool" "$ref" "$dest/tree"
            mv -- "$dest/tree" "$home/"
            rmdir -- "$dest"
        done
    done
    drop_dest "$fs" "$home" small
}

# The small tree moved from the tmpfs to the disk; the source is made again (untimed) each run.
d6b() {
    local ref stage="${ROOT[tmpfs]}/stage" round tool dest
    ensure_small_tree tmpfs
    ref=$(small_tree tmpfs)
    note "D6b, tmpfs to disk"
    record_files tmpfs+disk D6b "$SMALL_FILES"
    for ((round = 1 - WARMUP; ; round++)); do
        need_round tmpfs+disk D6b "$round" mivex_mo cp_sync_rm mv || break
        for tool in $(rotate "$((round + WARMUP - 1))" mivex_mo cp_sync_rm mv); do
            cp -a -- "$ref" "$stage/"
            dest=$(new_dest disk)
            set_cmd disk "$tool" "$stage/tree" "$dest"
            run_and_record tmpfs+disk D6b "$tool" "$round"
            [[ ! -e $stage/tree ]] || die "$tool on D6b: the source is still there after the move"
            check_result tmpfs+disk D6b "$tool" "$ref" "$dest/tree"
            drop_dest disk "$dest" small
        done
    done
}

# A copy the user can trust: D2's tree copied with --verify, against the user's own way to check a
# copy, cp -a followed by diff -r (which reads both trees, the copy from the page cache).
d14() { # FS
    ensure_small_tree "$1"
    bench_copy "$1" D14 "$(small_tree "$1")" small mivex_verify cp_diff
}

# One big random file copied with --verify, against cp followed by cmp (which reads the copy from
# the page cache). On the disk the cache is dropped before each run, so the source comes from the
# disk. The file goes right after the dataset.
d15() { # FS
    local src="${ROOT[$1]}/data/verify.bin"
    note "making a $VERIFY_MB MiB random file on $1"
    head -c "$((VERIFY_MB * 1024 * 1024))" /dev/urandom >"$src"
    bench_copy "$1" D15 "$src" big mivex_verify cp_cmp
    rm -f -- "$src"
}

# Reruns, as a list run every night meets them: D2's tree (D13) and a folder of RERUN_MB MiB in
# RERUN_FILES random files (D13b), each copied again onto a copy of it already made (untimed, cp -a):
# "C-U" against rsync -a's rerun, each onto a copy of its own. Then one file of the source changes,
# and "C-U" must replace that one file and leave every other as it was (same inode and ctime).
d13() { # FS
    local fs=$1 big="${ROOT[$1]}/data/rerun/big" src ds round tool changed before after i
    local -A copy=()
    ensure_small_tree "$fs"
    if [[ ! -d $big ]]; then
        note "making $RERUN_FILES random files of $((RERUN_MB / RERUN_FILES)) MiB on $fs"
        mkdir -p "$big"
        for ((i = 0; i < RERUN_FILES; i++)); do
            head -c "$((RERUN_MB / RERUN_FILES * 1048576))" /dev/urandom >"$big/part$i.bin"
        done
    fi
    for src in "$(small_tree "$fs")" "$big"; do
        ds=D13
        [[ $src != "$big" ]] || ds=D13b
        note "$ds on $fs"
        for tool in mivex_u rsync; do
            copy[$tool]=$(new_dest "$fs")
            cp -a -- "$src" "${copy[$tool]}/"
        done
        for ((round = 1 - WARMUP; ; round++)); do
            need_round "$fs" "$ds" "$round" mivex_u rsync || break
            for tool in $(rotate "$((round + WARMUP - 1))" mivex_u rsync); do
                set_cmd "$fs" "$tool" "$src" "${copy[$tool]}"
                run_and_record "$fs" "$ds" "$tool" "$round"
                check_result "$fs" "$ds" "$tool" "$src" "${copy[$tool]}/${src##*/}"
            done
        done
        before=$(find "${copy[mivex_u]}" -type f -printf '%P %i %C@\n' | sort)
        changed=$(find "$src" -type f | sort | sed -n 1p)
        printf x >>"$changed"
        set_cmd "$fs" mivex_u "$src" "${copy[mivex_u]}"
        timed_run "${CMD[@]}"
        ((RUN_STATUS == 0)) || tool_failed "$fs" "$ds" mivex_u 0
        check_result "$fs" "$ds" mivex_u "$src" "${copy[mivex_u]}/${src##*/}"
        after=$(find "${copy[mivex_u]}" -type f -printf '%P %i %C@\n' | sort)
        changed=${src##*/}/${changed#"$src"/}
        [[ $(comm -3 <(echo "$before") <(echo "$after") | cut -d' ' -f1 | tr -d '\t' | sort -u) == "$changed" ]] ||
            die "C-U on $ds ($fs) after one file changed: not that one file alone was replaced: $(comm -3 <(echo "$before") <(echo "$after") | head -n 4 | tr '\n' ' ')"
        truncate -s -1 -- "${src%/*}/$changed"  # the bytes as they were, for the datasets after it
        drop_dest "$fs" "${copy[mivex_u]}" small
        drop_dest "$fs" "${copy[rsync]}" small
    done
    rm -rf -- "${big%/*}"
}

# Start-up and exit: one list entry of one small file, many times.
d7() {
    local src="${ROOT[tmpfs]}/data/one.bin" run tool dest
    head -c 4096 /dev/urandom >"$src"
    note "D7: $STARTUP_RUNS runs of each tool on tmpfs"
    for ((run = 1 - WARMUP; run <= STARTUP_RUNS; run++)); do
        for tool in $(rotate "$((run + WARMUP - 1))" mivex cp); do
            dest=$(new_dest tmpfs)
            set_cmd tmpfs "$tool" "$src" "$dest"
            run_and_record tmpfs D7 "$tool" "$run"
            check_result tmpfs D7 "$tool" "$src" "$dest/one.bin"
            rm -rf -- "$dest"
        done
    done
    rm -f -- "$src"
}

# Peak resident memory (GNU time's %M, KiB) while copying a large tree.
mem() {
    local src="${ROOT[tmpfs]}/data/mem/tree" round tool dest rss secs
    note "MEM: making $MEM_FILES files of $MEM_KB KiB in $MEM_FOLDERS folders on tmpfs"
    make_tree "$src" "$MEM_FILES" "$MEM_FOLDERS" "$MEM_KB"
    for ((round = 1; round <= MEM_ROUNDS; round++)); do
        for tool in $(rotate "$((round - 1))" mivex cp); do
            dest=$(new_dest tmpfs)
            set_cmd tmpfs "$tool" "$src" "$dest"
            peak_rss tmpfs MEM "$tool" "$round"
            echo "$tool,$round,$rss,$secs" >>"$MEMORY"
            printf '   MEM  tmpfs      %-13s round %-2d peak RSS %6d KiB, %s s\n' "$tool" "$round" "$rss" "$secs" >&2
            check_result tmpfs MEM "$tool" "$src" "$dest/tree"
            rm -rf -- "$dest"
        done
    done
    rm -rf -- "${src%/*}"
}

# The window at its limits, offscreen (bench/gesturebench.cpp), in a folder on the tmpfs. Each list
# load it prints (say of 32,766 lines into an empty window and of the saved 32,767) is a measure.
LIST_SAVE_LINES=32,767
win() {
    local dir="${ROOT[tmpfs]}/gesturebench" env_dir="${ROOT[tmpfs]}/xdg" round out line drop load admit save
    mkdir -m 0700 "$env_dir"
    note "WIN: $GESTUREBENCH"
    for ((round = 1 - WARMUP; round <= ROUNDS; round++)); do
        out=$(XDG_RUNTIME_DIR=$env_dir QT_QPA_PLATFORM=offscreen "$GESTUREBENCH" "$dir" "$DROP_FILES" 2>"$TOOL_OUTPUT") ||
            die "mivex_gesturebench failed: $(tail -n 5 "$TOOL_OUTPUT")"
        drop=0 load=0 admit=0 save=0
        while IFS= read -r line; do
            if [[ $line =~ ^drop\ of\ ([0-9]+)\ files:\ ([0-9.]+)\ ms,\ queue\ holds\ ([0-9]+)\ entries(.*)$ ]]; then
                [[ ${BASH_REMATCH[1]} == "$DROP_FILES" && ${BASH_REMATCH[3]} == "$DROP_FILES" && ${BASH_REMATCH[4]} == " in drop order" ]] ||
                    die "mivex_gesturebench: the drop went wrong: $line"
                echo "drop,$round,${BASH_REMATCH[2]}" >>"$WINDOW"
                drop=$((drop + 1))
            elif [[ $line =~ ^loading\ a\ list\ of\ ([0-9,]+)\ lines:\ ([0-9.]+)\ ms(\ \(queue\ now\ [0-9]+\))?$ ]]; then
                echo "load-${BASH_REMATCH[1]//,/},$round,${BASH_REMATCH[2]}" >>"$WINDOW"
                load=$((load + 1))
            elif [[ $line =~ ^one\ admission\ to\ a\ queue\ of\ ([0-9,]+):\ ([0-9.]+)\ ms\ \(queue\ now\ ([0-9]+)\)$ ]]; then
                [[ ${BASH_REMATCH[1]//,/} -eq $((BASH_REMATCH[3] - 1)) ]] ||
                    die "mivex_gesturebench: the admission was refused: $line"
                echo "admit,$round,${BASH_REMATCH[2]}" >>"$WINDOW"
                admit=$((admit + 1))
            elif [[ $line =~ ^saving\ the\ list\ of\ ([0-9,]+)\ lines:\ ([0-9.]+)\ ms$ ]]; then
                LIST_SAVE_LINES=${BASH_REMATCH[1]}
                echo "save,$round,${BASH_REMATCH[2]}" >>"$WINDOW"
                save=$((save + 1))
            fi
        done <<<"$out"
        ((drop == 1 && load >= 1 && admit == 1 && save == 1)) ||
            die "mivex_gesturebench did not print each measure once: $out"
        while IFS= read -r line; do echo "$round: $line"; done <<<"$out" >>"$WINDOW_LINES"
        printf '   WIN  %-10s %s\n' "$(round_label "$round")" "$(echo "$out" | tr '\n' ';')" >&2
    done
    rm -rf -- "$dir"
}

# ---------------------------------------------------------------- the runs

# Big files first, then the small-file sets; on the disk the moves within the filesystem (renames,
# no new inodes) and the move from the tmpfs come before D5, whose overwrites free inodes.
# (A function called on the right of || or && runs with errexit off, so these are plain ifs.)
SPENT=()   # seconds each dataset took, checks and data included
for ds in D1 D15 D4 D3 D9 D2 D14 D8 D10 D11 D12 D6 D6b MOVEMEM D5 D13 D7 MEM WIN; do
    selected "$ds" || continue
    case $ds in
        D6b | D7 | MEM | MOVEMEM | WIN) places=(-) ;;
        *) places=("${FS_LIST[@]}") ;;
    esac
    for fs in "${places[@]}"; do
        # Other work on the machine takes the cores that a copy's threads would run on: the load
        # is taken before each dataset, and one above MAX_LOAD keeps the numbers out of RESULTS.
        # The suite's own last dataset stays in the 1-minute load for a minute or two, so the
        # load is first given up to SETTLE seconds to fall below MAX_LOAD.
        load=$(cut -d' ' -f1 "$LOADAVG")
        for ((waited = 0; waited < SETTLE; waited += 5)); do
            awk -v l="$load" -v m="$MAX_LOAD" 'BEGIN { exit !(l + 0 > m + 0) }' || break
            sleep 5
            load=$(cut -d' ' -f1 "$LOADAVG")
        done
        echo "$ds,$fs,$load" >>"$LOADS"
        note "$ds$([[ $fs == - ]] || echo " on $fs"): 1-minute load $load"
        t0=$EPOCHREALTIME
        if [[ $fs == - ]]; then "${ds,,}"; else "${ds,,}" "$fs"; fi
        SPENT+=("$ds$([[ $fs == - ]] || echo "/$fs") $(((${EPOCHREALTIME/./} - ${t0/./}) / 1000000)) s")
    done
done

LOAD_END=$(cut -d' ' -f1-3 /proc/loadavg)
note "removing the data"
t0=$EPOCHREALTIME
rm -rf -- "${ROOT[disk]}/trash" "${ROOT[disk]}/data" "${ROOT[tmpfs]}/data"
sync
DROP_US=$((${EPOCHREALTIME/./} - ${t0/./}))

# ---------------------------------------------------------------- report

med_time() { times_of "$@" | median; } # FS DATASET TOOL FIELD(5 return, 6 with sync, 7 CPU)
# Where the return times of TOOL lay around their median: "-3/+9%" (see spread_pct).
time_spread() { times_of "$1" "$2" "$3" 5 | spread_pct; } # FS DATASET TOOL
# How many timed rounds TOOL ran on DATASET and FS.
rounds_of() { times_of "$1" "$2" "$3" 5 | wc -l; } # FS DATASET TOOL
# TOOL's median CPU time per file copied, in microseconds ("-" where a run copies one file).
cpu_per_file() { # FS DATASET TOOL
    per_file "$(med_time "$1" "$2" "$3" 7)" "$(awk -F, -v f="$1" -v d="$2" '$1 == f && $2 == d { print $3; exit }' "$FILE_COUNTS")"
}
# Mivex's median parallel efficiency (CPU time over return time) on FS DATASET.
med_efficiency() { # FS DATASET TOOL
    awk -F, -v f="$1" -v d="$2" -v t="$3" '$1 == f && $2 == d && $3 == t && $4 > 0 && $5 > 0 && $7 != "" { print $7 / $5 }' "$RAW" |
        median | awk '{ printf "%.2f", $1 }'
}
# The 1-minute load before DATASET on FS (or before its one run over both filesystems).
load_before() { # DATASET FS
    awk -F, -v d="$1" -v f="$2" '$1 == d && ($2 == f || $2 == "-") { print $3; exit }' "$LOADS"
}
med_blocks() { # FS TOOL
    awk -F, -v f="$1" -v t="$2" '$1 == f && $3 == t && $4 > 0 { print $5 }' "$BLOCKS" | median
}
max_rss() { # TOOL
    awk -F, -v t="$1" '$1 == t { print $3 }' "$MEMORY" | maximum
}
med_window() { # MEASURE -> microseconds
    awk -F, -v m="$1" '$1 == m && $2 > 0 { print $3 * 1000 }' "$WINDOW" | median
}

with_commas() { sed ':a; s/\B[0-9]\{3\}\>/,&/; ta' <<<"$1"; }

# id what fs against | return: mivex spread peer spread ratio par | CPU per file: mivex peer |
# with sync: mivex peer ratio | target return +sync rounds load
ROW_FORMAT='%-4s %-23s %-10s %-21s %9s %-9s %9s %-9s %6s %5s  %7s %7s  %9s %9s %6s  %-8s %-6s %-6s %6s %5s\n'
# shellcheck disable=SC2059  # one format for every row
emit_row() { printf "$ROW_FORMAT" "$@"; }
# A row of one measure that is not a time (blocks, memory, the window's): no spread, no CPU time,
# no sync column.
plain_row() { # ID WHAT FS AGAINST MIVEX PEER RATIO TARGET VERDICT LOAD
    emit_row "$1" "$2" "$3" "$4" "$5" - "$6" - "$7" - - - - - - "$8" "$9" - - "${10}"
}
# "---- TITLE ----" over WIDTH columns.
group_title() { # WIDTH TITLE
    local t=" $2 " dashes left
    printf -v dashes '%*s' "$1" ""
    dashes=${dashes// /-}
    left=$((($1 - ${#t}) / 2))
    printf '%s%s%s' "${dashes:0:left}" "$t" "${dashes:0:$1 - ${#t} - left}"
}

# Mivex's times against a peer's. Target: "le LIMIT" on the ratio, "lt_ms LIMIT" on Mivex's own
# time, or "-".
time_row() { # DATASET FS MIVEX_TOOL PEER_TOOL WHAT OP LIMIT
    local mr ms pr ps rr rs jr=- js=- target=- pc=-
    mr=$(med_time "$2" "$1" "$3" 5)
    [[ -n $mr ]] || return 0
    ms=$(med_time "$2" "$1" "$3" 6)
    pr=$(med_time "$2" "$1" "$4" 5)
    ps=$(med_time "$2" "$1" "$4" 6)
    rr=$(ratio "$mr" "$pr")
    rs=$(ratio "$ms" "$ps")
    case $6 in
        le) jr=$(judge "$rr" le "$7") js=$(judge "$rs" le "$7") target="<=$7" ;;
        lt_ms) jr=$(judge "$mr" lt "$(($7 * 1000))") js=$(judge "$ms" lt "$(($7 * 1000))") target="<$7 ms" ;;
    esac
    [[ $4 == - ]] || pc=$(cpu_per_file "$2" "$1" "$4")
    emit_row "$1" "$5" "$2" "$(label "$4")" "$(fmt_us "$mr")" "$(time_spread "$2" "$1" "$3")" "$(fmt_us "$pr")" \
        "$(time_spread "$2" "$1" "$4")" "$rr" "$(med_efficiency "$2" "$1" "$3")" "$(cpu_per_file "$2" "$1" "$3")" "$pc" \
        "$(fmt_us "$ms")" "$(fmt_us "$ps")" "$rs" "$target" "$jr" "$js" "$(rounds_of "$2" "$1" "$3")" "$(load_before "$1" "$2")"
}

table() {
    local fs m p peer r target j mm mc v
    printf '%62s%s  %s  %s\n' "" "$(group_title 52 return)" "$(group_title 15 "cpu us/file")" "$(group_title 26 "with sync")"
    emit_row id what fs against mivex spread peer spread ratio par mivex peer mivex peer ratio target return "+sync" rounds load
    for fs in "${FS_LIST[@]}"; do
        time_row D1 "$fs" mivex cp "copy ${BIG_MB} MiB file" le 1.10
        time_row D1 "$fs" mivex rsync "" le 0.333
        time_row D1 "$fs" mivex tar "" - -
    done
    for fs in "${FS_LIST[@]}"; do
        if [[ $fs == tmpfs ]]; then
            time_row D2 "$fs" mivex cp "copy ${SMALL_FILES} x ${SMALL_KB} KiB" le 0.60
            time_row D2 "$fs" mivex rsync "" - -
        else
            time_row D2 "$fs" mivex cp "copy ${SMALL_FILES} x ${SMALL_KB} KiB" le 0.80
            time_row D2 "$fs" mivex rsync "" le 0.833
        fi
        time_row D2 "$fs" mivex tar "" - -
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D3 "$fs" mivex cp "copy ${TREE_SRC##*/} (${TREE_FILES:-?} files)" le 1.00
        time_row D3 "$fs" mivex rsync "" - -
        time_row D3 "$fs" mivex tar "" - -
    done
    for fs in "${FS_LIST[@]}"; do
        if [[ $fs == disk ]]; then
            time_row D9 "$fs" mivex cp "copy ${REAL_SRC##*/} (${REAL_ENTRIES:-?})" le 0.70
        else
            time_row D9 "$fs" mivex cp "copy ${REAL_SRC##*/} (${REAL_ENTRIES:-?})" - -
        fi
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D10 "$fs" mivex cp "$LINK_FILES files x 2 names" le 0.70
        time_row D10 "$fs" mivex rsync_H "" - -
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D11 "$fs" mivex_entries mivex_folder "$LIST_FILES 1-file entries" le 1.50
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D13 "$fs" mivex_u rsync "rerun ${SMALL_FILES} x ${SMALL_KB} KiB" le 1.00
        time_row D13b "$fs" mivex_u rsync "rerun ${RERUN_MB} MiB folder" le 1.00
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D14 "$fs" mivex_verify cp_diff "verify ${SMALL_FILES} x ${SMALL_KB} KiB" le 0.70
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D15 "$fs" mivex_verify cp_cmp "verify ${VERIFY_MB} MiB file" le 1.10
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D12 "$fs" mivex_kb - "$KEEPBOTH_ROWS keep-both rows" lt_ms 30000
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D8 "$fs" mivex cp "copy ${META_FILES}, links+ACLs" - -
        time_row D8 "$fs" mivex rsync_HAX "" - -
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D4 "$fs" mivex cp "copy ${SPARSE_MB} MiB sparse" le 1.10
        time_row D4 "$fs" mivex rsync_S "" - -
        time_row D4 "$fs" mivex tar_S "" - -
        m=$(med_blocks "$fs" mivex)
        [[ -n $m ]] || continue
        for peer in cp rsync_S tar_S; do
            p=$(med_blocks "$fs" "$peer")
            r=$(ratio "$m" "$p")
            target=- j=-
            [[ $peer != cp ]] || { target="<=1.00"; j=$(judge "$r" le 1.00); }
            plain_row D4 "  allocated (du)" "$fs" "$(label "$peer")" "$m KiB" "$p KiB" "$r" "$target" "$j" \
                "$(load_before D4 "$fs")"
        done
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D5 "$fs" mivex_o mivex_fresh "C-O onto full dest" le 1.30
        time_row D5 "$fs" mivex_n mivex_fresh "C-N onto full dest" le 1.30
        if [[ $fs == disk ]]; then
            time_row D5 "$fs" mivex_o cp_full "C-O onto full dest" le 1.00
            time_row D5 "$fs" mivex_o rsync_I_full "C-O onto full dest" le 0.70
        else
            time_row D5 "$fs" mivex_o cp_full "C-O onto full dest" - -
            time_row D5 "$fs" mivex_o rsync_I_full "C-O onto full dest" - -
        fi
    done
    for fs in "${FS_LIST[@]}"; do
        time_row D6 "$fs" mivex_mo mv "move, same filesystem" lt_ms 50
    done
    time_row D6b tmpfs+disk mivex_mo cp_sync_rm "move tmpfs to disk" le 1.20
    time_row D6b tmpfs+disk mivex_mo mv "" - -
    time_row D7 tmpfs mivex cp "start, copy 4 KiB, exit" lt_ms 20
    mm=$(max_rss mivex)
    if [[ -n $mm ]]; then
        mc=$(max_rss cp)
        plain_row MEM "peak RSS, $MEM_FILES files" tmpfs "cp -a" "$(awk -v k="$mm" 'BEGIN { printf "%.1f MiB", k / 1024 }')" \
            "$(awk -v k="$mc" 'BEGIN { printf "%.1f MiB", k / 1024 }')" "$(ratio "$mm" "$mc")" "<64 MiB" \
            "$(judge "$mm" lt $((64 * 1024)))" "$(load_before MEM -)"
    fi
    for n in ${MOVE_SIZES//,/ }; do
        mm=$(max_rss "mivex_mo@$n")
        [[ -n $mm ]] || continue
        mc=$(max_rss "mv@$n")
        plain_row MOVE "move peak RSS, $n" tmpfs+disk "mv" "$(awk -v k="$mm" 'BEGIN { printf "%.1f MiB", k / 1024 }')" \
            "$(awk -v k="$mc" 'BEGIN { printf "%.1f MiB", k / 1024 }')" "$(ratio "$mm" "$mc")" "<16 MiB" \
            "$(judge "$mm" lt $((16 * 1024)))" "$(load_before MOVEMEM -)"
    done
    v=$(med_window save)
    if [[ -n $v ]]; then
        local wl
        wl=$(load_before WIN -)
        while IFS= read -r m; do
            r=$(med_window "$m")
            plain_row WIN "load $(with_commas "${m#load-}")-line list" tmpfs - "$(fmt_us "$r")" - - "<500 ms" "$(judge "$r" lt 500000)" "$wl"
        done < <(cut -d, -f1 "$WINDOW" | grep '^load-' | sort -u -t- -k2n)
        plain_row WIN "save $LIST_SAVE_LINES-line list" tmpfs - "$(fmt_us "$v")" - - "<100 ms" "$(judge "$v" lt 100000)" "$wl"
        plain_row WIN "admit 1 to full queue" tmpfs - "$(fmt_us "$(med_window admit)")" - - - - "$wl"
        plain_row WIN "drop $DROP_FILES files" tmpfs - "$(fmt_us "$(med_window drop)")" - - - - "$wl"
    fi
}

legend() {
    cat <<EOF
ratio = Mivex's median / the peer's median (below 1: Mivex is faster), over $ROUNDS rounds after
$WARMUP warm-up round(s) (D7: $STARTUP_RUNS runs), and more, up to $MAX_ROUNDS, while any tool's return
times spread wider than $SPREAD ((max - min) / median of their middle half); "rounds": how many rounds Mivex ran.
"spread": the fastest and the slowest return time against the median ("-3/+9%": 3 % below it,
9 % above). "cpu us/file": the median CPU time (user + system, all threads and children) over
the regular files one run copies, in microseconds, where a run copies more than one.
Page cache: $CACHE_POLICY.
"par": Mivex's parallel efficiency, the median
over its runs of its CPU time (user + system, all threads) over its return time: up to the number
of cores its threads kept busy at once. "load": the 1-minute load average just before the dataset
(above $MAX_LOAD, other work takes the cores a copy's threads would use, and the run's numbers are
not recorded in RESULTS.md). "return": until the command returns; "with sync":
\`tool; sync\`, timed together. An untimed sync precedes every run. D5 compares Mivex onto a full
destination with Mivex into an empty one in the same rounds; D6 and D7 targets are on Mivex's
own median (D12: the whole list of keep-both rows, no warm-up, always $ROUNDS rounds); D11 compares a list of one-file
entries with one entry of their folder; peak RSS is the largest of $MEM_ROUNDS run(s) (MOVE: one
run of each tool per size, tmpfs to disk); WIN is the median of $ROUNDS runs of
mivex_gesturebench. Sparse peers: rsync -a -S and tar -S on the create side. "tar | tar" is
\`tar -C SRC -cf - NAME | tar -C DST -xpf -\`. Every result was checked with diff -r and its
metadata (type, mode, owner, mtime, link target), D8's also with rsync -naiHAX against cp -a's
copy (hard links, ACLs, extended attributes): a content mismatch, or any mismatch in Mivex's
results, stops the suite; peers whose metadata differ are listed here:
EOF
    if [[ -s $NOTES ]]; then sed 's/^/  /' "$NOTES"; else echo "  (none)"; fi
}

tool_version() { "$@" 2>&1 | head -n 1; }
details() {
    echo "# run $START_DATE, took $DURATION"
    echo "#   per dataset: $(printf '%s, ' "${SPENT[@]}")removing the data at the end $((DROP_US / 1000000)) s"
    echo "# host $(uname -n), $(nproc) CPUs: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM"
    echo "# kernel $(uname -r)"
    local dev
    if [[ -n $DISK_MOUNT ]]; then
        echo "# disk:  a fresh ext4 image in $WORK on $(findmnt -n -o SOURCE,FSTYPE,OPTIONS -T "$WORK" 2>/dev/null || fs_type "$WORK"),"
        echo "#        attached as $DISK_LOOP (direct I/O: $(cat "/sys/block/${DISK_LOOP##*/}/loop/dio" 2>/dev/null || echo '?')), mounted $(findmnt -n -o OPTIONS "$DISK_MOUNT")"
    else
        echo "# disk:  $WORK on $(findmnt -n -o SOURCE,FSTYPE,OPTIONS -T "$WORK" 2>/dev/null || fs_type "$WORK")"
    fi
    dev=$(findmnt -n -o SOURCE -T "${ROOT[disk]}" 2>/dev/null) && dev=${dev##*/} || dev=
    if [[ -n $dev && -r /proc/fs/ext4/$dev/options ]]; then
        echo "#        ext4 $(compgen -G "/proc/fs/jbd2/$dev-*" >/dev/null && echo "with a journal" || echo "without a journal"), options: $(tr '\n' ' ' <"/proc/fs/ext4/$dev/options")"
    fi
    echo "# tmpfs: $TMPFS_ROOT on $(findmnt -n -o SOURCE,FSTYPE,OPTIONS -T "$TMPFS_ROOT" 2>/dev/null || echo tmpfs)"
    echo "# tools: $(tool_version cp --version); $(tool_version rsync --version); $(tool_version tar --version); $(tool_version diff --version); bash $BASH_VERSION"
    echo "# load average at start $LOAD_START, at end $LOAD_END"
    echo "# binary $MIVEX_SRC ($(stat -c '%s bytes, modified %y' "$MIVEX_SRC"), sha256 $(sha256sum "$MIVEX_SRC" | cut -c1-16))"
    echo "# MIVEX_WORKERS=${MIVEX_WORKERS-(unset)}"
    local cache
    cache="$(dirname "$MIVEX_SRC")/CMakeCache.txt"
    if [[ -f $cache ]]; then
        echo "# build options: $(grep -E '^(CMAKE_BUILD_TYPE|CMAKE_CXX_COMPILER|CMAKE_CXX_FLAGS|CMAKE_CXX_FLAGS_RELEASE|MIVEX_[A-Z_]+):' "$cache" |
            sed 's/:[A-Z]*=/=/' | tr '\n' ' ')"
    else
        echo "# build options: unknown (no CMakeCache.txt beside the binary)"
    fi
    [[ -z $GESTUREBENCH ]] || echo "# mivex_gesturebench $GESTUREBENCH ($(stat -c '%y' "$GESTUREBENCH"))"
    echo "# source $(git -C "$REPO" describe --always --dirty 2>/dev/null || echo unknown)"
    echo "# datasets $ONLY on $FSES; rounds $ROUNDS, warm-up $WARMUP; D1 $BIG_MB MiB; D2/D5/D6 $SMALL_FILES x $SMALL_KB KiB in $SMALL_FOLDERS folders;"
    echo "#   D3 ${TREE_SRC:--}; D4 $SPARSE_MB MiB with $SPARSE_DATA_KB KiB of data; D7 $STARTUP_RUNS runs; MEM $MEM_FILES x $MEM_KB KiB in $MEM_FOLDERS folders, $MEM_ROUNDS round(s); WIN drop of $DROP_FILES files;"
    echo "#   D9 ${REAL_SRC:--} (${REAL_ENTRIES:-?} entries); D10 $LINK_FILES x $SMALL_KB KiB with a second name each; D11 $LIST_FILES one-file entries; D12 $KEEPBOTH_ROWS keep-both rows; MOVEMEM $MOVE_SIZES x 1 KiB, $MOVE_FOLDERS_PER a folder;"
    echo "#   D8 $META_FILES x $SMALL_KB KiB in $META_FOLDERS folders, a user attribute on each, an access and a default ACL on each folder, every file of g000 also under links/$( ((EUID == 0)) && echo ', 10 files with a capability')$([[ $QUICK == 0 ]] || echo '; quick mode')"
    echo "#   D15 $VERIFY_MB MiB random file with --verify against cp; cmp; rounds $ROUNDS, up to $MAX_ROUNDS while a spread is over $SPREAD"
    echo "# page cache $CACHE_POLICY. On the disk, small-file copies are kept"
    echo "#   until the end (ext4 without a journal is slow to create files after many deletions)."
}

every_value() {
    echo "# every run: filesystem dataset tool round return_s with_sync_s cpu_s par (cold: page cache dropped before it)"
    awk -F, '{ printf "%-10s %-4s %-13s %-8s %10.6f %10.6f %8.3f %5.2f%s\n", $1, $2, $3, ($4 > 0 ? $4 : "warm-up"),
        $5 / 1e6, $6 / 1e6, $7 / 1e6, ($5 > 0 ? $7 / $5 : 0), ($8 == 1 ? " cold" : "") }' "$RAW"
    echo
    echo "# the 1-minute load before each dataset: dataset filesystem load"
    tr ',' ' ' <"$LOADS"
    if [[ -s $BLOCKS ]]; then
        echo
        echo "# D4 allocated KiB (du): filesystem tool round KiB"
        awk -F, '{ printf "%-10s %-13s %-8s %s\n", $1, $3, ($4 > 0 ? $4 : ($3 == "source" ? "-" : "warm-up")), $5 }' "$BLOCKS"
    fi
    if [[ -s $MEMORY ]]; then
        echo
        echo "# MEM: tool round peak_RSS_KiB seconds (GNU time)"
        tr ',' ' ' <"$MEMORY"
    fi
    if [[ -s $WINDOW_LINES ]]; then
        echo
        echo "# WIN: what mivex_gesturebench printed, by round (0 and below: warm-up)"
        cat -- "$WINDOW_LINES"
    fi
}

total=$(((${EPOCHREALTIME/./} - START_US) / 1000000))
DURATION="$((total / 60)) min $((total % 60)) s"
# The highest load before any dataset decides whether the numbers go into RESULTS.
PEAK_LOAD=$(cut -d, -f3 "$LOADS" | maximum)
PEAK_LOAD=${PEAK_LOAD:-0}
BUSY=$(awk -v l="$PEAK_LOAD" -v m="$MAX_LOAD" 'BEGIN { print (l + 0 > m + 0) ? 1 : 0 }')
if ((BUSY && !FORCE)); then
    STANDING="not recorded: load $PEAK_LOAD"
elif ((BUSY)); then
    STANDING="recorded in $RESULTS although the load reached $PEAK_LOAD (BENCH_FORCE=1)"
else
    STANDING="recorded in $RESULTS (load at most $PEAK_LOAD before each dataset)"
fi
mkdir -p "$OUT_DIR"
report="$OUT_DIR/bench-$(date +%Y%m%d-%H%M%S).txt"
{
    echo "# Mivex benchmark $START_DATE, took $DURATION; $STANDING"
    table
    echo
    legend
    echo
    details
    echo
    every_value
} >"$report"
cp -- "$report" "$OUT_DIR/latest.txt"
cat -- "$report"
note "report written to $report"
# Recorded: the table goes on top of RESULTS, below its title, as a section of its own.
if ((!BUSY || FORCE)); then
    section="$WORK/section.md"
    {
        echo "## Run of $START_DATE ($(git -C "$REPO" describe --always --dirty 2>/dev/null || echo "source unknown"))"
        echo
        echo "By bench/run.sh; $STANDING; datasets $ONLY on $FSES, $ROUNDS rounds (up to $MAX_ROUNDS where the spread was over $SPREAD); page cache $CACHE_POLICY; MIVEX_WORKERS=${MIVEX_WORKERS-(unset)}."
        echo
        echo '```'
        table
        echo '```'
        echo
    } >"$section"
    if [[ -f $RESULTS ]]; then
        awk -v section="$section" 'NR == 1 { print; print ""; while ((getline line < section) > 0) print line; next }
            NR == 2 && $0 == "" { next } { print }' "$RESULTS" >"$WORK/results.md"
    else
        { echo "# Benchmark results"; echo; cat -- "$section"; } >"$WORK/results.md"
    fi
    cat -- "$WORK/results.md" >"$RESULTS"
    note "table recorded at the top of $RESULTS"
else
    note "$STANDING (over $MAX_LOAD before a dataset): $RESULTS left as it is; BENCH_FORCE=1 records anyway"
fi
