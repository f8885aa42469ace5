// System calls that fail or are missing, through shims preloaded into the program: the entry fails
// with its code or falls back; nothing partial or temporary stays, the source is whole, the queue
// goes on. Filesystems without RENAME_NOREPLACE, hard links or unnamed files take every placing.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "tests/reliability/scenario.h"
#include "tests/unattended.h"

using namespace mivex::test;

// MIVEX_FAULT ("victim": the source, "faulty/": the destination), the code logged, and: O an old
// file at the name, N plainfs too (a named temporary file), A the destination on another
// filesystem, T a folder holding the file, K a failed move's whole copy stays at the destination.
using Fault = std::tuple<std::string, std::string, int, std::string>;

const Fault kCases[] = {
    {"copy_file_range:EIO:victim", "C-N", 1117, ""},
    {"copy_file_range:EIO:victim", "C-N", 1117, "T"},
    {"copy_file_range:EXDEV:victim,read:EIO:victim:2", "C-N", 1117, ""},
    {"copy_file_range:EXDEV:victim,write:EIO:faulty/:2", "C-O", 1117, "O"},
    {"copy_file_range:ENOSYS:victim,write:EIO:faulty/:3", "C-N", 1117, "N"},
    {"write:EIO:faulty/:2", "M-O", 1117, "A"},
    {"copy_file_range:EXDEV:victim,write:EFBIG:faulty/:2", "M-O", 223, "A"},  // too large there
    {"close:EIO:faulty/", "C-N", 1117, ""},
    {"close:EIO:faulty/", "C-O", 1117, "O"},
    {"close:EIO:faulty/", "C-N", 1117, "N"},
    {"syncfs:EIO:faulty", "M-O", 1117, "AK"},
    {"copy_file_range:EXDEV:victim", "C-N", 0, ""},
    {"copy_file_range:ENOSYS:victim", "C-O", 0, "O"},
    {"copy_file_range:EOPNOTSUPP:victim", "C-N", 0, "T"},
    {"copy_file_range:EINVAL:victim", "C-N", 0, "N"},
    {"linkat:ENOSPC:faulty", "C-N", 1223, ""},
    {"linkat:ENOSPC:faulty", "C-N", 1223, "O"},  // keeps both
    {"renameat:ENOSPC:faulty", "C-O", 1223, "O"},
    {"renameat:ENOSPC:faulty", "C-N", 1223, "N"},
    {"renameat2:ENOSPC:faulty", "M-O", 1223, ""},
};

class SyscallFaults : public ::testing::TestWithParam<Fault> {};

TEST_P(SyscallFaults, EntryFailsCleanlyOrFallsBackAndTheQueueGoesOn) {
    const auto& [fault, codes, code, how] = GetParam();
    const auto has = [&](char c) { return how.find(c) != std::string::npos; };
    std::optional<TmpfsMount> mount;
    TempDir src, local;
    if (has('A') && !mount.emplace(32 << 20).ok()) {
        GTEST_SKIP() << mount->reason();
    }
    const std::string dst = mount ? mount->path() : local.path();
    const std::string bytes = randomBytes((1 << 20) + 123, 7);  // not a multiple of any buffer
    const std::string item = has('T') ? "tree" : "victim.bin";
    const std::string victim = has('T') ? "tree/victim.bin" : item;
    plantTree(src.path(), {victim + "=" + bytes, "tree/other.txt=other", "next.txt=next"});
    plantTree(dst, {"fine/", has('O') ? "faulty/" + victim + "=old" : "faulty/"});
    Unattended program;
    program.preload = (has('N') ? std::string(kPlainFs) + ":" : std::string()) + kFaults;
    ScopedEnv injected("MIVEX_FAULT", fault.c_str());
    const std::vector<std::string> rows = {entry(codes.c_str(), src / item, dst + "/faulty"),
                                           entry("C-N", src / "next.txt", dst + "/fine")};
    const ProcessResult result = program.run(program.list(rows));
    EXPECT_EQ(result.exitCode, code == 0 ? 0 : 1) << result.output;
    const std::string log = readFile(program.logPath());
    expectLogged(log, rows[0], code);
    expectLogged(log, rows[1], 0);
    EXPECT_EQ(readFile(dst + "/fine/next.txt"), "next");
    // The source whole unless moved; at the destination the new file, the old one or none, alone.
    EXPECT_TRUE(code == 0 && codes[0] == 'M' ? !exists(src / victim)
                                             : readFile(src / victim) == bytes);
    const std::string arrived = code == 0 || has('K') ? bytes : has('O') ? "old" : "";
    std::vector<std::string> faulty = describeTree(dst + "/faulty");
    std::erase(faulty, "tree/");
    std::erase(faulty, "tree/other.txt=other");
    EXPECT_TRUE(faulty == std::vector<std::string>(!arrived.empty(), victim + "=" + arrived))
        << ::testing::PrintToString(listTree(dst + "/faulty"));
}

