// The check before a run: see prerun.h.
#include "queue/prerun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "engine/sourcecount.h"
#include "queue/queueentry.h"

namespace mivex {

namespace {

// What one source brings to a destination filesystem.
struct Load {
    std::string source;
    struct stat st;           // its lstat
    std::uint64_t bytes = 0;  // the room a file takes; for a folder, counted when it is walked
    bool folder() const { return S_ISDIR(st.st_mode); }
};

struct Destination {
    std::string firstFolder;
    std::uint64_t available = 0;
    std::uint64_t block = 4096;
    std::vector<Load> loads;
};

struct Destinations {
    std::map<dev_t, Destination> byDevice;
    std::vector<dev_t> order;  // the destination filesystems in queue order
};

// The used bytes of the filesystem that holds `path`: the bound
// on any folder there.
std::uint64_t usedBytes(const std::string& path) {
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0) {
        return UINT64_MAX;
    }
    return static_cast<std::uint64_t>(vfs.f_blocks - vfs.f_bfree) * vfs.f_frsize;
}

// `path`, or the nearest folder above it that exists, with its stat; empty when none is a folder.
std::string nearestExisting(std::string path, struct stat& st) {
    while (::stat(path.c_str(), &st) != 0) {
        const std::size_t cut = path.find_last_of('/');
        if (cut == std::string::npos || path == "/") {
            return {};
        }
        path.resize(std::max<std::size_t>(cut, 1));
    }
    return S_ISDIR(st.st_mode) ? path : std::string();
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The destination filesystem that `folder` (its nearest existing folder `existing`, there `st`)
// is on, with its room looked up when it is met first.
Destination& destinationOf(Destinations& all, const std::string& folder,
                           const std::string& existing, const struct stat& st) {
    auto [it, added] = all.byDevice.try_emplace(st.st_dev);
    Destination& d = it->second;
    if (added) {
        all.order.push_back(st.st_dev);
        d.firstFolder = folder;
        struct statvfs vfs;
        if (::statvfs(existing.c_str(), &vfs) == 0) {
            d.available = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
            d.block = std::max<std::uint64_t>(vfs.f_frsize, 1);
        } else {
            d.available = UINT64_MAX;  // cannot tell: the run will
        }
    }
    return d;
}

// The room the loads of `d` need, counted only where they could be short of it; 0 when not.
std::uint64_t roomShort(const Destination& d, CountedSources& counted) {
    // First the bound: files exactly, each folder at most its filesystem's used bytes.
    std::map<dev_t, std::uint64_t> used;
    std::uint64_t bound = 0;
    for (const Load& load : d.loads) {
        std::uint64_t bytes = load.bytes;
        if (load.folder()) {
            auto [it, added] = used.try_emplace(load.st.st_dev, 0);
            if (added) {
                it->second = usedBytes(load.source);
            }
            bytes = it->second;
        }
        bound = saturatingAdd(bound, bytes);
    }
    if (bound <= d.available) {
        return 0;
    }
    std::uint64_t needed = 0;
    for (const Load& load : d.loads) {
        needed = saturatingAdd(
            needed, load.folder()
                        ? counted.count(AT_FDCWD, load.source, load.source, load.st, {d.block}).room
                        : load.bytes);
    }
    return needed > d.available ? needed : 0;
}

}  // namespace

PreRunReport checkBeforeRun(const std::vector<std::string>& rows, CountedSources* counted) {
    PreRunReport report;
    CountedSources own;  // without the run's: kept for this check alone
    Destinations destinations;
    std::string lastDest, existing;
    struct stat dst {};
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const std::optional<QueueEntry> entry = ParseRecord(rows[row]);
        if (!entry) {
            continue;
        }
        struct stat src;
        if (::lstat(entry->source.c_str(), &src) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                report.missing.push_back({row, entry->source});
            }
            continue;  // any other failure is the run's to report
        }
        // The run makes a missing destination folder: its filesystem is that of the nearest
        // folder above it that exists. Neighbouring rows mostly share one: it is looked up once.
        if (entry->dest != lastDest) {
            lastDest = entry->dest;
            existing = nearestExisting(entry->dest, dst);
        }
        if (existing.empty()) {
            continue;
        }
        if (!entry->copies() && src.st_dev == dst.st_dev) {
            continue;  // a rename
        }
        Destination& d = destinationOf(destinations, entry->dest, existing, dst);
        Load load{entry->source, src, 0};
        if (!S_ISDIR(src.st_mode)) {
            load.bytes = countSource(AT_FDCWD, entry->source, src, {d.block}).room;
        }
        d.loads.push_back(std::move(load));
    }
    for (const dev_t device : destinations.order) {
        const Destination& d = destinations.byDevice[device];
        if (const std::uint64_t needed = roomShort(d, counted ? *counted : own); needed != 0) {
            report.shortOfRoom.push_back({d.firstFolder, needed, d.available});
        }
    }
    return report;
}

}  // namespace mivex
