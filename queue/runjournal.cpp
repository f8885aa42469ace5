// The run journal: a header with the rows, then a line for each row that ends and each folder
// that a keep-both row names. Appended and flushed as the run goes; a torn last line is ignored.
#include "queue/runjournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "platform/posixio.h"

namespace mivex {

namespace {

constexpr std::string_view kHeader = "mivex run journal 1\n";
// A flush at most this often: every row's end on the disk at once would cost a list of 30,000
// one-file rows a wait for the disk each. A power cut loses at most this much, which the resumed
// run copies again (or leaves, where "U" would).
constexpr auto kSyncEvery = std::chrono::seconds(1);
// The ends of rows that may be done again wait for company this long at most, or this much.
constexpr auto kWaitAtMost = std::chrono::milliseconds(100);
constexpr std::size_t kWaitingBytes = 4096;

std::string endLine(std::size_t row, int code) {
    return "end\t" + std::to_string(row) + "\t" + std::to_string(code) + "\n";
}

std::string journalName(const std::string& key) {
    if (key.empty()) {
        return "window.journal";
    }
    char name[40];
    std::snprintf(name, sizeof name, "list-%016zx.journal", std::hash<std::string>{}(key));
    return name;
}

// The whole file; false when it cannot be read to its end.
bool readWhole(int fd, std::string& text) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

// A number of the journal's own writing; nothing for anything else.
std::optional<long long> numberIn(std::string_view text) {
    long long n = 0;
    const bool negative = text.starts_with('-');
    text.remove_prefix(negative ? 1 : 0);
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
    }
    return negative ? -n : n;
}

}  // namespace

RunJournal::RunJournal(const LogFolder& folder, const std::string& key)
    : mFolder(folder), mName(journalName(key)) {}

std::optional<CutOffRun> RunJournal::cutOff() const {
    if (mFolder.fd() < 0) {
        return std::nullopt;
    }
    const Fd file(::openat(mFolder.fd(), mName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    std::string text;
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !readWhole(file.get(), text) ||
        !text.starts_with(kHeader)) {
        return std::nullopt;
    }
    CutOffRun run;
    run.stoppedAt = st.st_mtim.tv_sec;
    long long rows = -1;
    // Whole lines only: a line cut by the crash is as if never written.
    for (std::size_t at = kHeader.size(), end; (end = text.find('\n', at)) != text.npos;
         at = end + 1) {
        const std::string_view line(text.data() + at, end - at);
        const std::size_t tab = line.find('\t');
        const std::string_view kind = line.substr(0, tab);
        const std::string_view rest = tab == line.npos ? "" : line.substr(tab + 1);
        if (kind == "rows") {
            rows = numberIn(rest).value_or(-1);
        } else if (kind == "row") {
            run.rows.emplace_back(rest);
        } else if (kind == "end" || kind == "placed") {
            // "end ROW CODE", "placed ROW NAME": about the row in hand, rows ending in order.
            const std::size_t tab2 = rest.find('\t');
            const std::string_view what = tab2 == rest.npos ? "" : rest.substr(tab2 + 1);
            if (numberIn(rest.substr(0, tab2)) != static_cast<long long>(run.codes.size()) ||
                run.codes.size() >= run.rows.size()) {
                continue;
            }
            if (kind == "placed") {
                run.placedAs = what;
            } else if (const auto code = numberIn(what)) {
                run.codes.push_back(static_cast<int>(*code));
                run.placedAs.clear();
            }
        }
    }
    if (rows <= 0 || run.rows.size() != static_cast<std::size_t>(rows)) {
        return std::nullopt;  // cut off before its rows were written: nothing began
    }
    return run;
}

void RunJournal::begin(const std::vector<std::string>& rows) {
    if (mFolder.fd() < 0) {
        return;
    }
    // Written whole under another name and renamed, so that a journal is never half a header.
    const std::string temp = mName + ".new";
    Fd file(::openat(mFolder.fd(), temp.c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    std::string text(kHeader);
    text += "rows\t" + std::to_string(rows.size()) + "\n";
    for (const std::string& row : rows) {
        text += "row\t" + row + "\n";
    }
    if (!file.valid() || writeAll(file.get(), text) != 0 || ::fdatasync(file.get()) != 0 ||
        ::renameat(mFolder.fd(), temp.c_str(), mFolder.fd(), mName.c_str()) != 0) {
        ::unlinkat(mFolder.fd(), temp.c_str(), 0);
        return;  // a run without a journal is a run all the same
    }
    mFile = std::move(file);
    mSynced = std::chrono::steady_clock::now();
}

void RunJournal::carryOn() {
    if (mFolder.fd() >= 0) {
        mFile.reset(
            ::openat(mFolder.fd(), mName.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    }
}

void RunJournal::append(const std::string& line, bool durable) {
    mWaiting += line;
    write(durable);
}

void RunJournal::write(bool durable) {
    if (!mFile.valid() || mWaiting.empty()) {
        mWaiting.clear();
        return;
    }
    const int written = writeAll(mFile.get(), mWaiting);
    mWaiting.clear();
    if (written != 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (durable || now - mSynced >= kSyncEvery) {
        ::fdatasync(mFile.get());
        mSynced = now;
    }
}

void RunJournal::placed(std::size_t row, const std::string& name) {
    append("placed\t" + std::to_string(row) + "\t" + name + "\n", true);
}

void RunJournal::ended(std::size_t row, int code) {
    append(endLine(row, code), false);
}

void RunJournal::endedRedoable(std::size_t row, int code) {
    const auto now = std::chrono::steady_clock::now();
    if (mWaiting.empty()) {
        mWaitingSince = now;
    }
    mWaiting += endLine(row, code);
    if (mWaiting.size() >= kWaitingBytes || now - mWaitingSince >= kWaitAtMost) {
        write(false);
    }
}

void RunJournal::flush() {
    write(false);
}

void RunJournal::finish() {
    mWaiting.clear();
    if (mFile.valid()) {
        mFile.reset();
        ::unlinkat(mFolder.fd(), mName.c_str(), 0);
    }
}

}  // namespace mivex
