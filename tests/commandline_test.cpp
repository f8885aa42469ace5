// The command line and the unattended run, through the real executable.
#include "run/commandline.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "platform/resultcodes.h"
#include "queue/runfailure.h"
#include "run/display.h"
#include "run/ttyprogress.h"
#include "tests/unattended.h"

namespace mivex {
namespace {

using namespace test;
using Names = std::vector<std::string>;

TEST(ArgumentText, AutoMarkerAndPathCut) {
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"/l/night.flq -auto", true, "/l/night.flq"},
        {"/l/night.flq -automatic", true, "/l/night.flq"},
        {"/l/night.flq -Auto", false, "/l/night.flq -Auto"},   // case matters
        {"-auto", false, "-auto"},                             // no blank before the hyphen
        {"/My -Lists/night.flq -auto", true, "/My"},           // cut at the first " -"
        {"\"/l/night.flq\" -auto", true, "\"/l/night.flq\""},  // quotes are characters
        {"/l/night.flq", false, "/l/night.flq"},
    };
    for (const auto& [text, unattended, path] : cases) {
        const CommandLine line = parseArgumentText(text);
        EXPECT_EQ(std::tie(line.unattended, line.listPath), std::tie(unattended, path)) << text;
    }
    const char* argv[] = {"mivex", "/a b/l.flq", "-auto"};
    EXPECT_EQ(argumentText(3, argv), "/a b/l.flq -auto");
}

// The program in a folder of its own; an unprivileged user can reach the lists and the data.
class UnattendedRun : public ::testing::Test, protected Unattended {
protected:
    void SetUp() override {
        ::chmod(lists.path().c_str(), 0755);
        ::chmod(data.path().c_str(), 0777);
    }
    // A run of `rows`, each with the code it ends with: the status, every failure said with its
    // line and the summary naming `log`, and one line in that log for each row.
    static void expectRun(const ProcessResult& result, const Names& rows,
                          const std::vector<int>& codes, const std::string& log) {
        std::string said, logged;
        int failures = 0;
        for (std::size_t line = 1; const int code : codes) {
            const std::string& row = rows[line - 1];
            failures += code != 0;
            said += code ? "mivex: " + describeFailure({line, row, code}) + "\n" : "";
            logged += "stamp\t" + std::string(code ? "*** ERROR *** " : "") + row;
            logged += code == 0             ? " was successful\r\n"
                      : code == kNotAnEntry ? " did not copy - This line is not a queue entry "
                                              "(expected \"C-N --> source --> destination "
                                              "folder\")\r\n"
                                            : " did not copy - Something broke... sorry. Error "
                                              "code is " +
                                                  std::to_string(code) + ".\r\n";
            ++line;
        }
        EXPECT_EQ(result.exitCode, failures ? 1 : 0);
        EXPECT_EQ(result.output, said + "mivex: " + std::to_string(failures) + " of " +
                                     std::to_string(rows.size()) +
                                     " entries failed; the run log is " + log + "\n");
        EXPECT_EQ(std::regex_replace(readFile(log), std::regex("[^\t\n]+\t"), "stamp\t"), logged);
    }
    TempDir data;
};

