# Helpers of the benchmark suite, shared by bench/run.sh and bench/selftest.sh. Sourced, not run.
# shellcheck shell=bash disable=SC2034  # RUN_* and CMD are read by the sourcing script

die() { echo "run.sh: $*" >&2; exit 1; }
note() { echo "== $*" >&2; }

# ---------------------------------------------------------------- numbers

# The median of the numbers on standard input, one a line; prints nothing for no numbers.
median() {
    LC_ALL=C sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) exit; if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The largest of the numbers on standard input.
maximum() { LC_ALL=C sort -g | tail -n 1; }

# "MIN MEDIAN MAX" of the numbers on standard input; nothing for no numbers.
min_med_max() {
    LC_ALL=C sort -g | awk '{ v[NR] = $1 }
        END { if (NR == 0) exit; m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print v[1], m, v[NR] }'
}

# Whether the numbers on standard input spread wider than LIMIT: (max - min) / median > LIMIT over
# the middle half of them (from four numbers on, a quarter at each end is left out, so that more
# rounds can narrow the spread instead of only ever widening it). Fewer than two never do.
wide_spread() { # LIMIT
    LC_ALL=C sort -g | awk '{ v[NR] = $1 } END { t = int(NR / 4); for (i = 1 + t; i <= NR - t; i++) print v[i] }' |
        min_med_max | awk -v l="$1" '{ lo = $1; m = $2; hi = $3; n = 1 }
        END { exit !(n && hi > lo && (m <= 0 || (hi - lo) / m > l + 0)) }'
}

# The smallest and the largest of the numbers on standard input against their median, in per
# cent: "-3/+9%" (the smallest 3 % below it, the largest 9 % above); "-" for no numbers.
spread_pct() {
    min_med_max | awk '{ n = 1; if ($2 <= 0) print "-"; else printf "-%.0f/+%.0f%%\n", ($2 - $1) * 100 / $2, ($3 - $2) * 100 / $2 }
        END { if (!n) print "-" }'
}

# CPU time per file in microseconds with one decimal: "-" without a time or with fewer than two
# files (a one-file dataset is about its bytes, not its files).
per_file() { # CPU_US FILES
    awk -v c="${1:-}" -v n="${2:-}" 'BEGIN { if (c == "" || n == "" || n + 0 < 2) print "-"; else printf "%.1f\n", c / n }'
}

# A / B with three decimals, or "-" when either is missing or B is not above zero.
ratio() {
    awk -v a="${1:-}" -v b="${2:-}" 'BEGIN { if (a == "" || b == "" || b + 0 <= 0) print "-"; else printf "%.3f", a / b }'
}

# Whether VALUE meets a target: "le LIMIT" (at most) or "lt LIMIT" (below). Prints met, MISSED,
# or "-" when there is no value or no target.
judge() { # VALUE OP LIMIT
    awk -v v="${1:-}" -v op="${2:-}" -v l="${3:-}" 'BEGIN {
        if (v == "" || v == "-" || op == "" || op == "-") { print "-"; exit }
        ok = (op == "le") ? (v + 0 <= l + 0) : (op == "lt") ? (v + 0 < l + 0) : -1
        if (ok < 0) { print "bad target " op; exit 1 }
        print ok ? "met" : "MISSED" }'
}

# Microseconds for reading: "12.3 ms" below a second, "1.234 s" from there.
fmt_us() {
    awk -v u="${1:-}" 'BEGIN { if (u == "" || u == "-") print "-"; else if (u < 1e6) printf "%.1f ms", u / 1e3; else printf "%.3f s", u / 1e6 }'
}

