// Hostile and odd input: links planted at the destination, names no shell likes, the modes of
// files while they arrive, sizes that are not lengths and a destination that ignores case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/resultcodes.h"
#include "queue/queueentry.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

// Calls `body` at every progress call; aborts the transfer once asked to.
class Watch : public TransferMonitor {
public:
    explicit Watch(std::function<void()> body) : mBody(std::move(body)) {}
    void progress(const TransferProgress&) override {
        ++calls;
        mBody();
    }
    bool abortRequested() override { return abort && calls > 0; }
    int calls = 0;
    bool abort = false;

private:
    std::function<void()> mBody;
};

// The bytes of every file below `folder`, sorted.
std::vector<std::string> contentsBelow(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : listTree(folder)) {
        if (!name.ends_with("/")) {
            found.push_back(readFile(folder + "/" + name));
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

// --- links planted at the destination -------------------------------------------------------

// --- special files in a tree, through the program, under a time limit -----------------------

TEST(SpecialFilesRun, SocketDeviceAndFifoInTreesFailTheirEntriesAndTheQueueGoesOn) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);
    TempDir src, dst;
    Unattended program;
    makeTree(src.path(), {{"s/a.txt", "a"}, {"d/a.txt", "a"}, {"p/a.txt", "a"}, {"ok.txt", "ok"}});
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = src / "s/sock";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::mkfifo((src / "p/pipe").c_str(), 0644), 0);
    std::vector<std::string> rows = {entry("C-N", src / "s", dst.path()),
                                     entry("M-O", src / "p", mount.path())};
    if (::mknod((src / "d/zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0) {
        rows.push_back(entry("C-O", src / "d", dst.path()));
    }
    rows.push_back(entry("C-N", src / "ok.txt", dst.path()));
    const auto before = listTree(src.path());
    const ProcessResult result = runProcess(program.command(program.list(rows)), 30);
    ::close(sock);
    ASSERT_FALSE(result.timedOut) << "the run hung on a special file";
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = readFile(program.logPath());
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        EXPECT_NE(
            log.find(rows[i] + " did not copy - Something broke... sorry. Error code is 1920."),
            std::string::npos)
            << log;
    }
    EXPECT_NE(log.find(rows.back() + " was successful"), std::string::npos) << log;
    EXPECT_EQ(listTree(src.path()), before);
    EXPECT_EQ(readFile(dst / "ok.txt"), "ok");
    for (const std::string& root : {dst.path(), mount.path()}) {
        for (const std::string& name : listTree(root)) {
            EXPECT_TRUE(name == "ok.txt" || name.ends_with("/") || name.ends_with("a.txt")) << name;
        }
    }
}

// --- odd names and odd links, copied and moved through the program --------------------------

TEST(OddNamesRun, SpacesDashesBytesAndLinksArriveExactlyByCopyAndByMove) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);
    TempDir src, dst, ref;
    Unattended program;
    const std::string top = src / "-lead  dir ";  // a leading dash, two blanks, a trailing blank
    makeTree(top, {{"a b.txt", "spaces"},
                   {"-rf", "dash"},
                   {" lead", "blank"},
                   {"\xff\xfe bytes.bin", randomBytes(5000, 1)},  // not UTF-8
                   {"sub dir/-x y", "deeper"},
                   {"sub dir/\xc3(", "broken sequence"}});
    for (const auto& [name, target] : std::vector<std::pair<std::string, std::string>>{
             {"up", ".."}, {"self", "self"}, {"gone", "missing/file"}, {"sub dir/top", "../-rf"}}) {
        ASSERT_EQ(::symlink(target.c_str(), (top + "/" + name).c_str()), 0);
    }
    const std::string reference = referenceCopy(top, ref.path());
    const std::vector<std::string> rows = {entry("C-O", top, dst.path()),
                                           entry("M-O", top, mount / "moved")};
    const ProcessResult result = runProcess(program.command(program.list(rows)), 30);
    ASSERT_FALSE(result.timedOut) << "the walk did not end";
    EXPECT_EQ(result.exitCode, 0) << result.output << readFile(program.logPath());
    expectSame(reference, dst / "-lead  dir ");
    expectSame(reference, mount / "moved/-lead  dir ");
    EXPECT_FALSE(exists(top));
}

