// The command line and the unattended run, through the real executable; the run's words, and every
// errno mapped to a code that the help file and the README explain in the code's own words.
#include "run/commandline.h"

#include <map>
#include <regex>

#include "platform/resultcodes.h"
#include "queue/runfailure.h"
#include "run/display.h"
#include "run/ttyprogress.h"
#include "tests/reliability/scenario.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

struct UnattendedRun : ::testing::Test, Unattended {
    TempDir data;
};

}  // namespace

// Each row ends with its own code; failures are said as they happen, the copies match `cp -a`.
TEST_F(UnattendedRun, RealQueueEndsEachRowOnItsOwn) {
    plantTree(data / "src", {"tree/a.txt=alpha", "tree/empty/", "tree/link->a.txt",
                             "tree/sub/b.bin=" + randomBytes(300000, 1), "report.doc=report",
                             "old/c.txt=gamma", "bad/sub/x.txt=x"});
    ::chmod((data / "src/tree/a.txt").c_str(), 0600);
    ::chmod((data / "src/tree/sub").c_str(), 0750);
    ASSERT_EQ(::mkfifo((data / "src/bad/sub/pipe").c_str(), 0644), 0);
    ASSERT_EQ(runProcess({"cp", "-a", data / "src", data / "reference"}).exitCode, 0);
    plantTree(data / "dst", {"report.doc=existing", "old/keep.txt=kept"});
    const std::pair<std::string, int> rows[] = {
        {entry("C-O", data / "src/tree", data / "dst"), 0},
        {entry("C-N", data / "src/report.doc", data / "dst"), 0},
        {entry("C-N", data / "src/bad", data / "src/bad/sub"), 118},  // into its own subfolder
        {entry("C-N", data / "src/bad/sub", data / "out"), 1920},     // holds a FIFO
        {"no entry\x1b[2J at all", kNotAnEntry},                      // said in printable text
        {entry("M-O", data / "src/old", data / "dst"), 0},
        {entry("M-N", data / "src/tree/sub", data / "dst/new/deeper"), 0},
    };
    Names listed;
    std::string said, logged;  // on standard error, and in the log
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [row, code] = rows[i];
        listed.push_back(row);
        const std::string end = code == 0 ? " was successful"
                                : code == kNotAnEntry
                                    ? " did not copy - This line is not a queue entry (expected "
                                      "\"C-N --> source --> destination folder\")"
                                    : " did not copy - Something broke... sorry. Error code is " +
                                          std::to_string(code) + ".";
        said += code ? "mivex: " + describeFailure({i + 1, row, code}) + "\n" : "";
        const std::string inLog = code == kNotAnEntry ? "no entry\\x1b[2J at all" : row;
        logged += "stamp\t" + std::string(code ? "*** ERROR *** " : "") + inLog + end + "\r\n";
    }
    const ProcessResult result = run(list(listed));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output,
              said + "mivex: 3 of 7 entries failed; the run log is " + logPath() + "\n");
    EXPECT_EQ(std::regex_replace(readFile(logPath()), std::regex("[^\t\n]+\t"), "stamp\t"), logged);
    // The tree was copied before its subfolder moved away.
    expectSame(data / "reference/tree", data / "dst/tree");
    expectSame(data / "reference/tree/sub", data / "dst/new/deeper/sub");
    EXPECT_EQ(listTree(data / "src"),
              (Names{"bad/", "bad/sub/", "bad/sub/pipe", "bad/sub/x.txt", "report.doc", "tree/",
                     "tree/a.txt", "tree/empty/", "tree/link"}));
    EXPECT_EQ(describeTree(data / "dst/old"), (Names{"c.txt=gamma", "keep.txt=kept"}));
    EXPECT_EQ(readFile(data / "dst/report.doc") + "|" + readFile(data / "dst/report - Copy.doc"),
              "existing|report");
}

