#!/usr/bin/env bash
# shellcheck disable=SC2015  # "COND && pass || fail": pass always succeeds
# Checks of the benchmark suite itself, in a few minutes: its helpers, and whole runs of
# bench/run.sh on tiny data with stand-ins for mivex and mivex_gesturebench, including stand-ins
# that get things wrong, which the suite must refuse. No check looks at a time.
set -euo pipefail
export LC_ALL=C

BENCH=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$BENCH/lib.sh"
T=$(mktemp -d "${BENCH_DIR:-/var/tmp}/mivex-bench-selftest.XXXXXX")
# A broken run.sh may leave its tmpfs mounted: unmount what is under $T before removing it.
finish() {
    local mount
    while IFS= read -r mount; do
        umount -- "$mount" || umount -l -- "$mount"
    done < <(findmnt -rn -o TARGET | sed 's/\\x20/ /g' | grep -F "$T/" || true)
    rm -rf -- "$T"
}
trap finish EXIT
failed=0
pass() { echo "ok    $1"; }
fail() { echo "FAIL  $1${2:+: $2}"; failed=$((failed + 1)); }
expect() { # NAME WANT HAVE
    if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1" "want '$2', have '$3'"; fi
}

# ---------------------------------------------------------------- helpers

expect "median, odd count" 3 "$(printf '5\n1\n3\n' | median)"
expect "median, even count" 2.5 "$(printf '4\n1\n3\n2\n' | median)"
expect "median sorts by value, not text" 9 "$(printf '10\n9\n2\n' | median)"
expect "median of nothing" "" "$(median </dev/null)"
expect "maximum" 10 "$(printf '9\n10\n2\n' | maximum)"
expect "ratio" 0.500 "$(ratio 1 2)"
expect "ratio without a peer" - "$(ratio 1 "")"
expect "ratio over zero" - "$(ratio 1 0)"
expect "judge le, on the limit" met "$(judge 1.100 le 1.10)"
expect "judge le, above" MISSED "$(judge 1.101 le 1.10)"
expect "judge lt, on the limit" MISSED "$(judge 50000 lt 50000)"
expect "judge without a value" - "$(judge - le 1)"
expect "fmt_us below a second" "12.3 ms" "$(fmt_us 12345)"
expect "fmt_us from a second" "1.500 s" "$(fmt_us 1500000)"
expect "spread_pct: min and max against the median" "-10/+20%" "$(printf '120\n90\n100\n' | spread_pct)"
expect "spread_pct of nothing" - "$(spread_pct </dev/null)"
expect "per_file" 333.3 "$(per_file 1000 3)"
expect "per_file of a one-file run" - "$(per_file 1000 1)"
expect "per_file without a time" - "$(per_file "" 3)"

# wide_spread: (max - min) / median of the middle half above the limit asks for another round.
while read -r want limit values; do
    have=narrow
    ! tr ' ' '\n' <<<"$values" | grep . | wide_spread "$limit" || have=wide
    expect "wide_spread $limit of ${values:-nothing}" "$want" "$have"
done <<'CASES'
wide 0.20 80 100
narrow 0.20 80 100 100
narrow 0.20 100
narrow 0.20
wide 0.20 100 100 130
narrow 0.30 100 100 130
wide 0 7 8
narrow 0.20 50 100 100 105 200
wide 0.20 50 80 100 105 200
CASES

firsts='' all_permutations=1
for ((r = 0; r < 4; r++)); do
    order=$(rotate "$r" a b c d | tr '\n' ' ')
    firsts+=${order%% *}
    [[ $(tr ' ' '\n' <<<"$order" | sort | tr -d '\n') == abcd ]] || all_permutations=0
done
expect "rotate: every tool first once in as many rounds" abcd "$(echo "$firsts" | grep -o . | sort | tr -d '\n')"
expect "rotate: every round runs every tool once" 1 "$all_permutations"

