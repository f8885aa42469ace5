// The browse panes' view of the disk: the "drives" (mounted filesystems a person would browse),
// the folders and the files below them. Plain C++ over POSIX, so the rules are testable without
// a window.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mivex {

// "/" first, then the mount points of real and removable filesystems in path order; pseudo
// filesystems (proc, sysfs, cgroup, devpts, ...) and anything below /proc, /sys, /dev and /run
// (but for removable media in /run/media) are left out. Mount points are unescaped ("\040" is a
// blank).
std::vector<std::string> drivesFromMountInfo(std::string_view mountinfo);
std::vector<std::string> listDrives();  // from /proc/self/mountinfo

// The drive that holds `path`: the longest drive that is `path` or one of its ancestors.
std::string driveOf(const std::string& path, const std::vector<std::string>& drives);

// Whether an errno from opening a drive or folder means the device itself cannot be read
// (EIO, ENOMEDIUM, ENOTCONN, ESTALE, ENODEV), as opposed to any other failure.
bool isDeviceUnavailable(int err);

// The subfolders of `folder` whose names do not begin with ".", sorted by name (links to folders
// count). Returns false with `err` set when the folder cannot be read.
bool readSubfolders(const std::string& folder, std::vector<std::string>& names, int& err);

// The regular files (and links to them) in `folder` whose names do not begin with "." and match
// `pattern`, sorted by name. "*.*" means every file, whether or not its name has a dot.
bool readFiles(const std::string& folder, const std::string& pattern,
               std::vector<std::string>& names, int& err);

}  // namespace mivex
