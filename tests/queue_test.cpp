// Queue entries and the queue store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "queue/queueentry.h"
#include "queue/queuestore.h"

namespace mivex {
namespace {

struct Parsed {
    bool ok;
    std::string source, dest, copy, overwrite;
};

Parsed parse(std::string_view entry) {
    // Stale values in the outputs show whether a failed split clears them.
    Parsed p{false, "old", "old", "old", "old"};
    p.ok = ParseRecord(entry, p.source, p.dest, p.copy, p.overwrite);
    return p;
}

TEST(QueueEntry, BuildJoinsFieldsWithNothingElse) {
    EXPECT_EQ(BuildEntry("C", "N", "/data/report.doc", "/backup"),
              "C-N --> /data/report.doc --> /backup");
    EXPECT_EQ(BuildEntry("M", "O", " spaced ", "/"), "M-O -->  spaced  --> /");
}

TEST(QueueEntry, ParseSplitsAtEverySeparator) {
    Parsed p = parse("M-O --> a --> b");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.copy, "M");
    EXPECT_EQ(p.overwrite, "O");
    EXPECT_EQ(p.source, "a");
    EXPECT_EQ(p.dest, "b");

    // Later pieces are ignored.
    p = parse("C-N --> /a --> /b --> /c");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.source, "/a");
    EXPECT_EQ(p.dest, "/b");

    // The codes are the first and last characters of piece 0, whatever lies between.
    p = parse("xyz --> /a --> /b");
    EXPECT_EQ(p.copy, "x");
    EXPECT_EQ(p.overwrite, "z");

    p = parse(" --> /a --> /b");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.copy, "");
    EXPECT_EQ(p.overwrite, "");
    EXPECT_EQ(p.source, "/a");

    // Empty source and destination pieces are still pieces.
    p = parse("C-N -->  --> ");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.source, "");
    EXPECT_EQ(p.dest, "");
}

TEST(QueueEntry, ParseRefusesRowsWithFewerThanThreePieces) {
    for (const char* row : {"", "C-N", "A --> B", "C-N --> /a -> /b", "C-N-->/a-->/b"}) {
        SCOPED_TRACE(row);
        const Parsed p = parse(row);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.source, "");
        EXPECT_EQ(p.dest, "");
        EXPECT_EQ(p.copy, "");
        EXPECT_EQ(p.overwrite, "");
    }
}

TEST(QueueEntry, ParseOfEntryHeldInAnOutputArgument) {
    std::string row = "M-O --> /src --> /dst";
    std::string dest, copy, overwrite;
    ASSERT_TRUE(ParseRecord(row, row, dest, copy, overwrite));
    EXPECT_EQ(row, "/src");
    EXPECT_EQ(dest, "/dst");
    EXPECT_EQ(copy, "M");
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
