// The transfer engine when the filesystem says no or changes under it: full disks, special files,
// missing permission, read-only mounts, planted links, link loops, folders swapped for links in the
// middle of a run. Each case runs against the real thing; the ones that could hang run in a child
// process with a time limit.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
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

TransferOutcome transfer(const std::string& source, const std::string& dest, TransferKind kind,
                         CollisionRule rule) {
    return transferItem(TransferRequest{source, dest, kind, rule});
}

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
    const bool asNobody = how & AsNobody;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        int msg[2] = {1, -1};
        if ((how & WithoutProc) && !hideProc()) {
            msg[0] = 0;
        } else if (asNobody &&
                   (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                    ::setresuid(kNobody, kNobody, kNobody) != 0)) {
            msg[0] = 0;
        } else {
            const rlimit few{kFewFiles, kFewFiles};
            if (how & FewFiles) {
                ::setrlimit(RLIMIT_NOFILE, &few);
            }
            Totals totals;
            const TransferOutcome out = transferItem(request, how & WithTotals ? &totals : nullptr);
            msg[1] = out.code;
        }
        (void)!::write(fds[1], msg, sizeof msg);
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildOutcome result;
    pollfd p{fds[0], POLLIN, 0};
    int msg[2];
    if (::poll(&p, 1, seconds * 1000) == 1 && ::read(fds[0], msg, sizeof msg) == sizeof msg) {
        result = {true, msg[0] != 0, msg[1]};
    } else {
        ::kill(pid, SIGKILL);
    }
    ::waitpid(pid, nullptr, 0);
    ::close(fds[0]);
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

// --- out of space --------------------------------------------------------------------------

class DiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mSmall.ok()) {
            GTEST_SKIP() << mSmall.reason();
        }
    }
    TmpfsMount mSmall{1 << 20};
    TempDir mSrc;
};

TEST_F(DiskFull, FileLeavesNothingBehind) {
    const std::string bytes = randomBytes(4 << 20, 1);
    writeFile(mSrc / "big.bin", bytes);
    EXPECT_EQ(transfer(mSrc / "big.bin", mSmall.path(), kCopy, kN).code, kDiskFull);
    EXPECT_TRUE(listTree(mSmall.path()).empty());
    EXPECT_EQ(readFile(mSrc / "big.bin"), bytes);
}

TEST_F(DiskFull, ExistingFileStaysWhole) {
    writeFile(mSrc / "f.bin", randomBytes(4 << 20, 2));
    const std::string old = randomBytes(100000, 3);
    writeFile(mSmall / "f.bin", old, 0640);
    for (auto rule : {kO, kN}) {
        EXPECT_EQ(transfer(mSrc / "f.bin", mSmall.path(), kCopy, rule).code, kDiskFull);
        EXPECT_EQ(readFile(mSmall / "f.bin"), old);
        EXPECT_EQ(lstatOf(mSmall / "f.bin").st_mode & 07777, 0640u);
        EXPECT_EQ(listTree(mSmall.path()), std::vector<std::string>{"f.bin"});
    }
}

TEST_F(DiskFull, MoveAcrossFilesystemsKeepsTheSourceTree) {
    TempDir ref;
    for (int i = 0; i < 6; ++i) {
        makeTree(mSrc / "tree", {{"part" + std::to_string(i) + "/data.bin",
                                  randomBytes(300000, static_cast<unsigned>(i))}});
    }
    const std::string reference = referenceCopy(mSrc / "tree", ref.path());
    EXPECT_EQ(transfer(mSrc / "tree", mSmall.path(), kMove, kO).code, kDiskFull);
    expectSame(reference, mSrc / "tree");
    expectOnlyNamesFrom(mSmall / "tree", reference);
}

// --- special files -------------------------------------------------------------------------

