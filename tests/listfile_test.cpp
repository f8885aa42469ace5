// Queue-list files: writing, reading back, the first-line test, and failed saves.
#include "listfile/listfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "queue/queueentry.h"
#include "queue/queuestore.h"
#include "tests/testsupport.h"

namespace mivex {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;
using Rows = std::vector<std::string>;

const Rows kThree = {"C-N --> /data/report.doc --> /backup", "M-O --> /old --> /",
                     "C-O --> /a b/c --> /d"};

std::string mirrorOf(const Rows& rows) {
    QueueStore store;
    store.assign(rows);
    return store.gQueueMirror();
}

ListReadResult readList(const std::string& path) {
    return ReadQueueList(path, QueueStore::kMaxEntries);
}

Rows rowsOf(const std::string& content) {
    TempDir dir;
    writeFile(dir / "list.flq", content);
    const ListReadResult result = readList(dir / "list.flq");
    EXPECT_EQ(result.status, ListReadStatus::Ok);
    return result.rows;
}

// Runs `body` in a child process, dropping root to nobody when asked (root ignores permission
// bits), and returns its exit status, or -1 when it had to be killed after `seconds`.
int inChild(const std::function<int()>& body, bool asNobody = false, int seconds = 10) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (asNobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            _exit(99);
        }
        _exit(body());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ListFile, SavedListIsTheMirrorAndReadsBackByteForByte) {
    TempDir dir;
    const std::string path = dir / "queue.flq";
    // Saving over an older, longer list replaces all of it and keeps its permissions.
    writeFile(path, std::string(10000, 'z'), 0640);
    std::string error;
    ASSERT_TRUE(WriteQueueList(path, mirrorOf(kThree), error)) << error;
    EXPECT_EQ(test::lstatOf(path).st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(path),
              "C-N --> /data/report.doc --> /backup\r\nM-O --> /old --> /\r\n"
              "C-O --> /a b/c --> /d\r\n");

    const ListReadResult loaded = readList(path);
    ASSERT_EQ(loaded.status, ListReadStatus::Ok);
    EXPECT_EQ(loaded.rows, kThree);

    const std::string again = dir / "again.flq";
    ASSERT_TRUE(WriteQueueList(again, mirrorOf(loaded.rows), error)) << error;
    EXPECT_EQ(readFile(again), readFile(path));
    // Nothing but the two lists is left behind in the folder.
    EXPECT_EQ(test::listTree(dir.path()), (Rows{"again.flq", "queue.flq"}));
}

