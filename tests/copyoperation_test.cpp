// Processing a queue: the log's lines in order and in words, failures, abort, the after-run notice.
#include "queue/copyoperation.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "queue/log.h"
#include "queue/runtotals.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

// A folder read (platform/folderwalk.cpp opens every folder it reads here) by the thread named
// `gHeldThread` waits while `gHold` is set, up to 5 s.
namespace {
std::atomic<bool> gHold{false}, gHeldInside{false}, gHeldLeft{false};
std::atomic<std::thread::id> gHeldThread{};
}  // namespace

extern "C" DIR* fdopendir(int fd) {
    static const auto real = reinterpret_cast<DIR* (*)(int)>(::dlsym(RTLD_NEXT, "fdopendir"));
    if (std::this_thread::get_id() == gHeldThread.load()) {
        gHeldInside = true;
        for (int i = 0; i < 500 && gHold; ++i) {
            ::usleep(10000);
        }
        gHeldLeft = true;
    }
    return real(fd);
}

namespace {

class CopyOperationTest : public ::testing::Test {
protected:
    void SetUp() override { hooks.startTime = std::time(nullptr); }
    // Runs `rows`; the copy code of a run without failures goes to `notices`.
    bool run(const Names& rows, const LogFolder& log) {
        summary = CopyOperation(rows, log, hooks);
        if (summary.ok()) {
            notices.push_back(summary.lastCopyCode);
        }
        return summary.ok();
    }
    std::string logPath() const { return logs / logFileName(hooks.startTime); }
    LogFolder logFolder() const { return LogFolder::open(logs.path()); }
    // The log's messages (the text after each line's TAB), in lines that each end in CR LF.
    Names messages() const {
        const std::string log = readFile(logPath());
        Names out;
        for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != log.npos; at = end + 2) {
            const std::string line = log.substr(at, end - at);
            out.push_back(line.substr(line.find('\t') + 1));
        }
        return out;
    }

    TempDir dir, logs;
    CopyHooks hooks;
    RunSummary summary;
    Names notices;
};

}  // namespace

// Every row reaches the transfer with the flags of its letters (function, flags, source), or fails
// on its own when it is no entry; a code is logged in words; an abort stops the run there without a
// line for its row. Lost log lines are told once a run; no log folder means no log, silently.
TEST_F(CopyOperationTest, RowsCodesAbortAndLostLines) {
    Names seen, told;
    hooks.perform = [&](ShellOpRecord& record, std::size_t number, std::size_t count) {
        seen.push_back(std::to_string(number) + "/" + std::to_string(count) + " " +
                       std::to_string(record.wFunc) + " " + std::to_string(record.fFlags) + " " +
                       record.pFrom);
        record.fAnyOperationsAborted = record.pFrom == "stop";
        return record.pFrom == "-5" ? -5 : record.pFrom == "full" ? 1223 : 0;
    };
    hooks.failed = [&](const RunFailure& failure) { told.push_back(describeFailure(failure)); };
    using namespace std::string_literals;
    const Names rows = {"C-N --> a --> b", "M-O --> -5 --> b", "c-n --> a --> b",
                        "C --> full --> b", " --> a --> b", "", "no separator here", "A --> B",
                        // A NUL would cut the path the system sees short of the one the row names.
                        "C-N --> /src/a\0junk --> /dst"s, "C-N --> /src/a --> /dst\0/../../x"s,
                        "C-N --> stop --> b", "C-N --> after --> b"};
    EXPECT_FALSE(run(rows, logFolder()));
    // Lower case is a move that overwrites, one letter is both codes, no letters a move; rows
    // that are no entry are not counted.
    EXPECT_EQ(seen, (Names{"1/7 2 1560 a", "2/7 1 1552 -5", "3/7 1 1552 a", "4/7 2 1552 full",
                           "5/7 1 1552 a", "6/7 2 1560 stop"}));
    // The summary holds every failure as it was told, and that the run was stopped.
    Names failures;
    for (const RunFailure& failure : summary.failures) {
        failures.push_back(describeFailure(failure));
    }
    EXPECT_EQ(failures, told);
    EXPECT_EQ(failures.size(), 7u);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(std::pair(summary.rows, summary.done), std::pair(rows.size(), std::size_t(3)));
    EXPECT_EQ(summary.logPath, logPath());
    Names expected = {
        rows[0] + " was successful",
        "*** ERROR *** " + rows[1] + " did not copy - Something broke... sorry. Error code is -5.",
        rows[2] + " was successful",
        "*** ERROR *** " + rows[3] + " did not copy - Not enough free space on destination drive",
        rows[4] + " was successful"};
    // Control characters are written as on standard error: a NUL makes grep call the log binary.
    const Names logged = {rows[5], rows[6], rows[7], "C-N --> /src/a\\x00junk --> /dst",
                          "C-N --> /src/a --> /dst\\x00/../../x"};
    for (const std::string& row : logged) {
        expected.push_back("*** ERROR *** " + row +
                           " did not copy - This line is not a queue entry (expected \"C-N --> "
                           "source --> destination folder\")");
    }
    EXPECT_EQ(messages(), expected);
    EXPECT_TRUE(notices.empty());
    EXPECT_FALSE(run(rows, LogFolder::open(logs / "missing")));
    EXPECT_EQ(summary.logTrouble, "the run log " + logs / "missing/" +
                                      logFileName(hooks.startTime) +
                                      " could not be written (No such file or directory): lines "
                                      "of this run are missing");
    EXPECT_FALSE(run(rows, LogFolder()));
    EXPECT_EQ(summary.logTrouble + summary.logPath, "");
    EXPECT_EQ(listTree(logs.path()), Names{logFileName(hooks.startTime)});
}

