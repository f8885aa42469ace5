// Interrupted runs lose nothing; a long queue leaks no descriptor.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "queue/copyoperation.h"
#include "tests/reliability/scenario.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

// A large file made of one random block repeated, cheap to write and to check.
void writeLarge(const std::string& path, const std::string& block, int times) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < times; ++i) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

// The first `bytes` of a file, for files too large to read whole.
std::string headOf(const std::string& path, std::size_t bytes) {
    std::string head(bytes, '\0');
    std::ifstream(path, std::ios::binary).read(head.data(), static_cast<std::streamsize>(bytes));
    return head;
}

}  // namespace

TEST(KilledMove, TreeIsWholeAtTheSourceAndTheRerunCompletesIt) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 1ULL << 30);
    TempDir src, ref;
    Unattended program;
    for (int i = 0; i < 24; ++i) {
        makeTree(src / "tree", {{"part" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin",
                                 randomBytes(8 << 20, static_cast<unsigned>(i))}});
    }
    const std::string reference = referenceCopy(src / "tree", ref.path());
    const std::string list = program.list({entry("M-O", src / "tree", mount.path())});
    // Killed while a file is being written after some have arrived whole.
    const long long before = usedBytesOn(mount.path());
    const bool killed =
        runProcess(program.command(list), 60, false, [&] {
            int whole = 0;
            for (const std::string& name : listTree(mount.path())) {
                whole += name.ends_with(".bin");
            }
            return whole >= 6 && usedBytesOn(mount.path()) - before > (whole * 8LL + 1) << 20;
        }).killed;
    ASSERT_TRUE(killed) << "the move ended before it could be interrupted";
    expectSame(reference, src / "tree");
    // Nothing partial under a final name, and no temporary file left.
    for (const std::string& name : listTree(mount.path())) {
        EXPECT_FALSE(isTempName(name)) << name;
        if (!name.ends_with("/")) {
            EXPECT_TRUE(readFile(mount / name) == readFile(ref / name)) << name;
        }
    }

    const ProcessResult rerun = program.run(list);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
    EXPECT_FALSE(exists(src / "tree"));
    expectSame(reference, mount / "tree");
}

// Room for the old file and one new one, not a third: a file left by the killed run fails the
// rerun.
class KilledOverwrite : public ::testing::TestWithParam<bool> {};

TEST_P(KilledOverwrite, LeavesNoSpaceTakenAndTheRerunReplacesTheFile) {
    constexpr int kBlocks = 200;
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 450ULL << 20);
    TempDir src;
    Unattended program;
    if (GetParam()) {
        program.preload = kPlainFs;  // no unnamed files: a named temporary file is unavoidable
    }
    const std::string oldBlock = randomBytes(1 << 20, 1);
    const std::string newBlock = randomBytes(1 << 20, 2);
    ::mkdir((mount / "out").c_str(), 0755);
    writeLarge(mount / "out/big.bin", oldBlock, kBlocks);
    writeLarge(src / "big.bin", newBlock, kBlocks);
    const std::string list = program.list({entry("C-O", src / "big.bin", mount / "out")});
    const long long before = usedBytesOn(mount.path());
    const bool killed = runProcess(program.command(list), 60, false, [&] {
                            return usedBytesOn(mount.path()) - before >= 3LL * kBlocks / 4 << 20;
                        }).killed;
    ASSERT_TRUE(killed) << "the copy ended before it could be interrupted";
    EXPECT_EQ(lstatOf(mount / "out/big.bin").st_size, kBlocks << 20);
    EXPECT_TRUE(headOf(mount / "out/big.bin", 1 << 20) == oldBlock);
    std::vector<std::string> left = listTree(mount / "out");
    if (GetParam()) {
        // The dead run's temporary file; a live process's one beside it must survive the rerun.
        ASSERT_EQ(left.size(), 2u);
        ASSERT_TRUE(isTempName(left[0])) << left[0];
        std::string live = left[0];
        const std::size_t pidAt = live.find('-', std::string(".mivex-").size()) + 1;
        live.replace(pidAt, live.find('-', pidAt) - pidAt, std::to_string(::getpid()));
        writeFile(mount / ("out/" + live), "in use");
        left = {live};
    } else {
        EXPECT_EQ(left, std::vector<std::string>{"big.bin"});  // the copy had no name yet
        left.clear();
    }

    const ProcessResult rerun = program.run(list);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
    EXPECT_EQ(lstatOf(mount / "out/big.bin").st_size, kBlocks << 20);
    EXPECT_TRUE(headOf(mount / "out/big.bin", 1 << 20) == newBlock);
    left.push_back("big.bin");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(listTree(mount / "out"), left);
}

