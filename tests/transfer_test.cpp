// Behaviour of the transfer engine on the real filesystem: what arrives where, under which name,
// with which bytes, modes and times, and what is left behind.
#include "platform/transfer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <set>

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

// Nesting, an empty folder, unusual modes, a nanosecond time, a relative link and a dangling one.
void makeAwkwardTree(const std::string& root) {
    makeTree(root, {{"a.txt", "alpha"},
                    {"empty/", ""},
                    {"sub/b.bin", randomBytes(300000, 1)},
                    {"sub/deeper/c.sh", "#!/bin/sh\n"},
                    {"sub/deeper/zero", ""}});
    ::chmod((root + "/sub/deeper/c.sh").c_str(), 0755);
    ::chmod((root + "/sub/b.bin").c_str(), 0600);
    ::chmod((root + "/a.txt").c_str(), 0444);
    ::chmod((root + "/sub").c_str(), 0750);
    ASSERT_EQ(::symlink("../a.txt", (root + "/sub/up-link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere/at/all", (root + "/dangling").c_str()), 0);
    setMtime(root + "/sub/b.bin", 1500000000, 123456789);
}

void expectSame(const std::string& a, const std::string& b) {
    std::string why;
    EXPECT_TRUE(sameTree(a, b, why)) << why;
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

TEST(TransferCopy, FileKeepsBytesModeAndNanosecondTimeIntoNewFolders) {
    TempDir src, dst;
    const std::string bytes = randomBytes(1 << 20, 7);
    writeFile(src / "data.bin", bytes, 0640);
    setMtime(src / "data.bin", 1600000000, 987654321);
    writeFile(src / "run.sh", "#!/bin/sh\n", 0755);
    const std::string dest = dst / "one/two/three";
    EXPECT_EQ(transfer(src / "data.bin", dest, kCopy, kN).code, 0);
    EXPECT_EQ(transfer(src / "run.sh", dest, kCopy, kN).code, 0);

    EXPECT_EQ(readFile(dest + "/data.bin"), bytes);
    const struct stat st = lstatOf(dest + "/data.bin");
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(lstatOf(dest + "/run.sh").st_mode & 07777, 0755u);
    EXPECT_EQ(readFile(src / "data.bin"), bytes);
    EXPECT_EQ(listTree(dst.path()), (Names{"one/", "one/two/", "one/two/three/",
                                           "one/two/three/data.bin", "one/two/three/run.sh"}));
}

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

TEST(TransferCopy, TreeEqualsCpArchive) {
    TempDir src, dst, ref;
    makeAwkwardTree(src / "tree");
    const std::string reference = referenceCopy(src / "tree", ref.path());
    ASSERT_EQ(transfer(src / "tree", dst.path(), kCopy, kN).code, 0);
    expectSame(reference, dst / "tree");
    expectSame(reference, src / "tree");
    EXPECT_EQ(listTree(dst.path()), listTree(ref.path()));  // nothing hidden left behind
}

TEST(TransferCopy, SourceWithTrailingSlash) {
    TempDir src, dst;
    makeTree(src / "docs", {{"x.txt", "x"}});
    ASSERT_EQ(transfer(src / "docs/", dst.path(), kCopy, kN).code, 0);
    EXPECT_EQ(listTree(dst.path()), (Names{"docs/", "docs/x.txt"}));
}

TEST(TransferCopy, LinkAsSourceIsCopiedAsLink) {
    TempDir src, dst;
    makeTree(src / "folder", {{"inside.txt", "i"}});
    ASSERT_EQ(::symlink("folder", (src / "shortcut").c_str()), 0);
    ASSERT_EQ(transfer(src / "shortcut", dst.path(), kCopy, kN).code, 0);
    EXPECT_EQ(linkTarget(dst / "shortcut"), "folder");
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

TEST(TransferCopy, TreeDeeperThanPathMax) {
    TempDir src, dst;
    const std::string level(200, 'd');
    int fd = ::open(src.path().c_str(), O_DIRECTORY | O_RDONLY);
    for (const std::string& name : std::vector<std::string>(30, level)) {  // ~6000 bytes deep
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int next = ::openat(fd, name.c_str(), O_DIRECTORY | O_RDONLY);
        ::close(fd);
        fd = next;
    }
    writeFile("/proc/self/fd/" + std::to_string(fd) + "/leaf.txt", "leaf");
    ::close(fd);
    const int code = transfer(src / level, dst.path(), kCopy, kN).code;
    // Paths this long only work relative to a folder: find -execdir, and rm for the clean-up.
    const auto found =
        runProcess({"find", dst.path(), "-name", "leaf.txt", "-execdir", "cat", "{}", ";"});
    runProcess({"rm", "-rf", src / level, dst / level});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(found.output, "leaf");
}

TEST(TransferCopy, DestinationThroughAFileFails) {
    TempDir src, dst;
    writeFile(src / "f.txt", "f");
    writeFile(dst / "plain", "not a folder");
    EXPECT_EQ(transfer(src / "f.txt", dst / "plain", kCopy, kN).code, kPathNotFound);
    EXPECT_EQ(transfer(src / "f.txt", dst / "plain/sub", kCopy, kN).code, kPathNotFound);
    EXPECT_EQ(listTree(dst.path()), Names{"plain"});
}

TEST(TransferCopy, MissingSourceFails) {
    TempDir src, dst;
    EXPECT_EQ(transfer(src / "ghost.txt", dst.path(), kCopy, kN).code, kFileNotFound);
    EXPECT_EQ(transfer(src / "ghost.txt", dst.path(), kMove, kO).code, kFileNotFound);
    EXPECT_TRUE(listTree(dst.path()).empty());
}

// --- overwrite -----------------------------------------------------------------------------

TEST(TransferOverwrite, FolderMergesIntoFolder) {
    TempDir src, dst;
    makeTree(src / "proj", {{"same.txt", "new"}, {"sub/added.txt", "added"}});
    makeTree(dst / "proj", {{"same.txt", "old"}, {"extra.txt", "keep"}, {"sub/mine.txt", "m"}});
    ASSERT_EQ(transfer(src / "proj", dst.path(), kCopy, kO).code, 0);
    EXPECT_EQ(listTree(dst / "proj"),
              (Names{"extra.txt", "same.txt", "sub/", "sub/added.txt", "sub/mine.txt"}));
    EXPECT_EQ(readFile(dst / "proj/same.txt"), "new");
    EXPECT_EQ(readFile(dst / "proj/extra.txt"), "keep");
}

TEST(TransferOverwrite, FileReplacesPlantedLinkNotItsTarget) {
    TempDir src, dst, elsewhere;
    writeFile(src / "f.txt", "arriving");
    writeFile(elsewhere / "victim.txt", "precious");
    ASSERT_EQ(::symlink((elsewhere / "victim.txt").c_str(), (dst / "f.txt").c_str()), 0);
    ASSERT_EQ(transfer(src / "f.txt", dst.path(), kCopy, kO).code, 0);
    EXPECT_TRUE(S_ISREG(lstatOf(dst / "f.txt").st_mode));
    EXPECT_EQ(readFile(dst / "f.txt"), "arriving");
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "precious");
}

TEST(TransferOverwrite, FileAndFolderNeverReplaceEachOther) {
    TempDir src, dst;
    writeFile(src / "x", "file");
    makeTree(dst / "x", {{"inner.txt", "i"}});
    makeTree(src / "y", {{"inner.txt", "i"}});
    writeFile(dst / "y", "file");
    for (auto kind : {kCopy, kMove}) {
        EXPECT_EQ(transfer(src / "x", dst.path(), kind, kO).code, kAlreadyExists);
        EXPECT_EQ(transfer(src / "y", dst.path(), kind, kO).code, kAlreadyExists);
    }
    EXPECT_EQ(listTree(dst.path()), (Names{"x/", "x/inner.txt", "y"}));
    EXPECT_EQ(listTree(src.path()), (Names{"x", "y/", "y/inner.txt"}));
}

TEST(TransferOverwrite, FileWhereFolderStandsInsideMergeFails) {
    TempDir src, dst;
    makeTree(src / "proj", {{"clash", "file"}});
    makeTree(dst / "proj", {{"clash/keep.txt", "k"}});
    EXPECT_EQ(transfer(src / "proj", dst.path(), kCopy, kO).code, kAlreadyExists);
    EXPECT_EQ(listTree(dst / "proj"), (Names{"clash/", "clash/keep.txt"}));
}

// A link (or a hard link) arriving onto the very file it points to, at the top of the entry or
// inside a merged tree, by copy, by rename and by a move across filesystems: the file must stay.
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

TEST(TransferOverwrite, LinkOntoAnotherFileOfTheNameReplacesIt) {
    TempDir src, dst;
    writeFile(dst / "f", "replaced");
    writeFile(src / "elsewhere", "kept");
    ASSERT_EQ(::symlink("elsewhere", (src / "f").c_str()), 0);
    for (auto kind : {kCopy, kMove}) {
        ASSERT_EQ(transfer(src / "f", dst.path(), kind, kO).code, 0);
        EXPECT_EQ(linkTarget(dst / "f"), "elsewhere");
    }
    EXPECT_EQ(readFile(src / "elsewhere"), "kept");
}

// --- keep both -----------------------------------------------------------------------------

TEST(TransferKeepBoth, FileGetsNumberedCopyNames) {
    TempDir src, dst;
    writeFile(src / "report.doc", "incoming");
    writeFile(dst / "report.doc", "original");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(transfer(src / "report.doc", dst.path(), kCopy, kN).code, 0);
    }
    EXPECT_EQ(listTree(dst.path()), (Names{"report - Copy (2).doc", "report - Copy (3).doc",
                                           "report - Copy.doc", "report.doc"}));
    EXPECT_EQ(readFile(dst / "report.doc"), "original");
    EXPECT_EQ(readFile(dst / "report - Copy (3).doc"), "incoming");
}

// A queue of identical keep-both rows: the n-th copy must not try n names first (30,000 copies
// took a quarter of an hour that way). The last thousand of 10,000 copies must cost about what
// the first thousand did; a search from 1 makes them some fifteen times dearer. The search starts
// after the number taken last, but never where that memory is stale: with the copies cleared
// away, the next one is "Copy" again.
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

TEST(TransferKeepBoth, FolderGetsCopyNameAndItsContentsKeepTheirs) {
    TempDir src, dst;
    makeTree(src / "old", {{"a.txt", "new"}});
    makeTree(dst / "old", {{"a.txt", "first"}});
    ASSERT_EQ(transfer(src / "old", dst.path(), kCopy, kN).code, 0);
    ASSERT_EQ(transfer(src / "old", dst.path(), kCopy, kN).code, 0);
    EXPECT_EQ(readFile(dst / "old/a.txt"), "first");
    EXPECT_EQ(readFile(dst / "old - Copy/a.txt"), "new");
    EXPECT_EQ(readFile(dst / "old - Copy (2)/a.txt"), "new");
    EXPECT_EQ(listTree(dst.path()).size(), 6u);
}

// --- the item's own folder, and folders into themselves ------------------------------------

TEST(TransferOwnFolder, CopyKeepBothMakesACopy) {
    TempDir dir;
    writeFile(dir / "f.txt", "me");
    makeTree(dir / "box", {{"in.txt", "in"}});
    ASSERT_EQ(transfer(dir / "f.txt", dir.path(), kCopy, kN).code, 0);
    ASSERT_EQ(transfer(dir / "box", dir.path(), kCopy, kN).code, 0);
    EXPECT_EQ(listTree(dir.path()), (Names{"box - Copy/", "box - Copy/in.txt", "box/", "box/in.txt",
                                           "f - Copy.txt", "f.txt"}));
    EXPECT_EQ(readFile(dir / "f - Copy.txt"), "me");
}

TEST(TransferOwnFolder, OverwriteAndMoveFailAndTouchNothing) {
    TempDir dir, alias;
    const std::string bytes = randomBytes(100000, 3);
    writeFile(dir / "f.bin", bytes);
    makeTree(dir / "box", {{"in.txt", "in"}});
    ASSERT_EQ(::symlink(dir.path().c_str(), (alias / "same").c_str()), 0);
    const Names before = listTree(dir.path());
    for (const std::string& dest : {dir.path(), dir.path() + "/", alias / "same"}) {
        for (const char* item : {"f.bin", "box"}) {
            SCOPED_TRACE(dest + " " + item);
            EXPECT_EQ(transfer(dir / item, dest, kCopy, kO).code, kSameFile);
            EXPECT_EQ(transfer(dir / item, dest, kMove, kO).code, kSameFile);
            EXPECT_EQ(transfer(dir / item, dest, kMove, kN).code, kSameFile);
        }
    }
    EXPECT_EQ(readFile(dir / "f.bin"), bytes);
    EXPECT_EQ(listTree(dir.path()), before);
}

TEST(TransferOwnFolder, FolderIntoItselfOrBelowFails) {
    TempDir dir, alias;
    makeTree(dir / "src", {{"sub/x.txt", "x"}, {"y.txt", "y"}});
    ASSERT_EQ(::symlink((dir / "src/sub").c_str(), (alias / "door").c_str()), 0);
    const Names before = listTree(dir.path());
    for (const std::string& dest :
         {dir / "src", dir / "src/", dir / "src/sub", dir / "src/sub/new/deeper", alias / "door"}) {
        for (auto kind : {kCopy, kMove}) {
            for (auto rule : {kO, kN}) {
                SCOPED_TRACE(dest + (kind == kCopy ? " copy" : " move") +
                             (rule == kO ? " O" : " N"));
                EXPECT_EQ(transfer(dir / "src", dest, kind, rule).code, kIntoItself);
                EXPECT_EQ(listTree(dir.path()), before);
            }
        }
    }
}

TEST(TransferOwnFolder, SiblingWithCommonPrefixIsNotInside) {
    TempDir dir;
    makeTree(dir / "data", {{"x.txt", "x"}});
    ASSERT_EQ(transfer(dir / "data", dir / "data2", kCopy, kN).code, 0);
    EXPECT_EQ(readFile(dir / "data2/data/x.txt"), "x");
}

// --- moves ---------------------------------------------------------------------------------

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

TEST(TransferMove, OverwriteMergesAndRemovesTheSource) {
    TempDir src, dst;
    makeTree(src / "proj", {{"same.txt", "new"}, {"sub/added.txt", "added"}});
    makeTree(dst / "proj", {{"same.txt", "old"}, {"extra.txt", "keep"}, {"sub/", ""}});
    ASSERT_EQ(transfer(src / "proj", dst.path(), kMove, kO).code, 0);
    EXPECT_FALSE(exists(src / "proj"));
    EXPECT_EQ(listTree(dst / "proj"), (Names{"extra.txt", "same.txt", "sub/", "sub/added.txt"}));
    EXPECT_EQ(readFile(dst / "proj/same.txt"), "new");
}

TEST(TransferMove, KeepBothGetsCopyName) {
    TempDir src, dst;
    writeFile(src / "report.doc", "moved");
    writeFile(dst / "report.doc", "stays");
    ASSERT_EQ(transfer(src / "report.doc", dst.path(), kMove, kN).code, 0);
    EXPECT_FALSE(exists(src / "report.doc"));
    EXPECT_EQ(readFile(dst / "report - Copy.doc"), "moved");
    EXPECT_EQ(readFile(dst / "report.doc"), "stays");
}

TEST(TransferMove, AcrossFilesystemsBothWays) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 64 << 20);
    TempDir disk, ref;
    makeAwkwardTree(mount / "tree");
    const std::string reference = referenceCopy(mount / "tree", ref.path());
    ASSERT_EQ(transfer(mount / "tree", disk / "in", kMove, kN).code, 0);
    EXPECT_FALSE(exists(mount / "tree"));
    expectSame(reference, disk / "in/tree");
    EXPECT_EQ(listTree(disk / "in"), listTree(ref.path()));

    ASSERT_EQ(transfer(disk / "in/tree", mount / "back", kMove, kN).code, 0);
    EXPECT_FALSE(exists(disk / "in/tree"));
    expectSame(reference, mount / "back/tree");
    EXPECT_EQ(listTree(mount / "back"), listTree(ref.path()));
}

// Removing one name of a file changes its change time; the second name must still go.
TEST(TransferMove, AcrossFilesystemsTreeWithTwoNamesOfOneFile) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 1 << 20);
    TempDir disk;
    makeTree(disk / "tree", {{"a", "shared"}});
    ASSERT_EQ(::link((disk / "tree/a").c_str(), (disk / "tree/b").c_str()), 0);
    ASSERT_EQ(transfer(disk / "tree", mount.path(), kMove, kO).code, 0);
    EXPECT_FALSE(exists(disk / "tree"));
    EXPECT_EQ(readFile(mount / "tree/b"), "shared");
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

TEST(TransferThreads, WideTreeMovesAcrossFilesystems) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 64 << 20);
    TempDir src, ref;
    makeWideTree(src / "tree");
    const std::string reference = referenceCopy(src / "tree", ref.path());
    ASSERT_EQ(transfer(src / "tree", mount.path(), kMove, kO).code, 0);
    EXPECT_FALSE(exists(src / "tree"));
    expectSame(reference, mount / "tree");
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
