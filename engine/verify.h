// Reading back what was written: a copy checked against its source before it gets its name.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <utility>

namespace mivex::engine {

// Compares the bytes of two open files from their start to their end: kSuccess when they are the
// same, kCopyDiffers when they differ (in length too) or when `stop` answered true before the end
// (asked before every block), or the code of a read that failed.
int compareContents(int a, int b, const std::function<bool()>& stop = {});
// The same from `from` on (both files), and for `length` bytes where it is not -1 (both files
// must hold them).
int compareRange(int a, int b, off_t from, off_t length, const std::function<bool()>& stop = {});

// Starts writing the copy open as `dst` to its storage, and returns at once.
void startWriting(int dst);
// Waits until the copy's data is on its storage and drops it from the page cache, asking for it
// to be read in again at once: what is read next is what the storage holds, not what the cache
// remembers of the write. 0, or the code of a failed write.
int readBackFromStorage(int dst);

// Both, and the comparison: the copy `dst` (open for reading and writing) against `src`, from
// `from` on (what a ReadBackTrail checked before it is not read again).
int verifyCopy(int src, int dst, const std::function<bool()>& stop = {}, off_t from = 0);

// The read-back of a large copy while it is being written: each stretch is read back and compared
// once the stretch after it was written too, so that the storage writes the one while the other is
// read back, and the copy's end leaves a stretch or two to check instead of the whole file. Only
// for a copy written from its start on, without holes.
class ReadBackTrail {
public:
    static constexpr off_t kStretch = off_t{64} << 20;
    // Whether a copy of the file `st` gains from a trail: two stretches or more, without holes.
    static bool covers(const struct stat& st) {
        return st.st_size >= 2 * kStretch && st.st_blocks * 512 >= st.st_size;
    }

    ReadBackTrail(int src, int dst, std::function<bool()> stop, off_t stretch = kStretch)
        : mSrc(src), mDst(dst), mStop(std::move(stop)), mStretch(stretch) {}
    // The copy holds the first `written` bytes: reads back and compares what is due. kSuccess,
    // kCopyDiffers, or the code of a failed write or read.
    int advance(off_t written);
    // Up to where the copy was read back and found the same.
    off_t checked() const { return mChecked; }

private:
    int mSrc, mDst;
    std::function<bool()> mStop;
    off_t mStretch;
    off_t mStarted = 0;  // written out up to here (asked of the storage, not waited for)
    off_t mChecked = 0;
    bool mOff = false;  // the storage cannot be waited for by range: all at the end
};

}  // namespace mivex::engine