// Failures are named as they happen, the rest of the list still runs, and what it copies matches
// `cp -a`; an unattended run never starts the window.
TEST_F(UnattendedRun, RealQueueMatchesCpAAndFailuresDoNotStopIt) {
    plantTree(data / "src", {"tree/a.txt=alpha", "tree/empty/", "tree/link->a.txt",
                             "tree/sub/b.bin=" + randomBytes(300000, 1), "report.doc=report",
                             "old/c.txt=gamma", "bad/sub/x.txt=x"});
    ::chmod((data / "src/tree/a.txt").c_str(), 0600);
    ::chmod((data / "src/tree/sub").c_str(), 0750);
    ASSERT_EQ(::mkfifo((data / "src/bad/sub/pipe").c_str(), 0644), 0);
    ASSERT_EQ(runProcess({"cp", "-a", data / "src", data / "reference"}).exitCode, 0);
    plantTree(data / "dst", {"report.doc=existing", "old/keep.txt=kept"});
    writeFile(prog / "mivex-gui", "#!/bin/sh\ntouch \"$0.started\"\n", 0755);
    const Names rows = {
        entry("C-O", data / "src/tree", data / "dst"),
        entry("C-N", data / "src/report.doc", data / "dst"),
        entry("C-N", data / "src/bad", data / "src/bad/sub"),  // into its own subfolder
        entry("C-N", data / "src/bad/sub", data / "out"),      // holds a FIFO
        "no entry\x1b[2J at all",                              // said in printable text
        entry("M-O", data / "src/old", data / "dst"),
        entry("M-N", data / "src/tree/sub", data / "dst/new/deeper"),
    };
    expectRun(run(list(rows)), rows, {0, 0, 118, 1920, kNotAnEntry, 0, 0}, logPath());
    // The tree was copied before its subfolder moved away.
    expectSame(data / "reference/tree", data / "dst/tree");
    expectSame(data / "reference/tree/sub", data / "dst/new/deeper/sub");
    EXPECT_EQ(listTree(data / "src"),
              (Names{"bad/", "bad/sub/", "bad/sub/pipe", "bad/sub/x.txt", "report.doc", "tree/",
                     "tree/a.txt", "tree/empty/", "tree/link"}));
    EXPECT_EQ(describeTree(data / "dst/old"), (Names{"c.txt=gamma", "keep.txt=kept"}));
    EXPECT_EQ(readFile(data / "dst/report.doc"), "existing");
    EXPECT_EQ(readFile(data / "dst/report - Copy.doc"), "report");
    EXPECT_FALSE(exists(prog / "mivex-gui.started"));
}

TEST_F(UnattendedRun, BadListsEndWithStatusTwoSayWhyAndLogNothing) {
    std::string tooLong;
    for (int i = 0; i <= 32767; ++i) {
        tooLong += entry("C-N", data / "missing", data / "out") + "\r\n";
    }
    plantTree(data.path(), {"folder.flq/", "empty.flq=", "long.flq=" + tooLong,
                            "binary.flq=\x7f"
                            "ELF" +
                                randomBytes(4096, 3),
                            "nosep.flq=just some text\r\nC-N --> /a --> /b\r\n"});
    const std::string notAList =
        "the file is not a queue list: its first line is not an entry such as \"C-N --> source "
        "--> destination folder\"";
    const std::pair<std::string, std::string> cases[] = {
        {"missing.flq", "the list does not exist"},
        {"missing.flq/x.flq", "the list does not exist"},
        {"folder.flq", "the list is a folder"},
        {"empty.flq", notAList},
        {"binary.flq", notAList},
        {"nosep.flq", notAList},
        {"long.flq", "the list has more than 32767 lines, more than a queue holds"},
    };
    for (const auto& [name, why] : cases) {
        const auto result = run(data / name);
        EXPECT_EQ(result.exitCode, 2) << name;
        EXPECT_EQ(result.output, "mivex: " + data / name + ": " + why + "; nothing was run\n");
    }
    EXPECT_FALSE(exists(logPath()));
}

