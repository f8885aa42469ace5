// The run log: file names, line stamps, appending, and lines written from many threads at once.
#include "queue/log.h"

#include <gtest/gtest.h>

#include <clocale>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/testsupport.h"

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
