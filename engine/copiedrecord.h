// What a move across filesystems copied, so that it then removes exactly that from the source and
// nothing that appeared or changed there meanwhile, in memory that stays small however large the
// tree: 8 bytes a file or link (the low 24 bits of its inode number and a 40-bit mark of its
// identity and state as copied) and one small record a folder. Names are not kept: the removal
// reads each source folder again and takes from it only the items whose mark it finds.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/fileid.h"

namespace mivex {

class FolderPath;

class CopiedRecord {
public:
    // The items copied into one folder (the top one: the entry's own item, in its source folder).
    class Folder {
    public:
        // One item as copied, in 8 bytes: the top 24 bits are the low bits of its inode number,
        // which find it; the low 40 bits a mark of its device, inode and type and, for a file or
        // link, its size, modification time and (when it had a single name) change time, which
        // tells whether it is still that item unchanged. A file written to since its copy keeps
        // the same mark by chance once in 2^40 (10^12) changes; its size and times alone, which
        // move in steps of a clock tick, miss far more.
        using Item = std::uint64_t;

    private:
        friend class CopiedRecord;
        std::vector<Item> mItems;
    };

    Folder* top() { return &mTop; }
    // Room for `count` items in `folder`, for a folder whose names have been read: its record then
    // takes no more memory than it needs.
    void expect(Folder* folder, std::size_t count);
    // Notes the item `st` (its state when it was opened for copying) as copied into `folder`; for
    // a folder, answers the record where its own items go. Safe from several threads.
    Folder* note(Folder* folder, const struct stat& st);

    // Removes the item `name` of `parentDir`, which the top record holds, and below it exactly what
    // was copied: a file or link only while it is unchanged since its copy, a folder only once it
    // is empty. 0, or the first failure: kInUse for an item written to since its copy (it stays,
    // and so does every folder above it), kDirNotEmpty for a folder that holds what was not copied.
    // Sorts each folder's items as it goes.
    int remove(int parentDir, const std::string& name);

private:
    // The steps of remove(): what a name standing in a folder is to the move, and taking it.
    enum class Found { Foreign, Changed, File, Subfolder };
    struct Frame;
    Found find(const Folder& folder, const struct stat& now, Folder** below);
    int take(FolderPath& path, std::vector<Frame>& stack, Folder& in, const std::string& item);

    Folder mTop;
    std::map<FileId, Folder> mFolders;  // every copied folder, by identity
    std::mutex mLock;
};

}  // namespace mivex
