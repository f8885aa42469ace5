// Where the run log goes, and never through a link or into a folder of another user.
#include "platform/folders.h"

#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

// Build tree (not one others may write in), else first fitting state folder, else why not; "l..."
// hold links, "o..." aren't ours.
TEST(LogFolder, FirstPlaceThatFitsElseNoLogAndWhy) {
    TempDir dir;
    plantTree(dir.path(), {"prefix/lib/mivex/", "build/", "state/", "home/", "pw/", "elsewhere/",
                           "ostate/mivex/", "ohome/", "lstate/mivex->../elsewhere",
                           "lhome/.local/state->../../elsewhere", "tmp/", "group/", "others/"});
    for (const auto& [shared, mode] :
         {std::pair{"tmp", 01777}, {"group", 0775}, {"others", 0757}}) {
        ASSERT_EQ(::chmod((dir / shared).c_str(), mode), 0);
    }
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "ostate/mivex").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((dir / "ohome").c_str(), 65534, 65534), 0);
    }
    EXPECT_FALSE(isInstalledFolder(dir / "build", "/usr/local"));
    EXPECT_TRUE(isInstalledFolder(dir / "prefix/lib/mivex", dir / "prefix"));
    EXPECT_FALSE(isInstalledFolder(dir / "prefix/lib/mivex", dir / "pre"));  // whole components
    EXPECT_FALSE(isInstalledFolder(dir / "build", "/"));  // "/" would hold every build tree
    EXPECT_TRUE(isInstalledFolder("/usr/lib/mivex", "/usr/local"));
    EXPECT_TRUE(isInstalledFolder("/opt/mivex", "/usr/local"));
    EXPECT_TRUE(isInstalledFolder(dir / "missing", "/usr/local"));
    EXPECT_EQ(isInstalledFolder(dir / "ohome", "/usr/local"), root);  // of another user
    const auto at = [&](const std::string& p) {
        return p.empty() || p[0] == '.' || p.starts_with("no ") ? p : dir / p;
    };
    const struct {
        const char *program, *state, *home, *pw, *found, *why;
    } cases[] = {
        {"build", "state", "", "", "build", ""},
        // A program folder others may write in (a download in /tmp) is a shared folder.
        {"tmp", "state", "", "", "state/mivex", ""},
        {"group", "state", "", "", "state/mivex", ""},
        {"others", "state", "", "", "state/mivex", ""},
        {"gone", "state", "home", "pw", "state/mivex", ""},
        {"gone", "./state", "home", "pw", "home/.local/state/mivex", ""},  // relative: ignored
        {"gone", "", "", "pw", "pw/.local/state/mivex", ""},
        {"gone", "", "", "", "", "no home folder is known"},
        {"gone", "", "", "missing", "", "missing: No such file or directory"},
        {"gone", "lstate", "", "", "", "lstate/mivex is a link or not a folder"},
        {"gone", "", "lhome", "", "", "lhome/.local/state is a link or not a folder"},
        {"gone", "ostate", "", "", "", "ostate/mivex belongs to another user"},
        {"gone", "", "ohome", "", "", "ohome belongs to another user"},  // sudo keeps HOME
    };
    for (const auto& c : cases) {
        if (!root && std::string(c.why).ends_with("another user")) {
            continue;
        }
        const LogPlaces places{at(c.program), "/usr/local", at(c.state), at(c.home), at(c.pw)};
        std::string problem;
        EXPECT_EQ(findLogFolder(places, problem).path(), at(c.found)) << c.found;
        EXPECT_EQ(
            problem,
            *c.why ? "no folder for the run log (" + at(c.why) + "): runs are not logged" : "");
        if (std::string(c.found).ends_with("mivex")) {
            EXPECT_EQ(lstatOf(at(c.found)).st_mode & 0777, 0700u);
        }
    }
    EXPECT_EQ(listTree(dir / "elsewhere").size() + listTree(dir / "ohome").size(), 0u);
}
