// Moves: a rename on one filesystem (a folder onto a folder merges, child by child), and across
// filesystems a copy made durable before exactly what was copied is removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/nameclaim.h"
#include "engine/transferengine.h"

namespace mivex::engine {

// A folder being merged into the folder of that name by a move on one filesystem.
struct MergeFrame {
    std::string name;
    struct stat st;
    std::vector<std::string> names;
    std::size_t next = 0;
    int first = 0;  // the first failure among its items: then it stays, with what is left
};

// ----- moves

int Transfer::moveItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       Placement placement) {
    bool merge = false;
    int code = moveOne(srcDir, name, st, dstDir, placement, merge);
    if (merge) {
        code = mergeFolder(srcDir, name, st, dstDir);
    }
    if (code == kSuccess && !mAborted) {
        // Everything is at the destination, whatever went in folders renamed whole.
        mFilesDone = std::max(mFilesDone.load(), mProgress.filesTotal);
        mBytesDone = std::max(mBytesDone.load(), mProgress.bytesTotal);
        report();
    }
    return code;
}

// The one way a rename is counted: a file or link as itself. A folder renamed whole took along
// files that were never counted one by one; they count when the entry is done (moveItem).
void Transfer::movedByRename(const struct stat& st) {
    if (!S_ISDIR(st.st_mode)) {
        ++mFilesDone;
        if (S_ISREG(st.st_mode)) {
            mBytesDone += static_cast<std::uint64_t>(st.st_size);
        }
    }
    report();
}

