// Hard links inside one entry: a source file met under a second name is linked to its first copy
// instead of being copied again.
#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/fd.h"
#include "platform/fileid.h"

namespace mivex {

class HardLinks {
    using Key = FileId;
    using KeyHash = FileIdHash;

public:
    // One name of a source file that has several. The first name of a file is copied by whoever
    // claimed it, who calls named() once the copy is complete and has its name; a later name gets
    // the first copy to link to.
    class Claim {
    public:
        Claim() = default;
        Claim(Claim&& other) noexcept { *this = std::move(other); }
        Claim& operator=(Claim&& other) noexcept;
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        // A first claim never named lets the next name copy the file instead.
        ~Claim();

        // A later name: copy() is a descriptor (O_PATH) of the first copy, or error() the errno
        // value that kept it from being reached.
        bool later() const { return mCopy.valid() || mError != 0; }
        int copy() const { return mCopy.get(); }
        int error() const { return mError; }
        // The first name: its copy is complete and named `name` in the folder `dir`.
        void named(int dir, const std::string& name);

    private:
        friend class HardLinks;
        void release();

        HardLinks* mOwner = nullptr;  // set on a first claim until it is named
        Key mKey{};
        Fd mCopy;
        int mError = 0;
    };

    // Called for a source file whose link count is above 1, from any thread. Waits while another
    // thread copies the file's first name, so nothing is ever linked to a copy still being made.
    Claim claim(const struct stat& source);

private:
    struct First {
        bool named = false;
        std::shared_ptr<const std::string> folder;  // where its copy is, every link resolved
        std::string name;
        Key folderId{};  // the identities of folder and copy, checked before linking to the copy
        Key id{};
        int error = 0;  // the copy could not be found again
    };
    // An open folder holding first copies (O_PATH), shared by the threads linking into it.
    struct OpenFolder {
        Fd fd;
        Key id{};
    };
    void settle(const Key& key, First* first);
    // The path of the open folder `dir` of identity `id`, asked of /proc once per folder; null
    // with `error` set when it cannot be had.
    std::shared_ptr<const std::string> folderPath(int dir, const Key& id, int& error);
    // The first copy's folder, from the cache or walked to again; errno value on failure.
    int openFolder(const First& first, std::shared_ptr<const OpenFolder>& folder);

    std::mutex mLock;
    std::condition_variable mSettled;
    std::unordered_map<Key, First, KeyHash> mFiles;
    // Later names mostly come folder by folder, so a few open folders spare walking each path.
    std::mutex mFoldersLock;
    std::unordered_map<Key, std::shared_ptr<const OpenFolder>, KeyHash> mFolders;
    // The paths of the folders holding first copies, shared by all the copies in each.
    std::mutex mPathsLock;
    std::unordered_map<Key, std::shared_ptr<const std::string>, KeyHash> mPaths;
};

}  // namespace mivex
