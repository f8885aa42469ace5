// Interrupted and changing runs lose nothing; a long queue leaks no descriptor.
#include "platform/resultcodes.h"
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

// 1,000 entries of every outcome: each row fails with its own code or succeeds, every time it
// comes, and no descriptor leaks.
TEST(SourceChanges, LongQueueOfEveryOutcomeLeaksNoDescriptor) {
    TempDir src, dst, logs;
    const std::size_t descriptors = listTree("/proc/self/fd").size();
    plantTree(src.path(), {"f.txt=f", "t/a/b.txt=b", "t/c.txt=c"});
    ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0644), 0);
    const std::pair<std::string, int> kinds[] = {
        {entry("C-O", src / "f.txt", dst / "q"), 0},          // overwrites after the first
        {entry("C-O", src / "t", dst / "q"), 0},              // merges after the first
        {entry("C-N", src / "missing", dst / "q"), 2},        // no source
        {entry("C-N", src / "t", src / "t/a"), 118},          // into itself
        {entry("C-N", src / "pipe", dst / "q"), 1920},        // a FIFO
        {entry("C-O", src / "f.txt", dst / "q/f.txt/x"), 3},  // through a file
        {"no entry at all", kNotAnEntry},
    };
    Names many(1000);
    std::ranges::generate(many, [&, i = 0u]() mutable { return kinds[i++ % 7].first; });
    const RunSummary run = CopyOperation(many, LogFolder::open(logs.path()));
    for (std::size_t i = 0; i < many.size(); ++i) {
        EXPECT_EQ(run.outcomes[i].code, kinds[i % 7].second) << i << ": " << many[i];
    }
    EXPECT_EQ(listTree("/proc/self/fd").size(), descriptors);
    EXPECT_EQ(describeTree(dst.path()),
              (Names{"q/", "q/f.txt=f", "q/t/", "q/t/a/", "q/t/a/b.txt=b", "q/t/c.txt=c"}));
}

// After its folder was read, one file of a tree vanishes before its copy (whichever of the two the
// walk takes first, the other): the entry fails with 2, and the rest of it is copied.
TEST(SourceChanges, FileVanishedBeforeItsCopyFailsTheEntry) {
    TempDir src, dst;
    const std::string a = randomBytes(8 << 20, 5);
    plantTree(src.path(), {"tree/a.bin=" + a, "tree/z.txt=z"});
    ScopedEnv oneThread("MIVEX_WORKERS", "0");
    Monitor watch;
    std::string vanished;
    watch.onReport = [&](const TransferProgress& p) {
        if (vanished.empty() && !p.currentFile.empty()) {
            vanished = p.currentFile.ends_with("/a.bin") ? "z.txt" : "a.bin";
            ::unlink((src / "tree/" + vanished).c_str());
        }
    };
    EXPECT_EQ(transferItem({src / "tree", dst.path(), kCopy, kN}, &watch).code, 2);
    EXPECT_EQ(describeTree(dst.path()),
              (Names{"tree/", vanished == "a.bin" ? "tree/z.txt=z" : "tree/a.bin=" + a}));
}

// An overwrite of a read-only file: while the copy arrives it is private (0600), and it gets its
// mode once complete; aborted at its first progress, it leaves the old file as it was.
TEST(SourceChanges, OverwriteArrivesPrivatelyOrNotAtAll) {
    TempDir src;
    writeFile(src / "f.bin", randomBytes(16 << 20, 4));
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "aborted: the old file stays" : "the copy arrives privately");
        TempDir dst;
        writeFile(dst / "f.bin", "old", 0444);
        Monitor watch;
        std::vector<mode_t> seen;  // of the files open here below the destination: being written
        watch.onReport = [&](const TransferProgress&) {
            for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                struct stat st;
                if (linkTarget(fd.path()).starts_with(dst.path() + "/") &&
                    ::stat(fd.path().c_str(), &st) == 0) {
                    seen.push_back(st.st_mode & 07777);
                }
            }
            watch.stop = abort;
        };
        EXPECT_EQ(transferItem({src / "f.bin", dst.path(), kCopy, kO}, &watch).aborted, abort);
        EXPECT_EQ(seen, std::vector<mode_t>(
                            abort ? seen.size() : std::max<std::size_t>(seen.size(), 1), 0600u));
        EXPECT_EQ(lstatOf(dst / "f.bin").st_mode & 07777, abort ? 0444u : 0644u);
    }
}
