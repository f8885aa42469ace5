// Extended attributes, and with them POSIX ACLs and file capabilities, copied from one open item
// to its copy. Always through descriptors (flistxattr, fgetxattr, fsetxattr), never by path.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/copyoptions.h"

namespace mivex {

// When in the making of a copy which of its attributes go on.
enum class XattrStage {
    // A folder just made, or met for a merge, before anything goes into it: everything but its
    // access ACL. Its default ACL is then what new children inherit, as at the source; the access
    // ACL, which may open the folder to others, waits until the folder is filled.
    FolderOpened,
    // A folder filled, before it gets its mode: its access ACL.
    FolderFilled,
    // A file written, before it gets its owner: everything but its capabilities.
    FileBeforeOwner,
    // A file after it got its owner: its capabilities, which a chown clears.
    FileAfterOwner,
};

// The attributes of one source item, read once and put on its copy stage by stage.
class Xattrs {
public:
    // Reads every attribute listed at `fd`; 0 or an errno value. A filesystem that keeps no
    // attributes lists none.
    int read(int fd);
    bool empty() const { return mList.empty(); }
    bool hasDefaultAcl() const;
    // Puts the attributes of `stage` on `fd` by the options' rules; 0 or an errno value. The ACL
    // that the stage settles is removed from the copy when the source has none: a new item
    // inherits its folder's default ACL, which the source item may never have had. Without
    // `mayHaveInherited` (its folder has no default ACL) that costs no look at the copy.
    int apply(int fd, XattrStage stage, const CopyOptions& options,
              bool mayHaveInherited = true) const;

private:
    bool has(std::string_view name) const;

    std::vector<std::pair<std::string, std::string>> mList;  // name, value
};

// Whether the folder open at `fd` has a default ACL, which what is created in it inherits.
bool hasDefaultAcl(int fd);

}  // namespace mivex