TOOL_OUTPUT="$T/tool.out"
timed_run sh -c 'echo said; exit 3'
expect "timed_run keeps the exit status" 3 "$RUN_STATUS"
expect "timed_run keeps the output" said "$(cat "$TOOL_OUTPUT")"
[[ $RUN_RET_US =~ ^[0-9]+$ && $RUN_SYNC_US =~ ^[0-9]+$ && $RUN_CPU_US =~ ^[0-9]+$ ]] &&
    pass "timed_run gives whole microseconds" || fail "timed_run gives whole microseconds" "$RUN_RET_US / $RUN_SYNC_US / $RUN_CPU_US"
# CPU time of the command alone: a busy loop counts, a sleep does not, the syncs around it do not.
timed_run sh -c 'i=0; while [ $i -lt 200000 ]; do i=$((i + 1)); done'
((RUN_CPU_US > 0)) && pass "timed_run counts the command's CPU time" || fail "timed_run counts the command's CPU time" "$RUN_CPU_US"
timed_run sleep 0.3
((RUN_CPU_US < 100000)) && pass "timed_run does not count waiting as CPU time" ||
    fail "timed_run does not count waiting as CPU time" "$RUN_CPU_US"
DROP_CACHES_INTO="$T/drop_caches"
timed_run true
expect "timed_run drops the caches when asked" 3 "$(cat "$T/drop_caches")"
rm -f -- "$T/drop_caches"
DROP_CACHES_INTO=
timed_run true
[[ ! -e $T/drop_caches ]] && pass "timed_run leaves the caches alone otherwise" || fail "timed_run leaves the caches alone otherwise"
expect "efficiency" 1.50 "$(efficiency 300 200)"
expect "efficiency without a wall time" - "$(efficiency 300 0)"

# same_tree against every kind of damage, each on a fresh copy of one reference tree.
ref="$T/ref"
mkdir -p "$ref/sub/empty"
printf 'alpha' >"$ref/sub/a"
printf 'beta' >"$ref/b c"
ln -s "b c" "$ref/link"
chmod 640 "$ref/sub/a"
touch -d '2020-01-02 03:04:05.5' "$ref/sub/a" "$ref/sub"
damage() { # NAME WANT_STATUS COMMAND (run inside the copy)
    local copy="$T/copy" status=0
    rm -rf -- "$copy"
    cp -a -- "$ref" "$copy"
    (cd "$copy" && eval "$3")
    same_tree "$ref" "$copy" >/dev/null || status=$?
    expect "same_tree: $1" "$2" "$status"
}
damage "an exact copy" 0 ":"
damage "changed content, same size and time" 1 "printf 'ALPHA' >sub/a; touch -d '2020-01-02 03:04:05.5' sub/a sub"
damage "a missing file" 1 "rm 'b c'"
damage "an extra file" 1 "touch extra"
damage "a missing empty folder" 1 "rmdir sub/empty"
damage "another link target" 1 "ln -sfn sub/a link"
damage "a followed link" 1 "rm link; cp 'b c' link"
damage "another mode" 2 "chmod 644 sub/a"
damage "another file time" 2 "touch -d '2020-01-02 03:04:05' sub/a"
damage "another folder time" 2 "touch sub"
status=0
same_tree "$ref" "$T/nothing" >/dev/null || status=$?
expect "same_tree: a missing copy" 1 "$status"

make_tree "$T/tree" 25 3 2
expect "make_tree: file count" 25 "$(find "$T/tree" -type f | wc -l)"
expect "make_tree: leaf folders" 3 "$(find "$T/tree" -mindepth 2 -type d | wc -l)"
expect "make_tree: file sizes" 2048 "$(find "$T/tree" -type f -printf '%s\n' | sort -u)"
make_tree "$T/wide" 1500 1 1
expect "make_tree: more than 1,000 files in a folder" 1500 "$(find "$T/wide" -type f | wc -l)"

make_sparse "$T/sparse" 16 1024
expect "make_sparse: length" $((16 << 20)) "$(stat -c %s "$T/sparse")"
kib=$(allocated_kib "$T/sparse")
((kib >= 1024 && kib <= 1100)) && pass "make_sparse: allocates the data only" || fail "make_sparse: allocates the data only" "$kib KiB"
nonzero=$(tr -d '\0' <"$T/sparse" | wc -c)  # random data: about 1 byte in 256 is zero
((nonzero > 1040000 && nonzero <= 1048576)) && pass "make_sparse: writes the data" || fail "make_sparse: writes the data" "$nonzero bytes"
expect "make_sparse: starts with a hole" 0 "$(head -c 4096 "$T/sparse" | tr -d '\0' | wc -c)"
expect "make_sparse: ends with a hole" 0 "$(tail -c 4096 "$T/sparse" | tr -d '\0' | wc -c)"

