// The transfer engine when the filesystem says no or changes under it; runs that could hang, or
// that need another user, go to a child process with a time limit.
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstring>
#include <tuple>

#include "platform/resultcodes.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

namespace {

// The transfer's code, with `action` called once from inside it: at its first report, last block,
// or last file. Fails the test unless it was called.
enum class When { FirstCall, LastBlock, LastFile };
int transferDuring(const TransferRequest& request, When when, std::function<void()> action) {
    Monitor during;
    during.onReport = [&](const TransferProgress& p) {
        if (action &&
            (when == When::FirstCall ||
             (when == When::LastBlock ? p.bytesTotal > 0 && p.bytesDone == p.bytesTotal
                                      : p.filesTotal > 0 && p.filesDone == p.filesTotal))) {
            std::exchange(action, nullptr)();
        }
    };
    const int code = transferItem(request, &during).code;
    EXPECT_FALSE(action) << "the change was never made";
    return code;
}

// A child runs as uid/gid 65534 without groups, without /proc, counting totals, with few files, or
// at its user's process limit (no thread to be had; root is not held to it).
enum Child { AsRoot, AsNobody = 1, WithoutProc = 2, WithTotals = 4, FewFiles = 8, NoThreads = 16 };
constexpr int kHung = -100, kNotDropped = -101;  // hung or crashed; could not drop its rights
constexpr uid_t kNobody = 65534;

// The code of one transfer run in a forked child that is ended after `seconds`.
int inChild(const TransferRequest& request, unsigned how = AsRoot, int seconds = 10) {
    auto* code = static_cast<int*>(
        ::mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *code = kHung;
    if (::fork() == 0) {
        ::alarm(static_cast<unsigned>(seconds));
        // In a mount namespace of its own, /proc is unmounted for this process only.
        const bool dropped = (!(how & WithoutProc) ||
                              (::unshare(CLONE_NEWNS) == 0 &&
                               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                               ::umount2("/proc", MNT_DETACH) == 0)) &&
                             (!(how & AsNobody) || (::setgroups(0, nullptr) == 0 &&
                                                    ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                                                    ::setresuid(kNobody, kNobody, kNobody) == 0));
        const rlimit few{64, 64}, one{1, 1};
        if (how & FewFiles) {
            ::setrlimit(RLIMIT_NOFILE, &few);
        }
        if (how & NoThreads) {
            ::setrlimit(RLIMIT_NPROC, &one);
        }
        Monitor totals;
        *code = dropped ? transferItem(request, how & WithTotals ? &totals : nullptr).code
                        : kNotDropped;
        ::_exit(0);
    }
    ::wait(nullptr);
    const int result = *code;
    ::munmap(code, sizeof(int));
    return result;
}

// Writes 4 bytes after the end of the file (made if missing) or over its start, times put back.
void edit(const std::string& path, bool append, bool keepTimes) {
    struct stat before {};
    ::lstat(path.c_str(), &before);
    ::usleep(20000);  // the change time moves only by the clock's tick
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::pwrite(fd, "EDIT", 4, append ? before.st_size : 0), 4);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_TRUE(!keepTimes || ::futimens(fd, times) == 0);
    ::close(fd);
}

std::string fileAt(int fd) {  // "f" in a folder, by a path short at any depth
    return "/proc/self/fd/" + std::to_string(fd) + "/f";
}
// Folders "d" `levels` deep below a new `root`, beside a link "l"; every 1000th and the last hold
// "f", of `tag` and its level. Returns what deepTree() should then read.
std::string makeDeepTree(const std::string& root, int levels, const std::string& tag) {
    ::mkdir(root.c_str(), 0755);
    ::symlink("d", (root + "/l").c_str());
    std::string files;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 1; level <= levels; ++level) {
        ::close(std::exchange(fd, ::mkdirat(fd, "d", 0755) ? -1 : ::openat(fd, "d", O_RDONLY)));
        if (fd >= 0 && (level % 1000 == 0 || level == levels)) {
            writeFile(fileAt(fd), tag + std::to_string(level));
            files += std::to_string(level) + tag + std::to_string(level) + "\n";
        }
    }
    ::close(fd);
    return files + std::to_string(levels) + " levels";
}
// The files "f" below `root`, each after its level, and how many levels of "d" there are.
std::string deepTree(const std::string& root) {
    std::string found;
    int level = 0;
    for (int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY); fd >= 0; ++level) {
        found += exists(fileAt(fd)) ? std::to_string(level) + readFile(fileAt(fd)) + "\n" : "";
        ::close(std::exchange(fd, ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW)));
    }
    return found + std::to_string(level - 1) + " levels";
}

}  // namespace