// Moves one item by a rename, or sets `merge` where a folder meets a folder of its name.
int Transfer::moveOne(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                      Placement placement, bool& merge) {
    if (checkAbort()) {
        return kSuccess;
    }
    const bool isDir = S_ISDIR(st.st_mode);
    if (placement == Placement::KeepBoth) {
        const auto rename = [&](const std::string& candidate) {
            return renameNoReplace(srcDir, name.c_str(), dstDir, candidate.c_str());
        };
        if (claimCollisionName(dstDir, name, isDir, rename, &mSession.numbers) == 0) {
            movedByRename(st);
            return kSuccess;
        }
        return errno == EXDEV ? moveAcross(srcDir, name, st, dstDir) : claimFailure(dstDir, name);
    }

    struct stat there;
    if (::fstatat(dstDir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return codeFromErrno(errno);
        }
        if (renameNoReplace(srcDir, name.c_str(), dstDir, name.c_str()) == 0) {
            mPlaced.note(st);  // a rename keeps the inode
            movedByRename(st);
            return kSuccess;
        }
        if (errno == EXDEV) {
            return moveAcross(srcDir, name, st, dstDir);
        }
        if (errno != EEXIST) {
            return codeFromErrno(errno);
        }
        // Something appeared there meanwhile: look again and go on as for an existing item.
        if (::fstatat(dstDir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            return codeFromErrno(errno);
        }
    }
    return moveOnto(srcDir, name, st, dstDir, there, merge);
}

// Moves one item onto `there`, what stands at its name, or sets `merge` for a folder onto a folder.
int Transfer::moveOnto(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       const struct stat& there, bool& merge) {
    const bool isDir = S_ISDIR(st.st_mode);
    if (S_ISDIR(there.st_mode) != isDir) {
        return kAlreadyExists;
    }
    // What stands there was moved in by this entry under a name that differs only in case.
    if (mPlaced.holds(there)) {
        return kFileExists;
    }
    if (isDir) {
        merge = true;
        return kSuccess;
    }
    // A link onto the very file it points to would replace that file by a link to itself.
    if (S_ISLNK(st.st_mode) && replacesItself(srcDir, name, st, dstDir, name)) {
        return kSameFile;
    }
    if (sameFile(there, st)) {
        // Two hard links of one file: rename would keep both names; drop the source's.
        if (::unlinkat(srcDir, name.c_str(), 0) != 0) {
            return codeFromErrno(errno);
        }
        movedByRename(st);
        return kSuccess;
    }
    if (::renameat(srcDir, name.c_str(), dstDir, name.c_str()) == 0) {
        mPlaced.note(st);
        movedByRename(st);
        return kSuccess;
    }
    return errno == EXDEV ? moveAcross(srcDir, name, st, dstDir) : codeFromErrno(errno);
}

// A folder onto a folder: merge, child by child and level by level, then remove each emptied
// source folder. What could not be moved stays in its source folder, which then stays too.
int Transfer::mergeFolder(int srcDir, const std::string& name, const struct stat& st, int dstDir) {
    FolderPath src(srcDir);
    FolderPath dst(dstDir);
    std::vector<MergeFrame> stack;
    if (const int code = enterMerge(src, dst, name, st, stack); code != kSuccess) {
        return code;
    }
    for (;;) {
        if (stack.back().next < stack.back().names.size()) {
            const std::string child = stack.back().names[stack.back().next++];
            struct stat childSt;
            bool merge = false;
            int code;
            if (::fstatat(src.current(), child.c_str(), &childSt, AT_SYMLINK_NOFOLLOW) != 0) {
                code = codeFromErrno(errno, true);
            } else if (isSpecial(childSt.st_mode)) {
                code = kSpecialFile;
            } else {
                code = moveOne(src.current(), child, childSt, dst.current(), Placement::Replace,
                               merge);
            }
            if (mAborted) {
                return kSuccess;
            }
            if (merge) {
                code = enterMerge(src, dst, child, childSt, stack);
            }
            keepFirst(stack.back().first, code);
            continue;
        }
        const MergeFrame done = std::move(stack.back());
        stack.pop_back();
        int code = finishMerged(src.current(), dst.current(), done);
        if (src.leave() != 0 || dst.leave() != 0) {
            return kInUse;  // moved meanwhile: the walk cannot go on safely
        }
        if (code == kSuccess && ::unlinkat(src.current(), done.name.c_str(), AT_REMOVEDIR) != 0) {
            code = errno == ENOTEMPTY || errno == EEXIST ? kDirNotEmpty : codeFromErrno(errno);
        }
        if (stack.empty()) {
            return code;
        }
        keepFirst(stack.back().first, code);
    }
}

// Enters the folder `folder` on both sides and reads the source's names.
int Transfer::enterMerge(FolderPath& src, FolderPath& dst, const std::string& folder,
                         const struct stat& folderSt, std::vector<MergeFrame>& stack) {
    if (src.enter(folder) != 0) {
        return codeFromErrno(errno, true);
    }
    if (dst.enter(folder) != 0) {
        const int code = errno == ELOOP ? kAlreadyExists : codeFromErrno(errno);
        src.leave();
        return code;
    }
    MergeFrame frame{folder, folderSt, {}, 0, kSuccess};
    std::vector<DirEntry> entries;
    if (const int err = readFolder(src.current(), entries); err != 0) {
        frame.first = codeFromErrno(err, true);
    }
    for (DirEntry& e : entries) {
        frame.names.push_back(std::move(e.name));
    }
    stack.push_back(std::move(frame));
    return kSuccess;
}

// The folder `done` is merged: its copy gets its attributes, before the source folder may go.
int Transfer::finishMerged(int src, int dst, const MergeFrame& done) {
    int code = done.first;
    if (code == kSuccess) {
        code = copyXattrs(src, dst, {XattrStage::FolderOpened, XattrStage::FolderFilled});
    }
    if (code == kSuccess) {
        // Failing, the emptied source folder stays, saying what mode it should have had.
        code = keepAttributes(dst, done.st);
    }
    return code;
}

int Transfer::moveAcross(int srcDir, const std::string& name, const struct stat& st, int dstDir) {
    const Placement top =
        mRequest.rule == CollisionRule::KeepBoth ? Placement::KeepBoth : Placement::Replace;
    CopiedRecord copied;
    mCopied = &copied;
    int code = copyTree(srcDir, name, st, dstDir, top, mRequest.source, copied.top());
    mCopied = nullptr;
    if (code != kSuccess || mAborted) {
        return code;  // the source stays whole
    }
    // The source goes only once the copy is on disk, and then exactly what was copied.
    if (::syncfs(dstDir) != 0) {
        return codeFromErrno(errno);
    }
    return copied.remove(srcDir, name);
}

}  // namespace mivex::engine
