// Behaviour of the transfer engine on the real filesystem: what arrives where, under which name,
// with which bytes, modes and times, and what is left behind.
#include "platform/transfer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string_view>

#include "platform/resultcodes.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

namespace {

using Names = std::vector<std::string>;

TransferOutcome transfer(const std::string& source, const std::string& dest, TransferKind kind,
                         CollisionRule rule, TransferMonitor* monitor = nullptr) {
    return transferItem(TransferRequest{source, dest, kind, rule}, monitor);
}

void setMtime(const std::string& path, time_t sec, long nsec) {
    const timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

}  // namespace

TEST(CollisionName, NumbersAndExtensions) {
    const struct {
        const char* name;
        bool folder;
        int n;
        const char* expected;
    } cases[] = {
        {"report.doc", false, 1, "report - Copy.doc"},
        {"report.doc", false, 2, "report - Copy (2).doc"},
        {"report.doc", false, 3, "report - Copy (3).doc"},
        {"archive.tar.gz", false, 1, "archive.tar - Copy.gz"},  // only the last extension
        {"README", false, 1, "README - Copy"},
        {"README", false, 2, "README - Copy (2)"},
        {".bashrc", false, 1, ".bashrc - Copy"},  // a leading dot starts no extension
        {"old", true, 1, "old - Copy"},
        {"old", true, 2, "old - Copy (2)"},
        {"photos.2024", true, 1, "photos.2024 - Copy"},  // folders never split at a dot
    };
    for (const auto& c : cases) {
        EXPECT_EQ(collisionName(c.name, c.folder, c.n), c.expected) << c.name << " " << c.n;
    }
}

// --- plain copies --------------------------------------------------------------------------

// A relative destination starts at the working folder; its first folder is made like any other,
// whatever its length.
TEST(TransferCopy, MissingRelativeDestinationIsCreated) {
    TempDir src, dst;
    writeFile(src / "f.txt", "f");
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(home, 0);
    ASSERT_EQ(::chdir(dst.path().c_str()), 0);
    for (const std::string dest : {"d", "ab/c", "abc/d", "./e/f"}) {
        EXPECT_EQ(transfer(src / "f.txt", dest, kCopy, kN).code, 0) << dest;
    }
    ASSERT_EQ(::fchdir(home), 0);
    ::close(home);
    EXPECT_EQ(listTree(dst.path()),
              (Names{"ab/", "ab/c/", "ab/c/f.txt", "abc/", "abc/d/", "abc/d/f.txt", "d/", "d/f.txt",
                     "e/", "e/f/", "e/f/f.txt"}));
}

TEST(TransferCopy, SparseFileKeepsItsHoles) {
    TempDir src, dst;
    const std::string path = src / "sparse.img";
    writeFile(path, "head");
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "tail", 4, (64 << 20) - 4), 4);
    ::close(fd);
    if (lstatOf(path).st_blocks * 512 > (1 << 20)) {
        GTEST_SKIP() << "this filesystem does not keep holes";
    }
    ASSERT_EQ(transfer(path, dst.path(), kCopy, kN).code, 0);
    EXPECT_LT(lstatOf(dst / "sparse.img").st_blocks * 512, 1 << 20) << "holes were filled";
    EXPECT_EQ(readFile(dst / "sparse.img"), readFile(path));
}

// --- where an item lands, and what it replaces -------------------------------------------

