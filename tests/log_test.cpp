// The run log: file names, line stamps, appending, lines written from many threads at once, and a
// log path that someone replaced by a link or a FIFO.
#include "queue/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/unattended.h"

namespace mivex {
namespace {

using test::readFile;
using test::TempDir;

std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

// Sets LC_TIME for one test and puts back what was there.
class TimeLocale {
public:
    explicit TimeLocale(const char* name) : mOld(std::setlocale(LC_TIME, nullptr)) {
        mOk = std::setlocale(LC_TIME, name) != nullptr;
    }
    ~TimeLocale() { std::setlocale(LC_TIME, mOld.c_str()); }
    bool ok() const { return mOk; }

private:
    std::string mOld;
    bool mOk = false;
};

TEST(RunLog, FileIsNamedByTheLocalDate) {
    EXPECT_EQ(logFileName(localTime(2026, 12, 5, 23, 59, 59)), "12052026-log.txt");
    EXPECT_EQ(logFileName(localTime(2027, 1, 9, 0, 0, 0)), "01092027-log.txt");
}

TEST(RunLog, PlainLocalesStampWithFourDigitYears) {
    for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
        SCOPED_TRACE(name);
        TimeLocale locale(name);
        if (!locale.ok()) {
            continue;
        }
        EXPECT_EQ(logTimestamp(localTime(2026, 12, 5, 14, 3, 7)), "12/05/2026 14:03:07");
        EXPECT_EQ(logTimestamp(localTime(2026, 12, 5, 0, 0, 0)), "12/05/2026");
        EXPECT_EQ(logTimestamp(localTime(2026, 12, 5, 0, 0, 1)), "12/05/2026 00:00:01");
    }
}

TEST(RunLog, LinesAppendInOrderWithMessagesUnchanged) {
    TempDir dir;
    TimeLocale locale("C");
    const std::time_t when = localTime(2026, 12, 5, 9, 30, 0);
    RunLog first;
    first.setPath(dir / "log.txt");
    first.log("C-N --> /a --> /b was successful", when);
    RunLog second;
    second.setPath(dir / "log.txt");
    second.log("tab\there, trailing spaces  ", when);
    second.log("", when);
    EXPECT_EQ(readFile(dir / "log.txt"),
              "12/05/2026 09:30:00\tC-N --> /a --> /b was successful\r\n"
              "12/05/2026 09:30:00\ttab\there, trailing spaces  \r\n"
              "12/05/2026 09:30:00\t\r\n");
}

TEST(RunLog, UnwritableLogIsSilentlySkipped) {
    TempDir dir;
    RunLog log;
    log.setPath(dir / "missing/log.txt");
    log.log("lost");
    EXPECT_FALSE(test::exists(dir / "missing"));

    RunLog unset;
    unset.log("lost too");  // no path at all
}

// A log left without a final CR LF (a crash, an older program) must not swallow the next run's
// first line; one run checks the end once, before its first line only.
TEST(RunLog, RunStartsOnAFreshLineAfterATornEnd) {
    TimeLocale locale("C");
    const std::time_t when = localTime(2026, 12, 5, 9, 30, 0);
    const std::string line = "12/05/2026 09:30:00\tm\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},           {"old\r\n", "old\r\n"}, {"torn", "torn\r\n"},
        {"x\r", "x\r\r\n"}, {"\n", "\n\r\n"},       {"\r\n\n", "\r\n\n\r\n"},
    };
    for (const auto& [before, kept] : cases) {
        SCOPED_TRACE(testing::PrintToString(before));
        TempDir dir;
        if (!before.empty()) {
            test::writeFile(dir / "log.txt", before);
        }
        RunLog log;
        log.setPath(dir / "log.txt");
        log.log("m", when);
        log.log("m", when);
        EXPECT_EQ(readFile(dir / "log.txt"), kept + line + line);
        EXPECT_EQ(log.firstFailure(), "");
    }
}

// The disk fills in the middle of a line: the piece written is cut off again, so the file ends
// in the last whole line, and the next line (the disk has room again) follows it directly.
TEST(RunLog, DiskFullInsideALineLeavesNoTornLine) {
    test::TmpfsMount small(64 * 1024);
    if (!small.ok()) {
        GTEST_SKIP() << small.reason();
    }
    TimeLocale locale("C");
    const std::time_t when = localTime(2026, 12, 5, 9, 30, 0);
    RunLog log;
    log.setPath(small / "log.txt");
    log.log("first", when);
    const std::string before = readFile(small / "log.txt");
    ASSERT_EQ(before, "12/05/2026 09:30:00\tfirst\r\n");
    // Fill every free block, so only the rest of the log's own last page takes bytes.
    {
        const int fd = ::open((small / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    log.log(std::string(20000, 'x'), when);
    EXPECT_EQ(readFile(small / "log.txt"), before);
    EXPECT_EQ(log.firstFailure(), "No space left on device");

    ASSERT_EQ(::unlink((small / "filler").c_str()), 0);
    RunLog next;
    next.setPath(small / "log.txt");
    next.log("second", when);
    EXPECT_EQ(readFile(small / "log.txt"), before + "12/05/2026 09:30:00\tsecond\r\n");
}

TEST(RunLog, ConcurrentWritersLeaveOnlyWholeLines) {
    TempDir dir;
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
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
    int count = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2, ++count) {
        const std::string line = content.substr(start, end - start);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, form)) << line;
        // Each writer's lines keep their own order.
        const int thread = std::stoi(match[2]);
        EXPECT_EQ(std::stoi(match[3]), nextLine[thread]++);
    }
    EXPECT_EQ(start, content.size());
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace mivex

using namespace mivex;
using namespace mivex::test;

// Something other than a log file planted at the day's log name in the program folder: the
// program must not append to (or create) whatever a link names, nor wait for a FIFO's reader. The
// lines are lost, the run goes on, and standard error says so once.
TEST(RunLog, LogPathThatIsNoFileIsNotWritten) {
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
        const std::string failing = entry("C-N", src / "missing", src / "out");
        const ProcessResult result = runProcess(
            program.command(program.list({entry("C-N", src / "f.txt", src / "out"), failing})), 20);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 1);
        // Said once for the run, not once per lost line, between the failed entry's line and the
        // run's last line.
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
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "precious");

    RunLog dangling;
    dangling.setPath(elsewhere / "log.txt");
    ASSERT_EQ(::symlink((elsewhere / "created.txt").c_str(), dangling.path().c_str()), 0);
    dangling.log("a line");
    EXPECT_FALSE(exists(elsewhere / "created.txt"));
    EXPECT_EQ(readFile(elsewhere / "victim.txt"), "precious");
}
