// Filesystems that offer less than ext4 (NFS, sshfs and other FUSE filesystems such as FAT, 9p):
// no RENAME_NOREPLACE, no hard links, no unnamed files. A shim loaded into the program's run
// answers as they do, and every way of placing an item must still work without replacing anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/unattended.h"

using namespace mivex::test;

namespace {

using Names = std::vector<std::string>;

// One queue entry, and what the destination folder holds after it.
struct Placing {
    const char* what;
    const char* codes;
    const char* source;  // below the source folder
    Names before;        // made in the destination folder first ("/" ends a folder)
    Names after;         // the destination's tree afterwards
};

const Placing kPlacings[] = {
    {"move a folder to a free name",
     "M-O",
     "tree",
     {},
     {"tree/", "tree/a.txt", "tree/sub/", "tree/sub/b.txt"}},
    {"move a folder keeping both",
     "M-N",
     "tree",
     {"tree/"},
     {"tree - Copy/", "tree - Copy/a.txt", "tree - Copy/sub/", "tree - Copy/sub/b.txt", "tree/"}},
    {"move a file keeping both", "M-N", "f.txt", {"f.txt"}, {"f - Copy.txt", "f.txt"}},
    {"copy a tree into a new folder",
     "C-N",
     "tree",
     {},
     {"tree/", "tree/a.txt", "tree/sub/", "tree/sub/b.txt"}},
    {"copy a file keeping both",
     "C-N",
     "f.txt",
     {"f.txt", "f - Copy.txt"},
     {"f - Copy (2).txt", "f - Copy.txt", "f.txt"}},
    {"copy a folder keeping both",
     "C-N",
     "tree",
     {"tree/"},
     {"tree - Copy/", "tree - Copy/a.txt", "tree - Copy/sub/", "tree - Copy/sub/b.txt", "tree/"}},
    {"copy a link keeping both", "C-N", "link", {"link"}, {"link", "link - Copy"}},
    {"overwrite a file", "C-O", "f.txt", {"f.txt"}, {"f.txt"}},
};

// Names the case in test listings instead of its bytes.
void PrintTo(const Placing& c, std::ostream* out) {
    *out << c.what;
}

class PlainFs : public ::testing::TestWithParam<Placing> {};

}  // namespace

TEST_P(PlainFs, PlacesWithoutNoReplaceRenameOrHardLinks) {
    const Placing& c = GetParam();
    TempDir src, dst;
    makeTree(src.path(), {{"tree/a.txt", "a"}, {"tree/sub/b.txt", "b"}, {"f.txt", "new"}});
    ASSERT_EQ(::symlink("tree/a.txt", (src / "link").c_str()), 0);
    for (const std::string& name : c.before) {
        makeTree(dst / "out", {{name, "old"}});
    }
    ::mkdir((dst / "out").c_str(), 0755);
    Unattended program;
    program.preload = kPlainFs;
    const std::string row = entry(c.codes, src / c.source, dst / "out");
    const ProcessResult result = program.run(program.list({row}));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(readFile(program.logPath()).find(row + " was successful"), std::string::npos)
        << readFile(program.logPath());
    EXPECT_EQ(listTree(dst / "out"), c.after);
    // What was there stays itself; what arrived is whole.
    for (const std::string& name : c.before) {
        if (!name.ends_with("/") && std::string(c.codes) != "C-O") {
            EXPECT_EQ(readFile(dst / "out/" + name), "old") << name;
        }
    }
    if (std::string(c.source) == "f.txt") {
        const std::string arrived = std::string(c.codes) == "C-O" ? "f.txt" : c.after.front();
        EXPECT_EQ(readFile(dst / "out/" + arrived), "new");
    }
}

INSTANTIATE_TEST_SUITE_P(Placings, PlainFs, ::testing::ValuesIn(kPlacings), [](const auto& param) {
    std::string name = param.param.what;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
});
