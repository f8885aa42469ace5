// Hostile and odd input: special files, odd names, odd filesystems, odd entry paths.
#include <fcntl.h>
#include <sys/sysmacros.h>

#include <set>

#include "tests/reliability/scenario.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

// One run, the fault shim playing odd filesystems. Sockets, fifos and devices fail their trees
// (1920), no hang; odd names and links arrive exactly. Modes refused where modes are held fail
// the item (5), a move keeps its source. A file holding more than its size says fails (32). "A" and
// "a" are one name on a case-insensitive destination: the second fails (80), no bytes are lost.
TEST(ProgramRun, HostileInputFailsOnlyItsItemsAndLosesNothing) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    TempDir src, dst, ref, cs, ci;
    Unattended program;
    const std::string top = cs / "-lead  dir ";  // a leading dash, two blanks, a trailing blank
    plantTree(top, {"a b.txt=spaces", "-rf=dash", " lead=blank",
                    "\xff\xfe bytes.bin=" + randomBytes(5000, 1),  // not UTF-8
                    "sub dir/-x y=deeper", "sub dir/\xc3(=broken sequence", "up->..", "self->self",
                    "gone->missing/file", "sub dir/top->../-rf"});
    const std::string reference = referenceCopy(top, ref.path());
    plantTree(src.path(), {"s/a.txt=a", "d/a.txt=a", "p/a.txt=a", "ok.txt=ok", "f.txt=f",
                           "tree/a.txt=a", "tree/sub/b.txt=b",
                           "empty/only-a-folder/",  // only folders get modes
                           "small.short=" + randomBytes(1000, 1),
                           "chunks.short=" + randomBytes((4 << 20) + 1, 2),  // reports 4 MiB
                           "honest.txt=h"});
    ASSERT_EQ(::mknod((src / "s/sock").c_str(), S_IFSOCK | 0644, 0), 0);
    ASSERT_EQ(::mknod((src / "p/pipe").c_str(), S_IFIFO | 0644, 0), 0);
    plantTree(dst.path(), {"modes/"});  // the folder is there: only the file's mode is refused
    plantTree(mount.path(), {"modes/"});
    std::vector<std::pair<std::string, int>> cases = {
        {entry("C-N", src / "s", dst / "sp"), 1920},
        {entry("M-O", src / "p", mount / "sp"), 1920},
        {entry("C-N", src / "ok.txt", dst / "sp"), 0},
        {entry("C-O", top, dst.path()), 0},
        {entry("M-O", top, mount / "moved"), 0},
        {entry("C-N", src / "f.txt", dst / "modes"), 5},
        {entry("M-O", src / "tree", mount / "modes"), 5},
        {entry("C-N", src / "empty", dst / "modes"), 5},
        {entry("C-N", src / "small.short", dst / "sizes"), 32},
        {entry("C-O", src / "chunks.short", dst / "sizes"), 32},
        {entry("C-N", src / "honest.txt", dst / "sizes"), 0},
    };
    if (::mknod((src / "d/zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0) {
        cases.push_back({entry("C-O", src / "d", dst / "sp"), 1920});
    }
    // Trees holding "A" and "a"; a move renames on one filesystem, or copies then removes.
    const char* folded[] = {"M-O", "M-O", "C-O", "M-N", "C-N"};
    const auto from = [&](int i) { return (i % 2 ? mount / "" : cs / "") + std::to_string(i); };
    const auto to = [&](int i) { return ci / std::to_string(i); };
    const auto keep = [&](int i) { return folded[i][2] == 'O' ? "tree/keep.txt=k" : "keep.txt=k"; };
    for (int i = 0; i < 5; ++i) {
        plantTree(from(i), {"tree/A=upper", "tree/a=lower"});
        plantTree(to(i), {keep(i)});
        cases.push_back({entry(folded[i], from(i) + "/tree", to(i)), 80});
    }
    Names rows(cases.size());
    std::ranges::transform(cases, rows.begin(), [](const auto& c) { return c.first; });
    const auto before = listTree(src.path());
    ScopedEnv noChmod("MIVEX_FAULT", "fchmod:EPERM:/modes");
    ScopedEnv shortSizes("MIVEX_ODDFS_SHORT", ".short");
    ScopedEnv caseFolded("MIVEX_ODDFS_CASEFOLD", ci.path().c_str());
    program.preload = kFaults;
    const ProcessResult result = runProcess(program.command(program.list(rows)), 30);
    ASSERT_FALSE(result.timedOut) << "the run hung on a special file or a link";
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = readFile(program.logPath());
    for (const auto& [row, code] : cases) {
        expectLogged(log, row, code);
    }
    EXPECT_EQ(listTree(src.path()), before);
    EXPECT_EQ(readFile(dst / "sp/ok.txt"), "ok");
    for (const std::string& root : {dst / "sp", mount / "sp"}) {
        for (const std::string& name : listTree(root)) {
            EXPECT_TRUE(name == "ok.txt" || name.ends_with("/") || name.ends_with("a.txt")) << name;
        }
    }
    expectSame(reference, dst / "-lead  dir ");
    expectSame(reference, mount / "moved/-lead  dir ");
    EXPECT_FALSE(exists(top));
    EXPECT_FALSE(exists(dst / "modes/f.txt"));
    EXPECT_EQ(listTree(dst / "sizes"), Names{"honest.txt"});
    for (int i = 0; i < 5; ++i) {  // one of the two arrived whole, nothing was lost
        const Names arrived = describeTree(to(i));
        std::set<std::string> all(arrived.begin(), arrived.end());
        std::ranges::copy(describeTree(from(i)), std::inserter(all, all.end()));
        EXPECT_EQ(arrived.size(), 3u) << to(i);  // "tree/", keep and one of the two
        EXPECT_EQ(all, (std::set<std::string>{keep(i), "tree/", "tree/A=upper", "tree/a=lower"}));
    }
}

// A USB stick: FAT as the kernel's vfat driver answers (the fault shim), and through fusefat. Modes
// and owners it cannot hold fail nothing, and times arrive to its 2 seconds; a name it cannot hold
// fails its item (123), a link (50), a file of 4 GiB (223), the rest arrives and the queue goes on;
// a move that did not arrive whole keeps its source whole.
class FatStick : public ::testing::TestWithParam<bool> {};  // true: through fusefat

TEST_P(FatStick, TakesWhatItCanHoldAndNamesWhatItCannot) {
    std::optional<FusefatMount> fuse;
    std::optional<TmpfsMount> shimmed;  // not on the source's filesystem: moves copy
    if (GetParam() ? !fuse.emplace(64).ok() : !shimmed.emplace(16 << 20).ok()) {
        GTEST_SKIP() << (fuse ? fuse->reason() : shimmed->reason());
    }
    const std::string stick = fuse ? fuse->path() : shimmed->path() + "/stick";
    ::mkdir(stick.c_str(), 0755);
    TempDir src;
    Unattended program;
    const std::string bytes = randomBytes(300000, 1);
    plantTree(src.path(),
              {"tree/a.txt=a", "tree/sub/b.bin=" + bytes, "tree/theirs.txt=t", "moved/m.txt=m",
               "moved/deep/n.txt=n", "names/ok.txt=ok", "names/a:b.txt=colon", "names/why?/f.txt=f",
               "kept/ok.txt=ok", "kept/q?.txt=q", "linked/f.txt=f", "linked/l->f.txt",
               "after.txt=after"});
    ::chmod((src / "tree/a.txt").c_str(), 0600);
    ::chmod((src / "tree/sub").c_str(), 0750);
    ASSERT_EQ(::chown((src / "tree/theirs.txt").c_str(), 65534, 65534), 0);
    std::vector<std::pair<std::string, int>> cases = {
        {entry("C-N", src / "tree", stick), 0},
        {entry("C-O", src / "tree", stick), 0},  // merged into, every file replaced
        {entry("M-O", src / "moved", stick), 0},
        {entry("C-N", src / "names", stick), 123},
        {entry("M-N", src / "kept", stick), 123},
        {entry("C-N", src / "linked", stick), 50},
        {entry("C-N", src / "after.txt", stick + "/late: today"), 123},
        {entry("C-N", src / "after.txt", stick), 0},
    };
    if (!fuse) {  // its image is too small, and FAT16 ends at 2 GiB; on tmpfs a hole costs nothing
        const int fd = ::open((src / "huge.bin").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::pwrite(fd, "end", 3, 4LL << 30), 3);
        ::close(fd);
        cases.push_back({entry("C-N", src / "huge.bin", stick), 223});
        cases.push_back({entry("M-O", src / "huge.bin", stick), 223});
        program.preload = kFaults;
    }
    Names rows(cases.size());
    std::ranges::transform(cases, rows.begin(), [](const auto& c) { return c.first; });
    const auto kept = describeTree(src / "kept");
    ScopedEnv vfat("MIVEX_ODDFS_VFAT", stick.c_str());
    const ProcessResult result = program.run(program.list(rows));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = readFile(program.logPath());
    for (const auto& [row, code] : cases) {
        expectLogged(log, row, code);
    }
    EXPECT_TRUE(describeTree(stick + "/tree") == describeTree(src / "tree"))
        << ::testing::PrintToString(listTree(stick + "/tree"));
    EXPECT_LE(
        std::abs(lstatOf(stick + "/tree/a.txt").st_mtime - lstatOf(src / "tree/a.txt").st_mtime),
        2);
    EXPECT_FALSE(exists(src / "moved"));
    EXPECT_EQ(describeTree(stick + "/moved"), (Names{"deep/", "deep/n.txt=n", "m.txt=m"}));
    EXPECT_EQ(describeTree(stick + "/names"), Names{"ok.txt=ok"});
    EXPECT_EQ(describeTree(src / "kept"), kept);
    EXPECT_EQ(describeTree(stick + "/kept"), Names{"ok.txt=ok"});
    EXPECT_EQ(describeTree(stick + "/linked"), Names{"f.txt=f"});
    EXPECT_EQ(readFile(stick + "/after.txt"), "after");
    EXPECT_EQ(exists(src / "huge.bin"), !fuse);
    EXPECT_FALSE(exists(stick + "/huge.bin"));
    EXPECT_FALSE(exists(stick + "/late: today"));
    for (const std::string& name : listTree(stick)) {
        EXPECT_FALSE(isTempName(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, FatStick, ::testing::Bool(),
                         [](const auto& run) { return run.param ? "Fusefat" : "KernelVfat"; });
