// What an unattended run says on standard error.
#include "run/runreport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posixio.h"
#include "queue/log.h"
#include "queue/queuestore.h"
#include "run/ttyprogress.h"

namespace mivex {

std::string listProblem(const std::string& path, ListReadStatus status) {
    switch (status) {
        case ListReadStatus::Ok:
            return {};
        case ListReadStatus::TooManyEntries:
            return "the list has more than " + std::to_string(QueueStore::kMaxEntries) +
                   " lines, more than a queue holds";
        case ListReadStatus::CannotRead:
            return "the list could not be read to its end";
        case ListReadStatus::NotAList:
            break;
    }
    // The reader says only "not a list"; what the user must mend is found out here.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR
                   ? std::string("the list does not exist")
                   : "the list cannot be reached (" + std::string(std::strerror(errno)) + ")";
    }
    if (S_ISDIR(st.st_mode)) {
        return "the list is a folder";
    }
    if (!S_ISREG(st.st_mode)) {
        return "the list is not a regular file";
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return "the list cannot be read (" + std::string(std::strerror(errno)) + ")";
    }
    ::close(fd);
    return "the file is not a queue list: its first line is not an entry such as "
           "\"C-N --> source --> destination folder\"";
}

void RunReport::unusableList(const std::string& path, ListReadStatus status) const {
    say(printable(path) + ": " + listProblem(path, status) + "; nothing was run");
}

void RunReport::changedSinceCutOff(const std::string& path, std::time_t stoppedAt) const {
    say(printable(path) + ": the list changed since its run that was cut off (" +
        logTimestamp(stoppedAt) + "); that run is not resumed, and the list runs from the start");
}

void RunReport::failed(const RunFailure& failure) {
    ++mFailures;
    say(describeFailure(failure));
}

void RunReport::finish(std::size_t rows, const std::string& logPath,
                       std::uint64_t filesLeft) const {
    if (filesLeft > 0 && (mProgress || mFailures > 0)) {
        say(std::to_string(filesLeft) + (filesLeft == 1 ? " file was" : " files were") +
            " left as they were: the destination's copy was equal");
    }
    if (mFailures == 0) {
        return;
    }
    say(std::to_string(mFailures) + " of " + std::to_string(rows) +
        (rows == 1 ? " entry" : " entries") + " failed; " +
        (logPath.empty() ? std::string("this run has no log")
                         : "the run log is " + printable(logPath)));
}

void RunReport::say(const std::string& text) const {
    if (mProgress) {
        mProgress->clearLine();
    }
    // Nowhere to say it (a closed pipe, a full disk): the exit status and the run log still tell.
    writeAll(mFd, "mivex: " + text + "\n");
}

}  // namespace mivex