TEST(DeepPaths, MoveAcrossFilesystemsOfATreePastPathMax) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);
    TempDir src;
    const std::string level(200, 'd');
    int fd = ::open(src.path().c_str(), O_DIRECTORY | O_RDONLY);
    for (int i = 0; i < 50; ++i) {  // about 10,000 bytes deep
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
        const int next = ::openat(fd, level.c_str(), O_DIRECTORY | O_RDONLY);
        ::close(fd);
        fd = next;
    }
    const std::string leaf = randomBytes(70000, 2);
    writeFile("/proc/self/fd/" + std::to_string(fd) + "/leaf.bin", leaf, 0640);
    ::close(fd);
    const int code = transferItem({src / level, mount.path(), kMove, kO}).code;
    // Paths this long only work relative to a folder: find -execdir.
    const auto found = runProcess(
        {"find", mount.path(), "-name", "leaf.bin", "-perm", "0640", "-execdir", "cat", "{}", ";"});
    const bool sourceLeft = exists(src / level);
    runProcess({"rm", "-rf", src / level});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(found.output == leaf) << "the leaf did not arrive whole with its mode";
    EXPECT_FALSE(sourceLeft);
}

// --- modes while a file arrives --------------------------------------------------------------

TEST(ArrivingModes, FileIsPrivateUntilCompleteThenGetsItsMode) {
    TempDir src, dst;
    writeFile(src / "shared.bin", randomBytes(8 << 20, 3), 0644);
    // The file being written is found among this process's open files: unnamed, or under its
    // temporary name.
    std::vector<mode_t> seen;
    Watch watch([&] {
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(fd.path(), ec);
            struct stat st;
            const bool arriving = target.ends_with(" (deleted)") || isTempName(target);
            if (!ec && target.starts_with(dst.path() + "/") && arriving &&
                ::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                seen.push_back(st.st_mode & 07777);
            }
        }
    });
    ASSERT_EQ(transferItem({src / "shared.bin", dst.path(), kCopy, kN}, &watch).code, 0);
    ASSERT_FALSE(seen.empty()) << "no file being written was seen while the copy ran";
    for (mode_t mode : seen) {
        EXPECT_EQ(mode, 0600u);
    }
    EXPECT_EQ(lstatOf(dst / "shared.bin").st_mode & 07777, 0644u);
}

TEST(ArrivingModes, ReadOnlyFileOverwrittenThenAbortedKeepsItsBytesAndMode) {
    TempDir src, dst;
    writeFile(src / "f.bin", randomBytes(32 << 20, 4), 0644);
    writeFile(dst / "f.bin", "old", 0444);
    Watch watch([] {});
    watch.abort = true;
    const TransferOutcome out = transferItem({src / "f.bin", dst.path(), kCopy, kO}, &watch);
    EXPECT_TRUE(out.aborted);
    EXPECT_EQ(readFile(dst / "f.bin"), "old");
    EXPECT_EQ(lstatOf(dst / "f.bin").st_mode & 07777, 0444u);
    EXPECT_EQ(listTree(dst.path()), std::vector<std::string>{"f.bin"});
}

// A destination that refuses modes (vfat does): a file left at its private 0600 would be more
// closed than its source, so the item fails, and a move across filesystems keeps its source.
TEST(ArrivingModes, ModeThatCannotBeSetFailsTheItemAndAMoveKeepsItsSource) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 4 << 20);
    Unattended run;
    TempDir src, dst;
    writeFile(src / "f.txt", "f", 0644);
    makeTree(src / "tree", {{"a.txt", "a"}, {"sub/b.txt", "b"}});
    makeTree(src / "empty", {{"only-a-folder/", ""}});  // only folders get modes
    const auto before = listTree(src.path());
    const std::vector<std::string> rows = {entry("C-N", src / "f.txt", dst.path()),
                                           entry("M-O", src / "tree", mount.path()),
                                           entry("C-N", src / "empty", dst.path())};
    ScopedEnv noChmod("MIVEX_ODDFS_NO_CHMOD", "1");
    run.preload = MIVEX_ODDFS;
    const ProcessResult result = run.run(run.list(rows));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(listTree(src.path()), before);
    EXPECT_FALSE(exists(dst / "f.txt"));
    const std::string log = readFile(run.logPath());
    for (const std::string& row : rows) {
        EXPECT_NE(log.find("*** ERROR *** " + row +
                           " did not copy - Something broke... sorry. "
                           "Error code is 5."),
                  std::string::npos)
            << log;
    }
}