namespace {

// One transfer on a small tree written as text (see plantTree): the tree before, the source and
// the destinations (below the tree; each with each of `ops`, "CN" a copy that keeps both, "MO" a
// move that overwrites, on a fresh tree every time), how often it runs, the code it must give,
// and what must differ afterwards: "-name" gone (with all below it), any other entry new or
// replacing the one of its name. Nothing else may change, and nothing may be left beside it.
struct Placing {
    const char* what;
    std::vector<std::string> before;
    const char* source;
    std::vector<const char*> dests;
    const char* ops;
    int times;
    int code;
    std::vector<std::string> changes;
};

void PrintTo(const Placing& c, std::ostream* out) {
    *out << c.what;
}

std::string nameOf(const std::string& entry) {
    return entry.substr(0, std::min(entry.find("->"), entry.find('=')));
}

const Placing kPlacings[] = {
    {"FolderWithTrailingSlash",
     {"s/docs/x=x", "d/"},
     "s/docs/",
     {"d"},
     "CN",
     1,
     0,
     {"d/docs/", "d/docs/x=x"}},
    {"LinkAsLink",
     {"s/folder/i=i", "s/short->folder", "d/"},
     "s/short",
     {"d"},
     "CN",
     1,
     0,
     {"d/short->folder"}},
    {"MissingSource", {"s/", "d/"}, "s/ghost", {"d"}, "CN MO", 1, kFileNotFound, {}},
    {"DestinationThroughAFile",
     {"s/f=f", "d/plain=p"},
     "s/f",
     {"d/plain", "d/plain/sub"},
     "CN",
     1,
     kPathNotFound,
     {}},
    {"CopyMergesFolders",
     {"s/p/same=new", "s/p/sub/added=a", "d/p/same=old", "d/p/extra=keep", "d/p/sub/mine=m"},
     "s/p",
     {"d"},
     "CO",
     1,
     0,
     {"d/p/same=new", "d/p/sub/added=a"}},
    {"MoveMergesFolders",
     {"s/p/same=new", "s/p/sub/added=a", "d/p/same=old", "d/p/extra=keep", "d/p/sub/mine=m"},
     "s/p",
     {"d"},
     "MO",
     1,
     0,
     {"d/p/same=new", "d/p/sub/added=a", "-s/p/"}},
    {"FileReplacesPlantedLinkNotItsTarget",
     {"s/f=new", "e/victim=v", "d/f->../e/victim"},
     "s/f",
     {"d"},
     "CO",
     1,
     0,
     {"d/f=new"}},
    {"FileReplacesDanglingLinkWithoutMakingItsTarget",
     {"s/f=new", "e/", "d/f->../e/made"},
     "s/f",
     {"d"},
     "CO",
     1,
     0,
     {"d/f=new"}},
    {"FileNeverReplacesFolder",
     {"s/x=file", "d/x/inner=i"},
     "s/x",
     {"d"},
     "CO MO",
     1,
     kAlreadyExists,
     {}},
    {"FolderNeverReplacesFile",
     {"s/y/inner=i", "d/y=file"},
     "s/y",
     {"d"},
     "CO MO",
     1,
     kAlreadyExists,
     {}},
    {"FileWhereFolderStandsInsideMerge",
     {"s/p/clash=file", "d/p/clash/keep=k"},
     "s/p",
     {"d"},
     "CO",
     1,
     kAlreadyExists,
     {}},
    {"FolderOntoPlantedLinkIsNotFollowed",
     {"s/n/a=a", "s/n/sub/b=b", "e/v=v", "d/n->../e"},
     "s/n",
     {"d"},
     "CO MO",
     1,
     kAlreadyExists,
     {}},
    {"CopiedLinkReplacesAnotherFile",
     {"d/f=old", "s/other=kept", "s/f->other"},
     "s/f",
     {"d"},
     "CO",
     1,
     0,
     {"d/f->other"}},
    {"MovedLinkReplacesAnotherFile",
     {"d/f=old", "s/other=kept", "s/f->other"},
     "s/f",
     {"d"},
     "MO",
     1,
     0,
     {"d/f->other", "-s/f"}},
    {"KeepBothNumbersCopies",
     {"s/r.doc=in", "d/r.doc=old"},
     "s/r.doc",
     {"d"},
     "CN",
     3,
     0,
     {"d/r - Copy.doc=in", "d/r - Copy (2).doc=in", "d/r - Copy (3).doc=in"}},
    {"KeepBothNumbersFolders",
     {"s/old/a=new", "d/old/a=first"},
     "s/old",
     {"d"},
     "CN",
     2,
     0,
     {"d/old - Copy/", "d/old - Copy/a=new", "d/old - Copy (2)/", "d/old - Copy (2)/a=new"}},
    {"MoveKeepsBoth",
     {"s/r.doc=moved", "d/r.doc=stays"},
     "s/r.doc",
     {"d"},
     "MN",
     1,
     0,
     {"d/r - Copy.doc=moved", "-s/r.doc"}},
    // Keep both never writes through a link at the name or at a copy name.
    {"KeepBothPassesPlantedLinks",
     {"s/f.txt=new", "e/victim=v", "d/f.txt->../e/victim", "d/f - Copy.txt->../e/made"},
     "s/f.txt",
     {"d"},
     "CN",
     1,
     0,
     {"d/f - Copy (2).txt=new"}},
    {"KeepBothPassesPlantedFolderLink",
     {"s/t/a=a", "e/victim=v", "d/t->../e"},
     "s/t",
     {"d"},
     "CN",
     1,
     0,
     {"d/t - Copy/", "d/t - Copy/a=a"}},
    {"OwnFolderCopyKeepsBoth",
     {"w/f.txt=me", "w/box/in=in"},
     "w/f.txt",
     {"w"},
     "CN",
     1,
     0,
     {"w/f - Copy.txt=me"}},
    {"OwnFolderCopyKeepsBothOfAFolder",
     {"w/box/in=in"},
     "w/box",
     {"w"},
     "CN",
     1,
     0,
     {"w/box - Copy/", "w/box - Copy/in=in"}},
    {"OwnFolderOtherwiseTouchesNothing",
     {"w/f=bytes", "w/box/in=in", "alias->w"},
     "w/f",
     {"w", "w/", "alias"},
     "CO MO MN",
     1,
     kSameFile,
     {}},
    {"OwnFolderOfAFolderTouchesNothing",
     {"w/box/in=in", "alias->w"},
     "w/box",
     {"w", "w/", "alias"},
     "CO MO MN",
     1,
     kSameFile,
     {}},
    {"FolderIntoItselfOrBelow",
     {"w/src/sub/x=x", "w/src/y=y", "door->w/src/sub"},
     "w/src",
     {"w/src", "w/src/", "w/src/sub", "w/src/sub/new/deeper", "door"},
     "CO CN MO MN",
     1,
     kIntoItself,
     {}},
    {"SiblingWithCommonPrefixIsNotInside",
     {"w/data/x=x"},
     "w/data",
     {"w/data2"},
     "CN",
     1,
     0,
     {"w/data2/", "w/data2/data/", "w/data2/data/x=x"}},
};

class TransferPlacing : public ::testing::TestWithParam<Placing> {};

}  // namespace

