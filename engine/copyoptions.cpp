// The metadata rules that depend on the destination's answer.
#include "engine/copyoptions.h"

#include <cerrno>

#include "platform/filesystems.h"

namespace mivex {

bool CopyOptions::modeRefusalFailsItem(int err, int fd) const {
    if (!modeRefusalFails) {
        return false;
    }
    if (!modelessFilesystemsTakeData) {
        return true;
    }
    // ENOTSUP is EOPNOTSUPP on Linux.
    if (err == ENOSYS || err == EOPNOTSUPP) {
        return false;
    }
    // Only for a refusal is the filesystem asked: a mode that is set costs nothing more.
    return err != EPERM || unixModesOn(fd) != UnixModes::NotHeld;
}

}  // namespace mivex
