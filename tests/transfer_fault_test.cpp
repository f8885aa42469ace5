// The transfer engine when the filesystem says no or changes under it. Cases that could hang run in
// a child process with a time limit.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/resultcodes.h"
#include "platform/transfer.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

namespace {

constexpr uid_t kNobody = 65534;
using Names = std::vector<std::string>;

struct ChildOutcome {
    bool finished = false;  // false: hung past the limit, or crashed
    bool dropped = true;    // false: could not become nobody, or could not hide /proc
    int code = -1;
};

// In a mount namespace of its own, /proc is unmounted (for the current process only).
bool hideProc() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::umount2("/proc", MNT_DETACH) == 0;
}

// How the child runs: as root, as nobody, and with /proc hidden or not; and with totals counted
// first, as a progress window asks, and room for only a few open descriptors.
enum Child : unsigned { AsRoot = 0, AsNobody = 1, WithoutProc = 2, WithTotals = 4, FewFiles = 8 };
constexpr rlim_t kFewFiles = 64;

class Totals : public TransferMonitor {
public:
    bool wantsTotals() const override { return true; }
};

// Runs one transfer in a forked child (as uid/gid 65534 with no groups for AsNobody), so that
// a hang is cut off at `seconds` and permission checks apply even though the tests run as root.
ChildOutcome transferInChild(const TransferRequest& request, unsigned how = AsRoot,
                             int seconds = 10) {
    void* page = ::mmap(nullptr, sizeof(ChildOutcome), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* shared = new (page) ChildOutcome{};
    if (::fork() == 0) {
        ::alarm(static_cast<unsigned>(seconds));  // a hang ends the child, unfinished
        shared->dropped = !((how & WithoutProc) && !hideProc()) &&
                          !((how & AsNobody) && (::setgroups(0, nullptr) != 0 ||
                                                 ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                                                 ::setresuid(kNobody, kNobody, kNobody) != 0));
        const rlimit few{kFewFiles, kFewFiles};
        if (shared->dropped && (how & FewFiles)) {
            ::setrlimit(RLIMIT_NOFILE, &few);
        }
        Totals totals;
        if (shared->dropped) {
            shared->code = transferItem(request, how & WithTotals ? &totals : nullptr).code;
        }
        shared->finished = true;
        ::_exit(0);
    }
    ::wait(nullptr);
    const ChildOutcome result = *shared;
    ::munmap(page, sizeof(ChildOutcome));
    return result;
}

#define EXPECT_CHILD_CODE(outcome, expected)                            \
    do {                                                                \
        const ChildOutcome& o_ = (outcome);                             \
        ASSERT_TRUE(o_.finished) << "the transfer hung or crashed";     \
        if (!o_.dropped) {                                              \
            GTEST_SKIP() << "cannot switch to uid 65534 or hide /proc"; \
        }                                                               \
        EXPECT_EQ(o_.code, (expected));                                 \
    } while (0)

void giveToNobody(const std::string& path) {
    auto r = runProcess({"chown", "-R", "-h", "65534:65534", path});
    ASSERT_EQ(r.exitCode, 0) << r.output;
}

// Every name at the destination must be one of the source's: no temporary or partial names.
void expectOnlyNamesFrom(const std::string& destTree, const std::string& sourceTree) {
    const auto source = listTree(sourceTree);
    for (const auto& name : listTree(destTree)) {
        EXPECT_TRUE(std::find(source.begin(), source.end(), name) != source.end())
            << "left behind at the destination: " << name;
    }
}

}  // namespace

TEST(DiskFull, NothingHalfMadeStaysAndTheSourceIsWhole) {
    MIVEX_MOUNT_OR_SKIP(small, TmpfsMount, 1 << 20);
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
        EXPECT_EQ(readFile(small / "big.bin"), old);
        EXPECT_EQ(lstatOf(small / "big.bin").st_mode & 07777, 0640u);
        EXPECT_EQ(listTree(small.path()), Names{"big.bin"});
    }
    EXPECT_TRUE(readFile(src / "big.bin") == bytes);
    for (int i = 0; i < 6; ++i) {
        makeTree(src / "tree", {{"part" + std::to_string(i) + "/data.bin",
                                 randomBytes(300000, static_cast<unsigned>(i))}});
    }
    const std::string reference = referenceCopy(src / "tree", ref.path());
    EXPECT_EQ(transferItem({src / "tree", small.path(), kMove, kO}).code, kDiskFull);
    expectSame(reference, src / "tree");
    expectOnlyNamesFrom(small / "tree", reference);
}

