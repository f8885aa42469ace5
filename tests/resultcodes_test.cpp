// The result codes a run can log: every errno maps to a code that the code's table, the help
// file and the README all explain.
#include "platform/resultcodes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>

namespace mivex {
namespace {

// The codes in the rows (code, meaning) matching `row` of a source file's part from `from` to the
// next `to`; each meaning must start with the code's own words when `ownWords`.
std::set<int> codesIn(const std::string& name, const std::string& from, const std::string& to,
                      const std::regex& row, bool ownWords) {
    std::ifstream in(std::string(MIVEX_SOURCE_DIR) + "/" + name);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    const std::size_t start = all.find(from);
    EXPECT_NE(start, std::string::npos) << name << " has no " << from;
    const std::string text = all.substr(start, all.find(to, start) - start);
    std::set<int> codes;
    for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it) {
        const int code = std::stoi((*it)[1]);
        codes.insert(code);
        EXPECT_TRUE(!ownWords || (*it)[2].str().starts_with(describeCode(code))) << (*it)[0];
    }
    return codes;
}

TEST(ResultCodes, EveryLoggableCodeIsExplainedInTheHelpFileAndTheReadme) {
    std::set<int> known;
    for (int code = 1; code < 100000; ++code) {
        if (!describeCode(code).empty()) {
            known.insert(code);
        }
    }
    for (int err = 0; err < 512; ++err) {  // each errno, on a source (>= 256) or not
        const int code = codeFromErrno(err % 256, err >= 256);
        EXPECT_TRUE(code == kSuccess || known.count(code)) << "errno " << err << " gives " << code;
    }
    // The help file gives the code's own words (1223 adds what the log says).
    EXPECT_EQ(codesIn("help/mivex online help.html", "<a name=\"codes\">", "</table>",
                      std::regex(R"(<tr><td>(\d+)</td><td>([^<]*))"), true),
              known);
    EXPECT_EQ(codesIn("README.md", "Result codes in the run log", "\n\n#",
                      std::regex(R"(\n\| (\d+) \| ([^|\n]+) \|)"), false),
              known);
}

}  // namespace
}  // namespace mivex
