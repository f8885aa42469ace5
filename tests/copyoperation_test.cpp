// Processing a queue: the order and words of the log lines, failures, abort and the after-run
// notice.
#include "queue/copyoperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "queue/log.h"
#include "tests/testsupport.h"

namespace mivex {
namespace {

using namespace test;
using Lines = std::vector<std::string>;

// Splits a log into its messages (the text after the TAB), checking each line's frame.
Lines logMessages(const std::string& content) {
    Lines messages;
    for (std::size_t pos = 0, end; pos < content.size(); pos = end + 2) {
        end = content.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without CR LF";
            break;
        }
        const std::string line = content.substr(pos, end - pos);
        EXPECT_NE(line.find('\t'), std::string::npos) << line;
        messages.push_back(line.substr(line.find('\t') + 1));
    }
    return messages;
}

class CopyOperationTest : public ::testing::Test {
protected:
    void SetUp() override {
        plantTree(dir.path(), {"a.txt=alpha", "b.txt=beta", "dst/"});
        hooks.startTime = std::time(nullptr);
        hooks.afterRun = [this](const std::string& code) { notices.push_back(code); };
    }
    std::string logPath() const { return logs / logFileName(hooks.startTime); }
    Lines messages() const { return logMessages(readFile(logPath())); }

    TempDir dir;
    TempDir logs;
    CopyHooks hooks;
    Lines notices;
};

// A failure in the middle is logged in its place and the run goes on; only a run without failures
// gives the notice, with the copy code of its last row.
TEST_F(CopyOperationTest, EveryRowIsLoggedInOrderAndOnlyARunWithoutFailuresGivesTheNotice) {
    EXPECT_TRUE(CopyOperation({}, logs.path(), hooks));
    EXPECT_FALSE(exists(logPath())) << "an empty queue makes no log";
    const Lines rows = {
        "C-N --> " + dir / "a.txt" + " --> " + dir / "dst",
        "C-N --> " + dir / "missing.txt" + " --> " + dir / "dst",
        "C-O --> " + dir / "b.txt" + " --> " + dir / "dst",
        "M-N --> " + dir / "dst/a.txt" + " --> " + dir.path(),
    };
    EXPECT_FALSE(CopyOperation({rows[0], rows[1], rows[2]}, logs.path(), hooks));
    EXPECT_TRUE(CopyOperation({rows[3]}, logs.path(), hooks));
    EXPECT_EQ(notices, (Lines{"", "M"}));
    EXPECT_EQ(messages(), (Lines{
                              rows[0] + " was successful",
                              "*** ERROR *** " + rows[1] +
                                  " did not copy - Something broke... sorry. Error code is 2.",
                              rows[2] + " was successful",
                              rows[3] + " was successful",
                          }));
    EXPECT_EQ(describeTree(dir.path()),
              (Lines{"a - Copy.txt=alpha", "a.txt=alpha", "b.txt=beta", "dst/", "dst/b.txt=beta"}));
}

// Every row reaches the transfer with the flags of its letters (function, flags, source), or fails
// on its own when it is no entry; a code is logged in words; an abort stops the run there without a
// line for its row. Lost log lines are told once a run; no log folder means no log, silently.
TEST_F(CopyOperationTest, RowsCodesAbortAndLostLines) {
    Lines seen, told;
    hooks.perform = [&](ShellOpRecord& record) {
        seen.push_back(std::to_string(record.wFunc) + " " + std::to_string(record.fFlags) + " " +
                       record.pFrom);
        EXPECT_EQ(record.lpszProgressTitle, "Processing files from your queue.");
        record.fAnyOperationsAborted = record.pFrom == "stop";
        return record.pFrom == "-5" ? -5 : record.pFrom == "full" ? 1223 : 0;
    };
    hooks.logTrouble = [&](const std::string& text) { told.push_back(text); };
    using namespace std::string_literals;
    const Lines rows = {"C-N --> a --> b", "M-O --> -5 --> b", "c-n --> a --> b",
                        "C --> full --> b", " --> a --> b", "", "no separator here", "A --> B",
                        // A NUL would cut the path the system sees short of the one the row names.
                        "C-N --> /src/a\0junk --> /dst"s, "C-N --> /src/a --> /dst\0/../../x"s,
                        "C-N --> stop --> b", "C-N --> after --> b"};
    EXPECT_FALSE(CopyOperation(rows, logs.path(), hooks));
    // Lower case is a move that overwrites, one letter is both codes, no letters a move.
    EXPECT_EQ(seen, (Lines{"2 1560 a", "1 1552 -5", "1 1552 a", "2 1552 full", "1 1552 a",
                           "2 1560 stop"}));
    Lines expected = {
        rows[0] + " was successful",
        "*** ERROR *** " + rows[1] + " did not copy - Something broke... sorry. Error code is -5.",
        rows[2] + " was successful",
        "*** ERROR *** " + rows[3] + " did not copy - Not enough free space on destination drive",
        rows[4] + " was successful"};
    for (std::size_t i = expected.size(); i < 10; ++i) {
        expected.push_back("*** ERROR *** " + rows[i] +
                           " did not copy - This line is not a queue entry (expected \"C-N --> "
                           "source --> destination folder\")");
    }
    EXPECT_EQ(messages(), expected);
    EXPECT_TRUE(told.empty());
    EXPECT_TRUE(notices.empty());
    EXPECT_FALSE(CopyOperation(rows, logs / "missing", hooks));
    EXPECT_FALSE(CopyOperation(rows, "", hooks));
    EXPECT_EQ(told, Lines{"the run log " + logs / "missing/" + logFileName(hooks.startTime) +
                          " could not be written (No such file or directory): lines of this run "
                          "are missing"});
    EXPECT_EQ(listTree(logs.path()), Lines{logFileName(hooks.startTime)});
}

// A run keeps the last entry's folders open for the next one; one replaced between two entries
// (renamed away or removed, and made again) is opened again: the path is what the entry names.
TEST_F(CopyOperationTest, FolderReplacedBetweenEntriesIsOpenedAgain) {
    const std::pair<const char*, bool> cases[] = {{"dst", false}, {"dst", true}, {"src", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + (c.second ? " removed" : " renamed"));
        TempDir root;
        plantTree(root.path(), {"src/a.txt=a", "src/b.txt=old b", "dst/"});
        const std::string changed = root / c.first;
        hooks.perform = [&, entries = 0](ShellOpRecord& record) mutable {
            const int code = DoFileOperation(record);
            if (++entries == 1) {
                if (c.second) {
                    removeTree(changed);
                } else {
                    EXPECT_EQ(::rename(changed.c_str(), (changed + "-old").c_str()), 0);
                }
                EXPECT_EQ(::mkdir(changed.c_str(), 0755), 0);
                writeFile(root / "src/b.txt", "new b");
            }
            return code;
        };
        EXPECT_TRUE(CopyOperation({"C-O --> " + root / "src/a.txt" + " --> " + root / "dst",
                                   "C-O --> " + root / "src/b.txt" + " --> " + root / "dst"},
                                  logs.path(), hooks));
        EXPECT_EQ(readFile(root / "dst/b.txt"), "new b");
        EXPECT_FALSE(exists(root / "dst-old/b.txt"));
    }
}

}  // namespace
}  // namespace mivex