// The arguments as one text: exactly --help, -h or --version answers on standard output; a text
// that names an existing file opens it in the window (as the desktop hands one); else " -auto"
// (case matters) runs the text before the first " -" as a list, a bad one ending with a reason and
// no log; else the window starts (a stand-in here), or without a display one line says so.
TEST_F(UnattendedRun, HelpVersionBadListsOrTheWindowByTheWholeCommandLine) {
    EXPECT_TRUE(runProcess({exe(), "x.flq"}).err.starts_with("mivex: cannot start the window ("));
    writeFile(prog / "mivex-gui", "#!/bin/sh\necho \"window: $*\"\n", 0755);
    const std::string runs = "C-N --> " + data / "folder.flq --> " + data / "ran\r\n";
    plantTree(data.path(),
              {"folder.flq/", "nosep.flq=just some text\r\nC-N --> /a --> /b\r\n",
               "long.flq=C-N --> /a --> /b\r\n" + std::string(32767, '\n'), "night=" + runs,
               "night -auto.flq=" + runs, "car -autos/l.flq=" + runs, "dir -auto/"});
    const std::string gui = std::filesystem::path(MIVEX_EXE).parent_path() / "mivex-gui";
    const ScopedEnv x("DISPLAY", ""), w("WAYLAND_DISPLAY", ""), q("QT_QPA_PLATFORM", "");
    const auto at = [&](const char* list) { return *list == '/' ? list : data / list; };
    const auto unattended = [&](const char* list) { return Names{exe(), at(list), "-auto"}; };
    const auto bad = [&](const char* list, const std::string& why) {
        return "mivex: " + at(list) + ": " + why + "; nothing was run\n";
    };
    const std::string notAList =
        "the file is not a queue list: its first line is not an entry "
        "such as \"C-N --> source --> destination folder\"";
    // The command, its status, and how its standard output and error begin ("": empty).
    const std::tuple<Names, int, std::string, std::string> cases[] = {
        {{exe(), "--help"}, 0, "Usage: mivex ", ""},
        {{exe(), "-h"}, 0, "Usage: mivex ", ""},
        {{exe(), "--version"}, 0, "Mivex 1.", ""},
        {{exe(), "--HELP"}, 0, "window: --HELP\n", ""},
        {{exe(), "--help", "extra"}, 0, "window: --help extra\n", ""},
        {{exe(), data / "a list.flq", "extra"}, 0, "window: " + data / "a list.flq extra\n", ""},
        {{exe(), "--version", "-auto"}, 2, "", "mivex: --version: the list does not exist"},
        {{exe(), "-auto"}, 0, "window: -auto\n", ""},
        {{exe(), "/l.flq", "-Auto"}, 0, "window: /l.flq -Auto\n", ""},
        {{exe(), "\"/l.flq\"", "-automatic"}, 2, "", "mivex: \"/l.flq\": the list does not exist"},
        {unattended("My -Lists/l.flq"), 2, "", bad("My", "the list does not exist")},
        // A list received from the desktop is opened, never the one its name begins with.
        {{exe(), data / "night -auto.flq"}, 0, "window: " + data / "night -auto.flq\n", ""},
        {{exe(), data / "car -autos/l.flq"}, 0, "window: " + data / "car -autos/l.flq\n", ""},
        {{exe(), data / "nosep.flq -auto"}, 2, "", bad("nosep.flq", notAList)},
        {{exe(), data / "dir -auto"}, 2, "", bad("dir", "the list does not exist")},
        {unattended("missing.flq"), 2, "", bad("missing.flq", "the list does not exist")},
        {unattended("nosep.flq/x.flq"), 2, "", bad("nosep.flq/x.flq", "the list does not exist")},
        {unattended("folder.flq"), 2, "", bad("folder.flq", "the list is a folder")},
        {unattended("nosep.flq"), 2, "", bad("nosep.flq", notAList)},
        {unattended("/proc/self/mem"), 2, "",
         bad("/proc/self/mem", "the list could not be read to its end")},
        {unattended("long.flq"), 2, "",
         bad("long.flq", "the list has more than 32767 lines, more than a queue holds")},
        {{MIVEX_EXE}, 2, "", kNoDisplayMessage},
        {{"env", "QT_QPA_PLATFORM=xcb", gui, "--help", "me"}, 2, "", kNoDisplayMessage},
        {{gui, "--help"}, 0, "Usage: mivex ", ""},
        // Paths for the window's queue never run a list, whatever " -auto" they hold.
        {{exe(), "--enqueue", data / "night", "-auto"},
         0,
         "window: --enqueue " + data / "night -auto\n",
         ""},
        {{gui, "--enqueue", "--to"}, 2, "", "mivex: --to needs a folder"},
        {{gui, "--enqueue", "--copy", "x"}, 2, "", "mivex: unknown option --copy"},
    };
    for (const auto& [argv, status, out, err] : cases) {
        if (argv[0] != exe() && !exists(gui)) {
            continue;  // built without the window
        }
        const auto result = runProcess(argv);
        SCOPED_TRACE(argv.back() + ": " + result.output);
        EXPECT_EQ(result.exitCode, status);
        EXPECT_EQ(result.out.substr(0, out.empty() ? std::string::npos : out.size()), out);
        EXPECT_EQ(result.err.substr(0, err.empty() ? std::string::npos : err.size()), err);
    }
    EXPECT_FALSE(exists(logPath()));
    EXPECT_FALSE(exists(data / "ran"));
    // Output that cannot be written is not a success.
    EXPECT_EQ(runProcess({"sh", "-c", "\"$0\" --help >/dev/full", exe()}).exitCode, 1);
}

