// Neighbouring one-file entries carried out two at a time, one on each core. A list of many
// small files, each its own entry, costs per entry what a folder's files cost per file only
// when its entries overlap as a folder's files do; each entry is still carried out whole by the
// engine, and the run's log gets its lines in row order.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace mivex {

struct QueueEntry;

// Where entries that may overlap copy from and to: one source folder and one destination folder,
// neither the same as the other nor one inside the other.
struct OverlapWay {
    std::string folder;  // the source's folder
    std::string dest;    // the destination folder, without trailing slashes
};

// The way of `entry` when it may overlap with entries of the same way, as far as its row tells: a
// copy that overwrites (or updates). With their sources plain files (the caller looks) and their
// names apart (overlapName), none of them then reads, names or replaces anything another touches,
// so any order gives what the row order gives.
std::optional<OverlapWay> overlapWay(const QueueEntry& entry);
// Whether `entry` copies as overlapWay said, the same way as `way`.
bool sameWay(const QueueEntry& entry, const OverlapWay& way);

// The entry's name as a filesystem that ignores case would take it (ASCII letters in one case);
// "" for a name that such a filesystem, or one that folds Unicode, could take in other ways too,
// which then overlaps with nothing.
std::string overlapName(const QueueEntry& entry);

// Whether this process may use a second core for entries at all (the cores it may run on, and
// MIVEX_WORKERS=0, which keeps everything on one thread).
bool overlapAllowed();

// One thread beside the run's own that carries out one job at a time.
class SideLane {
public:
    SideLane() = default;
    ~SideLane();  // waits for the job in hand, then ends the thread
    SideLane(const SideLane&) = delete;
    SideLane& operator=(const SideLane&) = delete;

    // Hands `job` to the thread (started with the first job). False when the system gives no
    // thread: the job was not run.
    bool start(std::function<void()> job);
    // Returns once the job handed over has ended.
    void wait();

private:
    void loop();

    std::thread mThread;
    std::mutex mLock;
    std::condition_variable mChanged;
    std::function<void()> mJob;  // guarded by mLock: the job waiting or running
    bool mBusy = false;          // guarded by mLock
    bool mClosing = false;       // guarded by mLock
};

}  // namespace mivex
