// The run log: names, stamps, appending, many writers, a full disk, a link or FIFO at its path, a
// log that goes during a run (whoever moves it); where it goes, never through a link or into a
// folder of another user, even when a link takes the checked folder's place.
#include "queue/log.h"

#include <optional>
#include <sstream>
#include <thread>

#include "platform/folders.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

// The given local time, on 5 December 2026 unless told otherwise.
std::time_t localTime(int hour, int minute, int second, int year = 2026, int month = 12,
                      int day = 5) {
    // glibc's order: second, minute, hour, day, month, year, weekday, yearday, DST, offset, zone.
    std::tm parts{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return std::mktime(&parts);
}

// One run logging `messages` at `path`, stamped 12/05/2026 09:30:00; why a line was lost, if any.
std::string logRun(const std::string& path, const Names& messages,
                   std::time_t at = localTime(9, 30, 0)) {
    RunLog log;
    if (!path.empty()) {
        const std::size_t slash = path.rfind('/');
        log.setPath(LogFolder::open(path.substr(0, slash)), path.substr(slash + 1));
    }
    for (const std::string& message : messages) {
        log.log(message, at);
    }
    return log.firstFailure();
}

}  // namespace

// Names by the local date; stamps with four-digit years, no time at exactly midnight. A torn last
// line (a crash) is ended before a run's first line only; messages are written as they stand.
TEST(RunLog, NamesStampsAndAFreshLineAfterATornEnd) {
    EXPECT_EQ(logFileName(localTime(23, 59, 59)), "12052026-log.txt");
    EXPECT_EQ(logFileName(localTime(0, 0, 0, 2027, 1, 9)), "01092027-log.txt");
    EXPECT_EQ(logTimestamp(localTime(14, 3, 7)), "12/05/2026 14:03:07");
    EXPECT_EQ(logTimestamp(localTime(0, 0, 0)), "12/05/2026");
    EXPECT_EQ(logTimestamp(localTime(0, 0, 1)), "12/05/2026 00:00:01");
    const std::string line = "12/05/2026 09:30:00\ttab\there  \r\n12/05/2026 09:30:00\t\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},           {"old\r\n", "old\r\n"}, {"torn", "torn\r\n"},
        {"x\r", "x\r\r\n"}, {"\n", "\n\r\n"},       {"\r\n\n", "\r\n\n\r\n"},
    };
    TempDir dir;
    for (const auto& [before, kept] : cases) {
        SCOPED_TRACE(testing::PrintToString(before));
        writeFile(dir / "log.txt", before);
        EXPECT_EQ(logRun(dir / "log.txt", {"tab\there  ", ""}), "");
        EXPECT_EQ(logRun(dir / "log.txt", {"tab\there  ", ""}), "");
        EXPECT_EQ(readFile(dir / "log.txt"), kept + line + line);
    }
}

// A line the disk fills up in is cut off again; the next (with room again) follows the last whole.
TEST(RunLog, DiskFullInsideALineLeavesNoTornLine) {
    MIVEX_MOUNT_OR_SKIP(small, TmpfsMount, 64 * 1024);
    const std::string log = small / "log.txt", first = "12/05/2026 09:30:00\tfirst\r\n";
    EXPECT_EQ(logRun(log, {"first"}), "");
    // Fill every free block: only the rest of the log's own last page takes bytes.
    std::ofstream(small / "filler") << std::string(64 * 1024, 'f');
    EXPECT_EQ(logRun(log, {std::string(20000, 'x')}), "No space left on device");
    EXPECT_EQ(readFile(log), first);
    ASSERT_EQ(::unlink((small / "filler").c_str()), 0);
    EXPECT_EQ(logRun(log, {"second"}), "");
    EXPECT_EQ(readFile(log), first + "12/05/2026 09:30:00\tsecond\r\n");
}

TEST(RunLog, ConcurrentWritersLeaveOnlyWholeLinesInTheirOrder) {
    TempDir dir;
    std::vector<Names> written(4), found(4);
    std::vector<std::jthread> threads;
    const std::time_t at = localTime(9, 30, 0);  // mktime sets the zone again: not in the threads
    for (std::size_t t = 0; t < written.size(); ++t) {
        for (int i = 0; i < 500; ++i) {
            written[t].push_back(std::to_string(t) + " line " + std::to_string(i) +
                                 std::string(200, 'x'));
        }
        threads.emplace_back([&, t] { logRun(dir / "log.txt", written[t], at); });
    }
    threads.clear();  // joins them
    std::istringstream lines(readFile(dir / "log.txt"));
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(line.starts_with("12/05/2026 09:30:00\t") && line.ends_with("x\r")) << line;
        found.at(line[20] - '0').push_back(line.substr(20, line.size() - 21));
    }
    EXPECT_EQ(found, written);  // each thread's lines whole and in order, however they interleave
}

