// Processing the queue: every row from the top, one transfer each, one run-log line each.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "queue/runfailure.h"

namespace mivex {

class TransferMonitor;

// The operation record handed to the transfer for one entry. Its fields and flags keep the names
// and numbers of a shell file-operation record (SHFILEOPSTRUCT), as processing is described in
// terms of that record: FO_COPY is 2, the keep-both flags are 1560.
struct ShellOpRecord {
    static constexpr std::uint32_t FO_MOVE = 1;
    static constexpr std::uint32_t FO_COPY = 2;
    static constexpr std::uint16_t FOF_RENAMEONCOLLISION = 0x8;
    static constexpr std::uint16_t FOF_NOCONFIRMATION = 0x10;
    static constexpr std::uint16_t FOF_NOCONFIRMMKDIR = 0x200;
    static constexpr std::uint16_t FOF_NOERRORUI = 0x400;
    static constexpr std::uint16_t kKeepBothFlags = 1560;   // 0x618
    static constexpr std::uint16_t kOverwriteFlags = 1552;  // 0x610

    std::uint32_t wFunc = FO_COPY;
    std::string pFrom;  // the entry's source
    std::string pTo;    // the entry's destination folder
    std::uint16_t fFlags = kKeepBothFlags;
    bool fAnyOperationsAborted = false;
    std::string lpszProgressTitle = "Processing files from your queue.";
};

// Carries out one record with the transfer engine; returns 0 or a result code and sets
// fAnyOperationsAborted when the monitor asked to stop.
int DoFileOperation(ShellOpRecord& record, TransferMonitor* monitor = nullptr);

// The text the run log gives a nonzero result code.
std::string GetErrorText(int code);

struct CopyHooks {
    // Carries out one record; DoFileOperation when empty. The window runs it on a worker thread.
    std::function<int(ShellOpRecord&)> perform;
    // The after-run notice: called once after a run without failures, with the copy code of the
    // last row carried out (empty for an empty queue).
    std::function<void(const std::string& copyCode)> afterRun;
    // Told once, after a run in which log lines were lost, with a sentence saying where and why;
    // when empty, the sentence goes to standard error.
    std::function<void(const std::string& text)> logTrouble;
    // Called for every row that fails, as it fails (a row that is no entry with kNotAnEntry).
    std::function<void(const RunFailure&)> failed;
    // The run's start time, which names the day's log file; now when 0.
    std::time_t startTime = 0;
};

// Carries out every row from the top and logs each outcome in `logFolder` (no log when empty). True
// when every row succeeded; false when any failed or a transfer was aborted (the walk stops there,
// that row gets no line, and no after-run notice follows).
bool CopyOperation(const std::vector<std::string>& rows, const LogFolder& logFolder,
                   const CopyHooks& hooks = {});

}  // namespace mivex
