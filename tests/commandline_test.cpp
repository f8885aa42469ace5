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

using test::exists;
using test::readFile;
using test::runProcess;
using test::TempDir;
using test::writeFile;

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
    EXPECT_EQ(argumentText(1, argv), "");
}

// A program folder of its own per test, holding a copy of the executable, so the run log lands
// where the test can read it, and so an unprivileged user can run it.
class UnattendedRun : public ::testing::Test, protected test::Unattended {
protected:
    void SetUp() override {
        // An unprivileged run must reach the lists and the data.
        ::chmod(lists.path().c_str(), 0755);
        ::chmod(data.path().c_str(), 0777);
    }

    TempDir data;
};

TEST_F(UnattendedRun, RealQueueMatchesCpAByteForByte) {
    test::makeTree(data / "src", {{"tree/a.txt", "alpha"},
                                  {"tree/sub/b.bin", test::randomBytes(300000, 1)},
                                  {"tree/empty/", ""},
                                  {"report.doc", "report"},
                                  {"old/c.txt", "gamma"}});
    ::chmod((data / "src/tree/a.txt").c_str(), 0600);
    ::chmod((data / "src/tree/sub").c_str(), 0750);
    ::symlink("a.txt", (data / "src/tree/link").c_str());
    ASSERT_EQ(runProcess({"cp", "-a", data / "src", data / "reference"}).exitCode, 0);
    test::makeTree(data.path(), {{"dst/report.doc", "existing"}, {"dst/old/keep.txt", "kept"}});

    const std::vector<std::string> rows = {
        "C-O --> " + data / "src/tree" + " --> " + data / "dst",
        "C-N --> " + data / "src/report.doc" + " --> " + data / "dst",
        "M-O --> " + data / "src/old" + " --> " + data / "dst",
        "M-N --> " + data / "src/tree/sub" + " --> " + data / "dst/new/deeper",
    };
    const auto result = run(list(rows));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "");

    std::string why;
    // The tree was copied before its subfolder moved away.
    EXPECT_TRUE(test::sameTree(data / "reference/tree", data / "dst/tree", why)) << why;
    EXPECT_TRUE(test::sameTree(data / "reference/tree/sub", data / "dst/new/deeper/sub", why))
        << why;
    EXPECT_FALSE(exists(data / "src/tree/sub"));
    EXPECT_FALSE(exists(data / "src/old"));
    EXPECT_EQ(readFile(data / "dst/report.doc"), "existing");
    EXPECT_EQ(readFile(data / "dst/report - Copy.doc"), "report");
    EXPECT_EQ(readFile(data / "dst/old/c.txt"), "gamma");
    EXPECT_EQ(readFile(data / "dst/old/keep.txt"), "kept");

    const std::string log = readFile(logPath());
    std::string expected;
    for (const auto& r : rows) {
        expected += r + " was successful\r\n";
    }
    std::string messages;
    for (std::size_t pos = 0; pos < log.size();) {
        std::size_t tab = log.find('\t', pos);
        std::size_t end = log.find('\n', pos);
        ASSERT_NE(tab, std::string::npos);
        messages += log.substr(tab + 1, end + 1 - tab - 1);
        pos = end + 1;
    }
    EXPECT_EQ(messages, expected);
}

