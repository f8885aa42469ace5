// Processing a queue: the order and words of the log lines, failures, abort and the after-run
// notice.
#include "queue/copyoperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <functional>

#include "platform/resultcodes.h"
#include "queue/log.h"
#include "tests/testsupport.h"

namespace mivex {
namespace {

using test::exists;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Splits a log into its messages (the text after the TAB), checking each line's frame.
std::vector<std::string> logMessages(const std::string& content) {
    std::vector<std::string> messages;
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
        writeFile(dir / "a.txt", "alpha");
        writeFile(dir / "b.txt", "beta");
        test::makeTree(dir.path(), {{"dst/", ""}});
        hooks.startTime = std::time(nullptr);
        hooks.afterRun = [this](const std::string& code) { notices.push_back(code); };
    }
    std::string logPath() const { return logs / logFileName(hooks.startTime); }
    std::vector<std::string> messages() const { return logMessages(readFile(logPath())); }

    TempDir dir;
    TempDir logs;
    CopyHooks hooks;
    std::vector<std::string> notices;
};

TEST_F(CopyOperationTest, MiddleFailureIsLoggedInOrderAndTheRunGoesOn) {
    const std::vector<std::string> rows = {
        "C-N --> " + dir / "a.txt" + " --> " + dir / "dst",
        "C-N --> " + dir / "missing.txt" + " --> " + dir / "dst",
        "C-O --> " + dir / "b.txt" + " --> " + dir / "dst",
    };
    EXPECT_FALSE(CopyOperation(rows, logs.path(), hooks));
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              rows[0] + " was successful",
                              "*** ERROR *** " + rows[1] +
                                  " did not copy - Something broke... sorry. Error code is 2.",
                              rows[2] + " was successful",
                          }));
    EXPECT_EQ(readFile(dir / "dst/b.txt"), "beta");
    EXPECT_TRUE(notices.empty()) << "no after-run notice after a failure";
}

TEST_F(CopyOperationTest, SuccessfulRunGivesOneNoticeWithTheLastCopyCode) {
    EXPECT_TRUE(CopyOperation({}, logs.path(), hooks));
    EXPECT_FALSE(exists(logPath())) << "an empty queue makes no log";
    const std::vector<std::string> rows = {
        "C-N --> " + dir / "a.txt" + " --> " + dir / "dst",
        "M-N --> " + dir / "b.txt" + " --> " + dir / "dst",
    };
    EXPECT_TRUE(CopyOperation(rows, logs.path(), hooks));
    EXPECT_EQ(notices, (std::vector<std::string>{"", "M"}));
    EXPECT_FALSE(exists(dir / "b.txt"));
    EXPECT_EQ(messages().size(), 2u);
}

// However many lines are lost, the run says so once; an empty log folder means no log, silently.
TEST_F(CopyOperationTest, LostLogLinesAreToldOncePerRun) {
    hooks.perform = [](ShellOpRecord&) { return 0; };
    std::vector<std::string> told;
    hooks.logTrouble = [&](const std::string& text) { told.push_back(text); };
    const std::vector<std::string> rows = {"C-N --> /a --> /b", "no entry", "C-N --> /c --> /d"};
    EXPECT_FALSE(CopyOperation(rows, logs / "missing", hooks));
    EXPECT_EQ(told, std::vector<std::string>{"the run log " + logs / "missing/" +
                                             logFileName(hooks.startTime) +
                                             " could not be written (No such file or directory): "
                                             "lines of this run are missing"});
    told.clear();
    EXPECT_FALSE(CopyOperation(rows, "", hooks));
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(test::listTree(logs.path()), std::vector<std::string>{});
}

TEST_F(CopyOperationTest, AbortStopsTheWalkWithoutALineForThatRow) {
    std::vector<std::string> performed;
    hooks.perform = [&](ShellOpRecord& record) {
        performed.push_back(record.pFrom);
        record.fAnyOperationsAborted = performed.size() == 2;
        return 0;
    };
    const std::vector<std::string> rows = {"C-N --> /one --> /d", "C-N --> /two --> /d",
                                           "C-N --> /three --> /d"};
    EXPECT_FALSE(CopyOperation(rows, logs.path(), hooks));
    EXPECT_EQ(performed, (std::vector<std::string>{"/one", "/two"}));
    EXPECT_EQ(messages(), std::vector<std::string>{rows[0] + " was successful"});
    EXPECT_TRUE(notices.empty());
}

