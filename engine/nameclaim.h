// Claiming a name in a folder without a race: nothing that stands at the name, or arrives there
// meanwhile, is ever replaced, whatever the filesystem offers (RENAME_NOREPLACE, hard links, both
// or neither), and the search for a free name is one loop, written once.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/fileid.h"

namespace mivex {

// Renames `from` (in `fromDir`) to `to` (in `toDir`) only where `to` is free: 0, or -1 with
// errno set (EEXIST where the name is taken, EXDEV across filesystems).
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to);

// One attempt at taking `candidate`: 0 when taken, else -1 with errno set. EEXIST means the name
// is someone else's and the next candidate is tried; any other errno ends the search.
using ClaimAttempt = std::function<int(const std::string& candidate)>;

// The collision number last taken per destination folder and name, for one run: the numbered
// search starts after it, so that the n-th copy costs a few attempts instead of n.
class CollisionNumbers {
public:
    using Key = std::tuple<FileId, bool, std::string>;  // folder, whether a folder, name
    int last(const Key& key) const;
    void note(const Key& key, int n);

private:
    mutable std::mutex mLock;
    std::map<Key, int> mNumbers;
};

// Keep both: takes the first free name of `name`, "name - Copy", "name - Copy (2)", ... in the
// folder `dir`, starting after the number `numbers` remembers (when given). 0 with the name in
// `taken`, or -1 with errno set (EEXIST when none is free).
int claimCollisionName(int dir, const std::string& name, bool isFolder, const ClaimAttempt& attempt,
                       CollisionNumbers* numbers, std::string* taken = nullptr);

// A hidden temporary name beside `name`: 0 with it in `taken`, or -1 with errno set.
int claimTempName(const std::string& name, const ClaimAttempt& attempt, std::string& taken);

}  // namespace mivex