// As uid 65534: unreadable files and an unwritable folder fail with code 5, the rest is copied, and
// the log goes to the user's state folder, the program's own being unwritable.
TEST_F(UnattendedRun, AnotherUserMeetsDeniedFilesAndLogsInItsStateFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    TempDir state;
    plantTree(data.path(), {"src/secret.txt=s", "src/open.txt=o", "out/"});
    for (const auto& [path, mode] : {std::pair{state.path(), 0777},
                                     {data.path(), 0755},
                                     {data / "out", 0777},
                                     {data / "src/secret.txt", 0},
                                     {lists.path(), 0755}}) {
        ::chmod(path.c_str(), mode);
    }
    const Names rows = {entry("M-N", data / "src/secret.txt", data / "out"),
                        entry("C-N", data / "src/secret.txt", data / "out"),
                        entry("C-N", data / "src/open.txt", data / "out")};
    const std::string listPath = list(rows);
    const Names argv = {"env", "XDG_STATE_HOME=" + state.path(), exe(), listPath, "-auto"};
    const auto result = runProcess(argv, 60, true);
    const std::string userLog = state / ("mivex/" + logFileName(std::time(nullptr)));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "mivex: " + describeFailure({1, rows[0], kAccessDenied}) +
                              "\nmivex: " + describeFailure({2, rows[1], kAccessDenied}) +
                              "\nmivex: 2 of 3 entries failed; the run log is " + userLog + "\n");
    EXPECT_EQ(describeTree(data / "out"), Names{"open.txt=o"});
    EXPECT_FALSE(exists(logPath()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        expectLogged(readFile(userLog), rows[i], i == 2 ? 0 : kAccessDenied);
    }
    ::chmod(listPath.c_str(), 0600);
    EXPECT_EQ(
        runProcess(argv, 60, true).err,
        "mivex: " + listPath + ": the list cannot be read (Permission denied); nothing was run\n");
}

// Standard error a pipe nobody reads any more (a dropped ssh session, "| head -1"), standard error
// closed at start ("2>&-"), a file size limit ("ulimit -f"): every entry runs, the log gets each
// line and nothing else, and only a file over the limit fails, as too large.
TEST_F(UnattendedRun, BrokenPipeClosedErrorAndFileSizeLimitStopNothing) {
    plantTree(data / "src", {"big.bin=" + randomBytes(2 << 20, 5), "small.txt=small"});
    const Names rows = {entry("C-N", data / "nowhere/gone", data / "out"),
                        entry("C-N", data / "src/big.bin", data / "out"),
                        entry("C-N", data / "src/gone too", data / "out"),
                        entry("C-N", data / "src/small.txt", data / "out")};
    const std::string listPath = list(rows);
    ASSERT_EQ(::mkfifo((data / "pipe").c_str(), 0600), 0);
    // Opened for reading and writing, then for writing, then closed: a pipe with no reader left.
    const std::string noReader = "exec 3<>\"$2\" 4>\"$2\" 3<&-; exec \"$0\" \"$1\" -auto 2>&4";
    // The command, and the big file's code.
    const std::pair<Names, int> cases[] = {
        {{"sh", "-c", noReader, exe(), listPath, data / "pipe"}, 0},
        {{"sh", "-c", "exec \"$0\" \"$1\" -auto 2>&-", exe(), listPath}, 0},
        {{"prlimit", "--fsize=1048576", exe(), listPath, "-auto"}, kFileTooLarge},
    };
    for (const auto& [argv, bigCode] : cases) {
        SCOPED_TRACE(argv[0] + " " + argv[1] + " " + argv[2]);
        const ProcessResult result = runProcess(argv);
        EXPECT_EQ(result.exitCode, 1) << result.output;
        const std::string log = readFile(logPath());
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), std::ssize(rows)) << log;
        for (const auto& [row, code] :
             {std::pair{rows[0], 2}, {rows[1], bigCode}, {rows[2], 2}, {rows[3], 0}}) {
            expectLogged(log, row, code);
        }
        EXPECT_EQ(listTree(data / "out"),
                  (bigCode == 0 ? Names{"big.bin", "small.txt"} : Names{"small.txt"}));
        removeTree(data / "out");
        removeTree(logPath());
    }
}

