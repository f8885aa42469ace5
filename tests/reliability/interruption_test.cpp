// Interrupted and changing runs lose nothing; a long queue leaks no descriptor.
#include "queue/copyoperation.h"
#include "tests/reliability/scenario.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

TEST(KilledMove, TreeIsWholeAtTheSourceAndTheRerunCompletesIt) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 1ULL << 30);
    TempDir src, ref;
    Unattended program;
    for (int i = 0; i < 24; ++i) {
        plantTree(src / "tree", {"part" + std::to_string(i % 3) + "/f" + std::to_string(i) +
                                 ".bin=" + randomBytes(8 << 20, static_cast<unsigned>(i))});
    }
    const std::string reference = referenceCopy(src / "tree", ref.path());
    const std::string list = program.list({entry("M-O", src / "tree", mount.path())});
    // Killed while a file is being written after some have arrived whole.
    const long long before = usedBytesOn(mount.path());
    const auto partway = [&] {
        const auto whole = std::ranges::count_if(
            listTree(mount.path()), [](const std::string& n) { return n.ends_with(".bin"); });
        return whole >= 6 && usedBytesOn(mount.path()) - before > (whole * 8LL + 1) << 20;
    };
    ASSERT_TRUE(runProcess(program.command(list), 60, false, partway).killed) << "ran to its end";
    expectSame(reference, src / "tree");
    // Nothing partial under a final name, and no temporary file left.
    EXPECT_TRUE(std::ranges::includes(describeTree(ref.path()), describeTree(mount.path())));
    const ProcessResult rerun = program.run(list);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
    EXPECT_FALSE(exists(src / "tree"));
    expectSame(reference, mount / "tree");
}

// Room for the old file and one new one, not a third: a file left by the killed run fails the
// rerun. Without unnamed files (plainfs) a named temporary file is unavoidable.
class KilledOverwrite : public ::testing::TestWithParam<bool> {};

TEST_P(KilledOverwrite, LeavesNoSpaceTakenAndTheRerunReplacesTheFile) {
    constexpr int kBytes = 200 << 20;
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 450ULL << 20);
    TempDir src;
    Unattended program;
    program.preload = GetParam() ? kPlainFs : "";
    // Files of one byte repeated, every byte checked by tr.
    const auto filled = [](const std::string& path, char c) {
        const std::string count = "tr -d " + std::string(1, c) + " <'" + path + "' | wc -c";
        return lstatOf(path).st_size == kBytes && runProcess({"sh", "-c", count}).out == "0\n";
    };
    writeFile(src / "big.bin", std::string(kBytes, 'n'));
    writeFile(mount / "big.bin", std::string(kBytes, 'o'));
    const std::string list = program.list({entry("C-O", src / "big.bin", mount.path())});
    const long long before = usedBytesOn(mount.path());
    const auto partway = [&] { return usedBytesOn(mount.path()) - before >= kBytes / 4 * 3; };
    ASSERT_TRUE(runProcess(program.command(list), 60, false, partway).killed) << "ran to its end";
    EXPECT_TRUE(filled(mount / "big.bin", 'o'));
    Names left = listTree(mount.path());
    ASSERT_EQ(left.size(), GetParam() ? 2u : 1u);  // unnamed, the copy had no name yet
    if (GetParam()) {
        // The dead run's temporary file; a live process's one beside it must survive the rerun.
        ASSERT_TRUE(isTempName(left[0])) << left[0];
        const std::size_t pidAt = left[0].find('-', std::string(".mivex-").size()) + 1;
        left[0].replace(pidAt, left[0].find('-', pidAt) - pidAt, std::to_string(::getpid()));
        writeFile(mount / left[0], "in use");
    }
    const ProcessResult rerun = program.run(list);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
    EXPECT_TRUE(filled(mount / "big.bin", 'n'));
    EXPECT_EQ(listTree(mount.path()), left);
}

INSTANTIATE_TEST_SUITE_P(Files, KilledOverwrite, ::testing::Bool());  // with plainfs: true

