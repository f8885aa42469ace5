// Reading back what was written: a copy checked against its source before it gets its name.
#pragma once

namespace mivex::engine {

// Compares the bytes of two open files from their start to their end: kSuccess when they are the
// same, kCopyDiffers when they differ (in length too), or the code of a read that failed.
int compareContents(int a, int b);

// Makes the copy `dst` durable, drops it from the page cache and reads it back through a
// descriptor of its own (so that a FUSE filesystem is asked anew), comparing it with `src`: what
// comes back is what the destination's storage holds, not what the cache remembers of the write.
int verifyCopy(int src, int dst);

}  // namespace mivex::engine
