// The Windows build's tests, run under Wine by scripts/test-windows.sh: the list reader, the
// names, the command line, the run log and the engine's rules, each a table. Prints one line per
// failure and "N passed, N failed"; exits 1 when any failed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/cabinetwriter.h"
#include "platform/resultcodes.h"
#include "windows/engine/winpaths.h"
#include "windows/engine/wintransfer.h"
#include "windows/platform/wide.h"
#include "windows/platform/winfolders.h"
#include "windows/platform/winlist.h"
#include "windows/platform/winlog.h"
#include "windows/run/winrun.h"

namespace fs = std::filesystem;
using namespace mivex;
using namespace mivex::win;
using Lines = std::vector<std::string>;

namespace {

int gPassed = 0;
int gFailed = 0;

void check(bool ok, const std::string& what) {
    ok ? ++gPassed : ++gFailed;
    if (!ok) {
        std::printf("FAILED: %s\n", what.c_str());
    }
}

std::string joined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += "[" + line + "]";
    }
    return text;
}

// A scratch folder of its own, removed at the end.
struct Scratch {
    fs::path root =
        fs::temp_directory_path() /
        ("mivex-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(next++));
    static inline int next = 0;
    Scratch() { fs::create_directories(root); }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string text() const { return narrow(root.wstring()); }
};

// A tree as text: "dir/" for a folder, "dir/name=content" for a file, "dir/name=>other" for another
// name of the file "other"; '/' between names.
void makeTree(const fs::path& root, const Lines& items) {
    for (const auto& item : items) {
        const std::size_t eq = item.find('=');
        const fs::path path = root / fs::path(widen(item.substr(0, eq))).make_preferred();
        if (eq == std::string::npos) {
            fs::create_directories(path);
        } else if (item.compare(eq, 2, "=>") == 0) {
            const fs::path target = root / fs::path(widen(item.substr(eq + 2))).make_preferred();
            fs::create_directories(path.parent_path());
            ::CreateHardLinkW(path.c_str(), target.c_str(), nullptr);
        } else {
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << item.substr(eq + 1);
        }
    }
}

Lines treeOf(const fs::path& root) {
    Lines items;
    for (const auto& at : fs::recursive_directory_iterator(root)) {
        std::string name = narrow(at.path().lexically_relative(root).generic_wstring());
        if (at.is_directory()) {
            items.push_back(name + "/");
        } else {
            std::ifstream in(at.path(), std::ios::binary);
            items.push_back(name + "=" + std::string(std::istreambuf_iterator<char>(in), {}));
        }
    }
    std::sort(items.begin(), items.end());
    return items;
}

// `text` with every "{T}" replaced by the scratch folder.
std::string rooted(std::string text, const std::string& root) {
    for (std::size_t at; (at = text.find("{T}")) != std::string::npos;) {
        text.replace(at, 3, root);
    }
    return text;
}

void testListText() {
    const struct {
        std::string text;
        Lines rows;
    } cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r\n\r\nc", {"a", "b", "", "c"}},
        {"\xEF\xBB\xBF"
         "C-O --> x --> y\r\n",
         {"C-O --> x --> y"}},
        {"", {}},
        {std::string(kMaxLineLength + 1, 'x') + "\r\nz", {"(a line of 196619 bytes)", "z"}},
    };
    for (const auto& c : cases) {
        const Lines rows = splitListText(c.text);
        check(rows == c.rows, "split " + joined(c.rows) + ": got " + joined(rows));
    }
    const struct {
        std::string line;
        bool list;
    } firstLines[] = {{"C-N --> C:\\a --> D:\\", true},
                      {"C-N -->  --> D:\\", false},
                      {"C-N C:\\a D:\\", false},
                      {"C-N --> C:\\a", true}};
    for (const auto& c : firstLines) {
        check(isListFirstLine(c.line) == c.list, "first line " + c.line);
    }
}