TEST(Sources, FifoDeviceOrTheRootFails) {
    MIVEX_MOUNT_OR_SKIP(dst, TmpfsMount, 1 << 20);  // small: a copy of the root ends soon
    TempDir src;
    ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0644), 0);
    std::vector<std::pair<std::string, int>> items = {{src / "pipe", kSpecialFile},
                                                      {"/", kIntoItself}};
    if (::mknod((src / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        items.push_back({src / "null", kSpecialFile});
    }
    for (const auto& [item, code] : items) {
        SCOPED_TRACE(item);
        EXPECT_CHILD_CODE(transferInChild({item, dst.path(), kCopy, kO}), code);
        EXPECT_TRUE(listTree(dst.path()).empty());
    }
}

// /proc reports size 0 for text made as it is read, and is read to its end; sysfs reports 4096 for
// a few bytes, which cannot be trusted.
TEST(PseudoFiles, SizeThatIsNotTheLength) {
    const std::pair<std::string, int> cases[] = {
        {"/proc/version", kSuccess},
        {"/proc/filesystems", kSuccess},
        {"/sys/kernel/mm/transparent_hugepage/enabled", kInUse},
    };
    for (const auto& [path, code] : cases) {
        SCOPED_TRACE(path);
        if (!exists(path)) {
            continue;
        }
        TempDir dst;
        EXPECT_EQ(transferItem({path, dst.path(), kCopy, kN}).code, code);
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_EQ(describeTree(dst.path()),
                  code == kSuccess ? Names{name + "=" + readFile(path)} : Names{});
    }
}

// Files are written unnamed and, for a user without CAP_DAC_READ_SEARCH, linked to their names
// through /proc/self/fd; without /proc under temporary names. A read-only folder gets its mode
// only once it is filled. A move across filesystems meeting an unreadable file keeps the source.
TEST(Permissions, OtherUserWithAndWithoutProc) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);  // needs root, as handing files to uid 65534
    TempDir src, dst, ref;
    makeTree(src / "tree", {{"ro/f.txt", "f"}, {"sub/b.bin", randomBytes(100000, 1)}});
    ::chmod((src / "tree/ro").c_str(), 0555);
    writeFile(src / "f.txt", "f");
    makeTree(dst.path(), {{"locked/", ""}, {"proc/", ""}, {"noproc/", ""}});
    const std::string reference = referenceCopy(src / "tree", ref.path());
    giveToNobody(src.path());
    giveToNobody(dst.path());
    ::chmod((dst / "locked").c_str(), 0555);
    for (const std::string& into : {dst / "locked", dst / "locked/sub"}) {
        EXPECT_CHILD_CODE(transferInChild({src / "f.txt", into, kCopy, kN}, AsNobody),
                          kAccessDenied);
    }
    EXPECT_TRUE(listTree(dst / "locked").empty());
    EXPECT_CHILD_CODE(transferInChild({src / "tree", dst / "proc", kCopy, kN}, AsNobody), 0);
    expectSame(reference, dst / "proc/tree");
    const TransferRequest noProc[] = {{src / "tree", dst / "noproc", kCopy, kO},
                                      {src / "f.txt", dst / "noproc", kCopy, kN},
                                      {src / "f.txt", dst / "noproc", kCopy, kN}};
    for (const TransferRequest& request : noProc) {
        EXPECT_CHILD_CODE(transferInChild(request, AsNobody | WithoutProc), 0);
    }
    expectSame(reference, dst / "noproc/tree");
    EXPECT_EQ(listTree(dst / "noproc"), (Names{"f - Copy.txt", "f.txt", "tree/", "tree/ro/",
                                               "tree/ro/f.txt", "tree/sub/", "tree/sub/b.bin"}));

    makeTree(src / "moved", {{"a.txt", "a"}, {"sub/secret.txt", "secret"}, {"z.txt", "z"}});
    ::chmod((src / "moved/sub/secret.txt").c_str(), 0);
    giveToNobody(src / "moved");
    giveToNobody(mount.path());
    const std::string kept = referenceCopy(src / "moved", ref.path());
    EXPECT_CHILD_CODE(transferInChild({src / "moved", mount.path(), kMove, kO}, AsNobody),
                      kAccessDenied);
    expectSame(kept, src / "moved");
    expectOnlyNamesFrom(mount / "moved", kept);
}

