// Two neighbouring entries at once: see sidelane.h.
#include "queue/sidelane.h"

#include <algorithm>
#include <cctype>
#include <system_error>
#include <utility>

#include "engine/workpool.h"
#include "platform/pathtext.h"
#include "queue/queueentry.h"

namespace mivex {

namespace {

// Whether one of the two folder paths is the other or lies inside it, as text.
bool nested(const std::string& a, const std::string& b) {
    const std::string& shorter = a.size() <= b.size() ? a : b;
    const std::string& longer = a.size() <= b.size() ? b : a;
    return longer.compare(0, shorter.size(), shorter) == 0 &&
           (longer.size() == shorter.size() || longer[shorter.size()] == '/' || shorter == "/");
}

}  // namespace

std::optional<OverlapWay> overlapWay(const QueueEntry& entry) {
    if (!entry.copies() || entry.keepsBoth()) {
        return std::nullopt;
    }
    OverlapWay way{parentOf(entry.source), withoutTrailingSlashes(entry.dest)};
    return nested(way.folder, way.dest) ? std::nullopt : std::make_optional(std::move(way));
}

bool sameWay(const QueueEntry& entry, const OverlapWay& way) {
    // A source written with a trailing slash is looked at as the engine looks at it (without
    // the slash, a link as a link) by the engine alone.
    if (!entry.copies() || entry.keepsBoth() || entry.source.empty() ||
        entry.source.back() == '/') {
        return false;
    }
    // Compared as text without making new strings: the source's folder, then the destination.
    const std::string_view source = entry.source;
    std::string_view dest = entry.dest;
    while (dest.size() > 1 && dest.back() == '/') {
        dest.remove_suffix(1);
    }
    const std::size_t slash = source.rfind('/');
    return dest == way.dest && slash != std::string_view::npos && slash == way.folder.size() &&
           source.substr(0, slash) == way.folder;
}

std::string overlapName(const QueueEntry& entry) {
    std::string name = nameOf(entry.source);
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            return {};
        }
        c = static_cast<char>(std::tolower(byte));
    }
    return name;
}

bool overlapAllowed() {
    return workerCount(0) >= 2;
}

SideLane::~SideLane() {
    {
        std::lock_guard lock(mLock);
        mClosing = true;
    }
    mChanged.notify_all();
    if (mThread.joinable()) {
        mThread.join();
    }
}

bool SideLane::start(std::function<void()> job) {
    if (!mThread.joinable()) {
        try {
            mThread = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    {
        std::lock_guard lock(mLock);
        mJob = std::move(job);
        mBusy = true;
    }
    mChanged.notify_all();
    return true;
}

void SideLane::wait() {
    std::unique_lock lock(mLock);
    mChanged.wait(lock, [this] { return !mBusy; });
}

void SideLane::loop() {
    std::unique_lock lock(mLock);
    for (;;) {
        mChanged.wait(lock, [this] { return mClosing || static_cast<bool>(mJob); });
        if (!mJob) {
            return;  // closing, nothing in hand
        }
        const std::function<void()> job = std::move(mJob);
        mJob = nullptr;
        lock.unlock();
        job();
        lock.lock();
        mBusy = false;
        mChanged.notify_all();
    }
}

}  // namespace mivex