mkdir "$T/to"
status=0
{ tar_pipe "" "$T" ref "$T/to" && same_tree "$ref" "$T/to/ref"; } >/dev/null || status=$?
expect "tar_pipe copies a tree (mtimes to the second)" 2 "$status"
status=0
tar_pipe "" "$T" absent "$T/to" 2>/dev/null || status=$?
[[ $status != 0 ]] && pass "tar_pipe fails when the source is missing" || fail "tar_pipe fails when the source is missing"
cp -a "$ref" "$T/moving"
status=0
touch "$T/not-a-folder"
cp_sync_rm "$T/moving" "$T/not-a-folder" 2>/dev/null || status=$?
[[ $status != 0 && -d $T/moving ]] && pass "cp_sync_rm keeps the source when the copy fails" ||
    fail "cp_sync_rm keeps the source when the copy fails"
status=0
{ cp_sync_rm "$T/moving" "$T/to" && [[ ! -e $T/moving ]] && same_tree "$ref" "$T/to/moving"; } >/dev/null || status=$?
expect "cp_sync_rm moves" 0 "$status"

# ---------------------------------------------------------------- whole runs

# A stand-in for `mivex LIST -auto`: carries out the one line with cp and mv, or gets it wrong as
# STUB_FAULT says.
mkdir "$T/stub"
cat >"$T/stub/mivex" <<'STUB'
#!/usr/bin/env bash
set -euo pipefail
IFS= read -r line <"$1"
line=${line%$'\r'}
code=${line%% --> *} rest=${line#* --> }
src=${rest%% --> *} dest=${rest#* --> }
name=${src##*/}
fault=${STUB_FAULT:-}
case $code in
    C-O) case $fault in
             fill-holes) cp -a --sparse=never -- "$src" "$dest/" ;;
             split-links) cp -a --no-preserve=links -- "$src" "$dest/" ;;
             *) cp -a -- "$src" "$dest/" ;;
         esac ;;
    C-N) target="$dest/$name"
         [[ ! -e $target || $fault == keep-both-overwrites ]] || target="$dest/$name - Copy"
         if [[ -d $target ]]; then cp -a -- "$src" "${target%/*}/"; else cp -a -- "$src" "$target"; fi ;;
    M-O) [[ $fault == move-copies ]] && cp -a -- "$src" "$dest/" || mv -- "$src" "$dest/" ;;
    *) exit 2 ;;
esac
case $fault in
    lose-file) rm -f -- "$(find "$dest/$name" -type f | sort | tail -n 1)" ;;
    touch) touch -- "$dest/$name" ;;
    exit1) exit 1 ;;
    sleep) sleep 2 ;;
    jitter) n=$(cat "$STUB_COUNT" 2>/dev/null || echo 0)  # every other run 0.3 s slower
            echo $((n + 1)) >"$STUB_COUNT"
            ((n % 2 == 0)) || sleep 0.3 ;;
esac
STUB
cat >"$T/stub/mivex_gesturebench" <<'STUB'
#!/usr/bin/env bash
order=" in drop order"
[[ ${STUB_FAULT:-} != drop-order ]] || order=" (NOT in drop order)"
echo "drop of $2 files: 1.5 ms, queue holds $2 entries$order"
echo "loading a list of 32,766 lines: 12.0 ms"
echo "one admission to a queue of 32,766: 0.100 ms (queue now 32767)"
echo "saving the list of 32,767 lines: 0.8 ms"
echo "loading a list of 32,767 lines: 13.0 ms (queue now 32767)"
STUB
chmod +x "$T/stub/mivex" "$T/stub/mivex_gesturebench"
cp -a "$ref" "$T/realtree"
mkdir "$T/work"

