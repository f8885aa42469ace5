// Reading back what was written, and comparing two files byte for byte.
#include "engine/verify.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/resultcodes.h"

namespace mivex::engine {

namespace {

constexpr std::size_t kCompareBlock = 256u << 10;
// sync_file_range: the range's data written out and waited for, written earlier or now.
constexpr unsigned kWriteAndWait =
    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;

// Reads up to `size` bytes at `offset`, as many as the file has; -1 with errno on failure.
ssize_t readAt(int fd, char* buffer, std::size_t size, off_t offset) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, buffer + got, size - got, offset + static_cast<off_t>(got));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

int compareContents(int a, int b, const std::function<bool()>& stop) {
    return compareRange(a, b, 0, -1, stop);
}

int compareRange(int a, int b, off_t from, off_t length, const std::function<bool()>& stop) {
    thread_local std::unique_ptr<char[]> buffers;
    if (!buffers) {
        buffers = std::make_unique<char[]>(2 * kCompareBlock);
    }
    char* const left = buffers.get();
    char* const right = left + kCompareBlock;
    const off_t end = length < 0 ? -1 : from + length;
    for (off_t offset = from; offset != end;) {
        if (stop && stop()) {
            return kCopyDiffers;  // not known to be the same
        }
        const std::size_t ask = end < 0 ? kCompareBlock
                                        : static_cast<std::size_t>(std::min<off_t>(
                                              end - offset, static_cast<off_t>(kCompareBlock)));
        const ssize_t l = readAt(a, left, ask, offset);
        if (l < 0) {
            return codeFromErrno(errno, true);
        }
        const ssize_t r = readAt(b, right, ask, offset);
        if (r < 0) {
            return codeFromErrno(errno);
        }
        if (l != r || std::memcmp(left, right, static_cast<std::size_t>(l)) != 0) {
            return kCopyDiffers;
        }
        if (static_cast<std::size_t>(l) < ask) {
            return end < 0 ? kSuccess : kCopyDiffers;  // both end early: not what was written
        }
        offset += l;
    }
    return kSuccess;
}

void startWriting(int dst) {
    ::sync_file_range(dst, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int readBackFromStorage(int dst) {
    // Only clean pages can be dropped from the cache. The data alone is waited for, without a
    // journal commit for the file's metadata (what fdatasync costs a new file); a filesystem
    // that has no such call gets fdatasync.
    if (::sync_file_range(dst, 0, 0, kWriteAndWait) != 0 && ::fdatasync(dst) != 0) {
        return codeFromErrno(errno);
    }
    // Dropped pages are read anew from the storage (a FUSE filesystem is asked again); the
    // read-ahead lets the reads of many held copies overlap.
    ::posix_fadvise(dst, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(dst, 0, 0, POSIX_FADV_WILLNEED);
    return kSuccess;
}

int verifyCopy(int src, int dst, const std::function<bool()>& stop, off_t from) {
    int code = readBackFromStorage(dst);
    if (code == kSuccess) {
        code = compareRange(src, dst, from, -1, stop);
    }
    // What was read back stays out of the cache: a verified copy of a large tree must not push
    // the user's working set out of memory.
    ::posix_fadvise(dst, 0, 0, POSIX_FADV_DONTNEED);
    return code;
}

int ReadBackTrail::advance(off_t written) {
    if (mOff) {
        return kSuccess;
    }
    if (written - mStarted >= mStretch) {
        ::sync_file_range(mDst, mStarted, written - mStarted, SYNC_FILE_RANGE_WRITE);
        mStarted = written;
    }
    while (written - mChecked >= 2 * mStretch) {
        if (::sync_file_range(mDst, mChecked, mStretch, kWriteAndWait) != 0) {
            // No such call here (fdatasync at the end waits instead) or a failed write: the
            // read-back at the end, from what was checked on, finds either.
            mOff = true;
            return kSuccess;
        }
        ::posix_fadvise(mDst, mChecked, mStretch, POSIX_FADV_DONTNEED);
        const int code = compareRange(mSrc, mDst, mChecked, mStretch, mStop);
        ::posix_fadvise(mDst, mChecked, mStretch, POSIX_FADV_DONTNEED);
        if (code != kSuccess) {
            return code;
        }
        mChecked += mStretch;
    }
    return kSuccess;
}

}  // namespace mivex::engine
