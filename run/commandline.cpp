// The command line, and the unattended run it can start.
#include "run/commandline.h"

#include <unistd.h>

#include <optional>

#include "listfile/listfile.h"
#include "platform/folders.h"
#include "queue/copyoperation.h"
#include "queue/queuestore.h"
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

CommandLine parseArgumentText(std::string_view text, FileTest namesFile) {
    CommandLine line;
    line.unattended = text.find(" -auto") != std::string_view::npos && !namesFile(text);
    // Unattended, the path ends at the first " -", whatever follows it.
    line.listPath = std::string(line.unattended ? text.substr(0, text.find(" -")) : text);
    return line;
}

int RunUnattended(const std::string& listPath, const std::string& programFolder) {
    ListReadResult list = ReadQueueList(listPath, QueueStore::kMaxEntries);
    if (list.status != ListReadStatus::Ok) {
        RunReport(STDERR_FILENO).unusableList(listPath, list.status);
        return kRunNoList;
    }
    QueueStore queue;
    queue.assign(std::move(list.rows));
    const LogFolder logFolder = chooseLogFolder(programFolder);
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
    const RunSummary run = CopyOperation(queue.rows(), logFolder, hooks);
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