// A link or missing folder at the log's path is not written through; on a FIFO the program does not
// wait for a reader, goes on without its lines, and says so once.
TEST(RunLog, LogPathThatIsNoFileIsNotWritten) {
    TempDir src, elsewhere;
    plantTree(elsewhere.path(), {"victim.txt=precious", "log.txt->victim.txt", "new.txt->created"});
    for (const char* link : {"log.txt", "new.txt"}) {
        EXPECT_EQ(logRun(elsewhere / link, {"a line"}), "Too many levels of symbolic links");
    }
    EXPECT_EQ(logRun(elsewhere / "missing/log.txt", {"lost"}), "No such file or directory");
    EXPECT_EQ(logRun("", {"not logged"}), "");
    EXPECT_EQ(describeTree(elsewhere.path()),
              (Names{"log.txt->victim.txt", "new.txt->created", "victim.txt=precious"}));
    Unattended program;
    ASSERT_EQ(::mkfifo(program.logPath().c_str(), 0666), 0);
    plantTree(src.path(), {"f.txt=f"});
    const ProcessResult result = program.run(program.list(
        {entry("C-N", src / "f.txt", src / "a"), entry("C-N", src / "f.txt", src / "b")}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "mivex: the run log " + program.logPath() +
                                 " could not be written (it is not a regular file): lines of "
                                 "this run are missing\n");
    EXPECT_EQ(describeTree(src.path()), (Names{"a/", "a/f.txt=f", "b/", "b/f.txt=f", "f.txt=f"}));
}

// A log removed, renamed or replaced during a run gets the next line at the day's name again; a
// log whose folder has gone loses its lines and says so once. Lines in bursts (each step's line
// the first of one) look at the name as well.
TEST(RunLog, LinesFollowTheDaysNameWhenItsFileGoes) {
    for (const bool inBursts : {false, true}) {
        SCOPED_TRACE(inBursts ? "in bursts" : "one by one");
        TempDir dir;
        plantTree(dir.path(), {"logs/"});
        const std::string log = dir / "logs/log.txt", line = "12/05/2026 09:30:00\t";
        const std::pair<const char*, std::function<void()>> steps[] = {
            {"kept", [] {}},
            {"removed", [&] { ::unlink(log.c_str()); }},
            {"renamed", [&] { ::rename(log.c_str(), (dir / "logs/moved.txt").c_str()); }},
            {"replaced",
             [&] {
                 writeFile(dir / "other.txt", "other\r\n");
                 ::rename((dir / "other.txt").c_str(), log.c_str());
             }},
            {"kept again", [] {}},
            {"gone", [&] { removeTree(dir / "logs"); }},
        };
        RunLog runLog;
        runLog.setPath(LogFolder::open(dir / "logs"), "log.txt");
        std::vector<std::string> seen;
        for (const auto& [name, step] : steps) {
            step();
            std::optional<RunLog::Burst> burst;
            if (inBursts) {
                burst.emplace(runLog);
            }
            runLog.log(name, localTime(9, 30, 0));
            seen.push_back(exists(log) ? readFile(log) : "");
            if (std::string_view(name) == "renamed") {
                seen.push_back(readFile(dir / "logs/moved.txt"));
            }
        }
        EXPECT_EQ(seen, (Names{line + "kept\r\n", line + "removed\r\n", line + "renamed\r\n",
                               line + "removed\r\n", "other\r\n" + line + "replaced\r\n",
                               "other\r\n" + line + "replaced\r\n" + line + "kept again\r\n", ""}));
        EXPECT_EQ(runLog.firstFailure(), "No such file or directory");
    }
}

// The log lands in the folder that was checked at start, never through a link put in its place
// afterwards (another user's folder on the way to $XDG_STATE_HOME could do that).
TEST(RunLog, TheCheckedFolderIsWrittenEvenWhenALinkTakesItsPlace) {
    TempDir dir;
    plantTree(dir.path(), {"state/", "elsewhere/"});
    std::string problem;
    const auto folder = findLogFolder({dir / "gone", "/usr/local", dir / "state", "", ""}, problem);
    ASSERT_EQ(::rename((dir / "state/mivex").c_str(), (dir / "state/checked").c_str()), 0);
    ASSERT_EQ(::symlink("../elsewhere", (dir / "state/mivex").c_str()), 0);
    RunLog runLog;
    runLog.setPath(folder, "log.txt");
    runLog.log("a line", localTime(9, 30, 0));
    EXPECT_EQ(listTree(dir / "elsewhere"), Names{});
    EXPECT_EQ(describeTree(dir / "state"),
              (Names{"checked/", "checked/log.txt=12/05/2026 09:30:00\ta line\r\n",
                     "mivex->../elsewhere"}));
}

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
