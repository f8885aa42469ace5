// One file or link put in place: written under no name (or a hidden one), given its attributes,
// and named only when complete, replacing, never replacing, or keeping both as the entry says.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/nameclaim.h"
#include "engine/transferengine.h"
#include "engine/verify.h"
#include "platform/tempnames.h"

namespace mivex::engine {

namespace {

// Opens a source item without following a link in its place, and looks at what was opened.
int openSource(int dir, const std::string& name, int flags, Fd& fd, struct stat& st) {
    fd.reset(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | flags));
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return codeFromErrno(errno, true);
    }
    return kSuccess;
}

// Gives a complete unnamed file (O_TMPFILE) the name `name`; fails with EEXIST where the name is
// taken, never replacing anything. Linking by descriptor alone takes CAP_DAC_READ_SEARCH;
// through /proc/self/fd anyone may.
int linkUnnamed(int fd, int dir, const std::string& name) {
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != EPERM) {
            return -1;
        }
        byDescriptor = false;
    }
    std::array<char, 32> proc;
    std::snprintf(proc.data(), proc.size(), "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, proc.data(), dir, name.c_str(), AT_SYMLINK_FOLLOW);
}

// Why a symbolic link could not be made as `name` in `dir` (errno says). FAT and exFAT hold no
// links: the kernel's vfat answers EPERM, fusefat and exfat-fuse ENOSYS, which would read as
// access denied or an unexpected failure.
int linkRefused(int dir, const std::string& name) {
    const int err = errno;
    if ((err == ENOSYS || err == EOPNOTSUPP || err == EPERM) && !foreignFilesystemsRefuse(name) &&
        unixModesOn(dir) != UnixModes::Held) {
        return kLinksNotHeld;
    }
    return claimFailure(dir, name);
}

// What the link `name` in `dir`, whose lstat is `st`, points to.
int readLink(int dir, const std::string& name, const struct stat& st, std::string& target) {
    target.assign(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    for (;;) {
        ssize_t n = ::readlinkat(dir, name.c_str(), target.data(), target.size());
        if (n < 0) {
            return codeFromErrno(errno, true);
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return kSuccess;
        }
        target.resize(target.size() * 2);  // the link grew since it was looked at
    }
}

}  // namespace