void testListFiles() {
    Scratch s;
    makeTree(s.root, {"list.flq=\xEF\xBB\xBF"
                      "C-O --> a --> b\r\nM-N --> c --> d\r\n",
                      "notes.txt=hello\r\n", "big.flq=C-O --> a --> b\n\n\n", "folder.flq/"});
    const struct {
        std::string name;
        std::size_t maxRows;
        ListReadStatus status;
        std::size_t rows;
    } cases[] = {{"list.flq", 10, ListReadStatus::Ok, 2},
                 {"notes.txt", 10, ListReadStatus::NotAList, 0},
                 {"missing.flq", 10, ListReadStatus::NotAList, 0},
                 {"folder.flq", 10, ListReadStatus::NotAList, 0},
                 {"big.flq", 2, ListReadStatus::TooManyEntries, 0}};
    for (const auto& c : cases) {
        const ListReadResult read = readQueueList(s.text() + "\\" + c.name, c.maxRows);
        check(read.status == c.status && read.rows.size() == c.rows, "read " + c.name);
    }
}

void testNames() {
    const struct {
        std::wstring name;
        bool folder;
        int n;
        std::wstring expected;
    } keepBoth[] = {{L"report.doc", false, 1, L"report - Copy.doc"},
                    {L"report.doc", false, 2, L"report - Copy (2).doc"},
                    {L"archive.tar.gz", false, 1, L"archive.tar - Copy.gz"},
                    {L".profile", false, 1, L".profile - Copy"},
                    {L"old.v2", true, 3, L"old.v2 - Copy (3)"}};
    for (const auto& c : keepBoth) {
        check(keepBothName(c.name, c.folder, c.n) == c.expected, "keep-both " + narrow(c.expected));
    }
    const struct {
        std::wstring path, parent, name;
    } paths[] = {{L"C:\\data\\a.txt", L"C:\\data", L"a.txt"},
                 {L"C:\\data\\sub\\", L"C:\\data", L"sub"},
                 {L"C:\\a", L"C:\\", L"a"},
                 {L"C:\\", L"C:\\", L""}};
    for (const auto& c : paths) {
        check(parentOf(c.path) == c.parent && nameOf(c.path) == c.name, "path " + narrow(c.path));
    }
    const std::string text = "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80.txt";  // two-unit emoji
    check(narrow(widen(text)) == text && widen(text).size() == 15, "UTF-8 and UTF-16 round trip");
}

void testCommandLine() {
    Scratch s;
    makeTree(s.root, {"night -auto.flq=C-O --> a --> b\r\n"});
    const struct {
        std::string text;
        std::optional<std::string> list;
    } cases[] = {{"C:\\lists\\n.flq -auto", "C:\\lists\\n.flq"},
                 {"C:\\lists\\n.flq", std::nullopt},
                 {"C:\\my -lists\\n.flq -auto", "C:\\my"},  // cut at the first " -", as designed
                 {s.text() + "\\night -auto.flq", std::nullopt}};
    for (const auto& c : cases) {
        check(unattendedList(c.text) == c.list, "command line " + c.text);
    }
    const struct {
        std::string text, unsupported;
    } switches[] = {{"n.flq -auto", ""},
                    {"n.flq -auto --verify", "--verify"},
                    {"n.flq --bwlimit=2M -auto", "--bwlimit=2M"},
                    {"n.flq -auto -resume x", "-resume"}};
    for (const auto& c : switches) {
        check(unsupportedSwitch(c.text) == c.unsupported, "switches of " + c.text);
    }
    check(frontDoorText("--version").value_or("").starts_with("Mivex "), "--version");
    check(!frontDoorText("x.flq"), "a list is no front-door text");
}

void testRunLog() {
    Scratch s;
    RunLog log(s.root.wstring());
    log.log("C-O --> C:\\\xC3\xA9t\xC3\xA9 --> D:\\ was successful");
    log.log("second");
    std::ifstream in(fs::path(log.path()), std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    Lines messages;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        const std::size_t tab = text.find('\t', at);
        messages.push_back(tab < end ? text.substr(tab + 1, end - tab - 1) : "(no stamp)");
    }
    check(text.ends_with("\r\n") &&
              messages == Lines{"C-O --> C:\\\xC3\xA9t\xC3\xA9 --> D:\\ was successful", "second"},
          "run log lines: " + text);
    const std::wstring name = logFileName(std::time(nullptr));
    check(name.size() == 16 && name.ends_with(L"-log.txt"), "log name " + narrow(name));
    RunLog nowhere(s.root.wstring() + L"\\missing\\folder");
    nowhere.log("lost");
    check(!nowhere.firstFailure().empty(), "a lost line says why");
}