// A failure in the middle is logged in its place and the run goes on; only a run without failures
// gives the notice, with its last row's copy code. A run keeps the last entry's folders open for
// the next; one replaced between two entries (renamed away, or removed, and made again) is opened
// again.
TEST_F(CopyOperationTest, RunsOfTheEngine) {
    EXPECT_TRUE(run({}, logFolder()));
    EXPECT_FALSE(exists(logPath())) << "an empty queue makes no log";
    plantTree(dir.path(), {"src/a=a", "src/b=b", "src/c=c", "src/d=old d", "dst/"});
    const std::string src = dir / "src", dst = dir / "dst";
    const auto replace = [](const std::string& folder, bool remove) {
        remove ? removeTree(folder) : (void)::rename(folder.c_str(), (folder + "-old").c_str());
        EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
    };
    hooks.perform = [&](ShellOpRecord& record, auto...) {
        const int code = DoFileOperation(record);
        if (record.pFrom.ends_with("/a") || record.pFrom.ends_with("/b")) {
            replace(dst, record.pFrom.ends_with("/b"));
        } else if (record.pFrom.ends_with("/c")) {
            replace(src, false);
            writeFile(src + "/d", "new d");
        }
        return code;
    };
    Names rows;
    for (const char* name : {"a", "missing", "b", "c", "d"}) {
        rows.push_back("C-O --> " + src + "/" + name + " --> " + dst);
    }
    rows.push_back("M-N --> " + dst + "/d --> " + dir.path());
    EXPECT_FALSE(run({rows.begin(), rows.end() - 1}, logFolder()));
    hooks.perform = nullptr;  // the run's own transfer
    EXPECT_TRUE(run({rows.back()}, logFolder()));
    EXPECT_EQ(notices, (Names{"", "M"}));
    Names expected;
    for (const std::string& row : rows) {
        expected.push_back(row + " was successful");
    }
    expected[1] =
        "*** ERROR *** " + rows[1] + " did not copy - Something broke... sorry. Error code is 2.";
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(
        describeTree(dir.path()),
        (Names{"d=new d", "dst-old/", "dst-old/a=a", "dst/", "dst/c=c", "src-old/", "src-old/a=a",
               "src-old/b=b", "src-old/c=c", "src-old/d=old d", "src/", "src/d=new d"}));
}