TEST(SpecialFiles, FifoSocketOrDeviceAsSourceFails) {
    TempDir src, dst;
    ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = src / "sock";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::vector<std::string> items = {"pipe", "sock"};
    if (::mknod((src / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        items.push_back("null");
    }
    for (const auto& item : items) {
        SCOPED_TRACE(item);
        EXPECT_CHILD_CODE(transferInChild({src / item, dst.path(), kCopy, kO}), kSpecialFile);
    }
    ::close(sock);
    EXPECT_TRUE(listTree(dst.path()).empty());
}

// --- permissions (as uid 65534: root ignores modes) ----------------------------------------

// Files whose size is not their length: /proc reports 0 for text made as it is read, sysfs
// 4096 for a few bytes. The first is read to its end; the second cannot be trusted and fails.
TEST(PseudoFiles, SizeThatIsNotTheLength) {
    const struct {
        const char* path;
        int code;
    } cases[] = {
        {"/proc/version", kSuccess},
        {"/proc/filesystems", kSuccess},
        {"/sys/kernel/mm/transparent_hugepage/enabled", kInUse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        if (!exists(c.path)) {
            continue;
        }
        TempDir dst;
        EXPECT_EQ(transfer(c.path, dst.path(), kCopy, kN).code, c.code);
        const std::string name = std::string(c.path).substr(std::string(c.path).rfind('/') + 1);
        if (c.code == kSuccess) {
            const std::string copied = readFile(dst / name);
            EXPECT_FALSE(copied.empty());
            EXPECT_EQ(copied, readFile(c.path));
        } else {
            EXPECT_TRUE(listTree(dst.path()).empty());
        }
    }
}

class Permissions : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "handing files to uid 65534 and becoming it needs root";
        }
    }
};

TEST_F(Permissions, UnwritableDestinationFolderIsAccessDenied) {
    TempDir src, dst;
    writeFile(src / "f.txt", "f");
    giveToNobody(src.path());
    giveToNobody(dst.path());
    ::chmod(dst.path().c_str(), 0555);
    EXPECT_CHILD_CODE(transferInChild({src / "f.txt", dst.path(), kCopy, kN}, AsNobody),
                      kAccessDenied);
    EXPECT_CHILD_CODE(transferInChild({src / "f.txt", dst / "sub", kCopy, kN}, AsNobody),
                      kAccessDenied);
    EXPECT_TRUE(listTree(dst.path()).empty());
}

TEST_F(Permissions, ReadOnlyFolderIsFilledBeforeItGetsItsMode) {
    TempDir src, dst;
    makeTree(src / "tree", {{"ro/f.txt", "f"}});
    ::chmod((src / "tree/ro").c_str(), 0555);
    giveToNobody(src.path());
    giveToNobody(dst.path());
    EXPECT_CHILD_CODE(transferInChild({src / "tree", dst.path(), kCopy, kN}, AsNobody), 0);
    EXPECT_EQ(readFile(dst / "tree/ro/f.txt"), "f");
    EXPECT_EQ(lstatOf(dst / "tree/ro").st_mode & 07777, 0555u);
}

TEST_F(Permissions, MoveAcrossFilesystemsWithUnreadableFileKeepsTheSource) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);
    TempDir src, ref;
    makeTree(src / "tree", {{"a.txt", "a"}, {"sub/secret.txt", "secret"}, {"z.txt", "z"}});
    ::chmod((src / "tree/sub/secret.txt").c_str(), 0);
    giveToNobody(src.path());
    giveToNobody(mount.path());
    const std::string reference = referenceCopy(src / "tree", ref.path());
    EXPECT_CHILD_CODE(transferInChild({src / "tree", mount.path(), kMove, kO}, AsNobody),
                      kAccessDenied);
    expectSame(reference, src / "tree");
    expectOnlyNamesFrom(mount / "tree", reference);
}

// --- other mounts of one filesystem ---------------------------------------------------------

TEST(OtherMounts, ReadOnlyIsWriteProtected) {
    TempDir src, backing;
    writeFile(src / "f.txt", "new");
    writeFile(backing / "f.txt", "old");
    MIVEX_MOUNT_OR_SKIP(ro, BindMount, backing.path(), true);
    EXPECT_EQ(transfer(src / "f.txt", ro.path(), kCopy, kN).code, kWriteProtected);
    EXPECT_EQ(transfer(src / "f.txt", ro.path(), kCopy, kO).code, kWriteProtected);
    EXPECT_EQ(transfer(src / "f.txt", ro / "new/folder", kCopy, kN).code, kWriteProtected);
    EXPECT_EQ(transfer(src / "f.txt", ro.path(), kMove, kO).code, kWriteProtected);
    EXPECT_EQ(readFile(backing / "f.txt"), "old");
    EXPECT_EQ(listTree(backing.path()), std::vector<std::string>{"f.txt"});
    EXPECT_EQ(readFile(src / "f.txt"), "new");
}

