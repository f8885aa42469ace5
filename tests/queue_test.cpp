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

// The admission rules, in the order they are tested: the first that refuses decides.
TEST(QueueStore, AdmissionRulesInOrder) {
    constexpr auto kFull = QueueStore::kMaxEntries;
    const char* file = "C|N|src/a.txt|dst";
    const char* moved = "M|N|src/a.txt|dst";
    const struct {
        const char* situation;
        Rows queued;
        std::size_t otherRows;  // more queued rows, none of them like the offered one
        const char* offered;
        const char* sourceFolder;
        Admission result;
    } cases[] = {
        {"an empty queue", {}, 0, file, "src", Admission::Admitted},
        {"a file into its own folder", {}, 0, "C|N|src/a.txt|src", "src", Admission::SameFolder},
        {"a folder into itself, first",
         {},
         0,
         "C|N|x --> y|x --> y",
         "x --> y",
         Admission::SameFolder},
        {"a separator in the source",
         {},
         0,
         "C|N|src/x --> y|dst",
         "src",
         Admission::SourceNotStorable},
        {"a source ending in an arrow",
         {},
         0,
         "C|N|src/x -->|dst",
         "src",
         Admission::SourceNotStorable},
        {"an undecodable name",
         {},
         0,
         "C|N|src/\xEF\xBF\xBD|dst",
         "src",
         Admission::SourceNotStorable},
        {"a UTF-8 surrogate",
         {},
         0,
         "C|N|src/\xED\xA0\x80|dst",
         "src",
         Admission::SourceNotStorable},
        {"a destination not UTF-8, before the duplicate",
         {"C|N|src/a.txt|dst\xff"},
         0,
         "C|N|src/a.txt|dst\xff",
         "src",
         Admission::DestinationNotStorable},
        {"the same entry", {file}, 0, file, "src", Admission::Duplicate},
        {"a copy after a move of its source", {moved}, 0, file, "src", Admission::MovedEarlier},
        {"a move is its own move form", {moved}, 0, moved, "src", Admission::Duplicate},
        {"a move after a copy", {file}, 0, moved, "src", Admission::Admitted},
        {"another overwrite code", {"M|O|src/a.txt|dst"}, 0, file, "src", Admission::Admitted},
        {"whole entries, not text",
         {"C|N|src/a.txt|dst2", "C|N|src/a.txt|dst/old"},
         0,
         file,
         "src",
         Admission::Admitted},
        {"letter case names another file",
         {"C|N|src/A.txt|dst"},
         0,
         file,
         "src",
         Admission::Admitted},
        {"one place left", {}, kFull - 1, file, "src", Admission::Admitted},
        {"a full queue", {}, kFull, file, "src", Admission::QueueFull},
        {"a full queue holding the entry", {file}, kFull - 1, file, "src", Admission::Duplicate},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
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
        EXPECT_EQ(store.admit(offered, dir / c.sourceFolder), c.result);
        if (c.result == Admission::Admitted) {
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
