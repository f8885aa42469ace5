// Queue-list files: writing, reading back, the first-line test, and failed saves.
#include "listfile/listfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "queue/queuestore.h"
#include "tests/testsupport.h"

namespace mivex {
namespace {

using namespace test;
using Rows = std::vector<std::string>;

const Rows kThree = {"C-N --> /data/report.doc --> /backup", "M-O --> /old --> /",
                     "C-O --> /a b/c --> /d"};
const std::string kThreeText =
    "C-N --> /data/report.doc --> /backup\r\nM-O --> /old --> /\r\nC-O --> /a b/c --> /d\r\n";

ListReadResult readList(const std::string& path) {
    return ReadQueueList(path, QueueStore::kMaxEntries);
}

// Runs `body` in a child process (as nobody when asked: root ignores permission bits) and returns
// its exit status, or -1 when it was killed after `seconds`.
int inChild(const std::function<int()>& body, bool asNobody = false, unsigned seconds = 10) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(seconds);
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            _exit(99);
        }
        _exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ListFile, SavedListIsTheMirrorAndReadsBackByteForByte) {
    TempDir dir;
    const std::string path = dir / "queue.flq";
    // Saving over an older, longer list replaces all of it and keeps its permissions.
    writeFile(path, std::string(10000, 'z'), 0640);
    std::string error;
    QueueStore store;
    store.assign(kThree);
    ASSERT_TRUE(WriteQueueList(path, store.gQueueMirror(), error)) << error;
    EXPECT_EQ(lstatOf(path).st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(path), kThreeText);
    const ListReadResult loaded = readList(path);
    EXPECT_EQ(loaded.status, ListReadStatus::Ok);
    EXPECT_EQ(loaded.rows, kThree);
    EXPECT_EQ(listTree(dir.path()), Rows{"queue.flq"});  // nothing left beside it
}

// A list reached through links (a cron job runs the target): saving writes what the links name
// and leaves every link as it was, with nothing left beside either name.
TEST(ListFile, SavingThroughLinksWritesTheirTarget) {
    TempDir dir;
    const std::string old(100, 'z');
    plantTree(dir.path(), {"lists/", "cron/night.flq->../lists/night.flq",
                           "chain.flq->" + dir / "cron/night.flq", "dangling.flq->lists/gone.flq",
                           "day.flq->lists/day.flq"});
    writeFile(dir / "lists/night.flq", old, 0640);
    writeFile(dir / "lists/day.flq", old, 0600);  // one name: a rename
    ASSERT_EQ(::link((dir / "lists/night.flq").c_str(), (dir / "hard.flq").c_str()), 0);
    const ino_t inode = lstatOf(dir / "hard.flq").st_ino;
    std::string error;
    for (const std::string name : {"cron/night.flq", "chain.flq", "hard.flq"}) {
        SCOPED_TRACE(name);
        writeFile(dir / "hard.flq", old, 0640);
        ASSERT_TRUE(WriteQueueList(dir / name, kThreeText, error)) << error;
        EXPECT_EQ(readFile(dir / "hard.flq"), kThreeText);
        EXPECT_EQ(lstatOf(dir / "hard.flq").st_ino, inode);
        EXPECT_EQ(lstatOf(dir / "lists/night.flq").st_mode & 0777, 0640u);
    }
    ASSERT_TRUE(WriteQueueList(dir / "dangling.flq", kThreeText, error)) << error;
    ASSERT_TRUE(WriteQueueList(dir / "day.flq", kThreeText, error)) << error;
    EXPECT_EQ(lstatOf(dir / "lists/day.flq").st_mode & 0777, 0600u);
    EXPECT_EQ(
        describeTree(dir.path()),
        (Rows{"chain.flq->" + dir / "cron/night.flq", "cron/", "cron/night.flq->../lists/night.flq",
              "dangling.flq->lists/gone.flq", "day.flq->lists/day.flq", "hard.flq=" + kThreeText,
              "lists/", "lists/day.flq=" + kThreeText, "lists/gone.flq=" + kThreeText,
              "lists/night.flq=" + kThreeText}));
}