TEST_F(UnattendedRun, BadListsEndWithStatusTwoSayWhyAndLogNothing) {
    std::filesystem::create_directory(data / "folder.flq");
    writeFile(data / "empty.flq", "");
    writeFile(data / "binary.flq", std::string("\x7f"
                                               "ELF\0\0\x01\x02",
                                               8) +
                                       test::randomBytes(4096, 3));
    writeFile(data / "nosep.flq", "just some text\r\nC-N --> /a --> /b\r\n");
    std::string tooLong;
    for (int i = 0; i <= 32767; ++i) {
        tooLong += "C-N --> " + data / "missing" + " --> " + data / "out\r\n";
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
        EXPECT_EQ(result.exitCode, 2) << name << ": " << result.output;
        EXPECT_EQ(result.err, "mivex: " + data / name + ": " + why + "; nothing was run\n");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(exists(logPath()));
}

// The window is a program of its own beside `mivex`; a stand-in shows what it was given.
TEST_F(UnattendedRun, WindowProgramGetsTheCommandLineAndUnattendedRunsNeverStartIt) {
    const auto alone = runProcess({exe(), data / "night.flq"});
    EXPECT_EQ(alone.exitCode, 2);
    EXPECT_NE(alone.output.find("cannot start the window"), std::string::npos) << alone.output;

    const std::string window = prog / "mivex-gui";
    writeFile(window, "#!/bin/sh\necho \"window: $*\"\ntouch \"$0.started\"\n");
    ::chmod(window.c_str(), 0755);
    const auto started = runProcess({exe(), data / "a list.flq", "extra"});
    EXPECT_EQ(started.exitCode, 0);
    EXPECT_EQ(started.output, "window: " + data / "a list.flq" + " extra\n");

    ::unlink((window + ".started").c_str());
    writeFile(data / "src.txt", "s");
    const auto ran = run(list({test::entry("C-N", data / "src.txt", data / "out")}));
    EXPECT_EQ(ran.exitCode, 0) << ran.output;
    EXPECT_EQ(readFile(data / "out/src.txt"), "s");
    EXPECT_FALSE(exists(window + ".started"));
}

// Exactly `--help`, `-h` and `--version` answer on standard output, with no list and no
// display; anything else keeps its meaning (here: the window, missing from this folder).
TEST_F(UnattendedRun, HelpAndVersionAnswerOnlyAsTheWholeCommandLine) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string outStart;  // standard output begins with this; empty: nothing on it
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: mivex "},
        {{"-h"}, 0, "Usage: mivex "},
        {{"--version"}, 0, "Mivex 1."},
        {{"--HELP"}, 2, ""},
        {{"--help", "extra"}, 2, ""},
        {{"--version", "-auto"}, 2, ""},  // an unattended run of a list called "--version"
        {{"-help"}, 2, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {exe()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto result = runProcess(argv);
        const std::string what = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(result.exitCode, c.status) << what << ": " << result.output;
        EXPECT_TRUE(result.out.starts_with(c.outStart)) << what << ": " << result.out;
        if (c.status == 0) {
            EXPECT_EQ(result.err, "") << what;
        } else {
            EXPECT_EQ(result.out, "") << what;
            EXPECT_NE(result.err, "") << what;
        }
    }
    const auto help = runProcess({exe(), "--help"});
    for (const char* topic : {" -auto", "C-N --> ", "Exit status", "MMDDYYYY-log.txt"}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
    EXPECT_EQ(runProcess({exe(), "--version"}).out.find('\n'),
              runProcess({exe(), "--version"}).out.size() - 1);  // one line
    // Output that cannot be written is not a success.
    EXPECT_EQ(runProcess({"sh", "-c", "\"$0\" --help >/dev/full", exe()}).exitCode, 1);
}

TEST_F(UnattendedRun, FailuresGiveStatusOneAndTheRestStillRuns) {
    test::makeTree(data.path(), {{"src/sub/x.txt", "x"}, {"src/f.txt", "f"}});
    ASSERT_EQ(::mkfifo((data / "src/sub/pipe").c_str(), 0644), 0);
    const std::vector<std::string> rows = {
        "C-N --> " + data / "src" + " --> " + data / "src/sub",  // into its own subfolder
        "C-N --> " + data / "src/sub" + " --> " + data / "out",  // holds a FIFO
        "no entry at all",
        "C-N --> " + data / "src/f.txt" + " --> " + data / "out",
    };
    const auto before = test::listTree(data / "src");
    const auto result = run(list(rows));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(test::listTree(data / "src"), before);
    EXPECT_EQ(readFile(data / "out/f.txt"), "f");
    const std::string log = readFile(logPath());
    EXPECT_NE(log.find(rows[0] + " did not copy - Something broke... sorry. Error code is 118."),
              std::string::npos);
    EXPECT_NE(log.find(rows[1] + " did not copy - Something broke... sorry. Error code is 1920."),
              std::string::npos);
    EXPECT_NE(log.find(rows[3] + " was successful"), std::string::npos);
    // Standard error names each failure as it happens, then where the details are.
    EXPECT_EQ(result.err,
              "mivex: line 1: " + rows[0] +
                  ": a folder cannot be copied or moved into itself or one of its subfolders "
                  "(code 118)\n"
                  "mivex: line 2: " +
                  rows[1] +
                  ": a FIFO, socket or device file cannot be copied or moved (code 1920)\n"
                  "mivex: line 3: no entry at all: the line is not a queue entry (\"C-N --> "
                  "source --> destination folder\")\n"
                  "mivex: 3 of 4 entries failed; the run log is " +
                  logPath() + "\n");
    EXPECT_EQ(result.out, "");
}

TEST_F(UnattendedRun, PermissionDeniedForAnUnprivilegedUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    TempDir state;
    ::chmod(state.path().c_str(), 0777);
    test::makeTree(data.path(), {{"src/secret.txt", "s"}, {"src/open.txt", "o"}, {"out/", ""}});
    ::chmod((data / "src/secret.txt").c_str(), 0000);
    ::chmod((data / "out").c_str(), 0777);
    const std::vector<std::string> rows = {
        "M-N --> " + data / "src/secret.txt" + " --> " + data / "out",  // folder not writable
        "C-N --> " + data / "src/secret.txt" + " --> " + data / "out",  // file not readable
        "C-N --> " + data / "src/open.txt" + " --> " + data / "out",
    };
    ::chmod((data / "src").c_str(), 0755);
    const std::string listPath = list(rows);
    ::chmod(listPath.c_str(), 0644);
    const auto result =
        runProcess({"env", "XDG_STATE_HOME=" + state.path(), exe(), listPath, "-auto"}, 60, true);
    ASSERT_NE(result.output.find("setpriv"), 0u) << result.output;
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(readFile(data / "out/open.txt"), "o");
    EXPECT_TRUE(exists(data / "src/secret.txt"));
    EXPECT_FALSE(exists(data / "out/secret.txt"));
    // The program folder is not writable by that user: the log goes to the per-user folder.
    EXPECT_FALSE(exists(logPath()));
    const std::string log = readFile(state / ("mivex/" + logFileName(std::time(nullptr))));
    EXPECT_NE(log.find(rows[0] + " did not copy - Something broke... sorry. Error code is 5."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(rows[1] + " did not copy - Something broke... sorry. Error code is 5."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(rows[2] + " was successful"), std::string::npos) << log;
    EXPECT_NE(result.err.find("mivex: line 2: " + rows[1] +
                              ": access denied: a file or folder could not be read or written "
                              "(code 5)\n"),
              std::string::npos)
        << result.err;
    // The run log named at the end is the one written, in the per-user folder.
    EXPECT_TRUE(result.err.ends_with("2 of 3 entries failed; the run log is " + state.path() +
                                     "/mivex/" + logFileName(std::time(nullptr)) + "\n"))
        << result.err;

    // A list this user may not read is named as such.
    ::chmod(listPath.c_str(), 0600);
    const auto unreadable =
        runProcess({"env", "XDG_STATE_HOME=" + state.path(), exe(), listPath, "-auto"}, 60, true);
    EXPECT_EQ(unreadable.exitCode, 2);
    EXPECT_EQ(
        unreadable.err,
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
    struct Case {
        const char* platform;
        const char* display;
        const char* wayland;
        bool available;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        EXPECT_EQ(displayAvailable(c.platform, c.display, c.wayland), c.available)
            << (c.platform ? c.platform : "(unset)") << " " << (c.display ? c.display : "(unset)")
            << " " << (c.wayland ? c.wayland : "(unset)");
    }
}

// The real window program with no display: one line that says what to do, never a Qt abort.
TEST(Display, WindowWithoutOneSaysSoAndEndsWithStatusTwo) {
    const std::string folder = std::filesystem::path(MIVEX_EXE).parent_path();
    if (!exists(folder + "/mivex-gui")) {
        GTEST_SKIP() << "built without the window";
    }
    const std::vector<std::string> noDisplay = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
    const std::vector<std::vector<std::string>> commands = {
        {"-u", "QT_QPA_PLATFORM", MIVEX_EXE},
        {"-u", "QT_QPA_PLATFORM", MIVEX_EXE, "/tmp/night.flq"},
        {"QT_QPA_PLATFORM=xcb", folder + "/mivex-gui", "--help", "me"},
    };
    for (const auto& tail : commands) {
        std::vector<std::string> argv = noDisplay;
        argv.insert(argv.end(), tail.begin(), tail.end());
        const auto result = runProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_EQ(result.err, kNoDisplayMessage);
        EXPECT_EQ(result.out, "");
    }
    // The front door needs no display either, in the window program too.
    const auto help = runProcess({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                                  "QT_QPA_PLATFORM", folder + "/mivex-gui", "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.output;
    EXPECT_TRUE(help.out.starts_with("Usage: mivex ")) << help.out;
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
    test::makeTree(data / "src", {{"big.bin", test::randomBytes(2000000, 3)}});
    const std::string listPath =
        list({"C-N --> " + (data / "src/big.bin") + " --> " + (data / "out")});
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
    const std::string failing =
        list({"C-N --> " + (data / "src/big.bin") + " --> " + (data / "out2"),
              "C-N --> " + (data / "src/gone.bin") + " --> " + (data / "out2")},
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
