// The command line and the unattended run, through the real executable.
#include "app/commandline.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "app/ttyprogress.h"
#include "queue/log.h"
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

TEST_F(UnattendedRun, BadListsEndWithStatusTwoAndNoLog) {
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
    for (const std::string name :
         {"missing.flq", "folder.flq", "empty.flq", "binary.flq", "nosep.flq"}) {
        const auto result = run(data / name);
        EXPECT_EQ(result.exitCode, 2) << name << ": " << result.output;
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
}

TEST_F(UnattendedRun, LinkOntoTheFileItPointsToIsAnErrorAndTheFileStays) {
    test::makeTree(data.path(), {{"dst/f", "precious"}, {"src/", ""}, {"rel/", ""}});
    ASSERT_EQ(::symlink((data / "dst/f").c_str(), (data / "src/f").c_str()), 0);
    ASSERT_EQ(::symlink("../dst/f", (data / "rel/f").c_str()), 0);
    const std::vector<std::string> rows = {
        test::entry("C-O", data / "src/f", data / "dst"),
        test::entry("M-O", data / "rel/f", data / "dst"),
        test::entry("C-N", data / "src/f", data / "dst"),  // arrives under a new name
    };
    const auto result = run(list(rows));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(readFile(data / "dst/f"), "precious");
    EXPECT_EQ(test::linkTarget(data / "dst/f - Copy"), data / "dst/f");
    const std::string log = readFile(logPath());
    for (int i : {0, 1}) {
        EXPECT_NE(log.find("*** ERROR *** " + rows[i] +
                           " did not copy - Something broke... "
                           "sorry. Error code is 113."),
                  std::string::npos)
            << log;
    }
    EXPECT_NE(log.find(rows[2] + " was successful"), std::string::npos) << log;
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
}

TEST(TtyProgressLine, UnitsAndSpeed) {
    EXPECT_EQ(formatBytes(0), "0 B");
    EXPECT_EQ(formatBytes(1023), "1023 B");
    EXPECT_EQ(formatBytes(1024), "1.0 KB");
    EXPECT_EQ(formatBytes(1536 * 1024), "1.5 MB");
    EXPECT_EQ(formatBytes(1024 * 1024 - 1), "1.0 MB");  // never "1024.0 KB"
    EXPECT_EQ(formatBytes(5ULL << 40), "5.0 TB");
    EXPECT_EQ(formatProgressLine(2, 5, 1536 * 1024, 4 << 20, 12.0 * (1 << 20)),
              "Entry 2 of 5: 1.5 MB of 4.0 MB, 12.0 MB/s");
    EXPECT_EQ(formatProgressLine(1, 1, 0, 10, -1), "Entry 1 of 1: 0 B of 10 B");
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
}

}  // namespace
}  // namespace mivex