int checkReplaceable(int dstDir, const std::string& dstName, bool incomingIsDir, bool* occupied,
                     struct stat* found) {
    struct stat there;
    if (::fstatat(dstDir, dstName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? kSuccess : codeFromErrno(errno);
    }
    if (occupied) {
        *occupied = true;
    }
    if (found) {
        *found = there;
    }
    return S_ISDIR(there.st_mode) == incomingIsDir ? kSuccess : kAlreadyExists;
}

int Transfer::placeTemp(int dstDir, const std::string& temp, const std::string& dstName,
                        Placement placement, std::string* placedAs) {
    if (placedAs) {
        *placedAs = dstName;
    }
    if (placement == Placement::Replace) {
        // The name reaches what this entry placed moments ago under another name: the destination
        // ignores case (or folds names otherwise), and replacing would lose that file for this one.
        if (mPlaced.holdsName(dstDir, dstName)) {
            return kFileExists;
        }
        // renameat replaces a file or a link (never what a link points to) in one step. The caller
        // has looked for a folder of that name; one made since then makes this fail (EISDIR).
        return ::renameat(dstDir, temp.c_str(), dstDir, dstName.c_str()) == 0
                   ? kSuccess
                   : nameFailure(errno, dstDir, dstName);
    }
    if (placement == Placement::Fresh) {
        if (renameNoReplace(dstDir, temp.c_str(), dstDir, dstName.c_str()) == 0) {
            return kSuccess;
        }
        return claimFailure(dstDir, dstName);
    }
    const auto rename = [&](const std::string& candidate) {
        const int done = renameNoReplace(dstDir, temp.c_str(), dstDir, candidate.c_str());
        if (done == 0 && placedAs) {
            *placedAs = candidate;
        }
        return done;
    };
    return claimCollisionName(dstDir, dstName, false, rename, &mSession.numbers) == 0
               ? kSuccess
               : claimFailure(dstDir, dstName);
}

int Transfer::placeUnnamed(int fd, int dstDir, const std::string& dstName, Placement placement,
                           bool taken) {
    const auto link = [&](const std::string& candidate) {
        return linkUnnamed(fd, dstDir, candidate);
    };
    if (placement == Placement::KeepBoth) {
        return claimCollisionName(dstDir, dstName, false, link, &mSession.numbers) == 0
                   ? kSuccess
                   : claimFailure(dstDir, dstName);
    }
    // A name seen taken a moment ago is replaced at once: linking to it would only fail. Gone
    // meanwhile, the rename below still puts the file there.
    if (!taken || placement != Placement::Replace) {
        if (linkUnnamed(fd, dstDir, dstName) == 0) {
            return kSuccess;
        }
        if (errno != EEXIST) {
            return nameFailure(errno, dstDir, dstName);
        }
        if (placement == Placement::Fresh) {
            return kFileExists;
        }
    }
    // Overwrite: a file or link stands at the name. It is replaced in one step through a
    // temporary name, which the file gets only now, complete: a run killed before this point
    // leaves nothing behind, and one killed in the instant between leaves a whole file that the
    // next run into this folder removes.
    std::string temp;
    if (claimTempName(dstName, link, temp) != 0) {
        return claimFailure(dstDir, dstName);
    }
    const int code = placeTemp(dstDir, temp, dstName, Placement::Replace);
    if (code != kSuccess) {
        ::unlinkat(dstDir, temp.c_str(), 0);
    }
    return code;
}

int Transfer::copyFile(const ItemWay& item) {
    if (mRequest.rule == CollisionRule::Update && item.placement == Placement::Replace) {
        bool left = false;
        if (const int code = leaveIfEqual(item, left); code != kSuccess || left) {
            return code;
        }
    }
    // O_NONBLOCK: if a FIFO was put in the file's place since the folder was read, opening it
    // must not wait for a writer; the type check below then refuses it.
    Fd src;
    struct stat st;
    if (int code = openSource(item.srcDir, item.name, O_NONBLOCK, src, st); code != kSuccess) {
        return code;
    }
    if (!S_ISREG(st.st_mode)) {
        return kSpecialFile;
    }
    started(item.srcPath);
    bool occupied = false;  // something stood at the name when the copy began
    if (item.placement == Placement::Replace) {
        if (int code = checkTarget(item, st, occupied); code != kSuccess) {
            return code;
        }
    }
    // A later name of a file copied earlier in this entry becomes a link to that copy. The entry's
    // own item, the only one placed "keep both", has no other name inside the entry.
    HardLinks::Claim link;
    if (mOptions.keepHardLinks && st.st_nlink > 1 && item.placement != Placement::KeepBoth) {
        link = mLinks.claim(st);
        if (link.later()) {
            return linkToCopy(link, st, item.dstDir, item.dstName, item.placement, item.record);
        }
    }
    return writeAndPlace(item, src.get(), st, occupied, link);
}

// The copy of the open source `src` made, named and counted.
int Transfer::writeAndPlace(const ItemWay& item, int src, const struct stat& st, bool occupied,
                            HardLinks::Claim& link) {
    std::string temp;  // the hidden name it is written under, where it cannot be unnamed
    Fd dst;
    if (int code = createCopy(item.dstDir, item.dstName, dst, temp); code != kSuccess) {
        return code;
    }
    // A pool thread verifies its batch's copies together: their data goes to the disk while it
    // writes the next ones, and one wait serves many. A file with other names is checked at once,
    // so that its later names never link to a copy not yet checked, and a large file is read back
    // behind its own writing (ReadBackTrail) instead.
    const bool later =
        mRequest.verify && item.held && st.st_nlink == 1 && !ReadBackTrail::covers(st);
    int code = writeCopy(src, dst.get(), st, mRequest.verify && !later, item.srcPath);
    if (code == kSuccess && item.placement == Placement::Replace) {
        notePlaced(dst.get());  // before it has its name, so no other thread misses it
    }
    if (code == kSuccess && !mAborted && later) {
        return holdCopy(item, src, dst, temp, st, occupied);
    }
    return placeCopy(item, dst, temp, st, occupied, link, code);
}

int Transfer::placeCopy(const ItemWay& item, Fd& dst, const std::string& temp,
                        const struct stat& st, bool occupied, HardLinks::Claim& link, int code) {
    if (code == kSuccess && !mAborted) {
        code = nameCopy(dst, temp, item, occupied, st);
    }
    if (code != kSuccess || mAborted) {
        if (!temp.empty()) {
            ::unlinkat(item.dstDir, temp.c_str(), 0);
        }
        return code;  // an unnamed file goes away with its descriptor
    }
    link.named(item.dstDir, item.dstName);
    noteCopied(item.record, st);
    mBytesPlaced += static_cast<std::uint64_t>(st.st_size);
    ++mFilesDone;
    report();
    return kSuccess;
}

// Overwrite: checked before the data is written, so a wrong kind of target costs no copy.
int Transfer::checkTarget(const ItemWay& item, const struct stat& st, bool& occupied) {
    struct stat there {};  // filled when something stands there (occupied)
    if (int code = checkReplaceable(item.dstDir, item.dstName, false, &occupied, &there);
        code != kSuccess) {
        return code;
    }
    // The destination item may be this very file under another name (a hard link, or the
    // same folder reached through a bind mount); replacing it by a copy of itself is what
    // cp refuses as "the same file".
    return occupied && sameFile(there, st) ? kSameFile : kSuccess;
}

// The copy is written into a file of the destination folder that has no name yet (O_TMPFILE)
// and is named only when complete, so an interrupted run leaves nothing behind; that holds for
// a copy that replaces a file too. On a filesystem without unnamed files it is written under a
// hidden temporary name instead (`temp`) and renamed into place in one step.
int Transfer::createCopy(int dstDir, const std::string& dstName, Fd& dst, std::string& temp) {
    // Verify reads the copy back through the descriptor it was written with, whatever mode the
    // copy gets before that.
    const int access = mRequest.verify ? O_RDWR : O_WRONLY;
    if (!mNamedOnly.load(std::memory_order_relaxed)) {
        dst.reset(::openat(dstDir, ".", access | O_TMPFILE | O_CLOEXEC, 0600));
        if (dst.valid()) {
            return kSuccess;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return codeFromErrno(errno);
        }
        mNamedOnly = true;
    }
    const auto create = [&](const std::string& candidate) {
        dst.reset(::openat(dstDir, candidate.c_str(),
                           access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return dst.valid() ? 0 : -1;
    };
    return claimTempName(dstName, create, temp) == 0 ? kSuccess : claimFailure(dstDir, dstName);
}

// The data, then the attributes, unless aborted.
int Transfer::writeCopy(int src, int dst, const struct stat& st, bool verifyNow,
                        const std::string& srcPath) {
    // A large copy is read back behind its writing (verify.h); the rest of it after.
    std::optional<ReadBackTrail> trail;
    if (verifyNow && ReadBackTrail::covers(st)) {
        trail.emplace(src, dst, [this] { return stopped(); });
    }
    int code = copyData(src, dst, st, trail ? &*trail : nullptr);
    if (code == kSuccess && !mAborted) {
        // A source that grew, shrank or was rewritten meanwhile gives no consistent copy.
        struct stat after;
        if (::fstat(src, &after) != 0 || after.st_size != st.st_size ||
            after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
            after.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
            code = kInUse;
        }
    }
    // A copy that differs never gets a name: it goes away.
    if (code == kCopyDiffers && trail && !stopped()) {
        noteDiffers(srcPath);
    } else if (code == kSuccess && !mAborted && verifyNow) {
        code = verifyCopy(
            src, dst, [this] { return stopped(); }, trail ? trail->checked() : 0);
        if (code == kCopyDiffers && !stopped()) {
            noteDiffers(srcPath);
        }
    }
    if (code == kSuccess && !mAborted) {
        code = keepFileAttributes(src, dst, st);
    }
    return code;
}

// Closes the complete copy and gives it its name (from `temp`, where it has one).
int Transfer::nameCopy(Fd& dst, const std::string& temp, const ItemWay& item, bool occupied,
                       const struct stat& st) {
    if (!temp.empty()) {
        if (::close(dst.release()) != 0) {
            return codeFromErrno(errno);
        }
        std::string placedAs;
        const int code = placeTemp(item.dstDir, temp, item.dstName, item.placement, &placedAs);
        if (code == kSuccess) {
            keepTimeByName(item.dstDir, placedAs, st);  // fusefat stamps a rename with its time
        }
        return code;
    }
    // close() can report a delayed write error (NFS, some FUSE filesystems). An unnamed file
    // needs its descriptor to get a name, but every close of a descriptor asks the
    // filesystem to flush (not only the last), so closing a duplicate hears that error
    // while the file still has no name. Where nothing is flushed on close, it is skipped.
    int code = kSuccess;
    if (mCloseCanFail.load(std::memory_order_relaxed)) {
        const int dup = ::fcntl(dst.get(), F_DUPFD_CLOEXEC, 0);
        code = dup < 0 || ::close(dup) != 0 ? codeFromErrno(errno) : kSuccess;
    }
    if (code == kSuccess) {
        code = placeUnnamed(dst.get(), item.dstDir, item.dstName, item.placement, occupied);
    }
    dst.reset();
    return code;
}

int Transfer::keepAttributes(int fd, const struct stat& st) {
    // Ownership first: chown clears the set-user-ID and set-group-ID bits that fchmod then sets.
    // (A cast to void does not quiet glibc's warn_unused_result under _FORTIFY_SOURCE.)
    if (mOptions.keepOwners && mEuid == 0 && (st.st_uid != mEuid || st.st_gid != mEgid)) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
    }
    if (::fchmod(fd, st.st_mode & 07777) != 0 && mOptions.modeRefusalFailsItem(errno, fd)) {
        return codeFromErrno(errno);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(fd, times) != 0 && mOptions.timesRefusalFails) {
        return codeFromErrno(errno);
    }
    return kSuccess;
}

int Transfer::keepFileAttributes(int src, int dst, const struct stat& st) {
    Xattrs xattrs;
    if (int err = mOptions.keepXattrs ? xattrs.read(src) : 0; err != 0) {
        return codeFromErrno(err, true);
    }
    if (int err = xattrs.apply(dst, XattrStage::FileBeforeOwner, mOptions, mDefaultAcls);
        err != 0) {
        return codeFromErrno(err);
    }
    if (int code = keepAttributes(dst, st); code != kSuccess) {
        return code;
    }
    const int err = xattrs.apply(dst, XattrStage::FileAfterOwner, mOptions);
    return err == 0 ? kSuccess : codeFromErrno(err);
}

int Transfer::copyXattrs(int src, int dst, std::initializer_list<XattrStage> stages) {
    Xattrs xattrs;
    if (int err = mOptions.keepXattrs ? xattrs.read(src) : 0; err != 0) {
        return codeFromErrno(err, true);
    }
    if (xattrs.hasDefaultAcl()) {
        mDefaultAcls = true;  // before the folder's files go to the pool
    }
    for (XattrStage stage : stages) {
        if (int err = xattrs.apply(dst, stage, mOptions); err != 0) {
            return codeFromErrno(err);
        }
    }
    return kSuccess;
}

int Transfer::linkToCopy(const HardLinks::Claim& copy, const struct stat& st, int dstDir,
                         const std::string& dstName, Placement placement, CopiedItem* record) {
    if (copy.error() != 0) {
        return codeFromErrno(copy.error());
    }
    // Placed like an unnamed copy: a link made under its name, or under "overwrite" over what
    // stands there in one rename, never leaving the name half replaced.
    if (int code = placeUnnamed(copy.copy(), dstDir, dstName, placement); code != kSuccess) {
        return code;
    }
    noteCopied(record, st);
    mBytesDone += static_cast<std::uint64_t>(st.st_size);
    mBytesPlaced += static_cast<std::uint64_t>(st.st_size);
    ++mFilesDone;
    report();
    return kSuccess;
}

int Transfer::copyLink(const ItemWay& item, const struct stat& st) {
    // By name, not as a structured binding: lambdas below capture them.
    const int srcDir = item.srcDir, dstDir = item.dstDir;
    const std::string &name = item.name, &dstName = item.dstName;
    const Placement placement = item.placement;
    CopiedItem* const record = item.record;
    std::string target;
    if (const int code = readLink(srcDir, name, st, target); code != kSuccess) {
        return code;
    }
    if (placement == Placement::Replace) {
        if (int code = checkReplaceable(dstDir, dstName, false); code != kSuccess) {
            return code;
        }
        // A link that points at the very item it would replace would end up pointing at itself,
        // and the item's data would be gone: neither side is touched.
        if (replacesItself(srcDir, name, st, dstDir, dstName)) {
            return kSameFile;
        }
    }
    std::string temp;
    const auto make = [&](const std::string& candidate) {
        return ::symlinkat(target.c_str(), dstDir, candidate.c_str());
    };
    if (claimTempName(dstName, make, temp) != 0) {
        return linkRefused(dstDir, dstName);
    }
    if (mOptions.keepOwners && mEuid == 0) {
        if (::fchownat(dstDir, temp.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        }  // as for files: owners kept when permitted
    }
    if (struct stat placed; placement == Placement::Replace &&
                            ::fstatat(dstDir, temp.c_str(), &placed, AT_SYMLINK_NOFOLLOW) == 0) {
        mPlaced.note(placed);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    int code = kSuccess;
    if (::utimensat(dstDir, temp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 &&
        mOptions.timesRefusalFails) {
        code = codeFromErrno(errno);
    }
    if (code == kSuccess) {
        code = placeTemp(dstDir, temp, dstName, placement);
    }
    if (code != kSuccess) {
        ::unlinkat(dstDir, temp.c_str(), 0);
        return code;
    }
    noteCopied(record, st);
    ++mFilesDone;
    report();
    return kSuccess;
}

}  // namespace mivex::engine
