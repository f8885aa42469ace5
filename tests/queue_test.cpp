// Queue entries and the queue store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "queue/queueentry.h"
#include "queue/queuestore.h"
#include "tests/testsupport.h"

namespace mivex {
namespace {

TEST(QueueEntry, TextJoinsFieldsWithNothingElse) {
    EXPECT_EQ((QueueEntry{"C", "N", "/data/report.doc", "/backup"}.text()),
              "C-N --> /data/report.doc --> /backup");
    EXPECT_EQ((QueueEntry{"M", "O", " spaced ", "/"}.text()), "M-O -->  spaced  --> /");
}

TEST(QueueEntry, ParseSplitsAtEverySeparator) {
    const struct {
        const char* row;
        QueueEntry fields;
    } cases[] = {
        {"M-O --> a --> b", {"M", "O", "a", "b"}},
        {"C-N --> /a --> /b --> /c", {"C", "N", "/a", "/b"}},  // later pieces are ignored
        // The codes are the first and last characters of piece 0, whatever lies between.
        {"xyz --> /a --> /b", {"x", "z", "/a", "/b"}},
        {" --> /a --> /b", {"", "", "/a", "/b"}},
        {"C-N -->  --> ", {"C", "N", "", ""}},  // empty pieces are still pieces
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseRecord(c.row), c.fields) << c.row;
    }
}

TEST(QueueEntry, ParseRefusesRowsWithFewerThanThreePieces) {
    for (const char* row : {"", "C-N", "A --> B", "C-N --> /a -> /b", "C-N-->/a-->/b"}) {
        EXPECT_FALSE(ParseRecord(row)) << row;
    }
    EXPECT_FALSE(ParseRecord(std::string_view("C-N --> /a\0b --> /d", 19)));
}

// The admission rules, in the order they are tested: the first that refuses decides.
TEST(QueueStore, AdmissionRulesInOrder) {
    constexpr auto kFull = QueueStore::kMaxEntries;
    const QueueEntry file{"C", "N", "src/a.txt", "dst"};
    const QueueEntry moved{"M", "N", "src/a.txt", "dst"};
    const struct {
        const char* situation;
        std::vector<QueueEntry> queued;  // paths below a scratch folder
        std::size_t otherRows;           // more queued rows, none of them like the offered one
        QueueEntry offered;
        const char* sourceFolder;
        Admission result;
    } cases[] = {
        {"an empty queue", {}, 0, file, "src", Admission::Admitted},
        {"a file into its own folder",
         {},
         0,
         {"C", "N", "src/a.txt", "src"},
         "src",
         Admission::SameFolder},
        {"a folder into itself, before its name",
         {},
         0,
         {"C", "N", "x --> y", "x --> y"},
         "x --> y",
         Admission::SameFolder},
        {"a separator in the source",
         {},
         0,
         {"C", "N", "src/x --> y", "dst"},
         "src",
         Admission::SourceNotStorable},
        {"a name that could not be decoded",
         {},
         0,
         {"C", "N", "src/\xEF\xBF\xBD", "dst"},
         "src",
         Admission::SourceNotStorable},
        {"a destination that is not UTF-8, before the duplicate test",
         {{"C", "N", "src/a.txt", "dst\xff"}},
         0,
         {"C", "N", "src/a.txt", "dst\xff"},
         "src",
         Admission::DestinationNotStorable},
        {"the same entry", {file}, 0, file, "src", Admission::Duplicate},
        {"a copy after a move of its source", {moved}, 0, file, "src", Admission::MovedEarlier},
        {"a move is its own move form", {moved}, 0, moved, "src", Admission::Duplicate},
        {"a move after a copy", {file}, 0, moved, "src", Admission::Admitted},
        {"another overwrite code",
         {{"M", "O", "src/a.txt", "dst"}},
         0,
         file,
         "src",
         Admission::Admitted},
        {"whole entries, not a piece of text",
         {{"C", "N", "src/a.txt", "dst2"}, {"C", "N", "src/a.txt", "dst/old"}},
         0,
         file,
         "src",
         Admission::Admitted},
        {"letter case names another file",
         {{"C", "N", "src/A.txt", "dst"}},
         0,
         file,
         "src",
         Admission::Admitted},
        {"one place left", {}, kFull - 1, file, "src", Admission::Admitted},
        {"a full queue", {}, kFull, file, "src", Admission::QueueFull},
        {"a full queue holding the entry", {file}, kFull - 1, file, "src", Admission::Duplicate},
    };
    const test::TempDir dir;
    const auto under = [&dir](QueueEntry e) {
        e.source = dir / e.source;
        e.dest = dir / e.dest;
        return e;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        std::vector<std::string> rows;
        for (const QueueEntry& e : c.queued) {
            rows.push_back(under(e).text());
        }
        for (std::size_t i = 0; i < c.otherRows; ++i) {
            rows.push_back("C-N --> /other" + std::to_string(i) + " --> /d");
        }
        QueueStore store;
        ASSERT_TRUE(store.assign(rows));
        const QueueEntry offered = under(c.offered);
        EXPECT_EQ(store.admit(offered, dir / c.sourceFolder), c.result);
        if (c.result == Admission::Admitted) {
            rows.push_back(offered.text());
        }
        EXPECT_EQ(store.rows(), rows);  // only an admitted entry is appended
    }
}

TEST(QueueStore, MirrorFollowsEveryChange) {
    QueueStore store;
    EXPECT_EQ(store.gQueueMirror(), "");
    ASSERT_TRUE(store.append("C-N --> /a --> /d"));
    ASSERT_TRUE(store.append("C-N --> /b --> /d"));
    ASSERT_TRUE(store.append("M-O --> /c --> /d"));
    EXPECT_EQ(store.gQueueMirror(),
              "C-N --> /a --> /d\r\nC-N --> /b --> /d\r\nM-O --> /c --> /d\r\n");

    store.removeAt(1);
    EXPECT_EQ(store.gQueueMirror(), "C-N --> /a --> /d\r\nM-O --> /c --> /d\r\n");

    store.replaceAt(1, "C-O --> /c --> /d");
    EXPECT_EQ(store.gQueueMirror(), "C-N --> /a --> /d\r\nC-O --> /c --> /d\r\n");

    store.removeAt(2);
    store.replaceAt(5, "ignored");
    EXPECT_EQ(store.size(), 2u);

    store.clear();
    EXPECT_TRUE(store.empty());
    EXPECT_EQ(store.gQueueMirror(), "");
}

TEST(QueueStore, RowsHoldingTheSameLineChangeOneAtATime) {
    const std::string same = "C-N --> /a --> /d";
    QueueStore store;
    ASSERT_TRUE(store.assign({same, "C-N --> /b --> /d", same}));

    store.replaceAt(2, "M-O --> /a --> /d");
    EXPECT_EQ(store.rows(),
              (std::vector<std::string>{same, "C-N --> /b --> /d", "M-O --> /a --> /d"}));

    store.assign({same, same});
    store.removeAt(0);
    EXPECT_EQ(store.rows(), std::vector<std::string>{same});
    EXPECT_EQ(store.gQueueMirror(), same + "\r\n");
}

TEST(QueueStore, HoldsAtMost32767Entries) {
    constexpr std::size_t kMax = QueueStore::kMaxEntries;
    static_assert(kMax == 32767);
    QueueStore store;
    ASSERT_TRUE(store.assign(std::vector<std::string>(kMax - 1, "row")));
    EXPECT_TRUE(store.append("last"));
    EXPECT_EQ(store.size(), kMax);
    EXPECT_FALSE(store.append("one too many"));
    EXPECT_EQ(store.size(), kMax);
    EXPECT_EQ(store.at(kMax - 1), "last");

    EXPECT_FALSE(store.assign(std::vector<std::string>(kMax + 1, "new")));
    EXPECT_EQ(store.size(), kMax);
    EXPECT_EQ(store.at(0), "row");

    EXPECT_TRUE(store.assign(std::vector<std::string>(kMax, "new")));
    EXPECT_EQ(store.at(0), "new");
}

}  // namespace
}  // namespace mivex