TEST(OtherMounts, ReadOnlyIsWriteProtected) {
    TempDir src, backing;
    writeFile(src / "f.txt", "new");
    writeFile(backing / "f.txt", "old");
    MIVEX_MOUNT_OR_SKIP(ro, BindMount, backing.path(), true);
    EXPECT_EQ(transferItem({src / "f.txt", ro.path(), kCopy, kN}).code, kWriteProtected);
    EXPECT_EQ(transferItem({src / "f.txt", ro.path(), kCopy, kO}).code, kWriteProtected);
    EXPECT_EQ(transferItem({src / "f.txt", ro / "new/folder", kCopy, kN}).code, kWriteProtected);
    EXPECT_EQ(transferItem({src / "f.txt", ro.path(), kMove, kO}).code, kWriteProtected);
    EXPECT_EQ(readFile(backing / "f.txt"), "old");
    EXPECT_EQ(listTree(backing.path()), Names{"f.txt"});
    EXPECT_EQ(readFile(src / "f.txt"), "new");
}

TEST(OtherMounts, MoveBetweenTwoMountsOfOneFilesystemCopies) {
    TempDir src, backing;
    makeTree(src / "tree", {{"a.txt", "a"}, {"sub/b.txt", "b"}});
    MIVEX_MOUNT_OR_SKIP(other, BindMount, backing.path(), false);
    ASSERT_EQ(transferItem({src / "tree", other / "in", kMove, kN}).code, 0);  // rename says EXDEV
    EXPECT_FALSE(exists(src / "tree"));
    EXPECT_EQ(listTree(backing / "in"),
              (Names{"tree/", "tree/a.txt", "tree/sub/", "tree/sub/b.txt"}));
}

// ".." from the root of a bind mount leads to where it is mounted, not into the source.
TEST(OtherMounts, IntoABindMountOfItsOwnSubfolderFailsAndWritesNothing) {
    TempDir dir;
    makeTree(dir / "src", {{"a.txt", "a"}, {"sub/x.txt", "x"}});
    MIVEX_MOUNT_OR_SKIP(sub, BindMount, dir / "src/sub", false);
    const auto before = listTree(dir.path());
    for (const std::string& dest : {sub.path(), sub / "new/deeper"}) {
        for (auto kind : {kCopy, kMove}) {
            for (auto rule : {kO, kN}) {
                SCOPED_TRACE(dest + (kind == kCopy ? " copy" : " move") +
                             (rule == kO ? " O" : " N"));
                EXPECT_CHILD_CODE(transferInChild({dir / "src", dest, kind, rule}, AsRoot, 20),
                                  kIntoItself);
                EXPECT_EQ(listTree(dir.path()), before);
            }
        }
    }
}

