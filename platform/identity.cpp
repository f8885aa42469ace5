// Identity checks of the transfer engine.
#include "platform/identity.h"

#include <fcntl.h>

namespace mivex {

namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool replacesItself(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                    const std::string& dstName) {
    struct stat there;
    if (::fstatat(dstDir, dstName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;  // nothing to replace
    }
    // A link is judged by what it resolves to at the source (a relative target from the link's
    // own folder); a dangling or looping link resolves to nothing that could stand there.
    struct stat resolved = st;
    if (S_ISLNK(st.st_mode) && ::fstatat(srcDir, name.c_str(), &resolved, 0) != 0) {
        return false;
    }
    return resolved.st_dev == there.st_dev && resolved.st_ino == there.st_ino;
}

CopiedState copiedState(const struct stat& st) {
    return {st.st_size, st.st_mtim, st.st_ctim, st.st_nlink == 1};
}

bool stillAsCopied(const CopiedState& copied, const struct stat& now) {
    if (now.st_size != copied.size || !sameTime(now.st_mtim, copied.mtime)) {
        return false;
    }
    // ctime also catches a write that put the modification time back (touch -d, rsync -t). Removing
    // one name of a file with several changes its ctime, so a tree holding two links of one file
    // would refuse its own second removal: there only size and modification time are compared.
    return !copied.soleLink || sameTime(now.st_ctim, copied.ctime);
}

}  // namespace mivex
