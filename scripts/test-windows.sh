#!/usr/bin/env bash
# Builds the Windows program (scripts/build-windows.sh) and tests it under Wine: the tables of
# windows/tests/wintest.cpp, then mivex.exe itself on a list of Z:\ paths (Wine's Z: is /).
# Wine gets a prefix of its own in a temporary folder and needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."

# Wine runs the tests; cabextract reads back the cabinet they write.
scripts/deps.sh wine64 cabextract
scripts/build-windows.sh

wine=$(command -v wine64 || true)
[[ -n $wine ]] || wine=/usr/lib/wine/wine64
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '"${wine%/*}/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

echo "== the tables"
mkdir "$work/cab"
"$wine" build-windows/mivex_wintest.exe "$(winpath "$work/cab")" 2>"$work/wine.err" ||
    fail "mivex_wintest.exe"
# The cabinet it wrote through the system's Cabinet API, read back by another reader.
cabextract -q -d "$work/cab/out" "$work/cab/test.cab" &&
    [[ $(cat "$work/cab/out/dir/a.txt") == alpha && $(cat "$work/cab/out/Zürich/b.txt") == beta ]] ||
    fail "the cabinet, read by cabextract: $(find "$work/cab")"

echo "== mivex.exe"
# The program runs from a folder of its own, as an unpacked copy would: its log goes beside it.
mkdir -p "$work/app" "$work/src/tree/sub" "$work/dst"
cp build-windows/mivex.exe "$work/app/"
run() { "$wine" "$work/app/mivex.exe" "$@"; }
[[ $(run --version) == "Mivex $(sed -n 's/^project(mivex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"* ]] ||
    fail "--version"
run --help | grep -q 'LIST.flq -auto' || fail "--help"

printf 'a' >"$work/src/tree/a.txt"
printf 'b' >"$work/src/tree/sub/b.txt"
printf 'moved' >"$work/src/m.txt"
printf 'new' >"$work/src/over.txt"
printf 'old' >"$work/dst/over.txt"
src=$(winpath "$work/src") dst=$(winpath "$work/dst")
# The last entry moves a file from another drive, the prefix's C:.
printf 'far' >"$WINEPREFIX/drive_c/far.txt"
printf 'C-O --> %s\\tree --> %s\r\nM-O --> %s\\m.txt --> %s\\moved\r\nC-O --> %s\\over.txt --> %s\r\nM-N --> C:\\far.txt --> %s\r\n' \
    "$src" "$dst" "$src" "$dst" "$src" "$dst" "$dst" >"$work/night.flq"
run "$(winpath "$work/night.flq")" -auto || fail "the list's run: status $?"
[[ $(cat "$work/dst/tree/a.txt" "$work/dst/tree/sub/b.txt") == ab ]] || fail "the folder's copy"
[[ -f $work/src/tree/sub/b.txt ]] || fail "a copy keeps its source"
[[ $(cat "$work/dst/moved/m.txt") == moved && ! -e $work/src/m.txt ]] || fail "the move"
[[ $(cat "$work/dst/over.txt") == new ]] || fail "the overwrite"
[[ $(cat "$work/dst/far.txt") == far && ! -e $WINEPREFIX/drive_c/far.txt ]] ||
    fail "the move from C:"
[[ -z $(find "$work/dst" -name '~mivex-*') ]] || fail "a temporary file was left"
log=("$work"/app/*-log.txt)
[[ ${log[0]##*/} =~ ^[0-9]{8}-log\.txt$ ]] || fail "the log's name: ${log[0]##*/}"
[[ $(grep -c $'\t.* was successful\r$' "${log[0]}") == 4 && $(wc -l <"${log[0]}") == 4 ]] ||
    fail "one log line per entry: $(cat -A "${log[0]}")"

# A list written by a Linux editor (LF alone), with a failing entry: status 1, a line on
# standard error, an error line in the log.
printf 'C-N --> %s\\over.txt --> %s\nC-O --> %s\\none.txt --> %s\n' "$src" "$dst" "$src" "$dst" \
    >"$work/lf.flq"
status=0
run "$(winpath "$work/lf.flq")" -auto 2>"$work/err" || status=$?
[[ $status == 1 && -f "$work/dst/over - Copy.txt" ]] || fail "an LF list: status $status"
grep -q 'line 2: .*none.txt --> .*: the source does not exist (code 2)' "$work/err" || fail "the report"
grep -q $'\t\\*\\*\\* ERROR \\*\\*\\* C-O --> .*none.txt --> .* did not copy - ' "${log[0]}" ||
    fail "the log's error line"

# Nothing to run: status 2, nothing logged.
printf 'just text\r\n' >"$work/notes.flq"
for list in missing.flq notes.flq; do
    status=0
    run "$(winpath "$work/$list")" -auto 2>/dev/null || status=$?
    [[ $status == 2 ]] || fail "$list: status $status"
done
status=0
run "$(winpath "$work/night.flq")" -auto --verify 2>/dev/null || status=$?
[[ $status == 2 ]] || fail "a switch this build lacks: status $status"
[[ $(wc -l <"${log[0]}") == 6 ]] || fail "a list that was not run logged lines"

# A program folder the user may not write: the log goes to %LOCALAPPDATA%\Mivex.
if [[ $(id -u) == 0 ]]; then
    echo "SKIPPED: the log in %LOCALAPPDATA%\\Mivex: as root every folder can be written"
else
    chmod a-w "$work/app"
    run "$(winpath "$work/night.flq")" -auto 2>/dev/null || true
    chmod u+w "$work/app"
    compgen -G "$WINEPREFIX/drive_c/users/*/AppData/Local/Mivex/*-log.txt" >/dev/null ||
        fail "no log in %LOCALAPPDATA%\\Mivex"
fi

((failed == 0)) && echo "the Windows build's tests passed"
exit $failed
