// The command line, and the unattended run it can start.
#include "app/commandline.h"

#include "listfile/queuelist.h"
#include "platform/folders.h"
#include "queue/copyoperation.h"
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
    const bool ok = CopyOperation(queue.rows(), chooseLogFolder(programFolder));
    return ok ? kRunOk : kRunHadFailures;
}

}  // namespace mivex
