// Hostile and odd input: special files, odd names, modes while arriving, odd filesystems.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "queue/queueentry.h"
#include "tests/reliability/scenario.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

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

TEST(ProgramRun, SpecialFilesFailTheirTreesAndOddNamesArriveExactly) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 8 << 20);
    TempDir special, src, dst, ref;
    Unattended program;
    makeTree(special.path(),
             {{"s/a.txt", "a"}, {"d/a.txt", "a"}, {"p/a.txt", "a"}, {"ok.txt", "ok"}});
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = special / "s/sock";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::mkfifo((special / "p/pipe").c_str(), 0644), 0);
    std::vector<std::string> failing = {entry("C-N", special / "s", dst / "sp"),
                                        entry("M-O", special / "p", mount / "sp")};
    if (::mknod((special / "d/zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0) {
        failing.push_back(entry("C-O", special / "d", dst / "sp"));
    }

    const std::string top = src / "-lead  dir ";  // a leading dash, two blanks, a trailing blank
    makeTree(top, {{"a b.txt", "spaces"},
                   {"-rf", "dash"},
                   {" lead", "blank"},
                   {"\xff\xfe bytes.bin", randomBytes(5000, 1)},  // not UTF-8
                   {"sub dir/-x y", "deeper"},
                   {"sub dir/\xc3(", "broken sequence"}});
    plantTree(top, {"up->..", "self->self", "gone->missing/file", "sub dir/top->../-rf"});
    const std::string reference = referenceCopy(top, ref.path());
    const std::vector<std::string> fine = {entry("C-N", special / "ok.txt", dst / "sp"),
                                           entry("C-O", top, dst.path()),
                                           entry("M-O", top, mount / "moved")};

    std::vector<std::string> rows = failing;
    rows.insert(rows.end(), fine.begin(), fine.end());
    const auto before = listTree(special.path());
    const ProcessResult result = runProcess(program.command(program.list(rows)), 30);
    ::close(sock);
    ASSERT_FALSE(result.timedOut) << "the run hung on a special file or a link";
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = readFile(program.logPath());
    for (const std::string& row : failing) {
        expectLogged(log, row, 1920);
    }
    for (const std::string& row : fine) {
        expectLogged(log, row, 0);
    }
    EXPECT_EQ(listTree(special.path()), before);
    EXPECT_EQ(readFile(dst / "sp/ok.txt"), "ok");
    for (const std::string& root : {dst / "sp", mount / "sp"}) {
        for (const std::string& name : listTree(root)) {
            EXPECT_TRUE(name == "ok.txt" || name.ends_with("/") || name.ends_with("a.txt")) << name;
        }
    }
    expectSame(reference, dst / "-lead  dir ");
    expectSame(reference, mount / "moved/-lead  dir ");
    EXPECT_FALSE(exists(top));
}

// Private while it arrives, then its mode; a read-only file overwritten then aborted stays as it
// was.
TEST(ArrivingModes, PrivateUntilCompleteAndAnAbortedOverwriteKeepsTheOldFile) {
    TempDir src, dst;
    writeFile(src / "shared.bin", randomBytes(8 << 20, 3), 0644);
    writeFile(src / "f.bin", randomBytes(32 << 20, 4), 0644);
    writeFile(dst / "f.bin", "old", 0444);
    // The file being written: among this process's open files, unnamed or under a temporary name.
    std::vector<mode_t> seen;
    Calling watch([&] {
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

    watch.calls = 0;  // aborted after its first progress
    watch.abort = true;
    EXPECT_TRUE(transferItem({src / "f.bin", dst.path(), kCopy, kO}, &watch).aborted);
    EXPECT_EQ(readFile(dst / "f.bin"), "old");
    EXPECT_EQ(lstatOf(dst / "f.bin").st_mode & 07777, 0444u);
    EXPECT_EQ(listTree(dst.path()), (std::vector<std::string>{"f.bin", "shared.bin"}));
}

// Refused modes (vfat) would leave a file at its private 0600: the item fails, a move keeps its
// source. A file holding more than its size says (in the last chunk, or past whole chunks) fails.
// "A" and "a" are one name on a case-insensitive destination: the second fails, no bytes are lost.
TEST(OddFilesystems, RefusedModesWrongSizesAndFoldedNamesFailTheirItems) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 4 << 20);
    TempDir src, dst, cs, ci;
    Unattended run;
    makeTree(src.path(), {{"f.txt", "f"},
                          {"tree/a.txt", "a"},
                          {"tree/sub/b.txt", "b"},
                          {"empty/only-a-folder/", ""},  // only folders get modes
                          {"small.short", randomBytes(1000, 1)},
                          {"chunks.short", randomBytes((4 << 20) + 1, 2)},  // reports 4 MiB
                          {"honest.txt", "h"}});
    makeTree(dst.path(), {{"vfat/", ""}, {"sizes/", ""}});
    makeTree(mount.path(), {{"vfat/", ""}});
    const struct {
        std::string row;
        int code;
    } cases[] = {
        {entry("C-N", src / "f.txt", dst / "vfat"), 5},
        {entry("M-O", src / "tree", mount / "vfat"), 5},
        {entry("C-N", src / "empty", dst / "vfat"), 5},
        {entry("C-N", src / "small.short", dst / "sizes"), 32},
        {entry("C-O", src / "chunks.short", dst / "sizes"), 32},
        {entry("C-N", src / "honest.txt", dst / "sizes"), 0},
    };
    const struct {
        const char* codes;
        std::string source;
        std::string dest;
        bool merge;
    } folded[] = {
        {"M-O", cs / "one", ci / "one", true},     // renames on one filesystem
        {"M-O", mount / "two", ci / "two", true},  // copies, then removes
        {"C-O", cs / "three", ci / "three", true}, {"M-N", mount / "four", ci / "four", false},
        {"C-N", cs / "five", ci / "five", false},
    };
    std::vector<std::string> rows;
    for (const auto& c : cases) {
        rows.push_back(c.row);
    }
    for (const auto& c : folded) {
        makeTree(c.source + "/tree", {{"A", "upper"}, {"a", "lower"}});
        makeTree(c.dest, {{c.merge ? "tree/keep.txt" : "keep.txt", "keep"}});
        rows.push_back(entry(c.codes, c.source + "/tree", c.dest));
    }
    const auto before = listTree(src.path());
    ScopedEnv noChmod("MIVEX_FAULT", "fchmod:EPERM:/vfat");
    ScopedEnv shortSizes("MIVEX_ODDFS_SHORT", ".short");
    ScopedEnv caseFolded("MIVEX_ODDFS_CASEFOLD", ci.path().c_str());
    run.preload = std::string(MIVEX_ODDFS) + ":" + kFaults;
    const ProcessResult result = run.run(run.list(rows));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = readFile(run.logPath());
    for (const auto& c : cases) {
        expectLogged(log, c.row, c.code);
    }
    EXPECT_EQ(listTree(src.path()), before);
    EXPECT_FALSE(exists(dst / "vfat/f.txt"));
    EXPECT_EQ(listTree(dst / "sizes"), std::vector<std::string>{"honest.txt"});
    for (const auto& c : folded) {
        SCOPED_TRACE(c.dest);
        expectLogged(log, entry(c.codes, c.source + "/tree", c.dest), 80);
        std::vector<std::string> arrived = contentsBelow(c.dest + "/tree");
        std::erase(arrived, "keep");
        ASSERT_EQ(arrived.size(), 1u);  // one of the two, whole
        std::vector<std::string> all = contentsBelow(c.source);
        if (c.codes[0] == 'M') {
            all.push_back(arrived[0]);
        }
        for (const char* bytes : {"lower", "upper"}) {
            EXPECT_NE(std::find(all.begin(), all.end(), bytes), all.end()) << bytes;
        }
    }
}

// A path ending in " -->" would run into the separator after it.
TEST(EntryPaths, PathEndingInAnArrowIsRefused) {
    EXPECT_FALSE(isStorablePath("/data/old -->"));
    EXPECT_TRUE(isStorablePath("/data/old -->x"));
    EXPECT_TRUE(isStorablePath("/data/old-->"));
    const QueueEntry entry{"M", "O", "/data/-->x", "/b -->"};
    EXPECT_EQ(ParseRecord(entry.text()), entry);
}
