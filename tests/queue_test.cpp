// Queue entries and the queue store.
#include <gtest/gtest.h>

#include "queue/queueentry.h"
#include "queue/queuestore.h"

using namespace mivex;
using Rows = std::vector<std::string>;

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
        Rows queued;
        std::size_t otherRows;  // more queued rows, none of them like the offered one
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
        SCOPED_TRACE(c.offered.text() + " after " + std::to_string(c.queued.size() + c.otherRows));
        Rows rows = c.queued;
        rows.insert(rows.end(), c.otherRows, "C-N --> /other --> /d");
        QueueStore store;
        ASSERT_TRUE(store.assign(rows));
        EXPECT_EQ(store.admit(c.offered, "/s"), c.result);
        if (c.result == Admitted) {
            rows.push_back(c.offered.text());
        }
        EXPECT_EQ(store.rows(), rows);  // only an admitted entry is appended
    }
}

// Rows holding the same line change one at a time, the mirror follows every change, and the store
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
    ASSERT_TRUE(store.assign(Rows(kMax - 1, a)));
    EXPECT_TRUE(store.append(b));
    EXPECT_FALSE(store.append(c));
    EXPECT_FALSE(store.assign(Rows(kMax + 1, c)));
    EXPECT_EQ(store.at(store.size() - 1), b);  // neither refused change was made
    EXPECT_TRUE(store.assign(Rows(kMax, c)));
    EXPECT_EQ(store.rows(), Rows(kMax, c));
}