# The load the suite reads, so that whether it records its numbers does not depend on this machine.
printf '0.10 0.20 0.30 1/100 1\n' >"$T/idle"
printf '3.00 2.00 1.00 9/100 1\n' >"$T/busy"
# Runs the suite on tiny data, with more VAR=VALUE settings; leaves its standard output and error
# in $T/run.out and $T/run.err, its RESULTS in $T/RESULTS.md. The suite runs as this process
# itself (env executes it). Its page cache goes to a file of its own, not to the kernel, and its
# tiny runs spread as they like without taking more rounds, unless a check says otherwise.
suite() { # VAR=VALUE...
    rm -rf -- "$T/out"
    exec env BENCH_SETTLE=0 BENCH_LOADAVG="$T/idle" BENCH_DROP_CACHES_FILE="$T/drop_caches" BENCH_SPREAD=1000 BENCH_VERIFY_MB=2 BENCH_RESULTS="$T/RESULTS.md" BENCH_DISK=folder MIVEX="$T/stub/mivex" MIVEX_GESTUREBENCH="$T/stub/mivex_gesturebench" BENCH_DIR="$T/work" \
        BENCH_OUT="$T/out" BENCH_TREE="$T/realtree" BENCH_QUICK=1 BENCH_ROUNDS=1 BENCH_WARMUP=1 \
        BENCH_BIG_MB=2 BENCH_SMALL_FILES=30 BENCH_SMALL_FOLDERS=3 BENCH_SPARSE_MB=8 \
        BENCH_STARTUP_RUNS=2 BENCH_MEM_FILES=20 BENCH_MEM_FOLDERS=2 BENCH_DROP_FILES=5 \
        BENCH_META_FILES=30 BENCH_META_FOLDERS=3 BENCH_REAL="$T/realtree" BENCH_REAL_ANY=1 \
        BENCH_LINK_FILES=20 BENCH_MOVE_FILES=20 \
        "$@" "$BENCH/run.sh" >"$T/run.out" 2>"$T/run.err"
}
# Nothing may stay behind: no work folder, no mount.
left_nothing() { # NAME [FOLDER]
    local folder=${2:-$T/work}
    if [[ -n $(ls -A "$folder") ]] || findmnt -rn -o TARGET | grep -qF "$T/"; then
        fail "$1: cleans up" "$(ls -A "$folder"; findmnt -rn -o TARGET | grep -F "$T/")"
    else
        pass "$1: cleans up"
    fi
}
refuses() { # NAME MESSAGE VAR=VALUE...
    local name=$1 message=$2 status=0
    shift 2
    (suite "$@") || status=$?
    if ((status == 0)); then
        fail "$name: the suite fails"
    elif ! grep -qF -- "$message" "$T/run.err"; then
        fail "$name: the suite fails saying '$message'" "$(tail -n 3 "$T/run.err")"
    else
        pass "$name: the suite fails saying '$message'"
    fi
    [[ ! -e $T/out/latest.txt ]] || fail "$name: no report"
    left_nothing "$name"
}

