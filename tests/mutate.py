#!/usr/bin/env python3
"""Hand-made faults in the product code, one at a time, to see which ones the suite catches.

A tool of the suite, not a part of it: run it before and after changing the tests, and compare the
two tables. Each fault is a snippet of the product code and what it becomes; the file is found by
the snippet itself, so files may move or split without this table changing.

    cmake -S SRC -B SRC/build-mut -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
    tests/mutate.py --src SRC --build SRC/build-mut [--only ID,ID] > table.md

Run it on a copy of the tree of its own: the source is changed while a fault is tried (and always
put back, even on an error or an interrupt). For each fault: build, run the tests most likely to
catch it, then the rest (`ctest --stop-on-failure`), and report the first test that failed.
"""
import argparse
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

PRODUCT_SKIP = {"tests", "fuzz", "bench", "packaging", "scripts", "docs", "help"}

# (id, what the fault is, snippet, replacement, ctest regex of the tests to try first)
MUTATIONS = [
    ("keepboth-number", "keep-both names count from the wrong number",
     '" - Copy (" + std::to_string(n) + ")"', '" - Copy (" + std::to_string(n + 1) + ")"',
     "CollisionName|KeepBoth"),
    ("log-no-cr", "a run-log line ends in LF without the CR",
     '    line += message;\n    line += "\\r\\n";', '    line += message;\n    line += "\\n";',
     "RunLog|CopyOperation"),
    ("log-torn-end", "a torn last line of the log is not ended before the run's first line",
     "return ::pread(fd, tail, 2, from) == 2 && tail[0] == '\\r' && tail[1] == '\\n';",
     "return ::pread(fd, tail, 2, from) == 2;", "RunLog"),
    ("move-removes-failed-source", "a move across filesystems removes the source after a failed copy",
     "if (code != kSuccess || mAborted) {\n        return code;  // the source stays whole",
     "if (mAborted) {\n        return code;  // the source stays whole",
     "DiskFull|Permissions|KilledMove|AcrossFilesystems"),
    ("move-no-syncfs", "a move across filesystems removes the source before the copy is on disk",
     "if (::syncfs(dstDir) != 0) {", "if (false) {", "Move|Fault|Sync"),
    ("list-no-fsync", "a saved list is renamed into place without fsync",
     "bool ok = writeAll(fd, mirror) == 0 && ::fsync(fd) == 0;", "bool ok = writeAll(fd, mirror) == 0;",
     "ListFile|Fault"),
    ("overwrite-unlink-first", "an overwrite removes the old file before the new one is in place",
     "    const int code = placeTemp(dstDir, temp, dstName, Placement::Replace);",
     "    ::unlinkat(dstDir, dstName.c_str(), 0);\n"
     "    const int code = placeTemp(dstDir, temp, dstName, Placement::Fresh);",
     "Overwrite|DiskFull|Killed"),
    ("same-folder-inverted", "a move or overwrite into the item's own folder is let through",
     "if (sameInode(destSt, parentSt) && (isMove || !keepBoth)) {",
     "if (sameInode(destSt, parentSt) && (isMove && !keepBoth)) {", "OwnFolder"),
    ("file-folder-clash", "a file may replace a folder and a folder a file",
     "return S_ISDIR(there.st_mode) == incomingIsDir ? kSuccess : kAlreadyExists;",
     "return S_ISDIR(there.st_mode) == incomingIsDir ? kSuccess : kSuccess;", "Placing|Overwrite|Links"),
    ("no-file-times", "copied files keep the time of their copying",
     "if (::futimens(fd, times) != 0 && mOptions.timesRefusalFails) {",
     "if ((void)times, false) {", "TransferCopy|Metadata|Threads"),
    ("mode-without-special-bits", "set-user-ID, set-group-ID and sticky bits are dropped",
     "if (::fchmod(fd, st.st_mode & 07777) != 0 && mOptions.modeRefusalFails) {",
     "if (::fchmod(fd, st.st_mode & 0777) != 0 && mOptions.modeRefusalFails) {",
     "Metadata|Mode|TransferCopy"),
    ("source-change-unseen", "a source that grew while it was copied is taken as copied",
     "if (::fstat(src.get(), &after) != 0 || after.st_size != st.st_size ||",
     "if (::fstat(src.get(), &after) != 0 ||", "SourceChange|DuringTheRun"),
    ("no-stale-temp-cleanup", "temporary files of a killed run are never removed",
     "pid != 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH",
     "pid != 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH && false", "Killed"),
    ("hardlinks-off-by-one", "a file of two names is copied twice",
     "mOptions.keepHardLinks && st.st_nlink > 1 && placement", "mOptions.keepHardLinks && st.st_nlink > 2 && placement",
     "HardLinks|Metadata"),
    ("enospc-unmapped", "a full disk is reported as an unknown failure",
     "        case ENOSPC:\n        case EDQUOT:\n            return kDiskFull;",
     "        case EDQUOT:\n            return kDiskFull;", "DiskFull"),
    ("parse-nul", "a row holding a NUL byte is taken as an entry",
     "if (count < pieces.size() || strString.find('\\0') != std::string_view::npos) {",
     "if (count < pieces.size()) {", "QueueEntry|Hostile|ListFile"),
    ("storable-arrow-end", "a path ending in ' -->' may be queued",
     'path.find(kSeparator) != std::string_view::npos || path.ends_with(" -->") ||',
     "path.find(kSeparator) != std::string_view::npos ||", "QueueStore|QueueEntry|Main"),
    ("storable-surrogates", "UTF-8 surrogates count as storable",
     "(length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))",
     "(length == 3 && (code < 0x800))", "QueueEntry|Main"),
    ("list-bom-kept", "a byte-order mark is read as part of the first entry",
     "if (mFirstBlock && std::string_view(mBuffer, mLength).starts_with(kByteOrderMark)) {",
     "if (false) {", "ListFile"),
    ("list-one-row-too-many", "a list may hold one row more than the queue",
     "if (result.rows.size() == maxRows) {", "if (result.rows.size() == maxRows + 1) {",
     "ListFile|Queue"),
    ("abort-goes-on", "an abort does not stop the queue",
     "return false;  // the rest of the queue is left as it is", "continue;  // the rest",
     "CopyOperation|Progress|ui_progress"),
    ("failed-run-ok", "a run with failures ends as a success",
     "    if (errors != 0) {", "    if (errors < 0) {", "CopyOperation|UnattendedRun"),
    ("diskfull-text", "the words for a full disk are the generic ones",
     "if (code == 1223) {", "if (code == 1224) {", "CopyOperation|GetErrorText|DiskFull"),
    ("auto-marker", "'-auto' is looked for without its leading space",
     'line.unattended = text.find(" -auto") != std::string_view::npos;',
     'line.unattended = text.find("-auto") != std::string_view::npos;', "ArgumentText|Unattended"),
    ("into-itself-root", "a move or copy of / is let through",
     'return {kIntoItself, false};  // every folder lies below the root',
     "(void)0;", "OwnFolder|Into"),
    ("queue-mirror-lf", "a saved list separates rows by LF alone",
     'mirror.append(row).append("\\r\\n");', 'mirror.append(row).append("\\n");',
     "QueueStore|ListFile"),
    ("cab-file-limit", "an archive may hold one file more than a cabinet can",
     "if (m->files.size() + 1 > kMaxFiles) {", "if (m->files.size() > kMaxFiles) {",
     "CabinetWriter|Archive"),
]