// The files after the one that fills the disk, in the same batch of the pool, are not tried.
TEST(DiskFull, NothingHalfMadeStaysAndTheSourceIsWhole) {
    MIVEX_MOUNT_OR_SKIP(small, TmpfsMount, 1 << 20);
    ScopedEnv pool("MIVEX_WORKERS", "2");
    TempDir src, ref;
    const std::string bytes = randomBytes(4 << 20, 1);
    writeFile(src / "big.bin", bytes);
    EXPECT_EQ(transferItem({src / "big.bin", small.path(), kCopy, kN}).code, kDiskFull);
    EXPECT_TRUE(listTree(small.path()).empty());
    // A folder at the name fails an overwrite before any data is written.
    ASSERT_EQ(::mkdir((small / "big.bin").c_str(), 0755), 0);
    EXPECT_EQ(transferItem({src / "big.bin", small.path(), kCopy, kO}).code, kAlreadyExists);
    ASSERT_EQ(::rmdir((small / "big.bin").c_str()), 0);
    const std::string old = randomBytes(100000, 3);
    writeFile(small / "big.bin", old, 0640);
    for (auto rule : {kO, kN}) {
        EXPECT_EQ(transferItem({src / "big.bin", small.path(), kCopy, rule}).code, kDiskFull);
        EXPECT_EQ(describeTree(small.path()), Names{"big.bin=" + old});
        EXPECT_EQ(lstatOf(small / "big.bin").st_mode & 07777, 0640u);
    }
    for (int i = 0; i < 8; ++i) {
        plantTree(src / "tree", {"sub/" + std::to_string(i) + ".bin=" + randomBytes(300000, 2)});
    }
    const std::string reference = referenceCopy(src / "tree", ref.path());
    EXPECT_EQ(transferItem({src / "tree", small.path(), kMove, kO}).code, kDiskFull);
    expectSame(reference, src / "tree");
    EXPECT_TRUE(std::ranges::includes(listTree(reference), listTree(small / "tree")));
}

