// What an unattended run says on standard error. A run that succeeds says nothing; a failed
// entry or an unusable list gets one line each, so that cron mails the failure to its owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "listfile/listfile.h"
#include "queue/runfailure.h"

namespace mivex {

class TtyProgress;

// Why the list at `path` cannot be run, after the reader answered `status`: it is missing, a
// folder, unreadable, not a queue list or too long. For the message "mivex: PATH: WHY; ...".
std::string listProblem(const std::string& path, ListReadStatus status);

// Writes the run's lines on `fd`; with a progress line on that terminal, each line is written
// over it and the progress line comes back below.
class RunReport {
public:
    explicit RunReport(int fd, TtyProgress* progress = nullptr) : mFd(fd), mProgress(progress) {}

    void unusableList(const std::string& path, ListReadStatus status) const;
    void failed(const RunFailure& failure);
    // --resume found a run of the list cut off at `stoppedAt`, but the list has changed since.
    void changedSinceCutOff(const std::string& path, std::time_t stoppedAt) const;
    // Run-log lines were lost (one sentence for the run, from CopyHooks::logTrouble).
    void logTrouble(const std::string& text) const { say(printable(text)); }
    // After the run: when anything failed, how many and where the run log is ("" for none); on a
    // terminal also how many files "U" entries left as they were (cron hears nothing of it).
    void finish(std::size_t rows, const std::string& logPath, std::uint64_t filesLeft = 0) const;

private:
    void say(const std::string& text) const;

    int mFd;
    TtyProgress* mProgress;
    std::size_t mFailures = 0;
};

}  // namespace mivex