def product_files(src):
    for path in pathlib.Path(src).rglob("*"):
        rel = path.relative_to(src)
        if rel.parts[0] in PRODUCT_SKIP or rel.parts[0].startswith("build") or rel.parts[0].startswith("."):
            continue
        if path.suffix in (".cpp", ".h") and path.is_file():
            yield path


def find(src, snippet):
    hits = [(p, p.read_text()) for p in product_files(src)]
    hits = [(p, t) for p, t in hits if snippet in t]
    if len(hits) != 1 or hits[0][1].count(snippet) != 1:
        return None
    return hits[0]

def run(cmd, timeout, cwd=None):
    # A session of its own, so that a time limit ends the tests that ctest started too.
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        return -1, ""


def failed_test(build):
    log = pathlib.Path(build) / "Testing/Temporary/LastTestsFailed.log"
    if log.exists():
        names = [line.split(":", 1)[1] for line in log.read_text().splitlines() if ":" in line]
        if names:
            return names[0]
    return None


def ctest(build, args, limit):
    log = pathlib.Path(build) / "Testing/Temporary/LastTestsFailed.log"
    if log.exists():
        log.unlink()
    code, out = run(["ctest", "-j2", "--stop-on-failure", "--timeout", "120"] + args, limit, cwd=build)
    if code == -1:
        return "time limit"
    if "No tests were found" in out and code == 0:
        return None
    return failed_test(build) if code != 0 else None


def try_one(src, build, mutation, limit, before):
    ident, what, snippet, replacement, first = mutation
    hit = find(src, snippet)
    if hit is None:
        return "not found", ""
    path, text = hit
    original = text
    try:
        path.write_text(text.replace(snippet, replacement, 1))
        code, out = run(["ninja", "-C", build, "-j2"], 1800)
        if code != 0:
            return "build failed", out[-400:]
        started = time.monotonic()
        caught = None
        if ident in before:  # the test that caught it last time, if it is still there
            caught = ctest(build, ["-R", "^" + re.escape(before[ident]) + "$"], limit)
        if caught is None:
            caught = ctest(build, ["-R", first], limit)
        if caught is None:
            remaining = max(60, limit - int(time.monotonic() - started))
            caught = ctest(build, ["-E", first], remaining)
        return ("caught", caught) if caught else ("escaped", "")
    finally:
        path.write_text(original)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--src", default=".")
    ap.add_argument("--build", default="build-mut")
    ap.add_argument("--only", default="")
    ap.add_argument("--limit", type=int, default=900, help="seconds of tests per fault")
    ap.add_argument("--before", help="an earlier table: only its caught faults, its tests first")
    a = ap.parse_args()
    src = os.path.abspath(a.src)
    build = os.path.abspath(a.build)
    # An interrupt must still reach the `finally` that puts the source back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    only = set(filter(None, a.only.split(",")))
    before = {}
    if a.before:
        for line in pathlib.Path(a.before).read_text().splitlines():
            cells = [c.strip() for c in line.strip("|").split("|")]
            if len(cells) == 4 and cells[2] == "caught":
                before[cells[0]] = re.sub(r" \(\d+ s\)$", "", cells[3])
        only = only or set(before)
    print("| fault | what | result | first failing test |")
    print("|---|---|---|---|")
    for m in MUTATIONS:
        if only and m[0] not in only:
            continue
        t0 = time.monotonic()
        result, detail = try_one(src, build, m, a.limit, before)
        print(f"| {m[0]} | {m[1]} | {result} | {detail.strip() if result != 'build failed' else ''} "
              f"({int(time.monotonic() - t0)} s) |", flush=True)
        if result == "build failed":
            print(detail, file=sys.stderr)
    # The tree as it was: the build of the last fault must not stay in the binaries.
    run(["ninja", "-C", build, "-j2"], 1800)


if __name__ == "__main__":
    main()