INSTANTIATE_TEST_SUITE_P(Files, KilledOverwrite, ::testing::Bool(), [](const auto& param) {
    return param.param ? std::string("Named") : std::string("Unnamed");
});

// One thread: the file surely vanishes after the walk and before its copy.
TEST(SourceChanges, FileVanishingFromAWalkedTreeIsNotCopiedAndTheQueueGoesOn) {
    ScopedEnv oneThread("MIVEX_WORKERS", "0");
    TempDir src, dst, logs;
    makeTree(src / "tree", {{"a.bin", randomBytes(2 << 20, 5)}, {"z.txt", "z"}});
    writeFile(src / "after.txt", "after");
    const std::vector<std::string> rows = {entry("C-N", src / "tree", dst.path()),
                                           entry("C-N", src / "after.txt", dst.path())};
    struct AfterTheWalk : Calling {  // totals: the tree is walked before its first file is copied
        using Calling::Calling;
        bool wantsTotals() const override { return true; }
    } vanish([&] { ::unlink((src / "tree/z.txt").c_str()); });
    CopyHooks hooks;
    hooks.startTime = std::time(nullptr);
    hooks.perform = [&](ShellOpRecord& record) { return DoFileOperation(record, &vanish); };
    CopyOperation(rows, logs.path(), hooks);
    ASSERT_GT(vanish.calls, 0);
    // The vanished file either fails the entry or is simply not there; what arrived is whole.
    const std::string log = readFile(logs / logFileName(hooks.startTime));
    expectLogged(log, rows[0], log.find("*** ERROR *** " + rows[0]) == std::string::npos ? 0 : 2);
    expectLogged(log, rows[1], 0);
    EXPECT_FALSE(exists(dst / "tree/z.txt"));
    EXPECT_EQ(readFile(dst / "tree/a.bin"), readFile(src / "tree/a.bin"));
    for (const std::string& name : listTree(dst.path())) {
        EXPECT_FALSE(isTempName(name)) << name;
    }
}

TEST(LongQueue, ThousandEntriesLeakNoDescriptor) {
    TempDir src, dst, logs;
    makeTree(src.path(), {{"f.txt", "f"}, {"tree/a/b.txt", "b"}, {"tree/c.txt", "c"}});
    ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0644), 0);
    const std::vector<std::string> kinds = {
        entry("C-O", src / "f.txt", dst.path()),       // overwrites after the first
        entry("C-O", src / "tree", dst.path()),        // merges after the first
        entry("C-N", src / "missing", dst.path()),     // 2
        entry("C-N", src / "tree", src / "tree/a"),    // 118
        entry("C-N", src / "pipe", dst.path()),        // 1920
        entry("C-O", src / "f.txt", dst / "f.txt/x"),  // through a file: 3
        "no entry at all",
    };
    std::vector<std::string> rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back(kinds[static_cast<std::size_t>(i) % kinds.size()]);
    }
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    const auto before = descriptors();
    EXPECT_FALSE(CopyOperation(rows, logs.path()));
    EXPECT_EQ(descriptors(), before);
    EXPECT_EQ(listTree(dst.path()), (std::vector<std::string>{"f.txt", "tree/", "tree/a/",
                                                              "tree/a/b.txt", "tree/c.txt"}));
}