// Nothing is written for a special file, the root, or into a bind mount of a subfolder (whose ".."
// leads out); a bind mount of the tree or the destination in it stops the walk, keeping the rest.
TEST(IntoItself, SpecialFilesTheRootAndBindMountsFail) {
    MIVEX_MOUNT_OR_SKIP(dst, TmpfsMount, 4 << 20);  // small: a copy of the root or a loop ends soon
    TempDir dir;
    plantTree(dir.path(), {"src/a.txt=a", "src/sub/x.txt=x", "tree/a.txt=a", "tree/sub/door/"});
    plantTree(dst.path(), {"d/keep.txt=k"});
    MIVEX_MOUNT_OR_SKIP(sub, BindMount, dir / "src/sub", false);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    const std::string door = dir / "tree/sub/door";
    const Names kept = {"d/", "d/keep.txt=k"};
    const Names walked = {"d/", "d/keep.txt=k", "d/tree/", "d/tree/a.txt=a", "d/tree/sub/"};
    // The request, what is bound on the door meanwhile, the code, and the destination after.
    std::vector<std::tuple<TransferRequest, std::string, int, Names>> runs = {
        {{dir / "pipe", dst / "d", kCopy, kO}, "", kSpecialFile, kept},
        {{"/", dst / "d", kCopy, kO}, "", kIntoItself, kept},
        {{dir / "tree", dst / "d", kCopy, kN}, dir / "tree", kIntoItself, walked},
        {{dir / "tree", dst / "d", kCopy, kN}, dst / "d", kIntoItself, walked}};
    for (const std::string& into : {sub.path(), sub / "new/deeper"}) {
        for (auto kind : {kCopy, kMove}) {
            runs.push_back({{dir / "src", into, kind, kO}, "", kIntoItself, kept});
            runs.push_back({{dir / "src", into, kind, kN}, "", kIntoItself, kept});
        }
    }
    const auto before = listTree(dir.path());
    for (const auto& [request, bound, code, after] : runs) {
        SCOPED_TRACE(testing::Message() << request.source << " into " << request.destFolder << " "
                                        << int(request.kind) << int(request.rule) << " " << bound);
        if (!bound.empty() &&
            ::mount(bound.c_str(), door.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            GTEST_SKIP() << "a bind mount was refused: " << std::strerror(errno);
        }
        EXPECT_EQ(inChild(request, bound.empty() ? AsRoot : WithTotals | FewFiles, 30), code);
        ::umount2(door.c_str(), MNT_DETACH);
        EXPECT_EQ(listTree(dir.path()), before);
        EXPECT_EQ(describeTree(dst.path()), after);
        runProcess({"rm", "-rf", "--", dst / "d/tree"});  // deep, where a bind mount looped
    }
}

// Read-only mounts; EXDEV between two mounts of one filesystem; /proc's size 0 (read to the end)
// and sysfs' 4096 for a few bytes (not trusted); the longest name, leaving no room for a temporary.
TEST(OddFilesystems, OneTransferEach) {
    TempDir src, dst, backing;
    const std::string name = std::string(251, 'n') + ".txt";
    const std::string thp = "/sys/kernel/mm/transparent_hugepage/enabled";
    plantTree(src.path(), {"f.txt=new", "tree/a.txt=a", "tree/sub/b.txt=b", name + "=new"});
    plantTree(dst.path(), {name + "=old"});
    plantTree(backing.path(), {"f.txt=old"});
    MIVEX_MOUNT_OR_SKIP(ro, BindMount, backing.path(), true);
    MIVEX_MOUNT_OR_SKIP(rw, BindMount, backing.path(), false);
    std::vector<std::pair<TransferRequest, int>> runs = {
        {{src / "f.txt", ro.path(), kCopy, kN}, kWriteProtected},
        {{src / "f.txt", ro.path(), kCopy, kO}, kWriteProtected},
        {{src / "f.txt", ro / "new/folder", kCopy, kN}, kWriteProtected},
        {{src / "f.txt", ro.path(), kMove, kO}, kWriteProtected},
        {{src / "tree", rw / "in", kMove, kN}, kSuccess},
        {{"/proc/version", dst.path(), kCopy, kN}, kSuccess},
        {{src / name, dst.path(), kCopy, kO}, kSuccess}};
    if (exists(thp)) {
        runs.push_back({{thp, dst.path(), kCopy, kN}, kInUse});
    }
    for (const auto& [request, code] : runs) {
        EXPECT_EQ(transferItem(request).code, code)
            << request.source << " into " << request.destFolder;
    }
    EXPECT_EQ(describeTree(backing.path()),
              (Names{"f.txt=old", "in/", "in/tree/", "in/tree/a.txt=a", "in/tree/sub/",
                     "in/tree/sub/b.txt=b"}));
    EXPECT_EQ(describeTree(src.path()), (Names{"f.txt=new", name + "=new"}));
    EXPECT_EQ(describeTree(dst.path()),
              (Names{name + "=new", "version=" + readFile("/proc/version")}));
}

// Another user's files are linked through /proc/self/fd, else written under temporary names; a
// read-only folder gets its mode when filled; a move meeting an unreadable file keeps the source.
// At its process limit the user gets no copying thread: the walking thread copies the tree.
TEST(Permissions, OtherUserWithAndWithoutProcOrThreads) {
    ScopedEnv threads("MIVEX_WORKERS", "4");
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);  // needs root, as handing files to uid 65534
    TempDir src, dst, ref;
    plantTree(src.path(), {"tree/ro/f.txt=f", "tree/sub/b.bin=" + randomBytes(100000, 1), "f.txt=f",
                           "moved/a.txt=a", "moved/sub/secret.txt=secret", "moved/z.txt=z"});
    plantTree(dst.path(), {"locked/", "proc/", "noproc/", "nothreads/"});
    ::chmod((src / "tree/ro").c_str(), 0555);
    ::chmod((src / "moved/sub/secret.txt").c_str(), 0);
    const std::string reference = referenceCopy(src / "tree", ref.path());
    const std::string kept = referenceCopy(src / "moved", ref.path());
    const auto chown =
        runProcess({"chown", "-R", "-h", "65534:65534", src.path(), dst.path(), mount.path()});
    ASSERT_EQ(chown.exitCode, 0) << chown.output;
    ::chmod((dst / "locked").c_str(), 0555);
    const std::tuple<TransferRequest, unsigned, int> runs[] = {
        {{src / "f.txt", dst / "locked", kCopy, kN}, AsNobody, kAccessDenied},
        {{src / "f.txt", dst / "locked/sub", kCopy, kN}, AsNobody, kAccessDenied},
        {{src / "tree", dst / "proc", kCopy, kN}, AsNobody, kSuccess},
        {{src / "tree", dst / "noproc", kCopy, kO}, AsNobody | WithoutProc, kSuccess},
        {{src / "f.txt", dst / "noproc", kCopy, kN}, AsNobody | WithoutProc, kSuccess},
        {{src / "f.txt", dst / "noproc", kCopy, kN}, AsNobody | WithoutProc, kSuccess},
        {{src / "moved", mount.path(), kMove, kO}, AsNobody, kAccessDenied},
        {{src / "tree", dst / "nothreads", kCopy, kN}, AsNobody | NoThreads, kSuccess},
    };
    for (const auto& [request, how, expected] : runs) {
        SCOPED_TRACE(request.source + " into " + request.destFolder);
        const int code = inChild(request, how);
        if (code == kNotDropped) {
            GTEST_SKIP() << "cannot become uid 65534 or hide /proc";
        }
        EXPECT_EQ(code, expected);
    }
    EXPECT_TRUE(listTree(dst / "locked").empty());
    for (const char* copied : {"proc", "noproc", "nothreads"}) {
        expectSame(reference, dst / copied + "/tree");
    }
    EXPECT_EQ(listTree(dst / "noproc"), (Names{"f - Copy.txt", "f.txt", "tree/", "tree/ro/",
                                               "tree/ro/f.txt", "tree/sub/", "tree/sub/b.bin"}));
    expectSame(kept, src / "moved");
    EXPECT_TRUE(std::ranges::includes(listTree(kept), listTree(mount / "moved")));
}

