// The command line, and the unattended run it can start.
#include "app/commandline.h"

#include <unistd.h>

#include <algorithm>

#include "app/ttyprogress.h"
#include "listfile/queuelist.h"
#include "platform/folders.h"
#include "queue/copyoperation.h"
#include "queue/queueentry.h"
#include "queue/queuestore.h"

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

CommandLine parseArgumentText(std::string_view text) {
    CommandLine line;
    line.unattended = text.find(" -auto") != std::string_view::npos;
    // Unattended, the path ends at the first " -", whatever follows it.
    line.listPath = std::string(line.unattended ? text.substr(0, text.find(" -")) : text);
    return line;
}

int RunUnattended(const std::string& listPath, const std::string& programFolder) {
    ListReadResult list = ReadQueueList(listPath, QueueStore::kMaxEntries);
    if (list.status != ListReadStatus::Ok) {
        return kRunNoList;
    }
    QueueStore queue;
    queue.assign(std::move(list.rows));
    const std::string logFolder = chooseLogFolder(programFolder);
    if (::isatty(STDERR_FILENO) != 1) {
        return CopyOperation(queue.rows(), logFolder) ? kRunOk : kRunHadFailures;
    }
    // On a terminal, a progress line; rows that are no entry never reach a transfer.
    const auto entries = std::count_if(queue.rows().begin(), queue.rows().end(), [](auto& row) {
        std::string source, dest, copyCode, overwriteCode;
        return ParseRecord(row, source, dest, copyCode, overwriteCode);
    });
    TtyProgress display(STDERR_FILENO, static_cast<std::size_t>(entries));
    CopyHooks hooks;
    hooks.perform = [&display](ShellOpRecord& record) {
        display.startEntry();
        return DoFileOperation(record, &display);
    };
    const bool ok = CopyOperation(queue.rows(), logFolder, hooks);
    display.finish();
    return ok ? kRunOk : kRunHadFailures;
}

}  // namespace mivex
