// Reading back what was written: a copy checked against its source before it gets its name.
#pragma once

#include <functional>

namespace mivex::engine {

// Compares the bytes of two open files from their start to their end: kSuccess when they are the
// same, kCopyDiffers when they differ (in length too) or when `stop` answered true before the end
// (asked before every block), or the code of a read that failed.
int compareContents(int a, int b, const std::function<bool()>& stop = {});

// Starts writing the copy open as `dst` to its storage, and returns at once.
void startWriting(int dst);
// Waits until the copy's data is on its storage and drops it from the page cache, asking for it
// to be read in again at once: what is read next is what the storage holds, not what the cache
// remembers of the write. 0, or the code of a failed write.
int readBackFromStorage(int dst);

// Both, and the comparison: the copy `dst` (open for reading and writing) against `src`.
int verifyCopy(int src, int dst, const std::function<bool()>& stop = {});

}  // namespace mivex::engine
