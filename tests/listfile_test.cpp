// Queue-list files: writing, reading back, the first-line test, and failed saves.
#include "listfile/listfile.h"

#include <sys/fsuid.h>
#include <unistd.h>

#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

const std::string kList = "C-N --> /data/report.doc --> /backup\r\nM-O --> /a b --> /\r\n";

// A save replaces all of a longer list, keeping its mode; through links it writes their target, and
// a file with two names in place. Links stay as they were; nothing is left beside any name.
TEST(ListFile, SavingWritesWhatEveryNameLeadsTo) {
    TempDir dir;
    const std::string old(100, 'z');
    plantTree(dir.path(), {"lists/night.flq=" + old, "cron/night.flq->../lists/night.flq",
                           "chain.flq->" + dir / "cron/night.flq", "dangling.flq->lists/gone.flq",
                           "day.flq->lists/day.flq"});
    writeFile(dir / "lists/day.flq", old, 0600);  // one name: a rename
    ASSERT_EQ(::link((dir / "lists/night.flq").c_str(), (dir / "hard.flq").c_str()), 0);
    const ino_t inode = lstatOf(dir / "hard.flq").st_ino;
    std::string error;
    for (const char* name : {"chain.flq", "dangling.flq", "day.flq"}) {
        ASSERT_TRUE(WriteQueueList(dir / name, kList, error)) << error;
    }
    EXPECT_EQ(lstatOf(dir / "hard.flq").st_ino, inode);
    EXPECT_EQ(lstatOf(dir / "lists/day.flq").st_mode & 0777, 0600u);
    EXPECT_EQ(
        describeTree(dir.path()),
        (Names{"chain.flq->" + dir / "cron/night.flq", "cron/",
               "cron/night.flq->../lists/night.flq", "dangling.flq->lists/gone.flq",
               "day.flq->lists/day.flq", "hard.flq=" + kList, "lists/", "lists/day.flq=" + kList,
               "lists/gone.flq=" + kList, "lists/night.flq=" + kList}));
}

// What a file reads as: its rows, or none when its first line is no entry and it is no list.
TEST(ListFile, ReadsLinesAsTheyStandAndTestsTheFirstLine) {
    using enum ListReadStatus;
    const std::string bom = "\xEF\xBB\xBF", entry = "C-N --> /a --> /b";
    std::string longest = "C-N --> /b --> /";
    longest.resize(kMaxListLineLength, 'a');  // the longest line an entry can be
    std::vector<std::pair<std::string, Names>> cases = {
        {"A --> 1\r\n2\n3\r4\n\r5\n", {"A --> 1", "2", "3", "4", "", "5"}},
        {"A --> 1\r\n\r\n2\r", {"A --> 1", "", "2"}},
        {" --> x\n", {" --> x"}},
        {std::string("A --> \0\xff\r\n", 9), {std::string("A --> \0\xff", 8)}},  // bytes kept
        {bom + "A --> 1\r\n" + bom + "2", {"A --> 1", bom + "2"}},
        {bom + bom + entry, {bom + entry}},
        // A line longer than any entry is read past and stands as a row that names it.
        {"A --> 1\r\n" + longest + "\r\n" + longest + "c\r\n" + entry,
         {"A --> 1", longest,
          "[line 3 of the list: " + std::to_string(kMaxListLineLength + 1) +
              " bytes, longer than any queue entry]",
          entry}},
        {longest + "c\r\nA --> 1\r\n", {}},
        {"C-N -->  --> /b\r\n", {}},
        {"\r\nA --> B\r\n", {}},
        {"A -> B", {}},
        {"", {}},
        {"C-N\nA --> B", {}},  // a LF ends the first line too
    };
    // A CR LF split across read blocks, of any multiple of 4 KiB up to 64 KiB, is one line end.
    auto& [content, rows] = cases.emplace_back("A --> 1\r\n", Names{"A --> 1"});
    for (std::size_t length = 4086; content.size() < 70000; length = 4094) {
        content += rows.emplace_back(length, 'x') + "\r\n";
    }
    TempDir dir;
    const std::string path = dir / "t.flq";
    for (const auto& [text, lines] : cases) {
        SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)));
        writeFile(path, text);
        EXPECT_EQ(CheckQueueList(path), !lines.empty());
        // Read with room for exactly its rows, then for one row less (no limit for no list).
        const ListReadResult read = ReadQueueList(path, lines.size());
        const ListReadResult fewer = ReadQueueList(path, lines.size() - 1);
        EXPECT_EQ(std::pair(read.status, read.rows),
                  std::pair(lines.empty() ? NotAList : Ok, lines));
        EXPECT_EQ(std::pair(fewer.status, fewer.rows),
                  std::pair(lines.empty() ? NotAList : TooManyEntries, Names{}));
    }
    plantTree(dir.path(), {"folder/"});
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    ::alarm(10);  // a reader that waits for the FIFO's writer must fail, not hang
    for (const char* name : {"missing", "folder", "fifo"}) {
        EXPECT_FALSE(CheckQueueList(dir / name)) << name;
        EXPECT_EQ(ReadQueueList(dir / name, 9).status, NotAList) << name;
    }
    ::alarm(0);
}

TEST(ListFile, FailedSaveSaysWhyAndKeepsTheOldFile) {
    TempDir dir;
    const std::string old = "A --> old\r\n";
    plantTree(dir.path(), {"taken/inside=keep", "ro/queue.flq=" + old});
    const auto fails = [](const std::string& path, const std::string& why,
                          const std::string& list = kList) {
        std::string error;
        return !WriteQueueList(path, list, error) &&
               error == "The list could not be saved to " + path + ": " + why;
    };
    EXPECT_TRUE(fails(dir / "missing/queue.flq", "No such file or directory"));
    // The rename fails after the temporary file was written; it must not stay behind.
    EXPECT_TRUE(fails(dir / "taken", "Is a directory"));
    // As nobody (root writes anywhere): a folder not writable, holding a list anyone may write.
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "ro/queue.flq").c_str(), 0666);
    ::chmod((dir / "ro").c_str(), 0555);
    ASSERT_EQ(::setfsuid(65534), int(::getuid()));
    EXPECT_TRUE(fails(dir / "ro/queue.flq", "Permission denied"));
    ::setfsuid(::getuid());
    EXPECT_EQ(describeTree(dir.path()),
              (Names{"ro/", "ro/queue.flq=" + old, "taken/", "taken/inside=keep"}));

    // Two names, no room for the new list (256 KiB) or for it beside the old (72 KiB): both keep
    // it.
    MIVEX_MOUNT_OR_SKIP(small, TmpfsMount, 128 * 1024);
    plantTree(small.path(), {"a.flq=" + old});
    ASSERT_EQ(::link((small / "a.flq").c_str(), (small / "b.flq").c_str()), 0);
    for (std::size_t size : {256 * 1024, 72 * 1024}) {
        EXPECT_TRUE(fails(small / "a.flq", "No space left on device", std::string(size, 'x')));
        EXPECT_EQ(describeTree(small.path()), (Names{"a.flq=" + old, "b.flq=" + old}));
    }
}

TEST(ListFile, WhatAKilledSaveLeftIsRemovedByTheNextSave) {
    TempDir dir;
    expectKilledWriteCleanedUp(dir.path(), [](const std::string& path) {
        std::string error;
        return WriteQueueList(path, std::string(100000, 'x'), error);
    });
}