TEST(OtherMounts, MoveBetweenTwoMountsOfOneFilesystemCopies) {
    TempDir src, backing;
    makeTree(src / "tree", {{"a.txt", "a"}, {"sub/b.txt", "b"}});
    MIVEX_MOUNT_OR_SKIP(other, BindMount, backing.path(), false);
    ASSERT_EQ(transfer(src / "tree", other / "in", kMove, kN).code, 0);  // rename says EXDEV
    EXPECT_FALSE(exists(src / "tree"));
    EXPECT_EQ(listTree(backing / "in"),
              (std::vector<std::string>{"tree/", "tree/a.txt", "tree/sub/", "tree/sub/b.txt"}));
}

// ".." from the root of a bind mount leads to where it is mounted, not into the source: a folder
// copied or moved into a bind mount of its own subfolder must still be refused before anything is
// written (each case runs in a child: without the check it nests itself thousands of times).
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

// The reverse: the source holds a bind mount of the destination's parent, which no look at the
// destination can see; the walk of the source meets the destination folder and stops there.
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

// Files are written unnamed and, for a user without CAP_DAC_READ_SEARCH, linked to their names
// through /proc/self/fd; without /proc they are written under temporary names, as on filesystems
// without unnamed files.
TEST_F(Permissions, WithoutProcFilesArriveUnderTemporaryNames) {
    TempDir src, dst, ref;
    makeTree(src / "tree", {{"a.txt", "a"}, {"sub/b.bin", randomBytes(100000, 1)}});
    writeFile(src / "f.txt", "f");
    const std::string reference = referenceCopy(src / "tree", ref.path());
    giveToNobody(src.path());
    giveToNobody(dst.path());
    EXPECT_CHILD_CODE(
        transferInChild({src / "tree", dst.path(), kCopy, kO}, AsNobody | WithoutProc), 0);
    EXPECT_CHILD_CODE(
        transferInChild({src / "f.txt", dst.path(), kCopy, kN}, AsNobody | WithoutProc), 0);
    EXPECT_CHILD_CODE(
        transferInChild({src / "f.txt", dst.path(), kCopy, kN}, AsNobody | WithoutProc), 0);
    expectSame(reference, dst / "tree");
    EXPECT_EQ(listTree(dst.path()),
              (std::vector<std::string>{"f - Copy.txt", "f.txt", "tree/", "tree/a.txt", "tree/sub/",
                                        "tree/sub/b.bin"}));
}

// --- links ---------------------------------------------------------------------------------

// A bind mount can make a tree endless: the walk meets a folder it is already inside, fails it as
// a folder into itself, and copies the rest.
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
    EXPECT_EQ(copied, (std::vector<std::string>{"tree/", "tree/a.txt", "tree/sub/"}));
}

// --- changes made while the transfer runs -------------------------------------------------

