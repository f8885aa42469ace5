// Verify after copy, proved on a filesystem that keeps wrong bytes (tests/flipfs.py): without it a
// run succeeds with a wrong copy; with it exactly the copies that differ fail, and nothing they
// would replace or remove is lost.
#include "engine/verify.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/fd.h"
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

// A large copy is read back behind its writing: a stretch once the next one is written too, so a
// wrong stretch fails the copy then, not after the whole file; a right copy leaves only its last
// stretch to the read-back at the end.
TEST_F(Verify, ALargeCopyIsReadBackBehindItsWriting) {
    MIVEX_MOUNT_OR_SKIP(flipfs, FlipFsMount, root.path());
    constexpr off_t kStretch = 64 << 10;
    const std::string bytes = randomBytes(16 * kStretch, 3);
    writeFile(data / "src", bytes);
    Fd src(::open((data / "src").c_str(), O_RDONLY | O_CLOEXEC));
    struct Case {
        const char* name;
        off_t failsAt;  // written when the trail finds the difference; 0: never
    };
    for (const Case c : {Case{"right.bin", 0}, Case{"wrong.flip.bin", 2 * kStretch}}) {
        SCOPED_TRACE(c.name);
        Fd dst(::open((flipfs.path() + "/" + c.name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        engine::ReadBackTrail trail(src.get(), dst.get(), {}, kStretch);
        int code = kSuccess;
        off_t written = 0;
        while (code == kSuccess && written < static_cast<off_t>(bytes.size())) {
            ASSERT_EQ(::pwrite(dst.get(), bytes.data() + written, kStretch, written), kStretch);
            written += kStretch;
            code = trail.advance(written);
        }
        EXPECT_EQ(code, c.failsAt ? kCopyDiffers : kSuccess);
        EXPECT_EQ(written, c.failsAt ? c.failsAt : static_cast<off_t>(bytes.size()));
        EXPECT_EQ(trail.checked(), c.failsAt ? 0 : written - kStretch);
        EXPECT_EQ(engine::verifyCopy(src.get(), dst.get(), {}, trail.checked()),
                  c.failsAt ? kCopyDiffers : kSuccess);
    }
    // Through the program: files large enough for the engine's stretches.
    const std::string large = randomBytes((2 * engine::ReadBackTrail::kStretch) + 4097, 4);
    writeFile(data / "large.bin", large);
    writeFile(data / "large.flip.bin", large);
    EXPECT_EQ(run({entry("C-O", data / "large.bin", flipfs.path()),
                   entry("C-O", data / "large.flip.bin", flipfs.path())},
                  true),
              1);
    EXPECT_TRUE(readFile(root / "large.bin") == large);
    EXPECT_FALSE(exists(root / "large.flip.bin"));
    EXPECT_NE(last.err.find("(code 23); the file: " + data / "large.flip.bin"), std::string::npos)
        << last.err;
}
