// What the filesystem under an open file or folder can hold, told by its type: the rules that
// differ on filesystems made for other systems, FAT (USB sticks, memory cards), exFAT and NTFS.
#pragma once

#include <string_view>

namespace mivex {

enum class UnixModes {
    Held,     // modes and owners as Unix keeps them
    NotHeld,  // FAT (msdos, vfat), exFAT, NTFS (ntfs, ntfs3): their kernel drivers have none
    Unknown,  // FUSE: behind it may be one of those (fusefat, exfat-fuse, ntfs-3g) or any other
};

// Asked of the filesystem of `fd`; Unknown when it cannot be asked.
UnixModes unixModesOn(int fd);

// Whether FAT, exFAT or NTFS would refuse `name`: it holds : ? * " < > | \ or a control
// character, or ends in a dot or a blank (FAT).
bool foreignFilesystemsRefuse(std::string_view name);

}  // namespace mivex
