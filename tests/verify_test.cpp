// Verify after copy, proved on a filesystem that keeps wrong bytes (tests/flipfs.py): without it a
// run succeeds with a wrong copy; with it exactly the copies that differ fail, and nothing they
// would replace or remove is lost.
#include "platform/resultcodes.h"
#include "tests/flipfsmount.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

struct Verify : ::testing::Test, Unattended {
    // Runs the rows, with " --verify" when asked; the exit status.
    int run(const std::vector<std::string>& rows, bool verify) {
        auto argv = command(list(rows));
        if (verify) {
            argv.push_back("--verify");
        }
        last = runProcess(argv, 120);
        return last.exitCode;
    }
    TempDir data, root;
    ProcessResult last;
};

}  // namespace

TEST_F(Verify, WithoutItAWrongCopySucceeds) {
    MIVEX_MOUNT_OR_SKIP(flipfs, FlipFsMount, root.path());
    writeFile(data / "a.flip.bin", randomBytes(70000, 1));
    EXPECT_EQ(run({entry("C-O", data / "a.flip.bin", flipfs.path())}, false), 0) << last.output;
    EXPECT_NE(readFile(root / "a.flip.bin"), readFile(data / "a.flip.bin"));
}

TEST_F(Verify, ExactlyTheCopiesThatDifferFail) {
    MIVEX_MOUNT_OR_SKIP(flipfs, FlipFsMount, root.path());
    plantTree(data.path(), {"tree/a.txt=alpha", "tree/sub/b.bin=" + randomBytes(300000, 2),
                            "kept.flip.txt=new bytes", "moved.flip.txt=moved", "moved.txt=fine"});
    plantTree(root.path(), {"kept.flip.txt=old bytes"});
    const std::string out = flipfs.path();
    const std::vector<std::string> rows = {
        entry("C-O", data / "tree", out), entry("C-O", data / "kept.flip.txt", out),
        entry("M-O", data / "moved.flip.txt", out), entry("M-O", data / "moved.txt", out)};
    EXPECT_EQ(run(rows, true), 1);
    // The tree and the clean move arrived whole; the source of the clean move is gone.
    EXPECT_EQ(runProcess({"diff", "-r", data / "tree", root / "tree"}).exitCode, 0);
    EXPECT_EQ(readFile(root / "moved.txt"), "fine");
    EXPECT_FALSE(exists(data / "moved.txt"));
    // The copies that differ: the file they would replace kept, the moved source kept, no copy.
    EXPECT_EQ(readFile(root / "kept.flip.txt"), "old bytes");
    EXPECT_EQ(readFile(data / "moved.flip.txt"), "moved");
    EXPECT_FALSE(exists(root / "moved.flip.txt"));
    for (const auto& e : std::filesystem::recursive_directory_iterator(root.path())) {
        EXPECT_FALSE(isTempName(e.path())) << e.path();
    }
    // Each named, on standard error and in the log, and no other.
    EXPECT_EQ(std::count(last.err.begin(), last.err.end(), '\n'), 3) << last.err;
    const std::string why =
        "the copy differs from its source after writing: the destination's "
        "disk or its connection may be failing (code 23); the file: ";
    EXPECT_NE(last.err.find("line 2: " + rows[1] + ": " + why + data / "kept.flip.txt"),
              std::string::npos)
        << last.err;
    EXPECT_NE(last.err.find("line 3: " + rows[2] + ": " + why + data / "moved.flip.txt"),
              std::string::npos);
    const std::string log = readFile(logPath());
    EXPECT_NE(log.find(rows[1] +
                       " did not copy - Something broke... sorry. Error code is 23. The "
                       "copy of " +
                       data / "kept.flip.txt" + " differs from its source after writing."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(rows[3] + " was successful"), std::string::npos);
}