TEST_P(TransferPlacing, LandsWhereTheRuleSays) {
    const Placing& c = GetParam();
    for (const char* dest : c.dests) {
        for (std::string_view ops = c.ops; !ops.empty();
             ops.remove_prefix(std::min<std::size_t>(3, ops.size()))) {
            SCOPED_TRACE(std::string(dest) + " " + std::string(ops.substr(0, 2)));
            TempDir root;
            plantTree(root.path(), c.before);
            std::vector<std::string> expected = describeTree(root.path());
            for (const std::string& change : c.changes) {
                const bool gone = change.starts_with("-");
                const std::string name = nameOf(gone ? change.substr(1) : change);
                std::erase_if(expected, [&](const std::string& e) {
                    return nameOf(e) == name || (name.ends_with("/") && e.starts_with(name));
                });
                if (!gone) {
                    expected.push_back(change);
                }
            }
            std::sort(expected.begin(), expected.end());
            const TransferKind kind = ops[0] == 'C' ? kCopy : kMove;
            const CollisionRule rule = ops[1] == 'N' ? kN : kO;
            for (int i = 0; i < c.times; ++i) {
                EXPECT_EQ(transfer(root / c.source, root / dest, kind, rule).code, c.code);
            }
            EXPECT_EQ(describeTree(root.path()), expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferPlacing, ::testing::ValuesIn(kPlacings),
                         [](const auto& param) { return std::string(param.param.what); });

TEST(TransferOverwrite, LinkOntoTheFileItPointsToFailsAndKeepsTheFile) {
    const struct {
        const char* what;
        TransferKind kind;
        bool acrossMount;
        bool inTree;
        bool relative;
        bool hardLink;
    } cases[] = {
        {"copy of a link", kCopy, false, false, false, false},
        {"copy of a hard link", kCopy, false, false, false, true},
        {"copy of a link inside a tree", kCopy, false, true, true, false},
        {"move of a relative link", kMove, false, false, true, false},
        {"move of a relative link inside a tree", kMove, false, true, true, false},
        {"move of a link across filesystems", kMove, true, false, false, false},
        {"move of a link inside a tree across filesystems", kMove, true, true, false, false},
    };
    TmpfsMount mount(1 << 20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.acrossMount && !mount.ok()) {
            GTEST_SKIP() << mount.reason();
        }
        TempDir dst, onDisk;
        const std::string srcRoot = c.acrossMount ? mount / "s" : onDisk.path();
        const std::string dir = c.inTree ? "/tree" : "";
        makeTree(dst.path() + dir, {{"f", "precious"}});
        makeTree(srcRoot + dir, {{"other.txt", "o"}});
        const std::string target = dst.path() + dir + "/f";
        const std::string link = srcRoot + dir + "/f";
        if (c.hardLink) {
            ASSERT_EQ(::link(target.c_str(), link.c_str()), 0);
        } else {
            // The two scratch folders are siblings: up to their parent, then into the other.
            const std::string leaf = dst.path().substr(dst.path().rfind('/') + 1);
            const std::string text =
                c.relative ? (c.inTree ? "../../" : "../") + leaf + dir + "/f" : target;
            ASSERT_EQ(::symlink(text.c_str(), link.c_str()), 0);
            ASSERT_EQ(readFile(link), "precious");
        }
        const std::string source = c.inTree ? srcRoot + "/tree" : link;
        EXPECT_EQ(transfer(source, dst.path(), c.kind, kO).code, kSameFile);
        EXPECT_TRUE(S_ISREG(lstatOf(target).st_mode));
        ASSERT_EQ(readFile(target), "precious");
        EXPECT_TRUE(exists(link));
        if (c.inTree) {  // the rest of the tree still arrives
            EXPECT_EQ(readFile(dst.path() + dir + "/other.txt"), "o");
        }
        if (c.acrossMount) {
            removeTree(mount / "s");
        }
    }
}

TEST(TransferKeepBoth, TenThousandthCopyCostsWhatTheFirstDid) {
    TempDir src, dst;
    writeFile(src / "f.txt", "f");
    constexpr int kCopies = 10000;
    constexpr int kWindow = 1000;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Clock::duration first{}, last{};
    for (int made = 0; made < kCopies; ++made) {
        ASSERT_LT(Clock::now() - start, std::chrono::seconds(180)) << "stuck at copy " << made;
        const auto before = Clock::now();
        ASSERT_EQ(transfer(src / "f.txt", dst.path(), kCopy, kN).code, 0);
        (made < kWindow ? first : last) +=
            made < kWindow || made >= kCopies - kWindow ? Clock::now() - before : Clock::duration{};
    }
    EXPECT_LT(last, 4 * first) << "the search for a free name grows with the copies";
    EXPECT_EQ(readFile(dst / "f - Copy (9999).txt"), "f");
    EXPECT_EQ(listTree(dst.path()).size(), static_cast<std::size_t>(kCopies));

    for (int n = 1; n < kCopies; ++n) {
        ASSERT_EQ(::unlink((dst / collisionName("f.txt", false, n)).c_str()), 0) << n;
    }
    ASSERT_EQ(transfer(src / "f.txt", dst.path(), kCopy, kN).code, 0);
    EXPECT_EQ(listTree(dst.path()), (Names{"f - Copy.txt", "f.txt"}));
}

TEST(TransferMove, OnOneFilesystemRenames) {
    TempDir src, dst;
    makeTree(src / "tree", {{"a/b.txt", "b"}});
    writeFile(src / "file.txt", "f");
    const ino_t treeInode = lstatOf(src / "tree").st_ino;
    const ino_t fileInode = lstatOf(src / "file.txt").st_ino;
    ASSERT_EQ(transfer(src / "tree", dst / "new", kMove, kN).code, 0);
    ASSERT_EQ(transfer(src / "file.txt", dst.path(), kMove, kN).code, 0);
    EXPECT_EQ(lstatOf(dst / "new/tree").st_ino, treeInode);
    EXPECT_EQ(lstatOf(dst / "file.txt").st_ino, fileInode);
    EXPECT_TRUE(listTree(src.path()).empty());
}

// --- the files of a tree copied by several threads -------------------------------------------

namespace {

// Folders of more files than one batch, read-only folders and files, and set folder times: a
// folder must get its mode and time only after the last of its files is in.
void makeWideTree(const std::string& root) {
    for (int d = 0; d < 6; ++d) {
        const std::string folder = root + "/d" + std::to_string(d) + (d % 2 ? "/inner" : "");
        std::vector<std::pair<std::string, std::string>> files;
        for (int f = 0; f < 150; ++f) {
            files.push_back(
                {"f" + std::to_string(f),
                 randomBytes(f % 7 == 0 ? 70000 : 100, static_cast<unsigned>(d * 1000 + f))});
        }
        makeTree(folder, files);
        ::chmod((folder + "/f3").c_str(), 0444);
        setMtime(folder, 1400000000 + d, 5000);
        if (d % 3 == 0) {
            ::chmod(folder.c_str(), 0555);
        }
    }
    ASSERT_EQ(::symlink("d0/f1", (root + "/link").c_str()), 0);
}

}  // namespace

TEST(TransferThreads, WideTreeEqualsCpArchiveWhateverTheNumberOfThreads) {
    TempDir src, ref;
    makeWideTree(src / "tree");
    const std::string reference = referenceCopy(src / "tree", ref.path());
    for (const char* workers : {"0", "1", "2", "4"}) {
        SCOPED_TRACE(std::string("MIVEX_WORKERS=") + workers);
        ScopedEnv env("MIVEX_WORKERS", workers);
        TempDir dst;
        ASSERT_EQ(transfer(src / "tree", dst.path(), kCopy, kO).code, 0);
        expectSame(reference, dst / "tree");
        EXPECT_EQ(listTree(dst.path()), listTree(ref.path()));  // no temporary file left
        // Onto the copy again: every file replaced, every folder merged.
        ASSERT_EQ(transfer(src / "tree", dst.path(), kCopy, kO).code, 0);
        expectSame(reference, dst / "tree");
        EXPECT_EQ(listTree(dst.path()), listTree(ref.path()));
    }
    expectSame(reference, src / "tree");
}

// --- progress and abort --------------------------------------------------------------------

namespace {

class Recorder : public TransferMonitor {
public:
    bool wantsTotals() const override { return true; }
    void progress(const TransferProgress& p) override { calls.push_back(p); }
    bool abortRequested() override { return abortAfterFirst && !calls.empty(); }
    std::vector<TransferProgress> calls;
    bool abortAfterFirst = false;
};

}  // namespace

TEST(TransferProgress, TotalsAndFinalCountMatchTheTree) {
    TempDir src, dst;
    makeTree(src / "tree", {{"a.bin", randomBytes(700000, 1)},
                            {"b/c.bin", randomBytes(3, 2)},
                            {"b/d/e.bin", randomBytes(2 << 20, 3)},
                            {"b/empty.txt", ""}});
    const std::set<std::string> files = {src / "tree/a.bin", src / "tree/b/c.bin",
                                         src / "tree/b/d/e.bin", src / "tree/b/empty.txt"};
    Recorder rec;
    ASSERT_EQ(transfer(src / "tree", dst.path(), kCopy, kN, &rec).code, 0);
    ASSERT_FALSE(rec.calls.empty());
    std::uint64_t last = 0;
    for (const auto& p : rec.calls) {
        EXPECT_EQ(p.bytesTotal, 700000u + 3u + (2u << 20));
        EXPECT_EQ(p.filesTotal, 4u);
        EXPECT_GE(p.bytesDone, last);
        EXPECT_TRUE(files.count(p.currentFile)) << p.currentFile;
        last = p.bytesDone;
    }
    EXPECT_EQ(rec.calls.back().bytesDone, rec.calls.back().bytesTotal);
}

TEST(TransferAbort, CopyStopsAndLeavesNothing) {
    TempDir src, dst;
    writeFile(src / "big.bin", randomBytes(64 << 20, 5));
    Recorder rec;
    rec.abortAfterFirst = true;
    const TransferOutcome out = transfer(src / "big.bin", dst / "out", kCopy, kN, &rec);
    EXPECT_TRUE(out.aborted);
    EXPECT_EQ(out.code, 0);
    const Names left = listTree(dst.path());
    EXPECT_TRUE(left.empty() || left == Names{"out/"}) << ::testing::PrintToString(left);
}

TEST(TransferAbort, TreeStopsAndLeavesNoTemporaryFile) {
    TempDir src, dst;
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back({"d" + std::to_string(i % 4) + "/f" + std::to_string(i),
                         randomBytes(2 << 20, static_cast<unsigned>(i))});
    }
    makeTree(src / "tree", files);
    Recorder rec;
    rec.abortAfterFirst = true;
    const TransferOutcome out = transfer(src / "tree", dst.path(), kCopy, kO, &rec);
    EXPECT_TRUE(out.aborted);
    const Names left = listTree(dst.path());
    EXPECT_LT(left.size(), listTree(src.path()).size());
    for (const std::string& name : left) {
        EXPECT_EQ(name.find(".mivex-"), std::string::npos) << name;
        if (!name.ends_with("/")) {
            EXPECT_EQ(readFile(dst / name), readFile(src / name)) << name;
        }
    }
}

TEST(TransferAbort, MoveAcrossFilesystemsKeepsTheSource) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 128 << 20);
    TempDir src;
    const std::string bytes = randomBytes(64 << 20, 6);
    writeFile(src / "big.bin", bytes);
    Recorder rec;
    rec.abortAfterFirst = true;
    const TransferOutcome out = transfer(src / "big.bin", mount.path(), kMove, kO, &rec);
    EXPECT_TRUE(out.aborted);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(readFile(src / "big.bin"), bytes);
    EXPECT_TRUE(listTree(mount.path()).empty());
}