status=0
# The stand-in carries out a list's first line only: D11 and D12, lists of many rows, are left out.
(suite BENCH_ONLY=D1,D2,D3,D4,D5,D6,D6b,D7,D8,D9,D10,D14,D15,MEM,MOVEMEM,WIN) || status=$?
expect "a good run succeeds" 0 "$status"
if ((status == 0)); then
    for row in "D1 .* tmpfs .* cp -a" "D1 .* disk .* rsync -a" "D2 .* disk .* tar \| tar" \
        "D3 .* tmpfs .* cp -a" "D4 .* disk .* tar -S \| tar" "D4 +allocated \(du\) +tmpfs +cp -a .* met" \
        "D5 +C-O onto full dest +disk +mivex C-O, empty dest" "D5 +C-N onto full dest +tmpfs" \
        "D6 .* disk +mv" "D8 .* tmpfs +cp -a" "D8 .* disk +rsync -aHAX" "D6b .* tmpfs\+disk +cp -a;sync;rm -r" "D7 .* tmpfs +cp -a" \
        "MEM +peak RSS" "WIN +load 32,766-line list .* met" "WIN +load 32,767-line list .* met" \
        "WIN +save 32,767-line list" "D14 .* disk +cp -a; diff -r" "D15 +verify 2 MiB file +tmpfs +cp; cmp .* <=1.10" \
        "D2 .* tmpfs +cp -a +[0-9.]+ m?s -0/\+0% +[0-9.]+ m?s -0/\+0% +[0-9.]+ +[0-9]+\.[0-9]{2} +[0-9]+\.[0-9] +[0-9]+\.[0-9] .* 1 +0\.10$" \
        "D1 .* tmpfs +cp -a .* [0-9]+\.[0-9]{2} +- +- +[0-9.]+ m?s"; do
        grep -qE "^$row" "$T/run.out" && pass "the table has a row '$row'" || fail "the table has a row '$row'"
    done
    expect "the table comes first" "# Mivex benchmark" "$(head -n 1 "$T/run.out" | cut -c1-17)"
    expect "the report file holds what was printed" "" "$(cmp "$T/run.out" "$T/out/latest.txt" 2>&1)"
    expect "a timestamped copy" 2 "$(find "$T/out" -name '*.txt' | wc -l)"
    # 4 tools x 2 rounds (warm-up and one) x 2 filesystems
    expect "every D1 run is listed" 16 "$(grep -cE '^(tmpfs|disk) +D1 ' "$T/run.out")"
    grep -q "^  tar on D1" "$T/run.out" && pass "tar's whole-second times are noted" || fail "tar's whole-second times are noted"
    # Every disk run, and no other, comes after the page cache was dropped (the listing of every run).
    expect "every disk run drops the page cache" 0 "$(awk '$1 == "disk" && $2 ~ /^D[0-9]/ && $NF != "cold"' "$T/run.out" | wc -l)"
    expect "no other run drops it" 0 "$(awk '$1 ~ /^tmpfs/ && $2 ~ /^D[0-9]/ && $NF == "cold"' "$T/run.out" | wc -l)"
    expect "the page cache is dropped by writing 3" 3 "$(cat "$T/drop_caches")"
    grep -qF "recorded in $T/RESULTS.md (load at most 0.10" "$T/run.out" && pass "an idle run says it is recorded" ||
        fail "an idle run says it is recorded" "$(head -n 1 "$T/run.out")"
    [[ $(head -n 3 "$T/RESULTS.md" | tail -n 1) == "## Run of "* ]] && grep -qE "^D1 .* tmpfs .* cp -a" "$T/RESULTS.md" &&
        pass "an idle run puts its table on top of RESULTS" || fail "an idle run puts its table on top of RESULTS" "$(head -n 5 "$T/RESULTS.md")"
fi
left_nothing "a good run"

# A load above 0.5 before a dataset: the table is printed, marked, and RESULTS is left alone,
# unless BENCH_FORCE=1.
printf '# Benchmark results\n\nearlier notes\n' >"$T/RESULTS.md"
cp "$T/RESULTS.md" "$T/RESULTS.before"
status=0
(suite BENCH_LOADAVG="$T/busy" BENCH_ONLY=D7) || status=$?
expect "a busy run still succeeds" 0 "$status"
grep -qF "not recorded: load 3.00" <(head -n 1 "$T/run.out") && grep -qE "^D7 .* 3\.00$" "$T/run.out" &&
    pass "a busy run prints its table marked 'not recorded'" || fail "a busy run prints its table marked 'not recorded'" "$(head -n 1 "$T/run.out")"
cmp -s "$T/RESULTS.md" "$T/RESULTS.before" && pass "a busy run leaves RESULTS alone" || fail "a busy run leaves RESULTS alone"
status=0
(suite BENCH_LOADAVG="$T/busy" BENCH_FORCE=1 BENCH_ONLY=D7) || status=$?
{ ((status == 0)) && grep -qF "although the load reached 3.00 (BENCH_FORCE=1)" "$T/RESULTS.md" &&
    grep -qE "^D7 .* 3\.00$" "$T/RESULTS.md" && [[ $(tail -n 1 "$T/RESULTS.md") == "earlier notes" ]]; } &&
    pass "BENCH_FORCE=1 records a busy run, saying so, above what was there" ||
    fail "BENCH_FORCE=1 records a busy run, saying so, above what was there" "$(cat "$T/RESULTS.md")"

