// The update rule ("U"): a file at the destination that equals the incoming one is left as it
// is. Equal is size and modification time, as finely as the destination keeps times; for a move,
// which then removes its source, the bytes as well.
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "engine/transferengine.h"
#include "engine/verify.h"
#include "platform/timegrain.h"

namespace mivex::engine {

namespace {

// Opens a regular file for reading, as it was looked at (`st`): the same file, size and time.
Fd openAsSeen(int dir, const std::string& name, const struct stat& st) {
    Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now;
    if (fd.valid() &&
        (::fstat(fd.get(), &now) != 0 || !sameFile(now, st) || now.st_size != st.st_size ||
         now.st_mtim.tv_sec != st.st_mtim.tv_sec || now.st_mtim.tv_nsec != st.st_mtim.tv_nsec)) {
        fd.reset();
    }
    return fd;
}

}  // namespace

int Transfer::leaveIfEqual(const ItemWay& item, bool& left) {
    // Two fstatat calls and no open: a rerun over an unchanged tree reads no file at all.
    struct stat st, there;
    if (::fstatat(item.srcDir, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) ||
        ::fstatat(item.dstDir, item.dstName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(there.st_mode) || there.st_size != st.st_size || !sameTime(item, st, there)) {
        return kSuccess;  // the copy below looks again and says what is wrong, if anything
    }
    // The destination is the source itself: "equal", but a move would remove the only copy.
    if (sameFile(there, st)) {
        return kSameFile;
    }
    // A move removes the source for this file: size and time alone are not enough then (a
    // restore, touch -r or a camera's clock give other bytes the same), so the bytes are
    // compared, and a file that differs is replaced as "O" replaces it.
    if (mCopied && !sameBytes(item, st, there)) {
        return kSuccess;
    }
    if (mOptions.keepHardLinks && st.st_nlink > 1) {
        // A first name left as it is stands for the copy that later names link to; a later name
        // is left only when it already is that copy.
        HardLinks::Claim link = mLinks.claim(st);
        if (link.later()) {
            struct stat first;
            if (link.error() != 0 || ::fstat(link.copy(), &first) != 0 || !sameFile(first, there)) {
                return kSuccess;
            }
        } else {
            link.named(item.dstDir, item.dstName);
        }
    }
    left = true;
    if (!mOneItem) {
        mPlaced.note(there);  // on a destination that ignores case, no other name replaces it
    }
    noteCopied(item.record, st);  // a move removes this source file as if it had been copied
    mBytesDone += static_cast<std::uint64_t>(st.st_size);
    ++mFilesDone;
    ++mFilesLeft;
    report();
    return kSuccess;
}

bool Transfer::sameTime(const ItemWay& item, const struct stat& st, const struct stat& there) {
    if (there.st_mtim.tv_sec == st.st_mtim.tv_sec && there.st_mtim.tv_nsec == st.st_mtim.tv_nsec) {
        return true;
    }
    // Only a time within the coarsest grain costs a look at the destination's (learnt once).
    return sameTimeAt(there.st_mtim, st.st_mtim, kCoarsestGrainNs) &&
           sameTimeAt(there.st_mtim, st.st_mtim, mSession.grains.of(item.dstDir, there.st_dev));
}

void Transfer::keepTimeByName(int dstDir, const std::string& name, const struct stat& st) {
    struct stat placed;
    if (::fstatat(dstDir, name.c_str(), &placed, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(placed.st_mode) && !sameTimeAt(placed.st_mtim, st.st_mtim, kCoarsestGrainNs)) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::utimensat(dstDir, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        }  // as kept times go: where the filesystem lets them be set
    }
}

bool Transfer::sameBytes(const ItemWay& item, const struct stat& st, const struct stat& there) {
    const Fd src = openAsSeen(item.srcDir, item.name, st);
    const Fd dst = openAsSeen(item.dstDir, item.dstName, there);
    if (!src.valid() || !dst.valid()) {
        return false;
    }
    started(item.srcPath);
    // Equal to their ends, and the source still the size it was looked at with.
    struct stat after;
    return compareContents(src.get(), dst.get(), [this] { return stopped(); }) == kSuccess &&
           ::fstat(src.get(), &after) == 0 && after.st_size == st.st_size;
}

}  // namespace mivex::engine