// A "keep both" folder left unfinished is told by the name its copy took, and what is complete in
// it; a retry given that name carries on in it (the files already there written again) instead of
// claiming a second copy. Each row's outcome says how it ended.
TEST_F(CopyOperationTest, RetryCarriesOnInTheCopyItBegan) {
    plantTree(dir / "src/tree", {"a.txt=aaa", "b.txt=bb"});
    plantTree(dir / "dst", {"tree/", "tree - Copy/a.txt=a"});  // the first attempt's copy
    const std::string row = "C-N --> " + dir / "src/tree" + " --> " + dir / "dst";
    hooks.continueInto = {"", "tree - Copy"};
    EXPECT_FALSE(run({"C-N --> " + dir / "gone" + " --> " + dir / "dst", row}, logFolder()));
    EXPECT_EQ(summary.outcomes[1].state, RowState::Done);
    EXPECT_EQ(summary.outcomes[1].placedAs, "tree - Copy");
    EXPECT_EQ(describeTree(dir / "dst"),
              (Names{"tree - Copy/", "tree - Copy/a.txt=aaa", "tree - Copy/b.txt=bb", "tree/"}));
    // A fresh run claims the next name.
    ShellOpRecord record{.pFrom = dir / "src/tree", .pTo = dir / "dst"};
    EXPECT_EQ(DoFileOperation(record), 0);
    EXPECT_EQ(record.placedAs, "tree - Copy (2)");
    EXPECT_EQ(record.filesPlaced, 2u);
    EXPECT_EQ(record.bytesPlaced, 5u);
}

// Without a display, neighbouring one-file entries run on both cores; the log still gets every
// row's line in row order. A batch ends at a row that may not overlap (a keep-both copy, a move, a
// folder, a missing source, a name already in the batch or one that folds to it, another folder)
// and that row runs on its own, in its place.
TEST_F(CopyOperationTest, OverlappedEntriesLogInRowOrder) {
    constexpr int kFiles = 1100;  // the last batch is longer than the longest a batch gets
    Names tree = {"dst/f5=old", "dst/N=old"};
    for (int i = 0; i < kFiles; ++i) {
        tree.push_back("src/f" + std::to_string(i) + "=" + std::to_string(i));
    }
    tree.insert(tree.end(),
                {"src/F1=upper", "src/dir/x=x", "src/N=n", "other/g=g", "src/lnd->dir"});
    plantTree(dir.path(), tree);
    const std::string src = dir / "src", dst = dir / "dst";
    const auto row = [&](const std::string& codes, const std::string& from, const std::string& to) {
        return codes + " --> " + from + " --> " + to;
    };
    struct Case {
        std::string row;
        bool ok;
    };
    std::vector<Case> cases;
    for (int i = 0; i < 12; ++i) {
        cases.push_back({row("C-O", src + "/f" + std::to_string(i), dst), true});
    }
    cases.insert(cases.end(), {{row("C-O", src + "/F1", dst), true},
                               {row("C-O", src + "/gone", dst), false},
                               {row("C-N", src + "/N", dst), true},
                               {row("C-O", src + "/dir", dst), true},
                               {row("C-O", src + "/lnd/", dst), true},  // the link itself
                               {row("C-O", src + "/f5", dst), true},
                               {row("C-O", src + "/f5", dst), true},
                               {row("C-O", dir / "other/g", dst), true},
                               {row("C-U", src + "/f12", dst), true},
                               {row("M-O", src + "/f13", dst), true}});
    for (int i = 14; i < kFiles; ++i) {
        cases.push_back({row(i % 2 ? "C-O" : "C-U", src + "/f" + std::to_string(i), dst), true});
    }
    Names rows, expected;
    for (const Case& c : cases) {
        rows.push_back(c.row);
        expected.push_back(c.ok ? c.row + " was successful"
                                : "*** ERROR *** " + c.row +
                                      " did not copy - Something broke... sorry. Error code is 2.");
    }
    EXPECT_FALSE(run(rows, logFolder()));
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(summary.done, rows.size() - 1);
    Names copied = {"F1=upper", "N - Copy=n", "N=old", "dir/", "dir/x=x", "g=g", "lnd->dir"};
    for (int i = 0; i < kFiles; ++i) {
        copied.push_back("f" + std::to_string(i) + "=" + std::to_string(i));
    }
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(describeTree(dst), copied);
    EXPECT_FALSE(exists(src + "/f13"));
}

