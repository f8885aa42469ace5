// The command line and the unattended run, through the real executable.
#include "run/commandline.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "platform/resultcodes.h"
#include "queue/log.h"
#include "queue/runfailure.h"
#include "run/display.h"
#include "run/ttyprogress.h"
#include "tests/testsupport.h"
#include "tests/unattended.h"

namespace mivex {
namespace {

using namespace test;

TEST(ArgumentText, AutoMarkerAndPathCut) {
    struct Case {
        std::string text;
        bool unattended;
        std::string path;
    };
    const Case cases[] = {
        {"/l/night.flq -auto", true, "/l/night.flq"},
        {"/l/night.flq -automatic", true, "/l/night.flq"},
        {"/l/night.flq -Auto", false, "/l/night.flq -Auto"},   // case matters
        {"-auto", false, "-auto"},                             // no blank before the hyphen
        {"/My -Lists/night.flq -auto", true, "/My"},           // cut at the first " -"
        {"\"/l/night.flq\" -auto", true, "\"/l/night.flq\""},  // quotes are characters
        {"/l/night.flq", false, "/l/night.flq"},
    };
    for (const Case& c : cases) {
        const CommandLine line = parseArgumentText(c.text);
        EXPECT_EQ(line.unattended, c.unattended) << c.text;
        EXPECT_EQ(line.listPath, c.path) << c.text;
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
    TempDir data;
};

// Failures are named as they happen, the rest of the list still runs, and what it copies matches
// `cp -a`; an unattended run never starts the window.
TEST_F(UnattendedRun, RealQueueMatchesCpAAndFailuresDoNotStopIt) {
    plantTree(data / "src", {"tree/a.txt=alpha", "tree/empty/", "tree/link->a.txt",
                             "report.doc=report", "old/c.txt=gamma", "bad/sub/x.txt=x"});
    makeTree(data / "src", {{"tree/sub/b.bin", randomBytes(300000, 1)}});
    ::chmod((data / "src/tree/a.txt").c_str(), 0600);
    ::chmod((data / "src/tree/sub").c_str(), 0750);
    ASSERT_EQ(::mkfifo((data / "src/bad/sub/pipe").c_str(), 0644), 0);
    ASSERT_EQ(runProcess({"cp", "-a", data / "src", data / "reference"}).exitCode, 0);
    plantTree(data / "dst", {"report.doc=existing", "old/keep.txt=kept"});
    writeFile(prog / "mivex-gui", "#!/bin/sh\ntouch \"$0.started\"\n", 0755);
    const std::vector<std::string> rows = {
        entry("C-O", data / "src/tree", data / "dst"),
        entry("C-N", data / "src/report.doc", data / "dst"),
        entry("C-N", data / "src/bad", data / "src/bad/sub"),  // into its own subfolder
        entry("C-N", data / "src/bad/sub", data / "out"),      // holds a FIFO
        "no entry at all",
        entry("M-O", data / "src/old", data / "dst"),
        entry("M-N", data / "src/tree/sub", data / "dst/new/deeper"),
    };
    const auto result = run(list(rows));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output,
              "mivex: line 3: " + rows[2] +
                  ": a folder cannot be copied or moved into itself or one of its subfolders "
                  "(code 118)\n"
                  "mivex: line 4: " +
                  rows[3] +
                  ": a FIFO, socket or device file cannot be copied or moved (code 1920)\n"
                  "mivex: line 5: no entry at all: the line is not a queue entry (\"C-N --> "
                  "source --> destination folder\")\n"
                  "mivex: 3 of 7 entries failed; the run log is " +
                  logPath() + "\n");

    // The tree was copied before its subfolder moved away.
    expectSame(data / "reference/tree", data / "dst/tree");
    expectSame(data / "reference/tree/sub", data / "dst/new/deeper/sub");
    EXPECT_EQ(
        listTree(data / "src"),
        (std::vector<std::string>{"bad/", "bad/sub/", "bad/sub/pipe", "bad/sub/x.txt", "report.doc",
                                  "tree/", "tree/a.txt", "tree/empty/", "tree/link"}));
    EXPECT_EQ(readFile(data / "dst/report.doc"), "existing");
    EXPECT_EQ(readFile(data / "dst/report - Copy.doc"), "report");
    EXPECT_EQ(readFile(data / "dst/old/c.txt"), "gamma");
    EXPECT_EQ(readFile(data / "dst/old/keep.txt"), "kept");
    EXPECT_FALSE(exists(prog / "mivex-gui.started"));

    const char* ends[] = {"was successful",
                          "was successful",
                          "did not copy - Something broke... sorry. Error code is 118.",
                          "did not copy - Something broke... sorry. Error code is 1920.",
                          "did not copy - This line is not a queue entry (expected \"C-N --> "
                          "source --> destination folder\")",
                          "was successful",
                          "was successful"};
    std::string expected;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        expected += std::string("stamp\t") + (ends[i][0] == 'd' ? "*** ERROR *** " : "") + rows[i] +
                    " " + ends[i] + "\r\n";
    }
    EXPECT_EQ(std::regex_replace(readFile(logPath()), std::regex("[^\t\n]+\t"), "stamp\t"),
              expected);
}

TEST_F(UnattendedRun, BadListsEndWithStatusTwoSayWhyAndLogNothing) {
    std::filesystem::create_directory(data / "folder.flq");
    writeFile(data / "empty.flq", "");
    writeFile(data / "binary.flq", std::string(1, 0x7f) + "ELF" + randomBytes(4096, 3));
    writeFile(data / "nosep.flq", "just some text\r\nC-N --> /a --> /b\r\n");
    std::string tooLong;
    for (int i = 0; i <= 32767; ++i) {
        tooLong += entry("C-N", data / "missing", data / "out") + "\r\n";
    }
    writeFile(data / "long.flq", tooLong);
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
// display; anything else keeps its meaning: the window, missing at first, then a stand-in.
TEST_F(UnattendedRun, HelpVersionOrTheWindowByTheWholeCommandLine) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--help"}, "Usage: mivex "}, {{"-h"}, "Usage: mivex "},
        {{"--version"}, "Mivex 1."},   {{"--HELP"}, ""},
        {{"--help", "extra"}, ""},     {{"-help"}, ""},
        {{"--version", "-auto"}, ""},  // an unattended run of a list called "--version"
    };
    for (const auto& [args, outStart] : cases) {
        std::vector<std::string> argv = {exe()};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto result = runProcess(argv);
        SCOPED_TRACE(argv.back() + ": " + result.output);
        EXPECT_EQ(result.exitCode, outStart.empty() ? 2 : 0);
        EXPECT_TRUE(result.out.starts_with(outStart));
        EXPECT_NE(outStart.empty() ? result.err : result.out, "");
        EXPECT_EQ(outStart.empty() ? result.out : result.err, "");
    }
    const auto help = runProcess({exe(), "--help"});
    for (const char* topic : {" -auto", "C-N --> ", "Exit status", "MMDDYYYY-log.txt"}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
    const std::string version = runProcess({exe(), "--version"}).out;
    EXPECT_EQ(version.find('\n'), version.size() - 1);  // one line
    // Output that cannot be written is not a success.
    EXPECT_EQ(runProcess({"sh", "-c", "\"$0\" --help >/dev/full", exe()}).exitCode, 1);
    const auto alone = runProcess({exe(), data / "night.flq"});
    EXPECT_NE(alone.err.find("cannot start the window"), std::string::npos) << alone.output;
    // The window is a program of its own beside `mivex`; a stand-in shows what it was given.
    writeFile(prog / "mivex-gui", "#!/bin/sh\necho \"window: $*\"\n", 0755);
    const auto started = runProcess({exe(), data / "a list.flq", "extra"});
    EXPECT_EQ(started.exitCode, 0);
    EXPECT_EQ(started.output, "window: " + data / "a list.flq" + " extra\n");
}

TEST_F(UnattendedRun, PermissionDeniedForAnUnprivilegedUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    TempDir state;
    ::chmod(state.path().c_str(), 0777);
    makeTree(data.path(), {{"src/secret.txt", "s"}, {"src/open.txt", "o"}, {"out/", ""}});
    ::chmod((data / "src/secret.txt").c_str(), 0000);
    ::chmod((data / "src").c_str(), 0755);
    ::chmod((data / "out").c_str(), 0777);
    const std::vector<std::string> rows = {
        entry("M-N", data / "src/secret.txt", data / "out"),  // folder not writable
        entry("C-N", data / "src/secret.txt", data / "out"),  // file not readable
        entry("C-N", data / "src/open.txt", data / "out"),
    };
    const std::string listPath = list(rows);
    ::chmod(listPath.c_str(), 0644);
    const std::vector<std::string> argv = {"env", "XDG_STATE_HOME=" + state.path(), exe(), listPath,
                                           "-auto"};
    const auto result = runProcess(argv, 60, true);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(readFile(data / "out/open.txt"), "o");
    EXPECT_EQ(listTree(data / "out"), std::vector<std::string>{"open.txt"});
    // The program folder is not writable by that user: the log goes to the per-user folder.
    EXPECT_FALSE(exists(logPath()));
    const std::string userLog = state / ("mivex/" + logFileName(std::time(nullptr)));
    const std::string log = readFile(userLog);
    for (const std::string& denied : {rows[0], rows[1]}) {
        EXPECT_NE(log.find(denied + " did not copy - Something broke... sorry. Error code is 5."),
                  std::string::npos)
            << log;
    }
    EXPECT_NE(log.find(rows[2] + " was successful"), std::string::npos) << log;
    EXPECT_NE(result.err.find("mivex: line 2: " + rows[1] +
                              ": access denied: a file or folder could not be read or written "
                              "(code 5)\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(result.err.ends_with("2 of 3 entries failed; the run log is " + userLog + "\n"))
        << result.err;
    // A list this user may not read is named as such.
    ::chmod(listPath.c_str(), 0600);
    EXPECT_EQ(
        runProcess(argv, 60, true).output,
        "mivex: " + listPath + ": the list cannot be read (Permission denied); nothing was run\n");
}

TEST(FailureLine, NamesLineEntryAndReasonInPrintableText) {
    const std::pair<RunFailure, std::string> cases[] = {
        {{2, "C-N --> /a --> /b", 2},
         "line 2: C-N --> /a --> /b: the source does not exist (code 2)"},
        {{7, "C-O --> /a\x1b[2J\t --> /b", 1223},
         "line 7: C-O --> /a\\x1b[2J\\x09 --> /b: not enough free space on the destination drive "
         "(or over quota) (code 1223)"},
        {{3, "", kNotAnEntry},
         "line 3: the line is not a queue entry (\"C-N --> source --> destination folder\")"},
        {{1, "x\x7f", 9999}, "line 1: x\\x7f: error code 9999"},
    };
    for (const auto& [failure, text] : cases) {
        EXPECT_EQ(describeFailure(failure), text);
    }
    // The window's details: every failure, a stop, and the log, whose path is shown as safely.
    EXPECT_EQ(describeRun({cases[0].first, cases[2].first}, true, "/l/\x1b.txt"),
              cases[0].second + "\n" + cases[2].second +
                  "\nThe run was stopped; the rest of the queue was not carried out.\n\nRun log: "
                  "/l/\\x1b.txt");
    EXPECT_EQ(describeRun({cases[0].first}, false, ""),
              cases[0].second + "\n\nThis run has no log.");
}

TEST(Display, NeededOnlyForXcbAndWaylandAndFoundInEitherVariable) {
    const struct {
        const char *platform, *display, *wayland;
        bool available;
    } cases[] = {
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
    for (const auto& c : cases) {
        EXPECT_EQ(displayAvailable(c.platform, c.display, c.wayland), c.available)
            << (c.platform ? c.platform : "-") << (c.display ? c.display : "-")
            << (c.wayland ? c.wayland : "-");
    }
}

// The real window program with no display: one line that says what to do, never a Qt abort.
TEST(Display, WindowWithoutOneSaysSoAndEndsWithStatusTwo) {
    const std::string folder = std::filesystem::path(MIVEX_EXE).parent_path();
    if (!exists(folder + "/mivex-gui")) {
        GTEST_SKIP() << "built without the window";
    }
    // The last one: help needs no display, in the window program too.
    const std::vector<std::vector<std::string>> commands = {
        {"-u", "QT_QPA_PLATFORM", MIVEX_EXE},
        {"-u", "QT_QPA_PLATFORM", MIVEX_EXE, "/tmp/night.flq"},
        {"QT_QPA_PLATFORM=xcb", folder + "/mivex-gui", "--help", "me"},
        {"-u", "QT_QPA_PLATFORM", folder + "/mivex-gui", "--help"},
    };
    for (const auto& tail : commands) {
        std::vector<std::string> argv = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
        argv.insert(argv.end(), tail.begin(), tail.end());
        const auto result = runProcess(argv);
        const bool help = &tail == &commands.back();
        EXPECT_EQ(result.exitCode, help ? 0 : 2) << result.output;
        EXPECT_EQ(help ? result.out.substr(0, 13) : result.output,
                  help ? "Usage: mivex " : kNoDisplayMessage);
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

// On a terminal the run draws its line in place and ends it; elsewhere it stays silent.
TEST_F(UnattendedRun, ProgressLineOnlyOnATerminal) {
    makeTree(data / "src", {{"big.bin", randomBytes(2000000, 3)}});
    const std::string listPath = list({entry("C-N", data / "src/big.bin", data / "out")});
    const auto plain = run(listPath);
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.output, "");
    if (runProcess({"sh", "-c", "command -v script"}).exitCode != 0) {
        GTEST_SKIP() << "needs script(1) for a terminal";
    }
    const auto tty =
        runProcess({"script", "-qec", exe() + " '" + listPath + "' -auto", "/dev/null"}, 120);
    EXPECT_EQ(tty.exitCode, 0);
    EXPECT_NE(tty.output.find("\rEntry 1 of 1: 1.9 MB of 1.9 MB"), std::string::npos) << tty.output;
    EXPECT_EQ(tty.output.back(), '\n');

    // A failure's line replaces the progress line whole, and the progress line comes back.
    const std::string failing = list({entry("C-N", data / "src/big.bin", data / "out2"),
                                      entry("C-N", data / "src/gone.bin", data / "out2")},
                                     "failing.flq");
    const auto mixed =
        runProcess({"script", "-qec", exe() + " '" + failing + "' -auto", "/dev/null"}, 120);
    EXPECT_EQ(mixed.exitCode, 1);
    std::smatch wiped;
    ASSERT_TRUE(std::regex_search(mixed.output, wiped,
                                  std::regex("\r(Entry 1 of 2: [^\r]*)\r( +)\rmivex: line 2: ")))
        << mixed.output;
    EXPECT_EQ(wiped[1].length(), wiped[2].length());
    EXPECT_NE(mixed.output.find("\rEntry 2 of 2: ", wiped.position(0)), std::string::npos);
}

}  // namespace
}  // namespace mivex
