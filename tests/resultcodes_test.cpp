// The result codes a run can log: every errno maps to a code that the code's table, the help
// file and the README all explain.
#include "platform/resultcodes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace mivex {
namespace {

// The part of a source file from `from` to the next `to` after it.
std::string sourcePart(const std::string& name, const std::string& from, const std::string& to) {
    std::ifstream in(std::string(MIVEX_SOURCE_DIR) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const std::size_t start = all.find(from);
    EXPECT_NE(start, std::string::npos) << name << " has no " << from;
    return start == std::string::npos ? "" : all.substr(start, all.find(to, start) - start);
}

// Code -> the meaning in its row, for every row of `text` matching `row` (code, meaning).
std::map<int, std::string> tableRows(const std::string& text, const std::regex& row) {
    std::map<int, std::string> rows;
    for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it) {
        rows[std::stoi((*it)[1])] = (*it)[2];
    }
    return rows;
}

TEST(ResultCodes, EveryLoggableCodeIsExplainedInTheHelpFileAndTheReadme) {
    std::set<int> known;
    for (int code = 1; code < 100000; ++code) {
        if (!describeCode(code).empty()) {
            known.insert(code);
        }
    }
    for (int err = 0; err < 256; ++err) {
        for (bool onSource : {false, true}) {
            const int code = codeFromErrno(err, onSource);
            EXPECT_TRUE(code == kSuccess || known.count(code))
                << "errno " << err << " gives " << code;
        }
    }

    const auto help =
        tableRows(sourcePart("help/mivex online help.html", "<a name=\"codes\">", "</table>"),
                  std::regex(R"(<tr><td>(\d+)</td><td>([^<]*))"));
    const auto readme = tableRows(sourcePart("README.md", "Result codes in the run log", "\n\n#"),
                                  std::regex(R"(\n\| (\d+) \| ([^|\n]+) \|)"));
    std::set<int> inHelp, inReadme;
    for (const auto& [code, meaning] : help) {
        inHelp.insert(code);
        // The help file gives the code's own words (1223 adds what the log says).
        EXPECT_EQ(meaning.rfind(describeCode(code), 0), 0u) << code << ": " << meaning;
    }
    for (const auto& [code, meaning] : readme) {
        inReadme.insert(code);
    }
    EXPECT_EQ(inHelp, known);
    EXPECT_EQ(inReadme, known);
}

}  // namespace
}  // namespace mivex