// A folder swapped for a link meanwhile leads no delete or write astray; a move across removes only
// what it copied, a file only while it is still what was copied, and the copy stays.
TEST(DuringTheRun, MovesAcrossAndCopiesMeetingChanges) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    for (const bool atSource : {true, false}) {
        SCOPED_TRACE(atSource ? "source, moving across" : "destination, copying");
        TempDir src, dst, victim;
        plantTree(src.path(), {"tree/a.bin=" + randomBytes(1 << 20, 1), "tree/sub/x.txt=x",
                               "tree/sub/y.txt=y"});
        plantTree(dst.path(), {"tree/sub/"});
        plantTree(victim.path(), {"x.txt=victim"});
        const std::string sub = (atSource ? src : dst) / "tree/sub";
        transferDuring(
            {src / "tree", atSource ? mount.path() : dst.path(), atSource ? kMove : kCopy, kO},
            When::FirstCall, [&] {
                ASSERT_EQ(::rename(sub.c_str(), (sub + "-real").c_str()), 0);
                ASSERT_EQ(::symlink(victim.path().c_str(), sub.c_str()), 0);
            });
        EXPECT_EQ(describeTree(victim.path()), Names{"x.txt=victim"});
        removeTree(mount / "tree");
    }
    // What moves, and what changes: appended, or written over with its times put back.
    const std::tuple<std::string, std::string, bool, int> cases[] = {
        {"tree/edited.log", "tree/edited.log", true, kInUse},
        {"tree/edited.log", "tree/edited.log", false, kInUse},
        {"tree", "tree/edited.log", true, kInUse},
        {"tree", "tree/late.txt", true, kDirNotEmpty}};
    const std::string original = randomBytes(100000, 5);
    for (const auto& [moved, changing, append, code] : cases) {
        SCOPED_TRACE(moved + ", changed " + changing);
        TempDir src;
        plantTree(src.path(), {"tree/edited.log=" + original, "tree/sub/b.txt=b"});
        const std::string changed = src / changing;
        std::string now;
        const auto change = [&] {
            edit(changed, append, !append);
            now = readFile(changed);
        };
        const std::string into = moved == "tree" ? mount.path() : mount / "tree";
        EXPECT_EQ(transferDuring({src / moved, into, kMove, kO}, When::LastFile, change), code);
        EXPECT_EQ(readFile(changed), now);
        EXPECT_EQ(readFile(mount / "tree/edited.log"), original) << "the copy is gone";
        removeTree(mount / "tree");
    }
}

