// The run log: stamped lines appended to the day's file, kept open for the run, one write a line.
#include "queue/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <initializer_list>
#include <utility>

#include "platform/fileid.h"
#include "platform/posixio.h"

namespace mivex {

namespace {

std::string formatTime(const char* format, const std::tm& parts) {
    char buffer[256];
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &parts);
    return std::string(buffer, length);
}

// The C locale's short date has a two-digit year, which makes old logs ambiguous; "C.UTF-8", the
// default of many systems, shares that format.
bool isPlainCLocale(const char* name) {
    if (name == nullptr) {
        return true;
    }
    const std::string_view locale(name);
    for (std::string_view plain : {"C", "POSIX"}) {
        if (locale == plain || (locale.starts_with(plain) && locale.size() > plain.size() &&
                                locale[plain.size()] == '.')) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string logFileName(std::time_t when) {
    std::tm parts{};
    localtime_r(&when, &parts);
    return formatTime("%m%d%Y", parts) + "-log.txt";
}

std::string logTimestamp(std::time_t when) {
    std::tm parts{};
    localtime_r(&when, &parts);
    // Only queried here: the program chooses its locale once at start-up.
    const bool plain = isPlainCLocale(std::setlocale(LC_TIME, nullptr));
    std::string stamp = formatTime(plain ? "%m/%d/%Y" : "%x", parts);
    if (parts.tm_hour != 0 || parts.tm_min != 0 || parts.tm_sec != 0) {
        stamp += ' ';
        stamp += formatTime(plain ? "%H:%M:%S" : "%X", parts);
    }
    return stamp;
}

void RunLog::log(std::string_view message) {
    log(message, std::time(nullptr));
}

void RunLog::setPath(const LogFolder& folder, const std::string& name) {
    mFile.reset();
    mFolder = folder;
    mName = name;
    mPath = folder.empty() ? std::string() : joinPath(folder.path(), name);
}

namespace {

bool endsInLine(int fd, off_t size) {
    char tail[2] = {};
    const off_t from = size >= 2 ? size - 2 : 0;
    return ::pread(fd, tail, 2, from) == 2 && tail[0] == '\r' && tail[1] == '\n';
}

// Whether the file ends inside a line, looked at until its size holds still. The waits double (1 to
// 32 ms): a writer stopped half-way through its line by a busy machine resumes within a few
// scheduler ticks, and only an end that looks torn is waited for at all.
bool endsTorn(int fd, off_t size) {
    for (useconds_t wait = 1000; wait <= 32000 && !endsInLine(fd, size); wait *= 2) {
        ::usleep(wait);
        struct stat st;
        if (::fstat(fd, &st) != 0 || st.st_size == size) {
            return true;
        }
        size = st.st_size;
    }
    return !endsInLine(fd, size);
}

}  // namespace

bool RunLog::open(std::string& prefix) {
    if (mFolder.fd() < 0) {
        fail(errnoText(mFolder.openError() != 0 ? mFolder.openError() : EBADF));
        return false;
    }
    // Read too: a file opened looks at how it ends. O_NONBLOCK: a FIFO planted at the day's name
    // would otherwise hold the run until some reader opened it. Only a regular file is written;
    // anything else loses the line.
    Fd fd(::openat(mFolder.fd(), mName.c_str(),
                   O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!fd.valid()) {
        fail(errnoText(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        fail(errnoText(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        fail("it is not a regular file");
        return false;
    }
    // A line torn by a crash or an older program would swallow the line written next. Another
    // run's line that is being appended right now can look torn too: a write across a page edge
    // grows the file in two steps. So the end counts as torn only when it stays the same.
    if (st.st_size > 0 && endsTorn(fd.get(), st.st_size)) {
        prefix = "\r\n";
    }
    mFile = std::move(fd);
    mFileId = FileId::of(st);
    return true;
}

// One look at the name: while the file is held open its inode number cannot go to another file,
// so a name that leads to it still names it (removed, or moved away, it leads elsewhere or
// nowhere).
bool RunLog::stillNamed() const {
    struct stat named;
    return ::fstatat(mFolder.fd(), mName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           FileId::of(named) == mFileId;
}

void RunLog::log(std::string_view message, std::time_t when) {
    if (mPath.empty()) {
        return;
    }
    std::string line;
    if (mFile.valid() && !(mInBurst && mLookedInBurst) && !stillNamed()) {
        mFile.reset();  // removed or moved away: the day's name gets a file again
    }
    mLookedInBurst = mInBurst;
    // A file that could not be opened is tried again at the next line (the folder may be back).
    if (!mFile.valid() && !open(line)) {
        return;
    }
    // Entries come many a second: the stamp of the second is made once (localtime and strftime
    // cost more than the rest of a small file's line).
    if (mStamp.empty() || when != mStampedAt) {
        mStamp = logTimestamp(when);
        mStampedAt = when;
    }
    line.reserve(line.size() + mStamp.size() + message.size() + 3);  // one allocation a line
    line += mStamp;
    line += '\t';
    line += message;
    line += "\r\n";

    // One write, never retried: with O_APPEND a whole line lands at the end in one piece even when
    // another run appends at the same moment, whereas a second write could land after its lines.
    const int fd = mFile.get();
    const ssize_t written = ::write(fd, line.data(), line.size());
    if (written < 0) {
        fail(errnoText(errno));
    } else if (static_cast<std::size_t>(written) < line.size()) {
        // The disk filled inside the line: cut the torn piece off, so the file still ends in a
        // whole line. The offset after an appending write is where this piece ends.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= written) {
            [[maybe_unused]] const int cut = ::ftruncate(fd, end - written);
        }
        fail(errnoText(ENOSPC));
    }
}

void RunLog::fail(const std::string& reason) {
    if (mFailure.empty()) {
        mFailure = reason;
    }
}

}  // namespace mivex
