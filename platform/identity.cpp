// Identity checks of the transfer engine.
#include "platform/identity.h"

#include <fcntl.h>

namespace mivex {

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

}  // namespace mivex
