// How finely a filesystem keeps a file's modification time: FAT to 2 s, exFAT to 10 ms, NTFS to
// 100 ns, ext4 with 128-byte inodes and many FUSE and network filesystems to the second, the rest
// to the nanosecond. A copy's time is the source's time rounded as the destination keeps it, so
// "U" compares times at the destination's grain, as rsync's --modify-window does by hand.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <map>
#include <mutex>

namespace mivex {

// The coarsest grain believed of any filesystem (FAT's): times further apart are never one.
inline constexpr long long kCoarsestGrainNs = 2'000'000'000;

// The grain of the filesystem of the open folder `dir`: told by its type where that is certain,
// else learnt by giving a file of its own there (unnamed where the filesystem allows, else under
// a temporary name, removed at once) a time and reading back what was kept. 1 (exact) when it
// cannot be learnt: then only equal times are equal, and a file is rather copied once more.
long long timeGrainOf(int dir);

// Whether `a` and `b` are one time at the grain `grainNs` (1: equal to the nanosecond).
bool sameTimeAt(const timespec& a, const timespec& b, long long grainNs);

// The grains of one run's destination filesystems, each learnt once, when a time first needs
// it; for any number of threads.
class TimeGrains {
public:
    // `dev`: the filesystem of `dir`.
    long long of(int dir, dev_t dev);

private:
    std::mutex mLock;
    std::map<dev_t, long long> mGrains;
};

}  // namespace mivex