# Prints the words starting with word N (modulo their count), wrapping around: round r runs the
# tools starting one further along the cycle, so no tool is always first or last.
rotate() { # N WORD...
    local n=$1 i k
    shift
    for ((i = 0; i < $#; i++)); do
        k=$(((i + n) % $# + 1))
        echo "${!k}"
    done
}

# ---------------------------------------------------------------- timing

# The user and system CPU time of every child this shell has waited for, in microseconds, from
# bash's `times` (no process: its output goes through a file). Sets CHILDREN_CPU_US.
children_cpu() {
    local self user sys
    times >"$TOOL_OUTPUT.times"
    { read -r self && read -r user sys; } <"$TOOL_OUTPUT.times"
    CHILDREN_CPU_US=$(awk -v u="$user" -v s="$sys" 'function us(t, m) {
            m = index(t, "m"); return int((substr(t, 1, m - 1) * 60 + substr(t, m + 1) + 0) * 1e6 + 0.5) }
        BEGIN { print us(u) + us(s) }')
}

# Runs a command once after an untimed `sync`, so writeback left by earlier runs is not billed to
# it; when DROP_CACHES_INTO names a file (/proc/sys/vm/drop_caches), "3" is written there after
# that sync, still untimed, so that the run finds no data, folder or inode of the disk in memory
# (the page cache only drops clean pages: hence the sync first). Sets RUN_STATUS, RUN_RET_US (start to return), RUN_SYNC_US (start to the end of a `sync`
# run when it returned) and RUN_CPU_US (the command's user and system time, all its threads and
# children, to the millisecond). $EPOCHREALTIME costs no process; its decimal point is "." under
# LC_ALL=C. The command's output goes to TOOL_OUTPUT.
timed_run() { # COMMAND...
    local t0 t1 t2 cpu0
    RUN_STATUS=0
    sync
    [[ -z ${DROP_CACHES_INTO:-} ]] || echo 3 >"$DROP_CACHES_INTO"
    children_cpu
    cpu0=$CHILDREN_CPU_US
    t0=$EPOCHREALTIME
    "$@" >"$TOOL_OUTPUT" 2>&1 || RUN_STATUS=$?
    t1=$EPOCHREALTIME
    children_cpu
    sync
    t2=$EPOCHREALTIME
    RUN_RET_US=$((${t1/./} - ${t0/./}))
    RUN_SYNC_US=$((${t2/./} - ${t0/./}))
    RUN_CPU_US=$((CHILDREN_CPU_US - cpu0))
}

# The parallel efficiency of a run: its CPU time over its wall time, "1.85" for nearly two cores
# busy throughout; "-" without both.
efficiency() { # CPU_US WALL_US
    awk -v c="${1:-}" -v w="${2:-}" 'BEGIN { if (c == "" || w == "" || w + 0 <= 0) print "-"; else printf "%.2f", c / w }'
}

# ---------------------------------------------------------------- checks

# What a copy must keep besides the bytes: for every entry its type, mode, owner, mtime and path,
# the size of files and the target of links.
tree_meta() { # PATH
    find "$1" \( -type f -printf 'f %m %U:%G %T@ %s %P\n' \) \
        -o \( -type l -printf 'l - %U:%G %T@ %P -> %l\n' \) \
        -o -printf '%y %m %U:%G %T@ %P\n' | LC_ALL=C sort
}

# Whether COPY equals REFERENCE. Returns 1 when the content differs or something is missing or
# extra (`diff -r`, links compared as links), 2 when only the metadata of tree_meta differs, and
# prints the first differences.
same_tree() { # REFERENCE COPY
    local out want have
    if [[ ! -e $2 && ! -L $2 ]]; then
        echo "missing: $2"
        return 1
    fi
    if ! out=$(diff -r --no-dereference -q -- "$1" "$2" 2>&1); then
        printf '%s\n' "$out" | head -n 5
        return 1
    fi
    want=$(tree_meta "$1") && have=$(tree_meta "$2") || return 1
    if [[ $want != "$have" ]]; then
        echo "metadata differs (< reference, > copy):"
        diff <(echo "$want") <(echo "$have") | grep '^[<>]' | head -n 4
        return 2
    fi
}

# Allocated size in KiB, as `du` reports it.
allocated_kib() { du -k -- "$1" | cut -f1; }

# ---------------------------------------------------------------- data

# FILES random files of KIB KiB spread evenly over FOLDERS leaf folders, ten leaf folders to a
# group folder: ROOT/g000/d00/f000, ... Random, so no filesystem can shortcut the content.
make_tree() { # ROOT FILES FOLDERS KIB
    local root=$1 files=$2 folders=$3 kib=$4 per left folder n dir width
    per=$(((files + folders - 1) / folders))
    width=${#per}
    ((width >= 3)) || width=3
    left=$files
    for ((folder = 0; left > 0; folder++)); do
        n=$((left < per ? left : per))
        printf -v dir '%s/g%03d/d%02d' "$root" $((folder / 10)) $((folder % 10))
        mkdir -p -- "$dir"
        head -c "$((n * kib * 1024))" /dev/urandom | split -b "$((kib * 1024))" -d -a "$width" - "$dir/f"
        left=$((left - n))
    done
}

# make_tree's files with what cp -a keeps beyond the listing of tree_meta: a user attribute on
# every file, an access and a default ACL on every folder, a second name below links/ for every
# file of the first group folder, and with CAPS=1 (root only) a capability on ten files.
make_meta_tree() { # ROOT FILES FOLDERS KIB CAPS
    local root=$1 caps=() file
    make_tree "$root" "$2" "$3" "$4"
    find "$root" -type f -exec setfattr -n user.origin -v mivex-bench {} +
    find "$root" -type d -exec setfacl -m u:65534:rwx,d:u:65534:r-x {} +
    if (($5)); then
        while IFS= read -r file; do caps+=(cap_net_raw+ep "$file"); done < <(find "$root" -type f | LC_ALL=C sort | head -n 10)
        setcap "${caps[@]}" >/dev/null
    fi
    cp -al -- "$root/g000" "$root/links"
}

# A file of SIZE_MIB MiB holding DATA_KIB KiB of random data in four equal pieces at 1/8, 3/8,
# 5/8 and 7/8 of its length: it starts and ends with a hole.
make_sparse() { # PATH SIZE_MIB DATA_KIB
    local path=$1 size=$2 piece=$(($3 / 4)) i
    truncate -s "${size}M" -- "$path"
    for ((i = 0; i < 4; i++)); do
        dd if=/dev/urandom of="$path" bs=1K count="$piece" seek="$((size * (2 * i + 1) * 128))" \
            conv=notrunc iflag=fullblock status=none
    done
}

# ---------------------------------------------------------------- peers

# `tar -C PARENT -cf - NAME | tar -C DEST -xpf -`, with CREATE_OPTION (say -S) on the create side.
tar_pipe() { # CREATE_OPTION|"" PARENT NAME DESTFOLDER
    tar ${1:+"$1"} -C "$2" -cf - "$3" | tar -C "$4" -xpf -
}

# The careful way to move across filesystems by hand: copy, make it durable, then remove.
cp_sync_rm() { # SOURCE DESTFOLDER
    cp -a -- "$1" "$2/" && sync && rm -r -- "$1"
}
# The user's own check of a copy of one file: cp, then cmp of the copy with the source.
cp_cmp() { # SOURCE DESTFOLDER
    cp -- "$1" "$2/" && cmp -- "$1" "$2/${1##*/}"
}
# The user's own check of a copy: cp -a, then diff -r of the two trees.
cp_diff() { # SOURCE DESTFOLDER
    cp -a -- "$1" "$2/" && diff -r -- "$1" "$2/${1##*/}" >/dev/null
}