// What the runs cannot show: an unknown code, a blank line, a stop and no log; byte counts at each
// unit's edge (1023.95 KB is "1.0 MB", never "1024.0 KB"); a display needed by X11 and Wayland.
TEST(RunText, FailuresByteCountsAndDisplay) {
    EXPECT_EQ(
        describeRun({{1, "x\x7f\t", 9999}, {3, "", kNotAnEntry}, {4, "y", 1223}}, true, "/\x1b"),
        "line 1: x\\x7f\\x09: error code 9999\nline 3: the line is not a queue entry (\"C-N "
        "--> source --> destination folder\")\nline 4: y: not enough free space on the "
        "destination drive (or over quota) (code 1223)\nThe run was stopped; the rest of the "
        "queue was not carried out.\n\nRun log: /\\x1b");
    EXPECT_EQ(describeRun({}, false, ""), "\nThis run has no log.");
    const std::pair<std::uint64_t, const char*> counts[] = {
        {1023, "1023 bytes"},         {1024, "1.0 KB"},
        {1048524, "1023.9 KB"},       {1048525, "1.0 MB"},
        {(1ULL << 30) - 1, "1.0 GB"}, {~0ULL, "16.0 EB"}};
    for (const auto& [bytes, text] : counts) {
        EXPECT_EQ(formatBytes(bytes), text) << bytes;
    }
    EXPECT_EQ(formatProgressLine(2, 5, 1536 * 1024, 4 << 20, 12.0 * (1 << 20)),
              "Entry 2 of 5: 1.5 MB of 4.0 MB, 12.0 MB/s");
    EXPECT_EQ(formatProgressLine(1, 1, 0, 10, -1), "Entry 1 of 1: 0 bytes of 10 bytes");
    for (const char* platform : {"", "xcb", "wayland;xcb", "wayland-egl", "xcb:nomitshm"}) {
        EXPECT_FALSE(displayAvailable(platform, "", nullptr)) << platform;
        EXPECT_TRUE(displayAvailable(platform, ":1", "")) << platform;
    }
    for (const char* platform : {"offscreen", "vnc:size=800x600", "wayland;offscreen"}) {
        EXPECT_TRUE(displayAvailable(platform, nullptr, "")) << platform;
    }
    EXPECT_TRUE(displayAvailable(nullptr, nullptr, "wayland-0"));
}

// --enqueue's paths and folder are made absolute from the working folder, as the panes give them.
TEST(RunText, EnqueueLineReadsPathsAndOptions) {
    const char* argv[] = {"mivex",  "--enqueue", "a",  "/b/",         "../c/./d", ".",
                          "--move", "--to",      "t/", "--overwrite", "--",       "--to"};
    const EnqueueLine got = parseEnqueue(std::size(argv), argv, "/w/x");
    EXPECT_EQ(got.to + " " + got.copy + got.overwrite + got.error, "/w/x/t MO");
    EXPECT_EQ(got.paths, (Names{"/w/x/a", "/b", "/w/c/d", "/w/x", "/w/x/--to"}));
}

// On a terminal (script(1)) the line is drawn in place, wiped for a failure, ended at the end.
TEST_F(UnattendedRun, ProgressLineOnATerminal) {
    plantTree(data / "src",
              {"big.bin=" + randomBytes(2000000, 3), "tree/a.bin=" + randomBytes(2000000, 4)});
    const auto plain = run(list({entry("C-N", data / "src/big.bin", data / "plain")}));
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.output, "");
    const std::string failing = list({entry("C-N", data / "src/tree", data / "out"),
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
