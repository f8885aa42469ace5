// Where the run log goes: beside a program run from its own folder, else in the user's own state
// folder, and never into a shared folder, through a link, or into a folder of another user.
#include "platform/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/testsupport.h"

namespace mivex {
namespace {

using test::TempDir;

TEST(ProgramFolder, InstalledOrNot) {
    TempDir dir;
    test::makeTree(dir.path(), {{"prefix/lib/mivex/", ""}, {"build/", ""}, {"other/", ""}});
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "other").c_str(), 65534, 65534), 0);
    }
    const struct {
        std::string folder;
        std::string prefix;
        bool installed;
    } cases[] = {
        {dir / "build", "/usr/local", false},
        {dir / "prefix/lib/mivex", dir / "prefix", true},
        {dir / "prefix/lib/mivex", dir / "pre", false},  // whole components only
        {dir / "build", "/", false},                     // "/" would hold every build tree
        {"/usr/lib/mivex", "/usr/local", true},
        {"/opt/mivex", "/usr/local", true},
        {dir / "missing", "/usr/local", true},
        {dir / "other", "/usr/local", root},  // belongs to another user
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isInstalledFolder(c.folder, c.prefix), c.installed)
            << c.folder << " " << c.prefix;
    }
}

class LogFolder : public ::testing::Test {
protected:
    void SetUp() override {
        test::makeTree(dir.path(), {{"build/", ""}, {"state/", ""}, {"home/", ""}, {"pw/", ""}});
        places.programFolder = dir / "usr-like";  // missing: counts as installed
        places.installPrefix = "/usr/local";
    }
    std::string find() {
        problem.clear();
        return findLogFolder(places, problem);
    }

    TempDir dir;
    LogPlaces places;
    std::string problem;
};

TEST_F(LogFolder, ProgramFolderOfABuildTreeElseTheFirstStateFolderSet) {
    places.programFolder = dir / "build";
    places.stateHome = dir / "state";
    EXPECT_EQ(find(), dir / "build");
    places.installPrefix = dir.path();
    EXPECT_EQ(find(), dir / "state/mivex");
    places.home = dir / "home";
    places.passwdHome = dir / "pw";
    EXPECT_EQ(find(), dir / "state/mivex");
    places.stateHome = "relative/state";  // ignored, as the XDG rules say
    EXPECT_EQ(find(), dir / "home/.local/state/mivex");
    places.stateHome.clear();
    places.home.clear();
    EXPECT_EQ(find(), dir / "pw/.local/state/mivex");
    EXPECT_EQ(test::lstatOf(dir / "pw/.local/state/mivex").st_mode & 0777, 0700u);
    EXPECT_EQ(problem, "");
}

// Nothing to be had: no log at all, and a sentence saying why; never a shared folder like /tmp.
TEST_F(LogFolder, NoneFitsMeansNoLog) {
    test::makeTree(dir.path(), {{"elsewhere/", ""}});
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "state/mivex").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "home/.local").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "home/.local/state").c_str()), 0);
    const struct {
        std::string stateHome, home, passwdHome, why;
    } cases[] = {
        {"", "", "", "no home folder is known"},
        {"", "", dir / "missing", dir / "missing: No such file or directory"},
        {dir / "state", "", "", dir / "state/mivex is a link or not a folder"},
        {"", dir / "home", "", dir / "home/.local/state is a link or not a folder"},
    };
    for (const auto& c : cases) {
        places.stateHome = c.stateHome;
        places.home = c.home;
        places.passwdHome = c.passwdHome;
        EXPECT_EQ(find(), "");
        EXPECT_EQ(problem, "no folder for the run log (" + c.why + "): runs are not logged");
    }
    EXPECT_EQ(test::listTree(dir / "elsewhere"), std::vector<std::string>{});
}

TEST_F(LogFolder, FoldersOfAnotherUserAreRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a folder to another user";
    }
    test::makeTree(dir.path(), {{"state/mivex/", ""}});
    ASSERT_EQ(::chown((dir / "state/mivex").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((dir / "home").c_str(), 65534, 65534), 0);
    places.stateHome = dir / "state";
    EXPECT_EQ(find(), "");
    EXPECT_EQ(problem, "no folder for the run log (" + dir / "state/mivex" +
                           " belongs to another user): runs are not logged");
    // A home of someone else (sudo keeps HOME): nothing is made in it.
    places.stateHome.clear();
    places.home = dir / "home";
    EXPECT_EQ(find(), "");
    EXPECT_EQ(test::listTree(dir / "home"), std::vector<std::string>{});
}

}  // namespace
}  // namespace mivex
