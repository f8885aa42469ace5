// Queue entries and the queue store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "queue/queueentry.h"
#include "queue/queuestore.h"
#include "tests/testsupport.h"

namespace mivex {
namespace {

using Rows = std::vector<std::string>;

TEST(QueueEntry, ParseSplitsAtEverySeparatorAndTextJoinsBack) {
    const struct {
        const char* row;
        QueueEntry fields;
    } cases[] = {
        {"M-O --> a --> b", {"M", "O", "a", "b"}},
        {"C-N -->  spaced  --> /", {"C", "N", " spaced ", "/"}},
        {"C-N --> /a --> /b --> /c", {"C", "N", "/a", "/b"}},  // later pieces are ignored
        {"xyz --> /a --> /b", {"x", "z", "/a", "/b"}},  // the first and last characters count
        {" --> /a --> /b", {"", "", "/a", "/b"}},
        {"C-N -->  --> ", {"C", "N", "", ""}},  // empty pieces are still pieces
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseRecord(c.row), c.fields) << c.row;
    }
    EXPECT_EQ(cases[1].fields.text(), cases[1].row);
    for (const char* row : {"", "C-N", "A --> B", "C-N --> /a -> /b", "C-N-->/a-->/b"}) {
        EXPECT_FALSE(ParseRecord(row)) << row;
    }
    EXPECT_FALSE(ParseRecord(std::string_view("C-N --> /a\0b --> /d", 19)));
}

// An entry written "C|N|source|dest", paths below `dir`.
QueueEntry entryUnder(const test::TempDir& dir, const std::string& text) {
    std::vector<std::string> f;
    for (std::size_t at = 0, bar; at <= text.size(); at = bar + 1) {
        bar = std::min(text.find('|', at), text.size());
        f.push_back(text.substr(at, bar - at));
    }
    return {f[0], f[1], dir / f[2], dir / f[3]};
}

// The admission rules, in the order they are tested: the first that refuses decides. A source
// below "src" was chosen in that folder; any other is itself the folder chosen.
TEST(QueueStore, AdmissionRulesInOrder) {
    using enum Admission;
    constexpr auto kFull = QueueStore::kMaxEntries;
    const char* file = "C|N|src/a.txt|dst";
    const char* moved = "M|N|src/a.txt|dst";
    const struct {
        Rows queued;
        std::size_t otherRows;  // more queued rows, none of them like the offered one
        const char* offered;
        Admission result;
    } cases[] = {
        {{}, 0, file, Admitted},
        {{}, 0, "C|N|src/a.txt|src", SameFolder},
        {{}, 0, "C|N|x --> y|x --> y", SameFolder},  // before the separator in its name
        {{}, 0, "C|N|src/x --> y|dst", SourceNotStorable},
        {{}, 0, "C|N|src/x -->|dst", SourceNotStorable},
        {{}, 0, "C|N|src/\xEF\xBF\xBD|dst", SourceNotStorable},  // a name not decoded
        {{}, 0, "C|N|src/\xED\xA0\x80|dst", SourceNotStorable},  // a UTF-8 surrogate
        {{"C|N|src/a.txt|dst\xff"}, 0, "C|N|src/a.txt|dst\xff", DestinationNotStorable},
        {{file}, 0, file, Duplicate},
        {{moved}, 0, file, MovedEarlier},
        {{moved}, 0, moved, Duplicate},  // a move is its own move form
        {{file}, 0, moved, Admitted},
        {{"M|O|src/a.txt|dst"}, 0, file, Admitted},
        {{"C|N|src/a.txt|dst2", "C|N|src/a.txt|dst/old"}, 0, file, Admitted},
        {{"C|N|src/A.txt|dst"}, 0, file, Admitted},  // letter case names another file
        {{}, kFull - 1, file, Admitted},
        {{}, kFull, file, QueueFull},
        {{file}, kFull - 1, file, Duplicate},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.offered << " after " << c.queued.size() << "+" << c.otherRows);
        Rows rows;
        for (const std::string& e : c.queued) {
            rows.push_back(entryUnder(dir, e).text());
        }
        for (std::size_t i = 0; i < c.otherRows; ++i) {
            rows.push_back("C-N --> /other" + std::to_string(i) + " --> /d");
        }
        QueueStore store;
        ASSERT_TRUE(store.assign(rows));
        const QueueEntry offered = entryUnder(dir, c.offered);
        const std::size_t cut = offered.source.rfind("/src/");
        const std::string folder =
            cut == std::string::npos ? offered.source : offered.source.substr(0, cut + 4);
        EXPECT_EQ(store.admit(offered, folder), c.result);
        if (c.result == Admitted) {
            rows.push_back(offered.text());
        }
        EXPECT_EQ(store.rows(), rows);  // only an admitted entry is appended
    }
}

// Rows holding the same line change one at a time, and the mirror follows every change.
TEST(QueueStore, MirrorFollowsEveryChange) {
    const std::string a = "C-N --> /a --> /d", b = "C-N --> /b --> /d";
    QueueStore store;
    ASSERT_TRUE(store.append(a));
    ASSERT_TRUE(store.append(b));
    ASSERT_TRUE(store.append(a));
    EXPECT_EQ(store.gQueueMirror(), a + "\r\n" + b + "\r\n" + a + "\r\n");
    store.replaceAt(2, "M-O --> /c --> /d");
    store.removeAt(1);
    store.removeAt(2);
    store.replaceAt(5, "ignored");
    EXPECT_EQ(store.rows(), (Rows{a, "M-O --> /c --> /d"}));
    EXPECT_EQ(store.gQueueMirror(), a + "\r\nM-O --> /c --> /d\r\n");
    store.assign({a, a});
    store.removeAt(0);
    EXPECT_EQ(store.gQueueMirror(), a + "\r\n");
    store.clear();
    EXPECT_TRUE(store.empty());
    EXPECT_EQ(store.gQueueMirror(), "");
}

TEST(QueueStore, HoldsAtMost32767Entries) {
    constexpr std::size_t kMax = 32767;
    QueueStore store;
    ASSERT_TRUE(store.assign(Rows(kMax - 1, "row")));
    EXPECT_TRUE(store.append("last"));
    EXPECT_FALSE(store.append("one too many"));
    EXPECT_EQ(store.size(), kMax);
    EXPECT_EQ(store.at(kMax - 1), "last");
    EXPECT_FALSE(store.assign(Rows(kMax + 1, "new")));
    EXPECT_EQ(store.at(0), "row");
    EXPECT_TRUE(store.assign(Rows(kMax, "new")));
    EXPECT_EQ(store.at(0), "new");
}

}  // namespace
}  // namespace mivex
