// The hidden names under which files are written before they take their real names, and the
// clean-up of those left behind by a run that was killed.
//
// A temporary name tells which process made it: ".mivex-<host>-<pid>-<serial>-<name>.part", where
// <host> stands for the machine and process namespace, so that a process of another machine
// writing into a shared folder, or one in another container, is never taken for a dead one.
#pragma once

#include <sys/stat.h>

#include <string>

namespace mivex {

// A fresh temporary name for a file that is to become `name`; never the same twice in a process.
std::string tempName(const std::string& name);

// Whether `name` has the shape of a temporary name (of any process).
bool isTempName(const std::string& name);

// Removes from the folder `dir` the temporary files of processes of this machine and namespace
// that are gone. Each folder is looked through once per process: later calls for it return at
// once, so a queue that writes into one folder many times pays for one look.
void removeStaleTemps(int dir);
// The same for a folder whose state the caller has just taken.
void removeStaleTemps(int dir, const struct stat& st);

}  // namespace mivex
