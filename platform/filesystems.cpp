// Filesystem types and what they hold.
#include "platform/filesystems.h"

#include <linux/magic.h>
#include <sys/vfs.h>

namespace mivex {

namespace {

// Not in <linux/magic.h>: the old NTFS driver's and ntfs3's.
constexpr long kNtfsMagic = 0x5346544e;
constexpr long kNtfs3Magic = 0x7366746e;

}  // namespace

UnixModes unixModesOn(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) {
        return UnixModes::Unknown;
    }
    switch (static_cast<long>(fs.f_type)) {
        case MSDOS_SUPER_MAGIC:  // vfat too
        case EXFAT_SUPER_MAGIC:
        case kNtfsMagic:
        case kNtfs3Magic:
            return UnixModes::NotHeld;
        case FUSE_SUPER_MAGIC:
            return UnixModes::Unknown;
        default:
            return UnixModes::Held;
    }
}

bool foreignFilesystemsRefuse(std::string_view name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view(":?*\"<>|\\").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return !name.empty() && (name.back() == '.' || name.back() == ' ') && name != "." &&
           name != "..";
}

}  // namespace mivex
