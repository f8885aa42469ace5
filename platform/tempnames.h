// The hidden names under which files are written before they take their real names (copies, saved
// lists, cabinets), and the clean-up of those left behind by a run that was killed.
//
// A temporary name tells which process made it: ".mivex-<host>-<pid>-<serial>-<name>.part", where
// <host> stands for the machine and process namespace, so that a process of another machine
// writing into a shared folder, or one in another container, is never taken for a dead one.
#pragma once

#include <sys/stat.h>

#include <set>
#include <string>

#include "platform/fileid.h"

namespace mivex {

// A fresh temporary name for a file that is to become `name`; never the same twice in a process.
std::string tempName(const std::string& name);

// Whether `name` has the shape of a temporary name (of any process).
bool isTempName(const std::string& name);

// A new, empty file under a fresh temporary name in the folder of `path`, created exclusively with
// `mode` (the umask applies), after the folder's stale temporary files are removed: its
// descriptor, with `tempPath` set to its path; or -1 with errno set.
int createTempBeside(const std::string& path, std::string& tempPath, mode_t mode = 0666);

// Removes from the folder `dir` the temporary files of processes of this machine and namespace
// that are gone.
void removeStaleTemps(int dir);

// The same, once a folder for one run: later looks at a folder it has looked through return at
// once, so a queue that writes into one folder many times pays for one look. Used by one thread
// at a time.
class StaleTemps {
public:
    // `st`: the folder's state, just taken.
    void remove(int dir, const struct stat& st);

private:
    std::set<FileId> mLooked;
};

}  // namespace mivex