INSTANTIATE_TEST_SUITE_P(Calls, SyscallFaults, ::testing::ValuesIn(kCases));

// Each entry's source (beside f.txt, tree/ and link) and its destination before and after.
TEST(PlainFs, EveryPlacingWorksWithoutNoReplaceRenameOrHardLinks) {
    using Tree = std::vector<std::string>;
    const Tree tree = {"tree/", "tree/a.txt=a", "tree/sub/", "tree/sub/b.txt=b"};
    const Tree both = {"tree - Copy/", "tree - Copy/a.txt=a", "tree - Copy/sub/",
                       "tree - Copy/sub/b.txt=b", "tree/"};
    const std::tuple<const char*, const char*, Tree, Tree> placings[] = {
        {"M-O", "tree", {}, tree},
        {"M-N", "tree", {"tree/"}, both},
        {"M-N", "f.txt", {"f.txt=o"}, {"f - Copy.txt=n", "f.txt=o"}},
        {"C-N", "tree", {}, tree},
        {"C-N", "tree", {"tree/"}, both},
        {"C-N",
         "f.txt",
         {"f.txt=o", "f - Copy.txt=o"},
         {"f - Copy (2).txt=n", "f - Copy.txt=o", "f.txt=o"}},
        {"C-N", "link", {"link=o"}, {"link - Copy->tree/a.txt", "link=o"}},
        {"C-O", "f.txt", {"f.txt=o"}, {"f.txt=n"}},
    };
    TempDir src, dst;
    Unattended program;
    program.preload = kPlainFs;
    std::vector<std::string> rows;
    for (const auto& [codes, source, before, after] : placings) {
        const std::string n = std::to_string(rows.size());
        plantTree(src / n, {"f.txt=n", "tree/a.txt=a", "tree/sub/b.txt=b", "link->tree/a.txt"});
        plantTree(dst / n, before);
        plantTree(dst.path(), {n + "/"});
        rows.push_back(entry(codes, src / (n + "/" + source), dst / n));
    }
    const ProcessResult result = program.run(program.list(rows));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::string log = readFile(program.logPath());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        expectLogged(log, rows[i], 0);
        EXPECT_EQ(describeTree(dst / std::to_string(i)), std::get<3>(placings[i])) << rows[i];
    }
}

// The copying threads work at once: while one copies a folder's files, the walk goes on and hands
// the next folder to the other; neighbouring one-file entries are taken by the run's thread and
// its side lane. Each thread's first copy waits in the shim until the other's.
TEST(CopyThreads, CopyTwoFoldersOrTwoEntriesAtOnce) {
    TempDir src;
    plantTree(src.path(), {"tree/a/1=1", "tree/a/2=2", "tree/b/1=1", "tree/c/d/1=1", "tree/e/1=1"});
    Unattended program;
    program.preload = kFaults;
    ScopedEnv meet("MIVEX_MEET", "copy_file_range");
    ScopedEnv two("MIVEX_WORKERS", "2");
    const std::string files = src / "tree/a";
    const std::pair<Names, std::string> runs[] = {
        {{entry("C-O", src / "tree", "")}, "tree"},
        {{entry("C-O", files + "/1", ""), entry("C-U", files + "/2", "")}, ""}};
    for (const auto& [entries, made] : runs) {
        TempDir dst;
        Names rows;
        for (const std::string& row : entries) {
            rows.push_back(row + dst.path());
        }
        const ProcessResult result = program.run(program.list(rows));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.err, "meet: copy_file_range met\nmeet: copy_file_range met\n");
        EXPECT_EQ(describeTree(dst / made), describeTree(made.empty() ? files : src / made));
    }
}