// A list reached through links (a cron job runs the target): saving writes what the links name
// and leaves every link as it was, with nothing left beside either name.
TEST(ListFile, SavingThroughLinksWritesTheirTarget) {
    const std::string saved = mirrorOf(kThree);
    for (const std::string& old : {std::string(100, 'z'), std::string("A --> 1\r\n")}) {
        TempDir dir;
        ASSERT_EQ(::mkdir((dir / "lists").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((dir / "cron").c_str(), 0755), 0);
        writeFile(dir / "lists/night.flq", old, 0640);
        ASSERT_EQ(::symlink("../lists/night.flq", (dir / "cron/night.flq").c_str()), 0);
        ASSERT_EQ(::symlink((dir / "cron/night.flq").c_str(), (dir / "chain.flq").c_str()), 0);
        ASSERT_EQ(::link((dir / "lists/night.flq").c_str(), (dir / "hard.flq").c_str()), 0);
        ASSERT_EQ(::symlink("lists/gone.flq", (dir / "dangling.flq").c_str()), 0);
        writeFile(dir / "lists/day.flq", old, 0600);  // one name only: replaced by a rename
        ASSERT_EQ(::symlink("lists/day.flq", (dir / "day.flq").c_str()), 0);
        const ino_t inode = test::lstatOf(dir / "hard.flq").st_ino;

        for (const std::string name : {"cron/night.flq", "chain.flq", "hard.flq"}) {
            SCOPED_TRACE(name);
            writeFile(dir / "hard.flq", old, 0640);
            std::string error;
            ASSERT_TRUE(WriteQueueList(dir / name, saved, error)) << error;
            EXPECT_EQ(readFile(dir / "lists/night.flq"), saved);
            EXPECT_EQ(readFile(dir / "hard.flq"), saved);
            EXPECT_EQ(test::lstatOf(dir / "hard.flq").st_ino, inode);
            EXPECT_EQ(test::lstatOf(dir / "lists/night.flq").st_mode & 0777, 0640u);
        }
        std::string error;
        ASSERT_TRUE(WriteQueueList(dir / "dangling.flq", saved, error)) << error;
        ASSERT_TRUE(WriteQueueList(dir / "day.flq", saved, error)) << error;
        EXPECT_EQ(readFile(dir / "lists/day.flq"), saved);
        EXPECT_EQ(test::lstatOf(dir / "lists/day.flq").st_mode & 0777, 0600u);
        EXPECT_EQ(test::linkTarget(dir / "day.flq"), "lists/day.flq");
        EXPECT_EQ(readFile(dir / "lists/gone.flq"), saved);
        EXPECT_EQ(test::linkTarget(dir / "cron/night.flq"), "../lists/night.flq");
        EXPECT_EQ(test::linkTarget(dir / "chain.flq"), dir / "cron/night.flq");
        EXPECT_EQ(test::linkTarget(dir / "dangling.flq"), "lists/gone.flq");
        // Nothing left beside any name (listTree shows links by their targets' names).
        EXPECT_EQ(test::listTree(dir / "lists"), (Rows{"day.flq", "gone.flq", "night.flq"}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 6);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cron"), {}), 1);
    }
}

TEST(ListFile, LinesEndAtCrLfCrOrLf) {
    EXPECT_EQ(rowsOf("A --> 1\n2\n3\n"), (Rows{"A --> 1", "2", "3"}));
    EXPECT_EQ(rowsOf("A --> 1\r2\r3\r"), (Rows{"A --> 1", "2", "3"}));
    EXPECT_EQ(rowsOf("A --> 1\r\n2\n3\r4\n\r5"), (Rows{"A --> 1", "2", "3", "4", "", "5"}));
    EXPECT_EQ(rowsOf("A --> 1\r\n\r\n3\r\n"), (Rows{"A --> 1", "", "3"}));
    EXPECT_EQ(rowsOf("A --> 1\r\n2"), (Rows{"A --> 1", "2"}));
    EXPECT_EQ(rowsOf("A --> 1\r\n\r\n"), (Rows{"A --> 1", ""}));
    // Lists are byte strings: a NUL or an invalid UTF-8 byte is kept as it stands.
    EXPECT_EQ(rowsOf(std::string("A --> \0\xff\r\n", 9)), Rows{std::string("A --> \0\xff", 8)});
}

TEST(ListFile, LeadingUtf8ByteOrderMarkIsSkipped) {
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(rowsOf(bom + "C-N --> /a --> /b\r\n"), Rows{"C-N --> /a --> /b"});
    EXPECT_EQ(rowsOf(bom + "A --> 1\r\n" + bom + "2"), (Rows{"A --> 1", bom + "2"}));
    TempDir dir;
    writeFile(dir / "t.flq", bom + "C-N --> /a --> /b\r\n");
    EXPECT_TRUE(CheckQueueList(dir / "t.flq"));
    writeFile(dir / "t.flq", bom + bom + "C-N --> /a --> /b\r\n");
    EXPECT_EQ(readList(dir / "t.flq").rows, Rows{bom + "C-N --> /a --> /b"});
}

TEST(ListFile, CrLfSplitAcrossReadBlocksIsOneLineEnd) {
    for (std::size_t block : {4096u, 8192u, 16384u, 65536u}) {
        SCOPED_TRACE(block);
        // Lines of 4000 bytes up to one that puts its CR on the block's last byte.
        std::string content = "A --> 1\r\n";
        Rows expected = {"A --> 1"};
        while (content.size() + 4002 < block - 1) {
            expected.push_back(std::string(4000, 'x'));
            content += expected.back() + "\r\n";
        }
        expected.push_back(std::string(block - 1 - content.size(), 'y'));
        content += expected.back() + "\r\nnext\r\n";
        ASSERT_EQ(content.find("\r\nnext"), block - 1);
        expected.push_back("next");
        EXPECT_EQ(rowsOf(content), expected);
    }
}

// No entry is longer than two paths of PATH_MAX: a longer line is read past (it is not kept in
// memory) and stands as a row that is no entry, so it fails on its own when carried out.
TEST(ListFile, LineLongerThanAnyEntryIsARowThatNamesIt) {
    const std::string longest = "C-N --> /" + std::string(kMaxListLineLength - 16, 'a') + " --> /b";
    ASSERT_EQ(longest.size(), kMaxListLineLength);
    const std::string over = longest + "c";
    const Rows rows = rowsOf("A --> 1\r\n" + longest + "\r\n" + over + "\r\nC-N --> /a --> /b");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], longest);
    EXPECT_EQ(rows[2], "[line 3 of the list: " + std::to_string(over.size()) +
                           " bytes, longer than any queue entry]");
    EXPECT_EQ(rows[3], "C-N --> /a --> /b");
    EXPECT_FALSE(ParseRecord(rows[2]));

    // A first line that long is no queue entry either: the file is no list.
    TempDir dir;
    writeFile(dir / "t.flq", over + "\r\nA --> 1\r\n");
    EXPECT_FALSE(CheckQueueList(dir / "t.flq"));
    EXPECT_EQ(readList(dir / "t.flq").status, ListReadStatus::NotAList);
}

