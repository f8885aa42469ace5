// The command line, and the unattended run it can start.
#include "run/commandline.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "engine/ratelimit.h"
#include "listfile/listfile.h"
#include "platform/folders.h"
#include "platform/pathtext.h"
#include "queue/copyoperation.h"
#include "queue/queuestore.h"
#include "queue/runjournal.h"
#include "run/runreport.h"
#include "run/ttyprogress.h"

namespace mivex {

std::string argumentText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            text += ' ';
        }
        text += argv[i];
    }
    return text;
}

std::optional<std::uint64_t> parseRate(std::string_view text) {
    double number = 0;
    std::size_t at = 0;
    bool digits = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, digits = true) {
        number = number * 10 + (text[at] - '0');
    }
    if (at < text.size() && text[at] == '.') {
        double scale = 0.1;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
            number += (text[at] - '0') * scale;
            digits = true;
        }
    }
    double unit = 1;
    if (at < text.size()) {
        switch (text[at++]) {
            case 'k':
            case 'K':
                unit = 1024.0;
                break;
            case 'm':
            case 'M':
                unit = 1024.0 * 1024;
                break;
            case 'g':
            case 'G':
                unit = 1024.0 * 1024 * 1024;
                break;
            default:
                return std::nullopt;
        }
    }
    const double rate = number * unit;
    // Past a terabyte a second a limit limits nothing; refusing it keeps the number in range.
    if (!digits || at != text.size() || (rate != 0 && rate < 1024) || rate > 1e12) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(rate);
}

namespace {

// The pieces after the list's path, each what followed one " -" ("-bwlimit=20M", "auto"); a
// piece that is no switch of ours is not looked at, as before switches were known.
void readSwitches(std::string_view text, CommandLine& line) {
    for (std::size_t at = text.find(" -"); at != std::string_view::npos;) {
        const std::size_t next = text.find(" -", at + 2);
        std::string_view piece = text.substr(at + 2, next == text.npos ? text.npos : next - at - 2);
        at = next;
        for (const auto& [name, flag] :
             {std::pair{std::string_view("-verify"), &RunSwitches::verify},
              std::pair{std::string_view("-resume"), &RunSwitches::resume}}) {
            if (piece == name || (piece.starts_with(name) && piece[name.size()] == ' ')) {
                line.switches.*flag = true;
            }
        }
        constexpr std::string_view kLimit = "-bwlimit";
        if (!piece.starts_with(kLimit) ||
            (piece.size() > kLimit.size() && piece[kLimit.size()] != '=' &&
             piece[kLimit.size()] != ' ')) {
            continue;
        }
        piece.remove_prefix(std::min(piece.size(), kLimit.size() + 1));
        const std::string_view value = piece.substr(0, piece.find(' '));
        if (const auto rate = parseRate(value)) {
            line.switches.bytesPerSecond = *rate;
        } else {
            line.error =
                "--bwlimit needs a rate in bytes per second, such as 500K, 20M or 1G "
                "(0 for none, at least 1K otherwise), not \"" +
                std::string(value) + "\"";
        }
    }
}

}  // namespace

CommandLine parseArgumentText(std::string_view text, FileTest namesFile) {
    CommandLine line;
    line.unattended = text.find(" -auto") != std::string_view::npos && !namesFile(text);
    // Unattended, the path ends at the first " -", whatever follows it.
    line.listPath = std::string(line.unattended ? text.substr(0, text.find(" -")) : text);
    if (line.unattended) {
        readSwitches(text, line);
    }
    return line;
}

bool isEnqueueLine(int argc, const char* const* argv) {
    return argc > 1 && std::string_view(argv[1]) == "--enqueue";
}

namespace {

std::string absolutePath(std::string_view path, const std::string& workingFolder) {
    // "../x" from the working folder reads as the folder it names, as a pane would show it.
    std::string full = path.starts_with('/')
                           ? std::string(path)
                           : std::filesystem::path(joinPath(workingFolder, std::string(path)))
                                 .lexically_normal()
                                 .string();
    while (full.size() > 1 && full.back() == '/') {
        full.pop_back();
    }
    return full;
}

}  // namespace

EnqueueLine parseEnqueue(int argc, const char* const* argv, const std::string& workingFolder) {
    EnqueueLine line;
    bool options = true;  // until "--"
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--to") {
            if (i + 1 == argc || std::string_view(argv[i + 1]).empty()) {
                line.error = "--to needs a folder";
                return line;
            }
            line.to = absolutePath(argv[++i], workingFolder);
        } else if (options && arg == "--move") {
            line.copy = "M";
        } else if (options && arg == "--overwrite") {
            line.overwrite = "O";
        } else if (options && arg.starts_with("--")) {
            line.error = "unknown option " + std::string(arg);
            return line;
        } else if (!arg.empty()) {
            line.paths.push_back(absolutePath(arg, workingFolder));
        }
    }
    if (line.paths.empty()) {
        line.error = "--enqueue needs at least one file or folder";
    }
    return line;
}

int RunUnattended(const std::string& listPath, const std::string& programFolder,
                  const RunSwitches& switches) {
    ListReadResult list = ReadQueueList(listPath, QueueStore::kMaxEntries);
    if (list.status != ListReadStatus::Ok) {
        RunReport(STDERR_FILENO).unusableList(listPath, list.status);
        return kRunNoList;
    }
    // The list's rows as read (at most a queue's worth): the run needs no queue's bookkeeping.
    const std::vector<std::string>& rows = list.rows;
    const LogFolder logFolder = chooseLogFolder(programFolder);
    // A journal per list, so that a run cut off can be taken up; only --resume takes it up, so
    // that a nightly list never skips last night's rows.
    std::error_code absent;
    RunJournal journal(logFolder, std::filesystem::absolute(listPath, absent).string());
    const std::optional<CutOffRun> cutOff =
        switches.resume ? journal.cutOff() : std::optional<CutOffRun>();
    const bool resuming = cutOff && cutOff->rows == rows;
    if (cutOff && !resuming) {
        RunReport(STDERR_FILENO).changedSinceCutOff(listPath, cutOff->stoppedAt);
    }
    if (resuming) {
        journal.carryOn();
    } else {
        journal.begin(rows);
    }
    CopyHooks hooks;
    // On a terminal, a progress line; rows that are no entry never reach a transfer.
    std::optional<TtyProgress> display;
    if (::isatty(STDERR_FILENO) == 1) {
        display.emplace(STDERR_FILENO);
        hooks.perform = [&display](ShellOpRecord& record, std::size_t number, std::size_t count) {
            display->startEntry(number, count);
            return DoFileOperation(record, &*display);
        };
    }
    RunReport report(STDERR_FILENO, display ? &*display : nullptr);
    hooks.failed = [&report](const RunFailure& failure) { report.failed(failure); };
    hooks.verify = switches.verify;
    hooks.journal = &journal;
    hooks.resume = resuming ? &*cutOff : nullptr;
    RateLimit limit(switches.bytesPerSecond);
    if (switches.bytesPerSecond != 0) {
        hooks.rateLimit = &limit;
    }
    const RunSummary run = CopyOperation(rows, logFolder, hooks);
    journal.finish();
    if (!run.logTrouble.empty()) {
        report.logTrouble(run.logTrouble);
    }
    if (display) {
        display->finish();
    }
    report.finish(run.rows, run.logPath, run.filesLeft);
    return run.ok() ? kRunOk : kRunHadFailures;
}

}  // namespace mivex