// 1,000 entries of every outcome. Then one thread: a file vanishing after the walk and before its
// copy is not copied, the queue goes on; a file is private while it arrives, then gets its mode; a
// read-only file overwritten then aborted stays as it was. No descriptor leaks.
TEST(SourceChanges, LongQueueVanishingFileArrivingModesAndAbortedOverwrite) {
    TempDir src, dst, logs;
    const std::size_t descriptors = listTree("/proc/self/fd").size();
    plantTree(src.path(),
              {"tree/a.bin=" + randomBytes(8 << 20, 5), "tree/z.txt=z", "after.txt=after",
               "f.bin=" + randomBytes(32 << 20, 4), "f.txt=f", "t/a/b.txt=b", "t/c.txt=c"});
    writeFile(dst / "f.bin", "old", 0444);
    ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0644), 0);
    const Names kinds = {
        entry("C-O", src / "f.txt", dst / "q"),          // overwrites after the first
        entry("C-O", src / "t", dst / "q"),              // merges after the first
        entry("C-N", src / "missing", dst / "q"),        // 2
        entry("C-N", src / "t", src / "t/a"),            // 118
        entry("C-N", src / "pipe", dst / "q"),           // 1920
        entry("C-O", src / "f.txt", dst / "q/f.txt/x"),  // through a file: 3
        "no entry at all",
    };
    Names many(1000);
    std::ranges::generate(many, [&, i = 0u]() mutable { return kinds[i++ % kinds.size()]; });
    EXPECT_FALSE(CopyOperation(many, LogFolder::open(logs.path())).ok());
    ScopedEnv oneThread("MIVEX_WORKERS", "0");
    const Names rows = {entry("C-N", src / "tree", dst.path()),
                        entry("C-N", src / "after.txt", dst.path())};
    Monitor watch;             // totals: a tree is walked before its first file is copied
    std::vector<mode_t> seen;  // of the files open here below the destination: being written
    watch.onReport = [&](const TransferProgress&) {
        ::unlink((src / "tree/z.txt").c_str());
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(fd.path(), ec);
            struct stat st;
            if (!ec && target.starts_with(dst.path() + "/") &&
                ::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                seen.push_back(st.st_mode & 07777);
            }
        }
    };
    CopyHooks hooks;
    hooks.startTime = std::time(nullptr);
    hooks.perform = [&](ShellOpRecord& record, auto...) { return DoFileOperation(record, &watch); };
    CopyOperation(rows, LogFolder::open(logs.path()), hooks);
    ASSERT_FALSE(seen.empty()) << "no file being written was seen while the copy ran";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0600u), std::ssize(seen));
    EXPECT_EQ(lstatOf(dst / "tree/a.bin").st_mode & 07777, 0644u);
    // The vanished file either fails the entry or is simply not there; what arrived is whole.
    const std::string log = readFile(logs / logFileName(hooks.startTime));
    expectLogged(log, rows[0], log.find("*** ERROR *** " + rows[0]) == std::string::npos ? 0 : 2);
    expectLogged(log, rows[1], 0);
    Monitor aborting;  // no totals; aborted after its first progress
    aborting.totals = false;
    aborting.onReport = [&](const TransferProgress&) { aborting.stop = true; };
    EXPECT_TRUE(transferItem({src / "f.bin", dst.path(), kCopy, kO}, &aborting).aborted);
    EXPECT_EQ(lstatOf(dst / "f.bin").st_mode & 07777, 0444u);
    EXPECT_EQ(listTree("/proc/self/fd").size(), descriptors);
    EXPECT_EQ(
        describeTree(dst.path()),
        (Names{"after.txt=after", "f.bin=old", "q/", "q/f.txt=f", "q/t/", "q/t/a/", "q/t/a/b.txt=b",
               "q/t/c.txt=c", "tree/", "tree/a.bin=" + readFile(src / "tree/a.bin")}));
}