// What a file reads as: its rows, or none when its first line is no entry and it is no list.
TEST(ListFile, ReadsLinesAsTheyStandAndTestsTheFirstLine) {
    const std::string bom = "\xEF\xBB\xBF", entry = "C-N --> /a --> /b";
    std::vector<std::pair<std::string, Rows>> cases = {
        {"A --> 1\n2\n3\n", {"A --> 1", "2", "3"}},
        {"A --> 1\r2\r3\r", {"A --> 1", "2", "3"}},
        {"A --> 1\r\n2\n3\r4\n\r5", {"A --> 1", "2", "3", "4", "", "5"}},
        {"A --> 1\r\n\r\n3\r\n", {"A --> 1", "", "3"}},
        {"A --> 1\r\n\r\n", {"A --> 1", ""}},
        {entry + "\r\nanything", {entry, "anything"}},
        {" --> x\n", {" --> x"}},
        {std::string("A --> \0\xff\r\n", 9), {std::string("A --> \0\xff", 8)}},  // bytes kept
        {bom + entry + "\r\n", {entry}},
        {bom + "A --> 1\r\n" + bom + "2", {"A --> 1", bom + "2"}},
        {bom + bom + entry, {bom + entry}},
        {"C-N -->  --> /b\r\n", {}},
        {"C-N --> \r\nA --> B\r\n", {}},
        {"no separator\r\nA --> B\r\n", {}},
        {"\r\nA --> B\r\n", {}},
        {"A -> B", {}},
        {"", {}},
        {"C-N\nA --> B", {}},  // a LF ends the first line too
    };
    // A CR LF split across read blocks is one line end.
    for (std::size_t block : {4096u, 8192u, 16384u, 65536u}) {
        auto& [content, rows] = cases.emplace_back("A --> 1\r\n", Rows{"A --> 1"});
        while (content.size() + 4002 < block - 1) {
            content += rows.emplace_back(4000, 'x') + "\r\n";
        }
        rows.emplace_back(block - 1 - content.size(), 'y');
        content += rows.back() + "\r\nnext\r\n";
        rows.push_back("next");
        ASSERT_EQ(content.find("\r\nnext"), block - 1);
    }
    // A line longer than any entry is read past and stands as a row that names it.
    const std::string longest = "C-N --> /" + std::string(kMaxListLineLength - 16, 'a') + " --> /b";
    ASSERT_EQ(longest.size(), kMaxListLineLength);
    cases.push_back({"A --> 1\r\n" + longest + "\r\n" + longest + "c\r\n" + entry,
                     {"A --> 1", longest,
                      "[line 3 of the list: " + std::to_string(longest.size() + 1) +
                          " bytes, longer than any queue entry]",
                      entry}});
    cases.push_back({longest + "c\r\nA --> 1\r\n", {}});

    TempDir dir;
    for (const auto& [content, rows] : cases) {
        SCOPED_TRACE(testing::PrintToString(content.substr(0, 40)));
        writeFile(dir / "t.flq", content);
        EXPECT_EQ(CheckQueueList(dir / "t.flq"), !rows.empty());
        const ListReadResult read = readList(dir / "t.flq");
        EXPECT_EQ(read.status, rows.empty() ? ListReadStatus::NotAList : ListReadStatus::Ok);
        EXPECT_EQ(read.rows, rows);
    }
    // A queue's worth of rows, and one more.
    std::string full;
    for (std::size_t i = 0; i < QueueStore::kMaxEntries; ++i) {
        full += entry + "\r\n";
    }
    writeFile(dir / "t.flq", full);
    EXPECT_EQ(readList(dir / "t.flq").rows.size(), QueueStore::kMaxEntries);
    writeFile(dir / "t.flq", full + entry);
    const ListReadResult over = readList(dir / "t.flq");
    EXPECT_EQ(over.status, ListReadStatus::TooManyEntries);
    EXPECT_TRUE(over.rows.empty());

    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const std::string name : {"missing", "folder", "fifo"}) {
        // In a child: a reader that waits for the FIFO's writer must fail, not hang.
        EXPECT_EQ(inChild([&] {
                      return CheckQueueList(dir / name) ||
                             readList(dir / name).status != ListReadStatus::NotAList;
                  }),
                  0)
            << name;
    }
}

TEST(ListFile, FailedSaveSaysWhyAndKeepsTheOldFile) {
    TempDir dir;
    std::string error;
    const std::string nowhere = dir / "missing/queue.flq";
    EXPECT_FALSE(WriteQueueList(nowhere, kThreeText, error));
    EXPECT_EQ(error, "The list could not be saved to " + nowhere + ": No such file or directory");
    // The rename fails after the temporary file was written; it must not stay behind.
    makeTree(dir.path(), {{"taken/inside", "keep"}});
    EXPECT_FALSE(WriteQueueList(dir / "taken", kThreeText, error));
    EXPECT_NE(error.find(dir / "taken"), std::string::npos);
    EXPECT_EQ(listTree(dir.path()), (Rows{"taken/", "taken/inside"}));

    // A list with two names, on a disk without room for the new one (256 KiB), or with room for
    // it beside the old one but not over it as well (72 KiB): both names keep the old list.
    TmpfsMount small(128 * 1024);
    if (small.ok()) {
        writeFile(small / "a.flq", "A --> old\r\n");
        ASSERT_EQ(::link((small / "a.flq").c_str(), (small / "b.flq").c_str()), 0);
        for (std::size_t size : {256 * 1024, 72 * 1024}) {
            EXPECT_FALSE(WriteQueueList(small / "a.flq", std::string(size, 'x'), error));
            EXPECT_EQ(error, "The list could not be saved to " + small / "a.flq" +
                                 ": No space left on device");
            EXPECT_EQ(readFile(small / "b.flq"), "A --> old\r\n");
            EXPECT_EQ(listTree(small.path()), (Rows{"a.flq", "b.flq"}));
        }
    }

    // A folder the user may not write to.
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
    const std::string old = dir / "ro/queue.flq";
    writeFile(old, "A --> old\r\n", 0666);
    ::chmod((dir / "ro").c_str(), 0555);
    const auto denied = [&] {
        std::string why;
        return WriteQueueList(old, kThreeText, why) ||
               why != "The list could not be saved to " + old + ": Permission denied";
    };
    EXPECT_EQ(inChild(denied, true), 0);
    EXPECT_EQ(readFile(old), "A --> old\r\n");
    EXPECT_EQ(listTree(dir / "ro"), Rows{"queue.flq"});
}

}  // namespace
}  // namespace mivex
