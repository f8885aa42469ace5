// A run cut off by SIGKILL in its tree entry, taken up again with --resume: nothing is copied
// twice that was whole, nothing begun is begun again beside itself, and only --resume resumes.
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

struct Resume : ::testing::Test, Unattended {
    Resume() {
        plantTree(data.path(),
                  {"src/a.txt=a", "src/b.txt=b", "src/c.txt=c", "src/tree/", "dst/tree/"});
        for (char f = '1'; f <= '8'; ++f) {
            writeFile(data / "src/tree/f" + f, randomBytes(2u << 20, f));
        }
        // The first two overlap (their journal lines wait for company), the tree is cut off.
        rows = {entry("C-O", data / "src/a.txt", data / "dst"),
                entry("C-O", data / "src/b.txt", data / "dst"),
                entry("C-N", data / "src/tree", data / "dst"),
                entry("C-O", data / "src/c.txt", data / "dst")};
    }
    ProcessResult run(const std::vector<std::string>& switches,
                      const std::function<bool()>& killWhen = {}) {
        auto argv = command(list(rows));
        argv.insert(argv.end(), switches.begin(), switches.end());
        return runProcess(argv, 120, false, killWhen);
    }
    // Killed in the tree entry, paced by the limit, once the keep-both copy of the tree holds two
    // whole files; the inodes of what it holds then. The destination holds only the tree first.
    std::map<std::string, ino_t> killInTreeEntry() {
        std::filesystem::remove_all(data / "dst");
        std::filesystem::create_directories(data / "dst/tree");
        const std::string copy = data / "dst/tree - Copy";
        const auto twoFiles = [&] {
            return exists(copy + "/f1") + exists(copy + "/f2") + exists(copy + "/f3") >= 2;
        };
        EXPECT_TRUE(run({"--bwlimit=4M"}, twoFiles).killed);
        std::map<std::string, ino_t> inodes;
        for (const auto& e : std::filesystem::directory_iterator(copy)) {
            inodes[e.path()] = lstatOf(e.path()).st_ino;
        }
        return inodes;
    }
    std::size_t logged(const std::string& row) {
        const std::string log = readFile(logPath());
        std::size_t n = 0;
        for (auto at = log.find(row + " was"); at != log.npos;
             at = log.find(row + " was", at + 1)) {
            ++n;
        }
        return n;
    }
    TempDir data;
    std::vector<std::string> rows;
};

}  // namespace

TEST_F(Resume, KilledInTheTreeEntryCarriesOnWhereItStopped) {
    const auto before = killInTreeEntry();
    const ProcessResult resumed = run({"--resume"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_EQ(runProcess({"diff", "-r", data / "src/tree", data / "dst/tree - Copy"}).exitCode, 0);
    EXPECT_FALSE(exists(data / "dst/tree - Copy (2)"));
    EXPECT_EQ(readFile(data / "dst/c.txt"), "c");
    for (const auto& [path, inode] : before) {
        EXPECT_EQ(lstatOf(path).st_ino, inode) << path << " was copied again";
    }
    // The first rows ended before the kill: not run again.
    EXPECT_EQ(logged(rows[0]) + logged(rows[1]), 2u);
    EXPECT_EQ(logged(rows[2]), 1u);
}

// Without a cut-off run, or without the switch, or with a list changed since, a run starts afresh.
TEST_F(Resume, OnlyTheSameListWithTheSwitchResumes) {
    EXPECT_EQ(run({"--resume"}).exitCode, 0);  // nothing was cut off: a normal run
    EXPECT_EQ(logged(rows[3]), 1u);
    killInTreeEntry();
    EXPECT_EQ(run({}).exitCode, 0);  // a nightly run never skips rows
    EXPECT_TRUE(exists(data / "dst/tree - Copy (2)"));
    killInTreeEntry();
    rows.push_back(entry("C-O", data / "src/a.txt", data / "dst/more"));
    const ProcessResult changed = run({"--resume"});
    EXPECT_EQ(changed.exitCode, 0);
    EXPECT_NE(changed.err.find("the list changed since its run that was cut off ("),
              std::string::npos)
        << changed.err;
    EXPECT_TRUE(exists(data / "dst/tree - Copy (2)"));
    EXPECT_EQ(logged(rows[0]), 5u);
}