namespace {

// Runs `action` once from inside the transfer: at the first progress call, or (`atEnd`) when the
// last block has been written, or (afterLastFile) once the last file is in place.
class During : public TransferMonitor {
public:
    During(bool atEnd, std::function<void()> action) : mAtEnd(atEnd), mAction(std::move(action)) {}
    static During afterLastFile(std::function<void()> action) {
        During d(true, std::move(action));
        d.mAfterFiles = true;
        return d;
    }
    bool wantsTotals() const override { return true; }
    void progress(const TransferProgress& p) override {
        const bool now = mAfterFiles ? p.filesTotal > 0 && p.filesDone == p.filesTotal
                                     : !mAtEnd || (p.bytesTotal > 0 && p.bytesDone == p.bytesTotal);
        if (!fired && now) {
            fired = true;
            mAction();
        }
    }
    bool fired = false;

private:
    bool mAtEnd;
    bool mAfterFiles = false;
    std::function<void()> mAction;
};

// Replaces the folder `path` by a link to `target`, keeping the real folder beside it.
void swapForLink(const std::string& path, const std::string& target) {
    ASSERT_EQ(::rename(path.c_str(), (path + "-real").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
}

}  // namespace

TEST(DuringTheRun, SourceFolderSwappedForLinkCannotRedirectTheDelete) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    TempDir src, victim;
    makeTree(src / "tree",
             {{"a.bin", randomBytes(1 << 20, 1)}, {"sub/x.txt", "x"}, {"sub/y.txt", "y"}});
    makeTree(victim.path(), {{"x.txt", "victim"}, {"y.txt", "victim"}});
    During swap(false, [&] { swapForLink(src / "tree/sub", victim.path()); });
    transferItem({src / "tree", mount.path(), kMove, kO}, &swap);
    ASSERT_TRUE(swap.fired);
    EXPECT_EQ(listTree(victim.path()), (std::vector<std::string>{"x.txt", "y.txt"}));
    EXPECT_EQ(readFile(victim / "x.txt"), "victim");
}

TEST(DuringTheRun, DestinationFolderSwappedForLinkCannotRedirectTheWrite) {
    TempDir src, dst, victim;
    makeTree(src / "tree",
             {{"a.bin", randomBytes(1 << 20, 1)}, {"sub/x.txt", "x"}, {"sub/y.txt", "y"}});
    makeTree(dst / "tree", {{"sub/", ""}});
    makeTree(victim.path(), {{"x.txt", "victim"}});
    During swap(false, [&] { swapForLink(dst / "tree/sub", victim.path()); });
    transferItem({src / "tree", dst.path(), kCopy, kO}, &swap);
    ASSERT_TRUE(swap.fired);
    EXPECT_EQ(listTree(victim.path()), std::vector<std::string>{"x.txt"});
    EXPECT_EQ(readFile(victim / "x.txt"), "victim");
}

// Deep below, the walk keeps no descriptor for the upper folders and comes back to them through
// "..": a folder moved away meanwhile must not be taken for the one it left, or the walk would go
// on in whatever folder now holds it.
TEST(DuringTheRun, UpperFolderMovedAwayEndsTheWalkOnTheWayBack) {
    ScopedEnv oneThread("MIVEX_WORKERS", "0");  // the leaf is copied while the walk is down there
    TempDir src, dst;
    std::string deep = "tree";
    for (int level = 1; level <= 40; ++level) {
        deep += "/d";
    }
    makeTree(src / deep, {{"leaf.txt", "leaf"}});
    During move(false, [&] {
        ASSERT_EQ(::rename((src / "tree/d/d/d/d/d").c_str(), (src / "moved").c_str()), 0);
    });
    EXPECT_EQ(transferItem({src / "tree", dst.path(), kCopy, kN}, &move).code, kInUse);
    ASSERT_TRUE(move.fired);
    EXPECT_EQ(readFile(dst / deep + "/leaf.txt"), "leaf");
}

TEST(DuringTheRun, SourceChangedWhileCopyingIsInUse) {
    TempDir src, dst;
    writeFile(src / "grows.log", randomBytes(4 << 20, 1));
    During grow(false, [&] {
        const int fd = ::open((src / "grows.log").c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(fd, "more", 4), 4);
        ::close(fd);
    });
    EXPECT_EQ(transferItem({src / "grows.log", dst.path(), kCopy, kN}, &grow).code, kInUse);
    EXPECT_TRUE(listTree(dst.path()).empty());
}

// Overwrite: the name was free when looked at and a file took it while the copy was written.
// The copy still replaces it in one step; with keep-both it takes the next free name.
TEST(DuringTheRun, FileThatAppearsAtTheNameMeanwhileIsHandledByTheRule) {
    TempDir src, dst;
    const std::string bytes = randomBytes(1 << 20, 7);
    writeFile(src / "f.bin", bytes);
    During intruder(true, [&] { writeFile(dst / "f.bin", "intruder"); });
    ASSERT_EQ(transferItem({src / "f.bin", dst.path(), kCopy, kO}, &intruder).code, 0);
    ASSERT_TRUE(intruder.fired);
    EXPECT_EQ(readFile(dst / "f.bin"), bytes);
    EXPECT_EQ(listTree(dst.path()), std::vector<std::string>{"f.bin"});

    TempDir other;
    During second(true, [&] { writeFile(other / "f.bin", "intruder"); });
    ASSERT_EQ(transferItem({src / "f.bin", other.path(), kCopy, kN}, &second).code, 0);
    ASSERT_TRUE(second.fired);
    EXPECT_EQ(readFile(other / "f.bin"), "intruder");
    EXPECT_EQ(readFile(other / "f - Copy.bin"), bytes);
}

TEST(DuringTheRun, MoveAcrossFilesystemsKeepsWhatAppearedMeanwhile) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    TempDir src;
    makeTree(src / "tree", {{"a.bin", randomBytes(1 << 20, 1)}, {"sub/b.txt", "b"}});
    During late(true, [&] { writeFile(src / "tree/late.txt", "new"); });
    EXPECT_EQ(transferItem({src / "tree", mount.path(), kMove, kO}, &late).code, kDirNotEmpty);
    ASSERT_TRUE(late.fired);
    EXPECT_EQ(readFile(src / "tree/late.txt"), "new");
    EXPECT_EQ(readFile(mount / "tree/sub/b.txt"), "b");
}

