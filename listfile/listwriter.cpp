// Saving a queue list: never a half-written list under the list's name, and never a link broken.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "listfile/listfile.h"
#include "platform/posixio.h"
#include "platform/tempnames.h"

namespace mivex {

namespace {

// The name that symbolic links starting at `path` end at: a cron job that runs the link's target
// must run what was saved, so the target is what gets replaced. It need not exist yet.
bool followLinks(std::string path, std::string& target, int& failure) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        char text[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
        if (n < 0 || n == static_cast<ssize_t>(sizeof text)) {
            failure = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        const std::string next(text, static_cast<std::size_t>(n));
        const std::size_t slash = path.rfind('/');
        path = next.starts_with('/') || slash == std::string::npos
                   ? next
                   : path.substr(0, slash + 1) + next;
    }
    failure = ELOOP;
    return false;
}

// Writes the complete list into a new file beside `path`; false, with `failure` set and no file
// left behind, when that cannot be done.
bool writeTemp(const std::string& path, const std::string& mirror, mode_t mode,
               std::string& tempPath, int& failure) {
    const int fd = createTempBeside(path, tempPath);  // removes what a killed save left there
    if (fd < 0) {
        failure = errno;
        return false;
    }
    if (mode != 0) {
        ::fchmod(fd, mode);
    }
    bool ok = writeAll(fd, mirror) == 0 && ::fsync(fd) == 0;
    failure = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
    }
    return ok;
}

// A file with more than one name: renaming a new file onto one name would leave the others on
// the old list, so the content is written over the file itself, but only once the whole new list
// is safe in a file beside it, and with the room for it reserved first.
bool overwriteInPlace(const std::string& path, const std::string& mirror, std::string& error) {
    std::string tempPath;
    int failure = 0;
    if (!writeTemp(path, mirror, 0, tempPath, failure)) {
        error = "The list could not be saved to " + path + ": " + errnoText(failure);
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure = fd < 0 ? errno : EINVAL;
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(tempPath.c_str());
        error = "The list could not be saved to " + path + ": " + errnoText(failure);
        return false;
    }
    const auto size = static_cast<off_t>(mirror.size());
    if (size > st.st_size && ::fallocate(fd, 0, 0, size) != 0 && errno != EOPNOTSUPP) {
        failure = errno;
        [[maybe_unused]] const int restored = ::ftruncate(fd, st.st_size);
        ::close(fd);
        ::unlink(tempPath.c_str());
        error = "The list could not be saved to " + path + ": " + errnoText(failure);
        return false;
    }
    bool ok = writeAll(fd, mirror) == 0 && ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
    failure = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        // The old list is partly overwritten: the whole new one stays beside it.
        error = "The list could not be saved to " + path + ": " + errnoText(failure) +
                ". The complete list is in " + tempPath;
        return false;
    }
    ::unlink(tempPath.c_str());
    return true;
}

}  // namespace

bool WriteQueueList(const std::string& path, const std::string& mirror, std::string& error) {
    std::string target;
    int failure = 0;
    if (!followLinks(path, target, failure)) {
        error = "The list could not be saved to " + path + ": " + errnoText(failure);
        return false;
    }
    struct stat old;
    const bool exists = ::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (exists && old.st_nlink > 1) {
        return overwriteInPlace(target, mirror, error);
    }
    // A list replaced in place keeps the permissions it had.
    std::string tempPath;
    if (!writeTemp(target, mirror, exists ? old.st_mode & 07777 : 0, tempPath, failure)) {
        error = "The list could not be saved to " + path + ": " + errnoText(failure);
        return false;
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) {
        failure = errno;
        ::unlink(tempPath.c_str());
        error = "The list could not be saved to " + path + ": " + errnoText(failure);
        return false;
    }
    return true;
}

}  // namespace mivex