// Exactly `--help`, `-h` and `--version` answer on standard output, with no list and no
// display; anything else keeps its meaning: the window (a stand-in beside the copy), or without
// a display one line that says what to do, never a Qt abort.
TEST_F(UnattendedRun, HelpVersionOrTheWindowByTheWholeCommandLine) {
    EXPECT_TRUE(runProcess({exe(), "x.flq"}).err.starts_with("mivex: cannot start the window ("));
    writeFile(prog / "mivex-gui", "#!/bin/sh\necho \"window: $*\"\n", 0755);
    const std::string built = std::filesystem::path(MIVEX_EXE).parent_path();
    const auto bare = [](Names tail) {
        tail.insert(tail.begin(), {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"});
        return tail;
    };
    // The command, its status, and how its standard output and error begin ("": empty).
    const std::tuple<Names, int, std::string, std::string> cases[] = {
        {{exe(), "--help"}, 0, "Usage: mivex ", ""},
        {{exe(), "-h"}, 0, "Usage: mivex ", ""},
        {{exe(), "--version"}, 0, "Mivex 1.", ""},
        {{exe(), "--HELP"}, 0, "window: --HELP\n", ""},
        {{exe(), "--help", "extra"}, 0, "window: --help extra\n", ""},
        {{exe(), "-help"}, 0, "window: -help\n", ""},
        {{exe(), data / "a list.flq", "extra"}, 0, "window: " + data / "a list.flq extra\n", ""},
        {{exe(), "--version", "-auto"}, 2, "", "mivex: --version: the list does not exist"},
        {bare({"-u", "QT_QPA_PLATFORM", MIVEX_EXE}), 2, "", kNoDisplayMessage},
        {bare({"-u", "QT_QPA_PLATFORM", MIVEX_EXE, "/l.flq"}), 2, "", kNoDisplayMessage},
        {bare({"QT_QPA_PLATFORM=xcb", built + "/mivex-gui", "--help", "me"}), 2, "",
         kNoDisplayMessage},
        {bare({"-u", "QT_QPA_PLATFORM", built + "/mivex-gui", "--help"}), 0, "Usage: mivex ", ""},
    };
    for (const auto& [argv, status, out, err] : cases) {
        if (argv[0] == "env" && !exists(built + "/mivex-gui")) {
            continue;  // built without the window
        }
        const auto result = runProcess(argv);
        SCOPED_TRACE(argv.back() + ": " + result.output);
        EXPECT_EQ(result.exitCode, status);
        EXPECT_EQ(result.out.substr(0, out.empty() ? std::string::npos : out.size()), out);
        EXPECT_EQ(result.err.substr(0, err.empty() ? std::string::npos : err.size()), err);
    }
    const std::string version = runProcess({exe(), "--version"}).out;
    EXPECT_EQ(version.find('\n'), version.size() - 1);  // one line
    // Output that cannot be written is not a success.
    EXPECT_EQ(runProcess({"sh", "-c", "\"$0\" --help >/dev/full", exe()}).exitCode, 1);
}

TEST_F(UnattendedRun, PermissionDeniedForAnUnprivilegedUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    TempDir state;
    ::chmod(state.path().c_str(), 0777);
    plantTree(data.path(), {"src/secret.txt=s", "src/open.txt=o", "out/"});
    ::chmod((data / "src/secret.txt").c_str(), 0000);
    ::chmod((data / "src").c_str(), 0755);
    ::chmod((data / "out").c_str(), 0777);
    const Names rows = {
        entry("M-N", data / "src/secret.txt", data / "out"),  // folder not writable
        entry("C-N", data / "src/secret.txt", data / "out"),  // file not readable
        entry("C-N", data / "src/open.txt", data / "out"),
    };
    const std::string listPath = list(rows);
    ::chmod(listPath.c_str(), 0644);
    const Names argv = {"env", "XDG_STATE_HOME=" + state.path(), exe(), listPath, "-auto"};
    const auto result = runProcess(argv, 60, true);
    EXPECT_EQ(describeTree(data / "out"), Names{"open.txt=o"});
    // The program folder is not writable by that user: the log goes to the per-user folder.
    EXPECT_FALSE(exists(logPath()));
    expectRun(result, rows, {5, 5, 0}, state / ("mivex/" + logFileName(std::time(nullptr))));
    // A list this user may not read is named as such.
    ::chmod(listPath.c_str(), 0600);
    EXPECT_EQ(
        runProcess(argv, 60, true).output,
        "mivex: " + listPath + ": the list cannot be read (Permission denied); nothing was run\n");
}

// What the runs above cannot show: an unknown code, a blank line, a stop and no log.
TEST(FailureLine, UnknownCodeBlankLineStopAndNoLog) {
    EXPECT_EQ(
        describeRun({{1, "x\x7f\t", 9999}, {3, "", kNotAnEntry}}, true, "/l/\x1b.txt"),
        "line 1: x\\x7f\\x09: error code 9999\nline 3: the line is not a queue entry (\"C-N "
        "--> source --> destination folder\")\nThe run was stopped; the rest of the queue was "
        "not carried out.\n\nRun log: /l/\\x1b.txt");
    EXPECT_EQ(describeRun({}, false, ""), "\nThis run has no log.");
}

TEST(Display, NeededOnlyForXcbAndWaylandAndFoundInEitherVariable) {
    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {nullptr, nullptr, nullptr, false},
        {"", "", "", false},  // set but empty is no display
        {"xcb", nullptr, nullptr, false},
        {"wayland;xcb", nullptr, nullptr, false},
        {"wayland-egl", nullptr, nullptr, false},
        {"xcb:nomitshm", nullptr, nullptr, false},
        {nullptr, ":0", nullptr, true},
        {nullptr, nullptr, "wayland-0", true},
        {"xcb", ":1", nullptr, true},
        {"offscreen", nullptr, nullptr, true},  // the window tests' platform
        {"vnc:size=800x600", nullptr, nullptr, true},
        {"wayland;offscreen", nullptr, nullptr, true},
    };
    for (const auto& [platform, display, wayland, available] : cases) {
        EXPECT_EQ(displayAvailable(platform, display, wayland), available)
            << (platform ? platform : "-") << (display ? display : "-")
            << (wayland ? wayland : "-");
    }
}

// The one byte formatter, of the window's progress and the terminal's, at each unit's edges.
TEST(TtyProgressLine, UnitsAndSpeed) {
    const std::pair<std::uint64_t, const char*> counts[] = {
        {0, "0 bytes"},         {1023, "1023 bytes"},    {1024, "1.0 KB"},
        {1048524, "1023.9 KB"},  // the last count below the next unit
        {1048525, "1.0 MB"},     // 1023.95 KB would be written "1024.0 KB"
        {1048575, "1.0 MB"},    {1536 * 1024, "1.5 MB"}, {(1ULL << 30) - 1, "1.0 GB"},
        {5ULL << 40, "5.0 TB"}, {~0ULL, "16.0 EB"},
    };
    for (const auto& [bytes, text] : counts) {
        EXPECT_EQ(formatBytes(bytes), text) << bytes;
    }
    EXPECT_EQ(formatProgressLine(2, 5, 1536 * 1024, 4 << 20, 12.0 * (1 << 20)),
              "Entry 2 of 5: 1.5 MB of 4.0 MB, 12.0 MB/s");
    EXPECT_EQ(formatProgressLine(1, 1, 0, 10, -1), "Entry 1 of 1: 0 bytes of 10 bytes");
}

// On a terminal the run draws its line in place, a failure's line replaces it whole, the line
// comes back and is ended at the end (elsewhere the run is silent: see the run above).
TEST_F(UnattendedRun, ProgressLineOnATerminal) {
    if (runProcess({"sh", "-c", "command -v script"}).exitCode != 0) {
        GTEST_SKIP() << "needs script(1) for a terminal";
    }
    plantTree(data / "src", {"big.bin=" + randomBytes(2000000, 3)});
    const std::string failing = list({entry("C-N", data / "src/big.bin", data / "out"),
                                      entry("C-N", data / "src/gone.bin", data / "out"),
                                      entry("C-N", data / "src/big.bin", data / "out2")});
    const auto tty =
        runProcess({"script", "-qec", exe() + " '" + failing + "' -auto", "/dev/null"}, 120);
    EXPECT_EQ(tty.exitCode, 1);
    std::smatch wiped;
    ASSERT_TRUE(std::regex_search(tty.output, wiped,
                                  std::regex("\r(Entry 1 of 3: [^\r]*)\r( +)\rmivex: line 2: ")))
        << tty.output;
    EXPECT_EQ(wiped[1].length(), wiped[2].length());
    EXPECT_TRUE(std::regex_search(
        tty.output, std::regex("\rEntry 3 of 3: 1\\.9 MB of 1\\.9 MB[^\r\n]*\r?\nmivex: 1 of 3 ")))
        << tty.output;
}

}  // namespace
}  // namespace mivex