TEST(ListFile, FirstLineTest) {
    TempDir dir;
    const auto check = [&](const std::string& content) {
        writeFile(dir / "t.flq", content);
        return CheckQueueList(dir / "t.flq");
    };
    EXPECT_TRUE(check("A --> B"));
    EXPECT_TRUE(check("C-N --> /a --> /b\r\nanything"));
    EXPECT_TRUE(check(" --> x\n"));
    EXPECT_FALSE(check("C-N -->  --> /b\r\n"));
    EXPECT_FALSE(check("C-N --> \r\nA --> B\r\n"));
    EXPECT_FALSE(check("no separator\r\nA --> B\r\n"));
    EXPECT_FALSE(check("\r\nA --> B\r\n"));
    EXPECT_FALSE(check("A -> B"));
    EXPECT_FALSE(check(""));
    // A LF ends the first line too, so the separator on the second line does not count.
    EXPECT_FALSE(check("C-N\nA --> B"));

    EXPECT_EQ(readList(dir / "t.flq").status, ListReadStatus::NotAList);
    writeFile(dir / "t.flq", "C-N -->  --> /b\r\nA --> B\r\n");
    const ListReadResult refused = readList(dir / "t.flq");
    EXPECT_EQ(refused.status, ListReadStatus::NotAList);
    EXPECT_TRUE(refused.rows.empty());
}

TEST(ListFile, ThingsThatAreNotListFiles) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const std::string name : {"missing", "folder", "fifo"}) {
        SCOPED_TRACE(name);
        const std::string path = dir / name;
        // In a child, so that a reader that waits for the FIFO's writer fails instead of hanging.
        const int status = inChild([&] {
            return (CheckQueueList(path) ? 1 : 0) +
                   (readList(path).status == ListReadStatus::NotAList ? 0 : 2);
        });
        EXPECT_EQ(status, 0);
    }
}

TEST(ListFile, MoreRowsThanTheQueueHolds) {
    TempDir dir;
    std::string content;
    for (std::size_t i = 0; i < QueueStore::kMaxEntries; ++i) {
        content += "C-N --> /a --> /b\r\n";
    }
    writeFile(dir / "full.flq", content);
    EXPECT_EQ(readList(dir / "full.flq").rows.size(), QueueStore::kMaxEntries);

    writeFile(dir / "over.flq", content + "C-N --> /a --> /b");
    const ListReadResult over = readList(dir / "over.flq");
    EXPECT_EQ(over.status, ListReadStatus::TooManyEntries);
    EXPECT_TRUE(over.rows.empty());
}

TEST(ListFile, FailedSaveSaysWhyAndKeepsTheOldFile) {
    TempDir dir;
    std::string error;
    const std::string nowhere = dir / "missing/queue.flq";
    EXPECT_FALSE(WriteQueueList(nowhere, mirrorOf(kThree), error));
    EXPECT_EQ(error, "The list could not be saved to " + nowhere + ": No such file or directory");

    // The rename fails after the temporary file was written; it must not stay behind.
    ASSERT_EQ(::mkdir((dir / "taken").c_str(), 0755), 0);
    writeFile(dir / "taken/inside", "keep");
    error.clear();
    EXPECT_FALSE(WriteQueueList(dir / "taken", mirrorOf(kThree), error));
    EXPECT_NE(error.find(dir / "taken"), std::string::npos);
    EXPECT_EQ(test::listTree(dir.path()), (Rows{"taken/", "taken/inside"}));

    // A list with two names on a disk without room for the new one (256 KiB), or with room for
    // it beside the old one but not for writing it over the old one as well (72 KiB): both names
    // keep the whole old list.
    test::TmpfsMount small(128 * 1024);
    if (small.ok()) {
        writeFile(small / "a.flq", "A --> old\r\n");
        ASSERT_EQ(::link((small / "a.flq").c_str(), (small / "b.flq").c_str()), 0);
        for (std::size_t size : {256 * 1024, 72 * 1024}) {
            SCOPED_TRACE(size);
            error.clear();
            EXPECT_FALSE(WriteQueueList(small / "a.flq", std::string(size, 'x'), error));
            EXPECT_EQ(error, "The list could not be saved to " + small / "a.flq" +
                                 ": No space left on device");
            EXPECT_EQ(readFile(small / "b.flq"), "A --> old\r\n");
            EXPECT_EQ(test::listTree(small.path()), (Rows{"a.flq", "b.flq"}));
        }
    }

    // A folder the user may not write to.
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
    const std::string old = dir / "ro/queue.flq";
    writeFile(old, "A --> old\r\n", 0666);
    ::chmod((dir / "ro").c_str(), 0555);
    const int status = inChild(
        [&] {
            std::string why;
            const bool saved = WriteQueueList(old, mirrorOf(kThree), why);
            return !saved && why == "The list could not be saved to " + old + ": Permission denied"
                       ? 0
                       : 1;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(old), "A --> old\r\n");
    EXPECT_EQ(test::listTree(dir / "ro"), Rows{"queue.flq"});
}

}  // namespace
}  // namespace mivex