struct EngineCase {
    const char* what;
    Lines before;
    std::string entry;  // "{T}" is the scratch folder
    int code;
    Lines after;
};

void testEngine() {
    const EngineCase cases[] = {
        {"copy a folder",
         {"s/t/a=1", "s/t/u/b=2", "d/"},
         "C-O --> {T}\\s\\t --> {T}\\d",
         0,
         {"d/", "d/t/", "d/t/a=1", "d/t/u/", "d/t/u/b=2", "s/", "s/t/", "s/t/a=1", "s/t/u/",
          "s/t/u/b=2"}},
        {"missing folders are made",
         {"s/a=1"},
         "C-O --> {T}\\s\\a --> {T}\\d\\e\\",
         0,
         {"d/", "d/e/", "d/e/a=1", "s/", "s/a=1"}},
        {"overwrite replaces",
         {"s/a=new", "d/a=old"},
         "C-O --> {T}\\s\\a --> {T}\\d",
         0,
         {"d/", "d/a=new", "s/", "s/a=new"}},
        {"names differ in case only",
         {"s/A.txt=new", "d/a.txt=old"},
         "C-O --> {T}\\s\\A.txt --> {T}\\d",
         0,
         {"d/", "d/a.txt=new", "s/", "s/A.txt=new"}},
        {"keep both",
         {"s/r.doc=2", "d/r.doc=0", "d/r - Copy.doc=1"},
         "C-N --> {T}\\s\\r.doc --> {T}\\d",
         0,
         {"d/", "d/r - Copy (2).doc=2", "d/r - Copy.doc=1", "d/r.doc=0", "s/", "s/r.doc=2"}},
        {"keep both a folder",
         {"s/o/a=1", "d/o/b=0"},
         "C-N --> {T}\\s\\o --> {T}\\d",
         0,
         {"d/", "d/o - Copy/", "d/o - Copy/a=1", "d/o/", "d/o/b=0", "s/", "s/o/", "s/o/a=1"}},
        {"a folder merges",
         {"s/o/a=1", "d/o/a=0", "d/o/b=0"},
         "M-O --> {T}\\s\\o --> {T}\\d",
         0,
         {"d/", "d/o/", "d/o/a=1", "d/o/b=0", "s/"}},
        {"move a file", {"s/a=1"}, "M-N --> {T}\\s\\a --> {T}\\d", 0, {"d/", "d/a=1", "s/"}},
        {"source missing", {"d/"}, "C-O --> {T}\\s\\a --> {T}\\d", kFileNotFound, {"d/"}},
        {"file onto folder",
         {"s/a=1", "d/a/"},
         "C-O --> {T}\\s\\a --> {T}\\d",
         kAlreadyExists,
         {"d/", "d/a/", "s/", "s/a=1"}},
        {"into itself",
         {"s/t/u/"},
         "M-O --> {T}\\s\\t --> {T}\\s\\t\\u\\v",
         kIntoItself,
         {"s/", "s/t/", "s/t/u/"}},
        {"own folder, overwrite",
         {"s/a=1"},
         "C-O --> {T}\\s\\a --> {T}\\s",
         kSameFile,
         {"s/", "s/a=1"}},
        {"own folder, move",
         {"s/a=1"},
         "M-N --> {T}\\S\\a --> {T}\\s\\",
         kSameFile,
         {"s/", "s/a=1"}},
        {"onto another name of itself",
         {"s/a=1", "d/a=>s/a"},
         "M-O --> {T}\\s\\a --> {T}\\d",
         kSameFile,
         {"d/", "d/a=1", "s/", "s/a=1"}},
        {"own folder, keep both",
         {"s/a.txt=1"},
         "C-N --> {T}\\s\\a.txt --> {T}\\s",
         0,
         {"s/", "s/a - Copy.txt=1", "s/a.txt=1"}},
    };
    for (const auto& c : cases) {
        Scratch s;
        makeTree(s.root, c.before);
        TransferProgress progress;
        const TransferResult result =
            DoFileOperation(*ParseRecord(rooted(c.entry, s.text())), progress);
        const Lines after = treeOf(s.root);
        check(result.code == c.code && after == c.after,
              std::string(c.what) + ": code " + std::to_string(result.code) + ", " + joined(after));
    }
}