// A file that holds more than its size says, whether its copy looks past the size in its last
// request or, for a size of whole copy chunks, with a read of its own: the copy is not the file.
TEST(SizeNotLength, FileLongerThanItsSizeFails) {
    Unattended run;
    TempDir src, dst;
    writeFile(src / "small.short", randomBytes(1000, 1));
    writeFile(src / "chunks.short", randomBytes((4 << 20) + 1, 2));  // reports 4 MiB
    writeFile(src / "honest.txt", "h");
    const std::vector<std::string> rows = {entry("C-N", src / "small.short", dst.path()),
                                           entry("C-O", src / "chunks.short", dst.path()),
                                           entry("C-N", src / "honest.txt", dst.path())};
    ScopedEnv shortSizes("MIVEX_ODDFS_SHORT", ".short");
    run.preload = MIVEX_ODDFS;
    const ProcessResult result = run.run(run.list(rows));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(listTree(dst.path()), std::vector<std::string>{"honest.txt"});
    const std::string log = readFile(run.logPath());
    for (int i : {0, 1}) {
        EXPECT_NE(log.find("*** ERROR *** " + rows[i] +
                           " did not copy - Something broke... "
                           "sorry. Error code is 32."),
                  std::string::npos)
            << log;
    }
}

// --- a case-insensitive destination ----------------------------------------------------------

// "A" and "a" of one source folder are one name on a case-insensitive destination (emulated by a
// preloaded library: this kernel mounts no vfat and has no casefold). Whatever the transfer, no
// file's bytes may be lost: the second name fails and its source stays.
TEST(CaseInsensitiveDestination, TwoNamesNeverEndInOneFile) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 4 << 20);
    Unattended run;
    TempDir src, ci;
    const std::vector<std::pair<std::string, std::string>> pair = {{"A", "upper"}, {"a", "lower"}};
    const struct {
        const char* codes;
        std::string source;
        std::string dest;
        bool merge;
    } cases[] = {
        {"M-O", src / "one", ci / "one", true},    // renames on one filesystem
        {"M-O", mount / "two", ci / "two", true},  // copies, then removes
        {"C-O", src / "three", ci / "three", true}, {"M-N", mount / "four", ci / "four", false},
        {"C-N", src / "five", ci / "five", false},
    };
    std::vector<std::string> rows;
    for (const auto& c : cases) {
        makeTree(c.source + "/tree", pair);
        makeTree(c.dest, {{c.merge ? "tree/keep.txt" : "keep.txt", "keep"}});
        rows.push_back(entry(c.codes, c.source + "/tree", c.dest));
    }
    ScopedEnv folded("MIVEX_CASEFOLD_DIR", ci.path().c_str());
    run.preload = MIVEX_CASEFOLD;
    const ProcessResult result = run.run(run.list(rows));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = readFile(run.logPath());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i]);
        const auto& c = cases[i];
        EXPECT_NE(log.find("*** ERROR *** " + rows[i] +
                           " did not copy - Something broke... "
                           "sorry. Error code is 80."),
                  std::string::npos)
            << log;
        std::vector<std::string> arrived = contentsBelow(c.dest + "/tree");
        std::erase(arrived, "keep");
        ASSERT_EQ(arrived.size(), 1u);  // one of the two, whole
        if (c.codes[0] == 'C') {
            EXPECT_EQ(contentsBelow(c.source), (std::vector<std::string>{"lower", "upper"}));
        } else {
            std::vector<std::string> all = contentsBelow(c.source);
            all.insert(all.end(), arrived.begin(), arrived.end());
            std::sort(all.begin(), all.end());
            EXPECT_NE(std::find(all.begin(), all.end(), "upper"), all.end());
            EXPECT_NE(std::find(all.begin(), all.end(), "lower"), all.end());
        }
    }
}

// --- paths that cannot stand in an entry ----------------------------------------------------

// A path ending in " -->" runs into the separator after it: "M-O --> /a --> --> /b" splits as
// source "/a" and destination "--> /b". Found by the entry fuzz target.
TEST(EntryPaths, PathEndingInAnArrowIsRefused) {
    EXPECT_FALSE(isStorablePath("/data/old -->"));
    EXPECT_TRUE(isStorablePath("/data/old -->x"));
    EXPECT_TRUE(isStorablePath("/data/old-->"));
    const QueueEntry entry{"M", "O", "/data/-->x", "/b -->"};
    EXPECT_EQ(ParseRecord(entry.text()), entry);
}
