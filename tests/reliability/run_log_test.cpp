// The run log under pressure: two unattended runs appending to the same day's log at once, and a
// log path that someone replaced by a symbolic link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <thread>

#include "queue/log.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

TEST(RunLogRuns, TwoRunsAtOnceWriteOnlyWholeLines) {
    TempDir src;
    Unattended program;
    std::set<std::string> expected;
    std::vector<std::string> lists;
    for (const std::string run : {"a", "b"}) {
        std::vector<std::string> rows;
        for (int i = 0; i < 400; ++i) {
            rows.push_back(
                entry("C-N", src / (run + std::to_string(i) + std::string(200, 'x')), src / "out"));
            expected.insert("*** ERROR *** " + rows.back() +
                            " did not copy - Something broke... sorry. Error code is 2.");
        }
        lists.push_back(program.list(rows, run + ".flq"));
    }
    ProcessResult results[2];
    std::thread other([&] { results[1] = program.run(lists[1]); });
    results[0] = program.run(lists[0]);
    other.join();
    EXPECT_EQ(results[0].exitCode, 1) << results[0].output;
    EXPECT_EQ(results[1].exitCode, 1) << results[1].output;

    const std::string log = readFile(program.logPath());
    std::set<std::string> seen;
    std::size_t lines = 0;
    for (std::size_t pos = 0; pos < log.size(); ++lines) {
        const std::size_t end = log.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "the log ends in half a line";
        const std::string line = log.substr(pos, end - pos);
        const std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_TRUE(expected.count(line.substr(tab + 1))) << "not a whole line: " << line;
        seen.insert(line.substr(tab + 1));
        pos = end + 2;
    }
    EXPECT_EQ(lines, 800u);
    EXPECT_EQ(seen, expected);
}

// Something other than a log file planted at the day's log name in the program folder: the
// program must not append to (or create) whatever a link names, nor wait for a FIFO's reader. The
// lines are lost, the run goes on, and standard error says so once.
TEST(RunLogRuns, LogPathThatIsNoFileIsNotWritten) {
    TempDir src, elsewhere;
    writeFile(src / "f.txt", "f");
    writeFile(elsewhere / "victim.txt", "precious");
    const struct {
        const char* kind;
        std::function<int(const std::string&)> plant;
        const char* why;
    } planted[] = {
        {"link",
         [&](const std::string& at) {
             return ::symlink((elsewhere / "victim.txt").c_str(), at.c_str());
         },
         "Too many levels of symbolic links"},
        {"fifo", [](const std::string& at) { return ::mkfifo(at.c_str(), 0666); },
         "it is not a regular file"},
    };
    for (const auto& [kind, plant, why] : planted) {
        SCOPED_TRACE(kind);
        Unattended program;
        ASSERT_EQ(plant(program.logPath()), 0);
        removeTree(src / "out");
        const ProcessResult result =
            runProcess(program.command(program.list({entry("C-N", src / "f.txt", src / "out"),
                                                     entry("C-N", src / "missing", src / "out")})),
                       20);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 1);
        // Said once for the run, not once per lost line, beside the line of the failed entry.
        const std::string said = "mivex: the run log " + program.logPath() +
                                 " could not be written (" + why +
                                 "): lines of this run are missing\n";
        const std::size_t at = result.output.find(said);
        EXPECT_NE(at, std::string::npos) << result.output;
        EXPECT_EQ(result.output.find(said, at + 1), std::string::npos) << result.output;
        EXPECT_EQ(readFile(src / "out/f.txt"), "f");
        EXPECT_FALSE(S_ISREG(lstatOf(program.logPath()).st_mode));
    }
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "precious");

    RunLog dangling;
    dangling.setPath(elsewhere / "log.txt");
    ASSERT_EQ(::symlink((elsewhere / "created.txt").c_str(), dangling.path().c_str()), 0);
    dangling.log("a line");
    EXPECT_FALSE(exists(elsewhere / "created.txt"));
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "precious");
}
