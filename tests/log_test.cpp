// The run log: names, stamps, appending, many writers at once, a full disk, and a log path that
// someone replaced by a link or a FIFO.
#include "queue/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/unattended.h"

namespace mivex {
namespace {

using namespace test;

// The given local time, on 5 December 2026 unless told otherwise.
std::time_t localTime(int hour, int minute, int second, int year = 2026, int month = 12,
                      int day = 5) {
    // glibc's order: second, minute, hour, day, month, year, weekday, yearday, DST, offset, zone.
    std::tm parts{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return std::mktime(&parts);
}

TEST(RunLog, NamedByTheLocalDateAndStampedWithFourDigitYears) {
    EXPECT_EQ(logFileName(localTime(23, 59, 59)), "12052026-log.txt");
    EXPECT_EQ(logFileName(localTime(0, 0, 0, 2027, 1, 9)), "01092027-log.txt");
    EXPECT_EQ(logTimestamp(localTime(14, 3, 7)), "12/05/2026 14:03:07");
    EXPECT_EQ(logTimestamp(localTime(0, 0, 0)), "12/05/2026");
    EXPECT_EQ(logTimestamp(localTime(0, 0, 1)), "12/05/2026 00:00:01");
}

// A log left without a final CR LF (a crash) must not swallow the next run's first line; a run
// looks at the end once, before its first line only, and messages are written as they stand.
TEST(RunLog, RunStartsOnAFreshLineAfterATornEnd) {
    const std::string line = "12/05/2026 09:30:00\ttab\there  \r\n12/05/2026 09:30:00\t\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},           {"old\r\n", "old\r\n"}, {"torn", "torn\r\n"},
        {"x\r", "x\r\r\n"}, {"\n", "\n\r\n"},       {"\r\n\n", "\r\n\n\r\n"},
    };
    for (const auto& [before, kept] : cases) {
        SCOPED_TRACE(testing::PrintToString(before));
        TempDir dir;
        if (!before.empty()) {
            writeFile(dir / "log.txt", before);
        }
        for (int run = 0; run < 2; ++run) {
            RunLog log;
            log.setPath(dir / "log.txt");
            log.log("tab\there  ", localTime(9, 30, 0));
            log.log("", localTime(9, 30, 0));
            EXPECT_EQ(log.firstFailure(), "");
        }
        EXPECT_EQ(readFile(dir / "log.txt"), kept + line + line);
    }
    const TempDir other;
    RunLog unwritable;
    unwritable.setPath(other / "missing/log.txt");
    unwritable.log("lost");
    EXPECT_FALSE(exists(other / "missing"));
    RunLog unset;
    unset.log("lost too");
}

// The disk fills in the middle of a line: the piece written is cut off again, so the file ends
// in the last whole line, and the next line (the disk has room again) follows it directly.
TEST(RunLog, DiskFullInsideALineLeavesNoTornLine) {
    MIVEX_MOUNT_OR_SKIP(small, TmpfsMount, 64 * 1024);
    const std::string first = "12/05/2026 09:30:00\tfirst\r\n";
    RunLog log;
    log.setPath(small / "log.txt");
    log.log("first", localTime(9, 30, 0));
    // Fill every free block, so only the rest of the log's own last page takes bytes.
    const int fd = ::open((small / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
    log.log(std::string(20000, 'x'), localTime(9, 30, 0));
    EXPECT_EQ(readFile(small / "log.txt"), first);
    EXPECT_EQ(log.firstFailure(), "No space left on device");
    ASSERT_EQ(::unlink((small / "filler").c_str()), 0);
    RunLog next;
    next.setPath(small / "log.txt");
    next.log("second", localTime(9, 30, 0));
    EXPECT_EQ(readFile(small / "log.txt"), first + "12/05/2026 09:30:00\tsecond\r\n");
}

TEST(RunLog, ConcurrentWritersLeaveOnlyWholeLinesInTheirOrder) {
    TempDir dir;
    constexpr int kThreads = 4, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            RunLog log;
            log.setPath(dir / "log.txt");
            for (int i = 0; i < kLines; ++i) {
                log.log("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                        std::string(200, 'x'));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string content = readFile(dir / "log.txt");
    const std::regex form(R"(\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?\tthread (\d) line (\d+) x{200})");
    std::vector<int> nextLine(kThreads, 0);
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        std::smatch match;
        const std::string line = content.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(line, match, form)) << line;
        EXPECT_EQ(std::stoi(match[3]), nextLine[std::stoi(match[2])]++);
    }
    EXPECT_EQ(start, content.size());
    EXPECT_EQ(nextLine, std::vector<int>(kThreads, kLines));
}

// A link or a FIFO planted at the day's log name: the program must not append to (or create)
// what a link names, nor wait for a reader. The lines are lost, the run goes on, and standard
// error says so once.
TEST(RunLog, LogPathThatIsNoFileIsNotWritten) {
    TempDir src, elsewhere;
    writeFile(src / "f.txt", "f");
    writeFile(elsewhere / "victim.txt", "precious");
    const struct {
        std::function<int(const std::string&)> plant;
        const char* why;
    } planted[] = {
        {[&](const std::string& at) {
             return ::symlink((elsewhere / "victim.txt").c_str(), at.c_str());
         },
         "Too many levels of symbolic links"},
        {[](const std::string& at) { return ::mkfifo(at.c_str(), 0666); },
         "it is not a regular file"},
    };
    for (const auto& [plant, why] : planted) {
        SCOPED_TRACE(why);
        Unattended program;
        ASSERT_EQ(plant(program.logPath()), 0);
        removeTree(src / "out");
        const std::string failing = entry("C-N", src / "missing", src / "out");
        const ProcessResult result = runProcess(
            program.command(program.list({entry("C-N", src / "f.txt", src / "out"), failing})), 20);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.output, "mivex: line 2: " + failing +
                                     ": the source does not exist (code 2)\n"
                                     "mivex: the run log " +
                                     program.logPath() + " could not be written (" + why +
                                     "): lines of this run are missing\n"
                                     "mivex: 1 of 2 entries failed; the run log is " +
                                     program.logPath() + "\n");
        EXPECT_EQ(readFile(src / "out/f.txt"), "f");
        EXPECT_FALSE(S_ISREG(lstatOf(program.logPath()).st_mode));
    }
    RunLog dangling;
    dangling.setPath(elsewhere / "log.txt");
    ASSERT_EQ(::symlink((elsewhere / "created.txt").c_str(), dangling.path().c_str()), 0);
    dangling.log("a line");
    EXPECT_FALSE(exists(elsewhere / "created.txt"));
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "precious");
}

}  // namespace
}  // namespace mivex