// "U" leaves a file of the same size and time, whatever its bytes, but a move never removes a
// source whose bytes are not at the destination; a cancel leaves nothing.
void testUpdateAndCancel() {
    Scratch s;
    makeTree(s.root, {"s/f/a=1234"});
    const auto run = [&s](const char* entry) {
        TransferProgress progress;
        return DoFileOperation(*ParseRecord(rooted(entry, s.text())), progress).code;
    };
    run("C-U --> {T}\\s\\f --> {T}\\d");
    // Rewritten in place through one handle, its write time put back (std::filesystem keeps
    // whole seconds only here).
    const HANDLE copy =
        ::CreateFileW((s.root / "d" / "f" / "a").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    FILETIME written{};
    DWORD done = 0;
    ::GetFileTime(copy, nullptr, nullptr, &written);
    ::WriteFile(copy, "abcd", 4, &done, nullptr);
    ::SetFileTime(copy, nullptr, nullptr, &written);
    ::CloseHandle(copy);
    int code = run("C-U --> {T}\\s\\f --> {T}\\d");
    check(code == 0 && treeOf(s.root / "d") == Lines{"f/", "f/a=abcd"},
          "U leaves an equal file: code " + std::to_string(code) + joined(treeOf(s.root)));
    code = run("M-U --> {T}\\s\\f --> {T}\\d");
    check(code == 0 && treeOf(s.root) == Lines{"d/", "d/f/", "d/f/a=1234", "s/"},
          "a U move keeps the bytes: code " + std::to_string(code) + joined(treeOf(s.root)));
    makeTree(s.root, {"s/a=1"});
    TransferProgress progress;
    progress.cancel = true;
    const TransferResult stopped =
        DoFileOperation(*ParseRecord(rooted("C-O --> {T}\\s\\a --> {T}\\e", s.text())), progress);
    check(stopped.aborted && stopped.code == 0 && treeOf(s.root / "e").empty(),
          "a cancel leaves no file");
}

// A cabinet of two files, one with a name outside ASCII, written to `folder`\test.cab (left there
// for scripts/test-windows.sh to open with cabextract); a name past 255 bytes is refused.
void testCabinet(const fs::path& folder) {
    Scratch s;
    makeTree(s.root, {"a.txt=alpha", "b.txt=beta"});
    std::string failure;
    const auto writer = CabinetWriter::create(failure);
    const std::string cab = narrow((folder / "test.cab").wstring());
    check(writer->open(cab, false, 0, false).empty() &&
              writer->add(s.text() + "\\a.txt", "dir\\a.txt").empty() &&
              writer->add(s.text() + "\\b.txt", "Z\xC3\xBCrich\\b.txt").empty() &&
              !writer->add(s.text() + "\\a.txt", std::string(256, 'n')).empty(),
          "cabinet: the adds");
    failure = writer->close();
    check(failure.empty() && fs::file_size(folder / "test.cab") > 0 &&
              fs::directory_iterator(folder)->path().filename() == "test.cab",
          "cabinet: written, nothing else left: " + failure);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    testListText();
    testListFiles();
    testNames();
    testCommandLine();
    testRunLog();
    testEngine();
    testUpdateAndCancel();
    if (argc > 1) {
        testCabinet(argv[1]);
    } else {
        Scratch s;
        testCabinet(s.root);
    }
    std::printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
