// Every errno maps to a code that the help file and the README explain in the code's own words.
#include "platform/resultcodes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>

using namespace mivex;

namespace {

// Code -> meaning for each row matching `row` in a source file's part from `from` to the next `to`.
std::map<int, std::string> rowsOf(const char* name, const char* from, const char* to,
                                  const char* row) {
    std::ifstream in(std::string(MIVEX_SOURCE_DIR) + "/" + name);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    const std::size_t start = all.find(from);
    EXPECT_NE(start, std::string::npos) << name << " has no " << from;
    const std::string text = all.substr(start, all.find(to, start) - start);
    std::map<int, std::string> rows;
    const std::regex re(row);
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) {
        std::string words = (*it)[2];
        for (const auto& [entity, c] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
            words = std::regex_replace(words, std::regex(entity), c);
        }
        rows[std::stoi((*it)[1])] = words;
    }
    return rows;
}

}  // namespace

TEST(ResultCodes, EveryLoggableCodeIsExplainedInTheHelpFileAndTheReadme) {
    const auto help = rowsOf("help/mivex online help.html", "<a name=\"codes\">", "</table>",
                             R"(<tr><td>(\d+)</td><td>([^<]*))");
    const auto readme = rowsOf("README.md", "Result codes in the run log", "\n\n#",
                               R"(\n\| (\d+) \| ([^|\n]+) \|)");
    for (int code = 1; code < 100000; ++code) {  // a row for each code known, and for no other
        const std::string words(describeCode(code));
        const auto row = help.find(code);  // in the code's own words (1223 adds what the log says)
        EXPECT_EQ(row != help.end() && row->second.starts_with(words), !words.empty()) << code;
        EXPECT_EQ(readme.count(code), words.empty() ? 0u : 1u) << code;
    }
    for (int err = 0; err < 512; ++err) {  // each errno, on a source (>= 256) or not
        const int code = codeFromErrno(err % 256, err >= 256);
        EXPECT_TRUE(code == kSuccess || !describeCode(code).empty()) << err << " gives " << code;
    }
}
