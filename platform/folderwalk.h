// The tools of a walk through a folder tree that costs memory, not stack or descriptors, with
// depth: the one folder reader, the chain of open folders from a kept base down to where the walk
// is, and the one walk on it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/fd.h"
#include "platform/fileid.h"

namespace mivex {

struct DirEntry {
    std::string name;
    unsigned char type;  // DT_REG, DT_DIR, ...; DT_UNKNOWN where the filesystem does not say
};

// The one folder reader: appends the names in the open folder `dir` except "." and "..", in the
// order the system lists them, read from its start through a descriptor of its own (`dir` stays
// open and its position is not moved): 0, or the errno of opening or reading it (what was read
// before a failure stays in `entries`).
int readFolder(int dir, std::vector<DirEntry>& entries);

// The folders from a base (not owned, kept open by the caller) down to the deepest one entered.
// Only the deepest kWindow levels keep their descriptor. A level that lost it is re-opened through
// ".." of the level below when the walk comes back up (as fts does), and must then be the very
// folder that was entered (device and inode): a folder moved or swapped for another during the run
// ends the walk instead of leading it somewhere else. ".." is never a link.
class FolderPath {
public:
    static constexpr std::size_t kWindow = 16;

    explicit FolderPath(int base) : mBase(base) {}
    // The deepest folder entered, or the base.
    int current() const { return mLevels.empty() ? mBase : mLevels.back().fd.get(); }
    std::size_t depth() const { return mLevels.size(); }
    // Opens the folder `name` in current() without following a link: 0, or -1 with errno set;
    // kLoop where it is a folder the path already holds (a bind mount can make a tree endless).
    static constexpr int kLoop = -2;
    int enter(const std::string& name, struct stat* st = nullptr);
    // Goes back to the level above: 0, or -1 with errno set (ESTALE: it is no longer the folder
    // that was entered, or cannot be reached).
    int leave();

private:
    struct Level {
        Fd fd;
        FileId id;
    };
    int mBase;
    std::vector<Level> mLevels;
    std::set<FileId> mOnPath;
};

// The one walk of a folder tree, depth first on a FolderPath (so depth costs memory, not stack or
// descriptors); its callers write what they do in each folder. `visit` is called for the open
// folder `dir` first (`st` null), then for each folder below it as it is entered (`st` its fstat),
// with `where`, its path from `top` (`top` itself for `dir`). It lists in `subfolders` the names
// of the folders in it to walk (the last one first), or answers false to end the walk. Links are
// never followed.
using FolderVisit = std::function<bool(int folder, const std::string& where, const struct stat* st,
                                       std::vector<std::string>& subfolders)>;

// How a walk takes a folder that cannot be entered.
enum class Unenterable {
    PassOver,  // it is left out, and so is what it holds
    EndWalk,   // the walk ends there, saying where
};

struct WalkEnd {
    bool stopped = false;  // `visit` ended it
    int error = 0;         // the errno of a folder that could not be entered, or of one moved away
    std::string where;     // that folder's path from `top`
};

// A folder moved away during the walk ends it (error ESTALE, where the folder it could not go back
// up to): the walk never goes on somewhere else.
WalkEnd walkFolders(int dir, const std::string& top, const FolderVisit& visit,
                    Unenterable unenterable = Unenterable::PassOver);

// Every item below the open folder `dir` on walkFolders: `visit` gets each one's lstat, a folder
// before what it holds, and ends the walk by answering false. What cannot be read or entered is
// passed over, and a folder moved away during the walk ends it. False when `visit` ended it.
bool walkTree(int dir, const std::function<bool(const struct stat&)>& visit);

}  // namespace mivex
