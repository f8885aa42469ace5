// Queue entries, the queue store, and queue-list files: writing, reading back, the first-line
// test, and failed saves.
#include <sys/fsuid.h>

#include "listfile/listfile.h"
#include "queue/queueentry.h"
#include "queue/queuestore.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

TEST(QueueEntry, ParseSplitsAtEverySeparatorAndTextJoinsBack) {
    const std::pair<const char*, QueueEntry> cases[] = {
        {"M-O --> a --> b", {"M", "O", "a", "b"}},
        {"C-N -->  spaced  --> /", {"C", "N", " spaced ", "/"}},
        {"C-N --> /a --> /b --> /c", {"C", "N", "/a", "/b"}},  // later pieces are ignored
        {"xyz --> /a --> /b", {"x", "z", "/a", "/b"}},  // the first and last characters count
        {" --> /a --> /b", {"", "", "/a", "/b"}},
        {"C-N -->  --> ", {"C", "N", "", ""}},  // empty pieces are still pieces
        {"M-O --> /data/-->x --> /b -->",
         {"M", "O", "/data/-->x", "/b -->"}},  // an arrow, no blank
    };
    for (const auto& [row, fields] : cases) {
        EXPECT_EQ(ParseRecord(row), fields) << row;
    }
    EXPECT_EQ(cases[1].second.text(), cases[1].first);
    for (const char* row : {"", "C-N", "A --> B", "C-N --> /a -> /b", "C-N-->/a-->/b"}) {
        EXPECT_FALSE(ParseRecord(row)) << row;
    }
    EXPECT_FALSE(ParseRecord(std::string_view("C-N --> /a\0b --> /d", 19)));
}

// The admission rules, in the order they are tested: the first that refuses decides. Every source
// was chosen in /s; no path exists, so folders compare by name.
TEST(QueueStore, AdmissionRulesInOrder) {
    using enum Admission;
    constexpr auto kFull = QueueStore::kMaxEntries;
    const QueueEntry file{"C", "N", "/s/a", "/d"}, moved{"M", "N", "/s/a", "/d"};
    const struct {
        Names queued;
        std::size_t otherNames;  // more queued rows, none of them like the offered one
        QueueEntry offered;
        Admission result;
    } cases[] = {
        {{}, 0, file, Admitted},
        {{}, 0, {"C", "N", "/s/a", "/s"}, SameFolder},
        {{}, 0, {"C", "N", "/s/x --> y", "/s"}, SameFolder},  // before the separator
        {{}, 0, {"C", "N", "/s/x --> y", "/d"}, SourceNotStorable},
        {{}, 0, {"C", "N", "/s/x -->", "/d"}, SourceNotStorable},  // would run into the separator
        {{}, 0, {"C", "N", "/s/x -->x", "/d"}, Admitted},
        {{}, 0, {"C", "N", "/s/x-->", "/d"}, Admitted},
        {{}, 0, {"C", "N", "/s/\xEF\xBF\xBD", "/d"}, SourceNotStorable},  // a name not decoded
        {{}, 0, {"C", "N", "/s/\xED\xA0\x80", "/d"}, SourceNotStorable},  // a UTF-8 surrogate
        {{"C-N --> /s/a --> /d\xff"}, 0, {"C", "N", "/s/a", "/d\xff"}, DestinationNotStorable},
        {{}, 0, {"C", "N", "/s/a", "/dev/null"}, DestinationNotFolder},
        {{file.text()}, 0, file, Duplicate},
        {{moved.text()}, 0, file, MovedEarlier},
        {{moved.text()}, 0, moved, Duplicate},  // a move is its own move form
        {{file.text()}, 0, moved, Admitted},
        {{"M-O --> /s/a --> /d"}, 0, file, Admitted},
        {{"C-N --> /s/a --> /d2", "C-N --> /s/a --> /d/old"}, 0, file, Admitted},
        {{"C-N --> /s/A --> /d"}, 0, file, Admitted},  // letter case names another file
        {{}, kFull - 1, file, Admitted},
        {{}, kFull, file, QueueFull},
        {{file.text()}, kFull - 1, file, Duplicate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offered.text() + " after " + std::to_string(c.queued.size() + c.otherNames));
        Names rows = c.queued;
        rows.insert(rows.end(), c.otherNames, "C-N --> /other --> /d");
        QueueStore store;
        ASSERT_TRUE(store.assign(rows));
        EXPECT_EQ(store.admit(c.offered, "/s"), c.result);
        if (c.result == Admitted) {
            rows.push_back(c.offered.text());
        }
        EXPECT_EQ(store.rows(), rows);  // only an admitted entry is appended
    }
}

// Names holding the same line change one at a time, the mirror follows every change, and the store
// holds at most 32767 rows.
TEST(QueueStore, MirrorFollowsEveryChangeUpToTheLimit) {
    const std::string a = "C-N --> /a --> /d", b = "C-N --> /b --> /d", c = "M-O --> /c --> /d";
    QueueStore store;
    ASSERT_TRUE(store.assign({a, b, a}));
    EXPECT_EQ(store.gQueueMirror(), a + "\r\n" + b + "\r\n" + a + "\r\n");
    store.replaceAt(2, c);
    store.removeAt(1);
    store.removeAt(2);
    store.replaceAt(5, "ignored");
    EXPECT_EQ(store.gQueueMirror(), a + "\r\n" + c + "\r\n");
    store.assign({a, a});
    store.removeAt(0);
    EXPECT_EQ(store.gQueueMirror(), a + "\r\n");
    store.clear();
    EXPECT_TRUE(store.empty() && store.gQueueMirror().empty());
    constexpr std::size_t kMax = 32767;
    ASSERT_TRUE(store.assign(Names(kMax - 1, a)));
    EXPECT_TRUE(store.append(b));
    EXPECT_FALSE(store.append(c));
    EXPECT_FALSE(store.assign(Names(kMax + 1, c)));
    EXPECT_EQ(store.at(store.size() - 1), b);  // neither refused change was made
    EXPECT_TRUE(store.assign(Names(kMax, c)));
    EXPECT_EQ(store.rows(), Names(kMax, c));
}

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