// A run keeps the last entry's folders open for the next one; one replaced between two entries is
// opened again: the path is what the entry names.
TEST_F(CopyOperationTest, FolderReplacedBetweenEntriesIsOpenedAgain) {
    const auto swap = [](const std::string& folder) {
        ASSERT_EQ(::rename(folder.c_str(), (folder + "-old").c_str()), 0);
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    };
    const auto remake = [](const std::string& folder) {
        test::removeTree(folder);
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    };
    const struct {
        const char* what;
        bool source;  // else the destination
        std::function<void(const std::string&)> change;
    } cases[] = {
        {"destination renamed and replaced", false, swap},
        {"destination removed and made again", false, remake},
        {"source folder renamed and replaced", true, swap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir root;
        test::makeTree(root.path(), {{"src/a.txt", "a"}, {"src/b.txt", "old b"}, {"dst/", ""}});
        const std::string changed = c.source ? root / "src" : root / "dst";
        int entries = 0;
        hooks.perform = [&](ShellOpRecord& record) {
            const int code = DoFileOperation(record);
            if (++entries == 1) {
                c.change(changed);
                if (c.source) {
                    writeFile(root / "src/b.txt", "new b");
                }
            }
            return code;
        };
        const std::vector<std::string> rows = {
            "C-O --> " + root / "src/a.txt" + " --> " + root / "dst",
            "C-O --> " + root / "src/b.txt" + " --> " + root / "dst"};
        EXPECT_TRUE(CopyOperation(rows, logs.path(), hooks));
        EXPECT_EQ(readFile(root / "dst/b.txt"), c.source ? "new b" : "old b");
        EXPECT_FALSE(exists(root / "dst-old/b.txt"));
    }
}

// Codes follow the exact letter rule; rows that are no entries fail on their own.
TEST_F(CopyOperationTest, CodesAndRowsThatAreNoEntries) {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> seen;
    hooks.perform = [&](ShellOpRecord& record) {
        seen.emplace_back(record.wFunc, record.fFlags);
        EXPECT_EQ(record.lpszProgressTitle, "Processing files from your queue.");
        return 0;
    };
    using namespace std::string_literals;
    const std::vector<std::string> rows = {
        "C-N --> a --> b", "M-O --> a --> b", "c-n --> a --> b", "C --> a --> b", " --> a --> b",
        "", "no separator here", "A --> B",
        // A NUL would cut the path the system sees short of the one the row names.
        "C-N --> /src/a\0junk --> /dst"s, "C-N --> /src/a --> /dst\0/../../x"s};
    EXPECT_FALSE(CopyOperation(rows, logs.path(), hooks));
    using R = ShellOpRecord;
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, std::uint16_t>>{
                        {R::FO_COPY, 1560},
                        {R::FO_MOVE, 1552},
                        {R::FO_MOVE, 1552},  // lower case: a move that overwrites
                        {R::FO_COPY, 1552},  // one letter is both codes: "C" and "C"
                        {R::FO_MOVE, 1552},  // empty codes
                    }));
    const auto lines = messages();
    ASSERT_EQ(lines.size(), rows.size());
    EXPECT_EQ(lines[4], " --> a --> b was successful");
    for (std::size_t i = 5; i < rows.size(); ++i) {
        EXPECT_EQ(
            lines[i].rfind("*** ERROR *** " + rows[i] + " did not copy - This line is not", 0), 0u)
            << lines[i];
    }
}

TEST(GetErrorText, WordsForEachKindOfCode) {
    EXPECT_EQ(GetErrorText(1223), "Not enough free space on destination drive");
    EXPECT_EQ(GetErrorText(2), "Something broke... sorry. Error code is 2.");
    EXPECT_EQ(GetErrorText(-5), "Something broke... sorry. Error code is -5.");
}

}  // namespace
}  // namespace mivex
