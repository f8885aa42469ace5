// The bytes of one file: copy_file_range where the filesystems allow it (it may share the
// blocks), else a read/write loop; holes stay holes, and a file that changes size meanwhile is
// noticed. And the comparison of two files' bytes, for a move under "U".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "engine/transferengine.h"
#include "engine/verify.h"
#include "platform/posixio.h"

namespace mivex::engine {

namespace {

// copy_file_range is asked for at most this much per call, so progress and abort stay prompt; the
// kernel caps one call below 2 GiB anyway.
constexpr std::size_t kRangeChunk = 4u << 20;
constexpr std::size_t kBufferSize = 256u << 10;  // the plain read/write fallback

// One buffer per thread, kept for the thread's later files.
char* copyBuffer() {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) {
        buffer = std::make_unique<char[]>(kBufferSize);
    }
    return buffer.get();
}

}  // namespace

int Transfer::copyData(int src, int dst, const struct stat& st, ReadBackTrail* trail) {
    // A size of 0 is what /proc, /sys and some FUSE filesystems report for files whose text is
    // made as it is read: such a file is read to its end.
    if (st.st_size == 0) {
        return copyToEnd(src, dst);
    }
    bool endChecked = false;
    const int code = copyKnownSize(src, dst, st, endChecked, trail);
    if (code != kSuccess || mAborted || endChecked) {
        return code;
    }
    // More data than the size promised: the file grew, or its size is not its length. Either way
    // the copy is not the file, and a move must not delete the source for it. The copy itself
    // looked past the end unless the file ends in a hole or the size is a whole number of chunks.
    char probe;
    ssize_t more;
    do {
        more = ::pread(src, &probe, 1, st.st_size);
    } while (more < 0 && (errno == EINTR || errno == EAGAIN));
    if (more < 0) {
        return codeFromErrno(errno, true);
    }
    return more == 0 ? kSuccess : kInUse;
}

int Transfer::copyToEnd(int src, int dst) {
    char* buffer = copyBuffer();
    for (off_t offset = 0;;) {
        if (checkAbort()) {
            return kSuccess;
        }
        const ssize_t got = ::pread(src, buffer, blockSize(kBufferSize), offset);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return codeFromErrno(errno, true);
        }
        if (got == 0) {
            return kSuccess;
        }
        if (int err = writeAll(dst, buffer, static_cast<std::size_t>(got), offset); err != 0) {
            return codeFromErrno(err);
        }
        offset += got;
        paced(static_cast<std::uint64_t>(got));
    }
}

int Transfer::copyKnownSize(int src, int dst, const struct stat& st, bool& endChecked,
                            ReadBackTrail* trail) {
    const off_t size = st.st_size;
    bool useReadWrite = false;
    // Fewer blocks than bytes: the file has holes. Copy only its data and leave the holes.
    if (size > 0 && st.st_blocks * 512 < size) {
        off_t pos = 0;
        while (pos < size) {
            off_t data = ::lseek(src, pos, SEEK_DATA);
            if (data < 0) {
                if (errno == ENXIO) {
                    break;  // only a hole remains
                }
                // No hole support after all.
                return copyRange(src, dst, 0, size, useReadWrite, &endChecked);
            }
            off_t hole = ::lseek(src, data, SEEK_HOLE);
            if (hole < 0 || hole > size) {
                hole = size;
            }
            if (int code = copyRange(src, dst, data, hole - data, useReadWrite,
                                     hole == size ? &endChecked : nullptr);
                code != 0) {
                return code;
            }
            if (mAborted) {
                return kSuccess;
            }
            pos = hole;
        }
        return ::ftruncate(dst, size) == 0 ? kSuccess : codeFromErrno(errno);
    }
    return copyRange(src, dst, 0, size, useReadWrite, &endChecked, trail);
}

// Where the copy of a range stands: the offsets read and written up to, and its end.
struct CopyRange {
    off_t in;
    off_t out;
    const off_t end;
    bool* endChecked;
    ReadBackTrail* trail;  // null: none
    // The trail's look at what is written by now.
    int written() const { return trail ? trail->advance(out) : kSuccess; }
    // How much to ask for next, at most `limit`; one byte more at the end of the file.
    std::size_t ask(off_t limit) {
        const off_t left = end - in;
        if (endChecked && left < limit) {
            *endChecked = true;
            return static_cast<std::size_t>(left + 1);
        }
        return static_cast<std::size_t>(std::min(left, limit));
    }
};

int Transfer::copyRange(int src, int dst, off_t from, off_t length, bool& useReadWrite,
                        bool* endChecked, ReadBackTrail* trail) {
    CopyRange range{from, from, from + length, endChecked, trail};
    if (!useReadWrite) {
        if (const int code = copyRangeInKernel(src, dst, range, useReadWrite);
            code != kSuccess || !useReadWrite || mAborted) {
            return code;
        }
    }
    return copyRangeThroughBuffer(src, dst, range);
}

// copy_file_range, until done or until it turns out not to work here (`useReadWrite`).
int Transfer::copyRangeInKernel(int src, int dst, CopyRange& range, bool& useReadWrite) {
    const off_t from = range.in;
    while (range.in < range.end) {
        if (checkAbort()) {
            return kSuccess;
        }
        ssize_t n = ::copy_file_range(src, &range.in, dst, &range.out,
                                      range.ask(static_cast<off_t>(blockSize(kRangeChunk))), 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
                useReadWrite = true;
                return kSuccess;
            }
            // EIO, ENOSPC, EDQUOT and the rest are the answer; another way would not help.
            return codeFromErrno(errno);
        }
        if (n == 0) {
            if (range.in == from) {
                useReadWrite = true;  // some filesystems copy nothing and say so only like this
                return kSuccess;
            }
            return kInUse;  // the source ended early: it shrank under us
        }
        if (range.in > range.end) {
            return kInUse;  // longer than its size
        }
        if (const int code = range.written(); code != kSuccess) {
            return code;
        }
        paced(static_cast<std::uint64_t>(n));
    }
    return kSuccess;
}

// pread and pwrite through the thread's buffer.
int Transfer::copyRangeThroughBuffer(int src, int dst, CopyRange& range) {
    char* buffer = copyBuffer();
    while (range.in < range.end) {
        if (checkAbort()) {
            return kSuccess;
        }
        ssize_t got =
            ::pread(src, buffer, range.ask(static_cast<off_t>(blockSize(kBufferSize))), range.in);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return codeFromErrno(errno, true);
        }
        if (got == 0 || got > range.end - range.in) {
            return kInUse;  // shorter or longer than its size
        }
        if (int err = writeAll(dst, buffer, static_cast<std::size_t>(got), range.out); err != 0) {
            return codeFromErrno(err);
        }
        range.out += got;
        range.in += got;
        if (const int code = range.written(); code != kSuccess) {
            return code;
        }
        paced(static_cast<std::uint64_t>(got));
    }
    return kSuccess;
}

}  // namespace mivex::engine
