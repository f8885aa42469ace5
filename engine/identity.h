// Identity checks of the transfer engine: whether two names are one file, whether a source tree
// holds the destination, which items an entry has placed, and whether a source item is still the
// one that was copied. Each answers from (device, inode) and the inode's own times, never from
// path text, so links, bind mounts, hard links and names that a filesystem folds cannot mislead
// them.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "platform/fileid.h"

namespace mivex {

// Whether putting the source item `name` of `srcDir` (its lstat in `st`) in place of `dstName` in
// `dstDir` would replace the very file that the item is or, for a link, points to.
bool replacesItself(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                    const std::string& dstName);

// Whether two open folders lie on one mount. False when the system cannot say.
bool onOneMount(int a, int b);

// Whether the folder tree below the open folder `dir` holds a folder that is `target` (device and
// inode). Links are not followed; mounts inside the tree are entered, as the copy enters them.
bool treeHoldsFolder(int dir, const struct stat& target);

// The items that one entry has put at the destination where something could already stand (in
// folders that it merges into). On a destination that ignores case, "a" finds the "A" that the
// entry placed a moment ago; replacing it would make two source names end in one file.
class PlacedItems {
public:
    void note(const struct stat& st);
    bool holds(const struct stat& st) const;
    // Whether the name `name` in `dir` reaches an item that this entry placed.
    bool holdsName(int dir, const std::string& name) const;

private:
    mutable std::mutex mLock;
    std::set<FileId> mItems;
    std::atomic<bool> mAny{false};  // mItems holds something: only then is a name looked up
};

}  // namespace mivex