# Times that spread wide take more rounds, up to BENCH_MAX_ROUNDS, and the tools still take turns
# to go first; without the page cache the run goes on and says why.
status=0
(suite STUB_FAULT=jitter STUB_COUNT="$T/count" BENCH_SPREAD=0.2 BENCH_ROUNDS=2 BENCH_MAX_ROUNDS=4 BENCH_ONLY=D2 \
    BENCH_FS=disk BENCH_DROP_CACHES_FILE="$T/no/such/folder") || status=$?
expect "a wide spread: the run succeeds" 0 "$status"
grep -qE "^D2 .* disk +cp -a .* 4 +0\.10$" "$T/run.out" && pass "a wide spread takes BENCH_MAX_ROUNDS rounds" ||
    fail "a wide spread takes BENCH_MAX_ROUNDS rounds" "$(grep -E '^D2 .* disk +cp -a' "$T/run.out")"
firsts=$(awk '$1 == "disk" && $2 == "D2" && $4 != "warm-up" && $4 != last { print $3; last = $4 }' "$T/run.out" | tr '\n' ' ')
expect "extra rounds: each tool goes first once in four" "cp rsync tar mivex " "$firsts"
grep -qF "page cache not dropped: cannot write to $T/no/such/folder" "$T/run.out" && ! grep -q ' cold$' "$T/run.out" &&
    pass "a page cache that cannot be dropped is said so" || fail "a page cache that cannot be dropped is said so"

refuses "a lost file" "does not match" STUB_FAULT=lose-file BENCH_ONLY=D2 BENCH_FS=tmpfs
refuses "another file time from mivex" "metadata differs" STUB_FAULT=touch BENCH_ONLY=D3 BENCH_FS=disk
refuses "a failing mivex" "list: C-O --> " STUB_FAULT=exit1 BENCH_ONLY=D7
refuses "a copy that splits hard links" "differ from cp -a's copy" STUB_FAULT=split-links BENCH_ONLY=D8 BENCH_FS=tmpfs
refuses "a move that copies" "source is still there" STUB_FAULT=move-copies BENCH_ONLY=D6 BENCH_FS=tmpfs
refuses "keep-both that overwrites" "tree - Copy" STUB_FAULT=keep-both-overwrites BENCH_ONLY=D5 BENCH_FS=tmpfs
refuses "a drop out of order" "the drop went wrong" STUB_FAULT=drop-order BENCH_ONLY=WIN
refuses "an unknown dataset" "unknown dataset 'D99'" BENCH_ONLY=D1,D99
mkdir "$T/a -b"
status=0
(suite BENCH_DIR="$T/a -b" BENCH_ONLY=D7) || status=$?
((status != 0)) && grep -qF "contains ' -'" "$T/run.err" && pass "a work folder with ' -' is refused" ||
    fail "a work folder with ' -' is refused" "$(tail -n 1 "$T/run.err")"
left_nothing "a work folder with ' -'" "$T/a -b"

status=0
(suite STUB_FAULT=fill-holes BENCH_ONLY=D4 BENCH_FS=tmpfs) || status=$?
expect "a copy that fills the holes still runs" 0 "$status"
grep -qE "^D4 +allocated \(du\) +tmpfs +cp -a .* MISSED" "$T/run.out" &&
    pass "a copy that fills the holes misses the blocks target" || fail "a copy that fills the holes misses the blocks target"

# Stopped in the middle of a run (the stand-in sleeps): the exit status tells, and the tmpfs is
# unmounted and the work folder removed.
(suite STUB_FAULT=sleep BENCH_ONLY=D1 BENCH_FS=tmpfs) &
pid=$!
for ((i = 0; i < 100; i++)); do
    grep -q "D1 on tmpfs" "$T/run.err" 2>/dev/null && break
    sleep 0.1
done
sleep 0.5
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
expect "an interrupted run exits with 143" 143 "$status"
left_nothing "an interrupted run"

echo
if ((failed)); then echo "$failed check(s) failed"; exit 1; fi
echo "all checks passed"