// Deep below, the walk comes back to upper folders through "..": one moved away meanwhile ends it.
TEST(DuringTheRun, UpperFolderMovedAwayEndsTheWalkOnTheWayBack) {
    ScopedEnv oneThread("MIVEX_WORKERS", "0");  // the leaf is copied while the walk is down there
    TempDir src, dst;
    std::string deep = "tree";
    for (int level = 1; level <= 40; ++level) {
        deep += "/d";
    }
    plantTree(src.path(), {deep + "/leaf.txt=leaf"});
    const auto move = [&] {
        ASSERT_EQ(::rename((src / "tree/d/d/d/d/d").c_str(), (src / "moved").c_str()), 0);
    };
    EXPECT_EQ(transferDuring({src / "tree", dst.path(), kCopy, kN}, When::FirstCall, move), kInUse);
    EXPECT_EQ(readFile(dst / deep + "/leaf.txt"), "leaf");
}

// After the last block: a source grown with its time put back (a whole number of chunks is looked
// past; otherwise only the size tells) is in use; a name taken meanwhile gets the rule.
TEST(DuringTheRun, CopyMeetsAGrownSourceOrATakenName) {
    const std::string bytes = randomBytes((4 << 20) + 123, 7), chunks = bytes.substr(0, 4 << 20);
    // The source, the rule, and the destination after (empty: the source grew; else a name taken).
    const std::tuple<std::string, CollisionRule, Names> cases[] = {
        {chunks, kN, {}},
        {bytes, kN, {}},
        {bytes, kO, {"f.bin=" + bytes}},
        {bytes, kN, {"f - Copy.bin=" + bytes, "f.bin=intruder"}}};
    for (const auto& [source, rule, after] : cases) {
        TempDir src, dst;
        writeFile(src / "f.bin", source);
        const bool grow = after.empty();
        const auto change = [&] {
            grow ? edit(src / "f.bin", true, true) : writeFile(dst / "f.bin", "intruder");
        };
        EXPECT_EQ(transferDuring({src / "f.bin", dst.path(), kCopy, rule}, When::LastBlock, change),
                  grow ? kInUse : kSuccess);
        EXPECT_EQ(describeTree(dst.path()), after);
    }
}

// Depth costs memory, not stack or descriptors: 20,000 levels (a crash at about 7,000 once) copy,
// merge and move within a few dozen descriptors, and a move removes every level.
TEST(DeepTree, TwentyThousandLevelsWithFewDescriptors) {
    constexpr int kLevels = 20000;
    // The kind, the rule, onto a tree as deep, into another filesystem.
    const std::tuple<TransferKind, CollisionRule, bool, bool> cases[] = {{kCopy, kN, false, false},
                                                                         {kCopy, kO, true, false},
                                                                         {kMove, kO, true, false},
                                                                         {kMove, kO, false, true}};
    for (const auto& [kind, rule, onto, across] : cases) {
        SCOPED_TRACE(testing::Message() << int(kind) << int(rule) << onto << across);
        // On tmpfs: 20,000 levels on a busy disk cost minutes of journal.
        MIVEX_MOUNT_OR_SKIP(here, TmpfsMount, 256 << 20);
        MIVEX_MOUNT_OR_SKIP(there, TmpfsMount, 256 << 20);
        const std::string dest = across ? there.path() : here / "dst";
        ::mkdir(dest.c_str(), 0755);
        const std::string made = makeDeepTree(here / "deep", kLevels, "new");
        if (onto) {
            makeDeepTree(dest + "/deep", kLevels, "old");
        }
        EXPECT_EQ(inChild({here / "deep", dest, kind, rule}, WithTotals | FewFiles, 120), 0);
        EXPECT_EQ(deepTree(dest + "/deep"), made);
        EXPECT_EQ(linkTarget(dest + "/deep/l"), "d");
        EXPECT_EQ(exists(here / "deep"), kind == kCopy);
    }
}