// The source holds a bind mount of the destination's parent: the walk stops where it meets it.
TEST(OtherMounts, SourceHoldingAMountOfTheDestinationStopsWhereItMeetsIt) {
    TempDir src, dst;
    makeTree(src.path(), {{"a.txt", "a"}, {"door/", ""}});
    makeTree(dst / "d", {{"keep.txt", "k"}});
    if (::mount(dst.path().c_str(), (src / "door").c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "a bind mount was refused: " << std::strerror(errno);
    }
    const ChildOutcome out = transferInChild({src.path(), dst / "d", kCopy, kN}, AsRoot, 20);
    ::umount2((src / "door").c_str(), MNT_DETACH);
    EXPECT_CHILD_CODE(out, kIntoItself);
    EXPECT_EQ(readFile(dst / "d/keep.txt"), "k");
}

// A bind mount makes the tree endless: the folder it is already inside fails, the rest is copied.
TEST(Links, BindMountLoopInTheSourceEndsTheWalk) {
    TmpfsMount dst(4 << 20);  // small: an endless walk ends at its end
    if (!dst.ok()) {
        GTEST_SKIP() << dst.reason();
    }
    TempDir src;
    makeTree(src / "tree", {{"a.txt", "a"}, {"sub/loop/", ""}});
    const std::string loop = src / "tree/sub/loop";
    if (::mount((src / "tree").c_str(), loop.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "a bind mount was refused: " << std::strerror(errno);
    }
    const ChildOutcome outcome =
        transferInChild({src / "tree", dst.path(), kCopy, kN}, WithTotals | FewFiles, 30);
    ::umount2(loop.c_str(), MNT_DETACH);
    const auto copied = listTree(dst.path());
    removeDeepTree(dst / "tree");
    EXPECT_CHILD_CODE(outcome, kIntoItself);
    EXPECT_EQ(copied, (Names{"tree/", "tree/a.txt", "tree/sub/"}));
}

namespace {

// Runs `action` once from inside the transfer: at the first progress call, when the last block has
// been written, or once the last file is in place.
enum class When { FirstCall, LastBlock, LastFile };

class During : public TransferMonitor {
public:
    During(When when, std::function<void()> action) : mWhen(when), mAction(std::move(action)) {}
    bool wantsTotals() const override { return true; }
    void progress(const TransferProgress& p) override {
        const bool now =
            mWhen == When::FirstCall ||
            (mWhen == When::LastBlock ? p.bytesTotal > 0 && p.bytesDone == p.bytesTotal
                                      : p.filesTotal > 0 && p.filesDone == p.filesTotal);
        if (!fired && now) {
            fired = true;
            mAction();
        }
    }
    bool fired = false;

private:
    When mWhen;
    std::function<void()> mAction;
};

// Replaces the folder `path` by a link to `target`, keeping the real folder beside it.
void swapForLink(const std::string& path, const std::string& target) {
    ASSERT_EQ(::rename(path.c_str(), (path + "-real").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
}

// Writes 4 bytes at the end of the file, or over its start, and then puts its times back if asked:
// only its size, or only its change time, tells.
void edit(const std::string& path, bool append, bool keepTimes) {
    const struct stat before = lstatOf(path);
    ::usleep(20000);  // the change time moves only by the clock's tick
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "EDIT", 4, append ? before.st_size : 0), 4);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_TRUE(!keepTimes || ::futimens(fd, times) == 0);
    ::close(fd);
}

}  // namespace

TEST(DuringTheRun, FolderSwappedForLinkCannotRedirectTheDeleteOrTheWrite) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    for (const bool atSource : {true, false}) {
        SCOPED_TRACE(atSource ? "source, moving across" : "destination, copying");
        TempDir src, dst, victim;
        makeTree(src / "tree",
                 {{"a.bin", randomBytes(1 << 20, 1)}, {"sub/x.txt", "x"}, {"sub/y.txt", "y"}});
        makeTree(dst / "tree", {{"sub/", ""}});
        makeTree(victim.path(), {{"x.txt", "victim"}});
        During swap(When::FirstCall,
                    [&] { swapForLink((atSource ? src : dst) / "tree/sub", victim.path()); });
        transferItem(
            {src / "tree", atSource ? mount.path() : dst.path(), atSource ? kMove : kCopy, kO},
            &swap);
        ASSERT_TRUE(swap.fired);
        EXPECT_EQ(listTree(victim.path()), Names{"x.txt"});
        EXPECT_EQ(readFile(victim / "x.txt"), "victim");
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
    makeTree(src / deep, {{"leaf.txt", "leaf"}});
    During move(When::FirstCall, [&] {
        ASSERT_EQ(::rename((src / "tree/d/d/d/d/d").c_str(), (src / "moved").c_str()), 0);
    });
    EXPECT_EQ(transferItem({src / "tree", dst.path(), kCopy, kN}, &move).code, kInUse);
    ASSERT_TRUE(move.fired);
    EXPECT_EQ(readFile(dst / deep + "/leaf.txt"), "leaf");
}

// Grown after its last block was read, with its time put back. A whole number of chunks is looked
// past afterwards; otherwise the copy read past the end itself and only the size tells.
TEST(DuringTheRun, SourceGrownWhileCopyingIsInUse) {
    for (const std::size_t size : {4u << 20, (4u << 20) + 123}) {
        TempDir src, dst;
        writeFile(src / "grows.log", randomBytes(size, 1));
        During grow(When::LastBlock, [&] { edit(src / "grows.log", true, true); });
        EXPECT_EQ(transferItem({src / "grows.log", dst.path(), kCopy, kN}, &grow).code, kInUse);
        EXPECT_TRUE(listTree(dst.path()).empty());
    }
}

// The name was free when looked at and taken while the copy was written: the rule still holds.
TEST(DuringTheRun, FileThatAppearsAtTheNameMeanwhileIsHandledByTheRule) {
    TempDir src;
    const std::string bytes = randomBytes(1 << 20, 7);
    writeFile(src / "f.bin", bytes);
    for (const auto rule : {kO, kN}) {
        TempDir dst;
        During intruder(When::LastBlock, [&] { writeFile(dst / "f.bin", "intruder"); });
        ASSERT_EQ(transferItem({src / "f.bin", dst.path(), kCopy, rule}, &intruder).code, 0);
        ASSERT_TRUE(intruder.fired);
        EXPECT_EQ(describeTree(dst.path()),
                  rule == kO ? Names{"f.bin=" + bytes}
                             : (Names{"f - Copy.bin=" + bytes, "f.bin=intruder"}));
    }
}

TEST(DuringTheRun, MoveAcrossFilesystemsKeepsWhatAppearedMeanwhile) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    TempDir src;
    makeTree(src / "tree", {{"a.bin", randomBytes(1 << 20, 1)}, {"sub/b.txt", "b"}});
    During late(When::LastBlock, [&] { writeFile(src / "tree/late.txt", "new"); });
    EXPECT_EQ(transferItem({src / "tree", mount.path(), kMove, kO}, &late).code, kDirNotEmpty);
    ASSERT_TRUE(late.fired);
    EXPECT_EQ(readFile(src / "tree/late.txt"), "new");
    EXPECT_EQ(readFile(mount / "tree/sub/b.txt"), "b");
}

// A move across filesystems removes a source file only while it is still what was copied.
TEST(DuringTheRun, MoveAcrossFilesystemsKeepsAFileWrittenAfterItsCopy) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    const struct {
        const char* what;
        bool tree, append, keepTimes;
    } cases[] = {
        {"file appended", false, true, false},
        {"file rewritten, times put back", false, false, true},
        {"file in a tree appended", true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir src;
        makeTree(src / "tree", {{"edited.log", randomBytes(100000, 5)}, {"other.txt", "o"}});
        const std::string edited = src / "tree/edited.log";
        std::string current;
        During late(When::LastFile, [&] {
            edit(edited, c.append, c.keepTimes);
            current = readFile(edited);
        });
        EXPECT_EQ(
            transferItem({c.tree ? src / "tree" : edited, mount.path(), kMove, kO}, &late).code,
            kInUse);
        ASSERT_TRUE(late.fired);
        EXPECT_EQ(readFile(edited), current);
        removeTree(mount / "tree");
        removeTree(mount / "edited.log");
    }
}

TEST(Names, LongestNameCopiesDespiteTemporaryName) {
    TempDir src, dst;
    const std::string name = std::string(251, 'n') + ".txt";
    writeFile(src / name, "new");
    writeFile(dst / name, "old");
    EXPECT_EQ(transferItem({src / name, dst.path(), kCopy, kO}).code, 0);
    EXPECT_EQ(listTree(dst.path()), Names{name});
    EXPECT_EQ(readFile(dst / name), "new");
}

// Depth costs memory, not stack or descriptors: 20,000 levels (a crash at about 7,000 once) copy,
// merge, move and count with a few dozen descriptors, and a move removes every level.
TEST(DeepTree, TwentyThousandLevelsWithFewDescriptors) {
    constexpr int kLevels = 20000;
    const struct {
        const char* what;
        TransferKind kind;
        CollisionRule rule;
        bool onto;    // onto a tree as deep: merged, file by file
        bool across;  // into another filesystem
    } cases[] = {
        {"copy into a new folder", kCopy, kN, false, false},
        {"copy merging into a tree", kCopy, kO, true, false},
        {"move merging on one filesystem", kMove, kO, true, false},
        {"move across filesystems", kMove, kO, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // On tmpfs: 20,000 levels on a busy disk cost minutes of journal.
        TmpfsMount here(256 << 20), there(256 << 20);
        if (!here.ok() || !there.ok()) {
            GTEST_SKIP() << here.reason() << there.reason();
        }
        const std::string dest = c.across ? there.path() : here / "dst";
        ::mkdir(dest.c_str(), 0755);
        makeDeepTree(here / "deep", kLevels, "new");
        if (c.onto) {
            makeDeepTree(dest + "/deep", kLevels, "old");
        }
        const ChildOutcome outcome =
            transferInChild({here / "deep", dest, c.kind, c.rule}, WithTotals | FewFiles, 120);
        EXPECT_CHILD_CODE(outcome, 0);
        EXPECT_EQ(deepTreeLevels(dest + "/deep", "new"), kLevels);
        EXPECT_EQ(linkTarget(dest + "/deep/l"), "d");
        EXPECT_EQ(exists(here / "deep"), c.kind == kCopy);
        removeDeepTree(here / "deep");
        removeDeepTree(dest + "/deep");
    }
}
