// Queue-list files: the first-line test and the reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "listfile/listfile.h"
#include "platform/fd.h"
#include "queue/queueentry.h"

namespace mivex {

namespace {

// Lists are opened for reading only when they are regular files. O_NONBLOCK keeps a FIFO named
// as a list from hanging the program until some writer turns up.
int openList(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Splits a file into lines ending at CR LF, CR or LF, reading block by block so that a caller
// who needs one line reads no more than that. A last line without an end counts; the end of the
// file after a line end makes no further, empty line.
class LineReader {
public:
    explicit LineReader(int fd) : mFd(fd) {}

    // False at the end of the file or on a read error (then failed() is true). A line longer
    // than kMaxListLineLength is read past and comes back empty, with tooLong() true.
    bool next(std::string& line) {
        line.clear();
        mLineLength = 0;
        for (;;) {
            if (mPos == mLength) {
                if (mAtEnd) {
                    return mLineLength != 0;
                }
                refill();
                continue;
            }
            // A CR that ended the last line may have its LF at the head of the next block.
            if (mAfterCR) {
                mAfterCR = false;
                if (mBuffer[mPos] == '\n') {
                    ++mPos;
                    continue;
                }
            }
            const char* begin = mBuffer + mPos;
            const char* end = mBuffer + mLength;
            const char* stop =
                std::find_if(begin, end, [](char c) { return c == '\r' || c == '\n'; });
            mLineLength += static_cast<std::size_t>(stop - begin);
            if (tooLong()) {
                line.clear();
            } else {
                line.append(begin, stop);
            }
            mPos = static_cast<std::size_t>(stop - mBuffer);
            if (stop != end) {
                mAfterCR = *stop == '\r';
                ++mPos;
                return true;
            }
        }
    }

    bool failed() const { return mFailed; }
    bool tooLong() const { return mLineLength > kMaxListLineLength; }
    std::size_t lineLength() const { return mLineLength; }

private:
    void refill() {
        ssize_t n;
        do {
            n = ::read(mFd, mBuffer, sizeof mBuffer);
        } while (n < 0 && errno == EINTR);
        mPos = 0;
        mLength = n > 0 ? static_cast<std::size_t>(n) : 0;
        mAtEnd = n <= 0;
        mFailed = n < 0;
        // A list saved by an editor with a UTF-8 byte-order mark: without this, the mark's first
        // byte would be the first entry's copy code, and the copy would run as a move.
        if (mFirstBlock && std::string_view(mBuffer, mLength).starts_with(kByteOrderMark)) {
            mPos = kByteOrderMark.size();
        }
        mFirstBlock = false;
    }

    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

    int mFd;
    char mBuffer[16384];
    std::size_t mPos = 0;
    std::size_t mLength = 0;
    std::size_t mLineLength = 0;  // of the line being read, kept or not
    bool mAfterCR = false;
    bool mFirstBlock = true;
    bool mAtEnd = false;
    bool mFailed = false;
};

// The second piece of the line split at " --> " exists and is not empty.
bool isListFirstLine(std::string_view line) {
    const std::size_t first = line.find(kSeparator);
    if (first == std::string_view::npos) {
        return false;
    }
    const std::size_t from = first + kSeparator.size();
    return std::min(line.find(kSeparator, from), line.size()) > from;
}

}  // namespace

bool CheckQueueList(const std::string& path) {
    Fd file(openList(path));
    if (file.get() < 0) {
        return false;
    }
    LineReader reader(file.get());
    std::string line;
    return reader.next(line) && !reader.failed() && isListFirstLine(line);
}

ListReadResult ReadQueueList(const std::string& path, std::size_t maxRows) {
    ListReadResult result;
    Fd file(openList(path));
    if (file.get() < 0) {
        result.status = ListReadStatus::NotAList;
        return result;
    }
    LineReader reader(file.get());
    std::string line;
    while (reader.next(line)) {
        if (reader.tooLong()) {
            // No entry is that long: the row stands for the line and fails when carried out. (A
            // first line that long comes back empty and fails the first-line test.)
            line = "[line " + std::to_string(result.rows.size() + 1) +
                   " of the list: " + std::to_string(reader.lineLength()) +
                   " bytes, longer than any queue entry]";
        }
        if (result.rows.empty() && !isListFirstLine(line)) {
            result.status = ListReadStatus::NotAList;
            break;
        }
        if (result.rows.size() == maxRows) {
            result.status = ListReadStatus::TooManyEntries;
            break;
        }
        result.rows.push_back(std::move(line));
    }
    if (result.status == ListReadStatus::Ok) {
        if (reader.failed()) {
            result.status = ListReadStatus::CannotRead;
        } else if (result.rows.empty()) {
            result.status = ListReadStatus::NotAList;
        }
    }
    if (result.status != ListReadStatus::Ok) {
        result.rows.clear();
    }
    return result;
}

}  // namespace mivex
