// How finely a filesystem keeps modification times, told by its type or learnt from a probe.
#include "platform/timegrain.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/fd.h"
#include "platform/tempnames.h"

namespace mivex {

namespace {

constexpr timespec kProbeTime{1000000001, 123456789};
constexpr long long kSecond = 1'000'000'000;

// The types whose grain does not depend on how the filesystem was made. ext4's does (128-byte
// inodes keep seconds), and FUSE's on what is behind it: those are probed.
long long grainOfType(int dir) {
    struct statfs fs;
    if (::fstatfs(dir, &fs) != 0) {
        return 0;
    }
    switch (static_cast<long>(fs.f_type)) {
        case MSDOS_SUPER_MAGIC:
            return 2 * kSecond;
        case EXFAT_SUPER_MAGIC:
            return 10'000'000;
        case TMPFS_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case XFS_SUPER_MAGIC:
            return 1;
        default:
            return 0;
    }
}

// A file of the probe's own in `dir`: unnamed, or named `temp`.
Fd probeFile(int dir, std::string& temp) {
    Fd fd(::openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
    for (int tries = 0; !fd.valid() && tries < 8; ++tries) {
        temp = tempName("time-grain");
        fd.reset(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600));
        if (!fd.valid() && errno != EEXIST) {
            temp.clear();
            break;
        }
    }
    return fd;
}

// The grain shown by `kept`, what a filesystem kept of kProbeTime: every digit of that time
// differs from zero, so the kept time ends in as many zeros as the filesystem drops (cut or
// rounded; 2 s where whole seconds are even). 1 (exact) when what was kept is not that time.
long long grainOfKept(const timespec& kept) {
    if (kept.tv_sec < kProbeTime.tv_sec - 2 || kept.tv_sec > kProbeTime.tv_sec + 2) {
        return 1;  // not kept at all (a filesystem that sets times of its own)
    }
    const long long off =
        (kept.tv_sec - kProbeTime.tv_sec) * kSecond + (kept.tv_nsec - kProbeTime.tv_nsec);
    if (off <= -kCoarsestGrainNs || off >= kCoarsestGrainNs) {
        return 1;
    }
    if (kept.tv_nsec == 0) {
        return kept.tv_sec % 2 == 0 ? 2 * kSecond : kSecond;
    }
    long long grain = 1;
    while (grain < kSecond / 10 && kept.tv_nsec % (grain * 10) == 0) {
        grain *= 10;
    }
    return grain;
}

}  // namespace

long long timeGrainOf(int dir) {
    if (const long long grain = grainOfType(dir); grain != 0) {
        return grain;
    }
    std::string temp;
    const Fd fd = probeFile(dir, temp);
    if (!fd.valid()) {
        return 1;  // a read-only or full destination: nothing would be replaced there anyway
    }
    const timespec times[2] = {kProbeTime, kProbeTime};
    struct stat st;
    long long grain = 1;
    if (::futimens(fd.get(), times) == 0 && ::fstat(fd.get(), &st) == 0) {
        grain = grainOfKept(st.st_mtim);
    }
    if (!temp.empty()) {
        ::unlinkat(dir, temp.c_str(), 0);
    }
    return grain;
}

bool sameTimeAt(const timespec& a, const timespec& b, long long grainNs) {
    if (a.tv_sec - b.tv_sec > 2 || b.tv_sec - a.tv_sec > 2) {
        return false;
    }
    const long long off = (a.tv_sec - b.tv_sec) * kSecond + (a.tv_nsec - b.tv_nsec);
    return off > -grainNs && off < grainNs;
}

long long TimeGrains::of(int dir, dev_t dev) {
    std::lock_guard lock(mLock);
    const auto [at, added] = mGrains.try_emplace(dev, 1);
    if (added) {
        at->second = timeGrainOf(dir);
    }
    return at->second;
}

}  // namespace mivex