// The whole run's size, counted beside it as the transfer counts: files and links of every row,
// deep folders too, the bytes of files; a row that is no entry, or gone, counts nothing.
TEST(RunTotals, CountsEveryRowsFilesAndBytes) {
    TempDir src;
    plantTree(src.path(), {"one.txt=12345", "tree/a=aa", "tree/sub/deeper/b=bbb",
                           "tree/sub/link->../a", "tree/empty/"});
    RunTotals totals;
    totals.start({"C-N --> " + src / "one.txt" + " --> /d", "M-O --> " + src / "tree" + " --> /d",
                  "not an entry", "C-N --> " + src / "gone" + " --> /d"});
    for (int i = 0; i < 500 && !totals.counted(); ++i) {
        ::usleep(10000);
    }
    ASSERT_TRUE(totals.counted());
    EXPECT_EQ(totals.files(), 4u);
    EXPECT_EQ(totals.bytes(), 10u);
}

// A count kept for the run serves whoever asks next, but never with less than asked for: room in
// another block size, or a folder that the path no longer leads to, is counted afresh.
TEST(CountedSources, KeptCountsServeOnlyWhatTheyCounted) {
    TempDir src;
    plantTree(src.path(), {"tree/a=aa", "tree/sub/b=bbb"});
    const std::string tree = src / "tree";
    const auto look = [&] {
        struct stat st;
        EXPECT_EQ(::lstat(tree.c_str(), &st), 0);
        return st;
    };
    CountedSources counted;
    const SourceTotals first = counted.count(AT_FDCWD, tree, tree + "/", look());
    EXPECT_EQ(first.files, 2u);
    EXPECT_EQ(first.bytes, 5u);
    EXPECT_EQ(first.room, 0u);
    // Room in 1 KiB blocks: two files and two folders.
    EXPECT_EQ(counted.count(AT_FDCWD, tree, tree, look(), {1024}).room, 4096u);
    // Another folder at the same path, with one more file: not the kept count.
    const struct stat before = look();
    ASSERT_EQ(::rename(tree.c_str(), (src / "old").c_str()), 0);
    plantTree(src.path(), {"tree/a=aa", "tree/b=bbb", "tree/c=c"});
    ASSERT_FALSE(sameFile(before, look()));
    EXPECT_EQ(counted.count(AT_FDCWD, tree, tree, look()).files, 3u);
}

// An entry whose source the run's count is walking does not wait for that count: it copies at
// once and takes its totals in its reports once the count is done. On the calling thread alone,
// so that a report follows the one that lets the count end, however slow the machine.
TEST(CountedSources, EntryCopiesWhileTheRunCountsAndTakesTheTotalsAfter) {
    const ScopedEnv oneThread("MIVEX_WORKERS", "0");
    TempDir src, dst;
    plantTree(src.path(), {"tree/a=aa", "tree/sub/b=bbb"});
    const std::string tree = src / "tree";
    struct stat st;
    ASSERT_EQ(::lstat(tree.c_str(), &st), 0);
    CountedSources counted;
    gHold = true;
    std::thread count([&] {
        gHeldThread = std::this_thread::get_id();
        counted.count(AT_FDCWD, tree, tree, st);
    });
    while (!gHeldInside) {
        ::usleep(1000);
    }
    Monitor monitor;
    bool heldWhileCopying = false;
    TransferProgress last;
    monitor.onReport = [&](const TransferProgress& p) {
        if (gHold.exchange(false)) {
            heldWhileCopying = !gHeldLeft;  // still held: the copy did not wait for the count
            count.join();
        }
        last = p;
    };
    TransferRequest request(tree, dst.path(), kCopy, kO);
    request.counted = &counted;
    EXPECT_EQ(transferItem(request, &monitor).code, 0);
    EXPECT_TRUE(heldWhileCopying);
    EXPECT_EQ(last.filesTotal, 2u);
    EXPECT_EQ(last.bytesTotal, 5u);
    EXPECT_EQ(describeTree(dst / "tree"), describeTree(tree));
    gHeldThread = std::thread::id();
}