// A move across filesystems removes a source file only while it is still what was copied. It is
// written to after its copy is in place and before the removal: by an append, and by a rewrite of
// the same length whose modification time is put back (only the change time tells).
TEST(DuringTheRun, MoveAcrossFilesystemsKeepsAFileWrittenAfterItsCopy) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    const auto append = [](const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(fd, "more", 4), 4);
        ::close(fd);
    };
    const auto rewriteKeepingTime = [](const std::string& path) {
        const struct stat before = lstatOf(path);
        ::usleep(20000);  // the change time moves only by the clock's tick
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "EDIT", 4, 0), 4);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    };
    const struct {
        const char* what;
        bool tree;
        std::function<void(const std::string&)> edit;
    } cases[] = {
        {"file appended", false, append},
        {"file rewritten, time put back", false, rewriteKeepingTime},
        {"file in a tree appended", true, append},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir src;
        const std::string bytes = randomBytes(100000, 5);
        makeTree(src / "tree", {{"edited.log", bytes}, {"other.txt", "o"}});
        const std::string edited = src / "tree/edited.log";
        const std::string source = c.tree ? src / "tree" : edited;
        std::string current;
        During edit = During::afterLastFile([&] {
            c.edit(edited);
            current = readFile(edited);
        });
        EXPECT_EQ(transferItem({source, mount.path(), kMove, kO}, &edit).code, kInUse);
        ASSERT_TRUE(edit.fired);
        EXPECT_EQ(readFile(edited), current);
        removeTree(mount / "tree");
        removeTree(mount / "edited.log");
    }
}

// --- names ---------------------------------------------------------------------------------

TEST(Names, LongestNameCopiesDespiteTemporaryName) {
    TempDir src, dst;
    const std::string name = std::string(251, 'n') + ".txt";
    writeFile(src / name, "new");
    writeFile(dst / name, "old");
    EXPECT_EQ(transfer(src / name, dst.path(), kCopy, kO).code, 0);
    EXPECT_EQ(listTree(dst.path()), std::vector<std::string>{name});
    EXPECT_EQ(readFile(dst / name), "new");
}

// --- deep trees ---------------------------------------------------------------------------

namespace {

struct DeepCase {
    const char* what;
    TransferKind kind;
    CollisionRule rule;
    bool onto;    // onto a tree as deep: merged, file by file
    bool across;  // into another filesystem
};

const DeepCase kDeepCases[] = {
    {"CopyIntoNewFolder", kCopy, kN, false, false},
    {"CopyMergingIntoTree", kCopy, kO, true, false},
    {"MoveMergingOnOneFilesystem", kMove, kO, true, false},
    {"MoveAcrossFilesystems", kMove, kO, false, true},
};

void PrintTo(const DeepCase& c, std::ostream* out) {
    *out << c.what;
}

class DeepTree : public ::testing::TestWithParam<DeepCase> {};

}  // namespace

// Depth costs memory, not stack or descriptors: 20,000 levels (a crash at about 7,000 once) copy,
// merge, move and count with a few dozen descriptors, and a move removes every level.
TEST_P(DeepTree, TwentyThousandLevelsWithFewDescriptors) {
    constexpr int kLevels = 20000;
    const DeepCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(Kinds, DeepTree, ::testing::ValuesIn(kDeepCases),
                         [](const auto& param) { return std::string(param.param.what); });
