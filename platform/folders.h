// Where the program lives and where its run logs go.
#pragma once

#include <string>

namespace mivex {

// The folder of the running executable, links resolved, without a trailing "/" except for "/".
std::string programFolder();

// The log folder: the program folder when this user may write there, otherwise
// $XDG_STATE_HOME/mivex (default ~/.local/state/mivex), created when missing.
std::string chooseLogFolder(const std::string& programFolder);

// Whether two folder paths name one folder: the same device and inode, so that "/data/Photos" and
// "/data/photos" are two folders while a folder reached through a link or a bind mount is one.
// When either cannot be looked at, the paths are compared byte for byte.
bool sameFolder(const std::string& a, const std::string& b);

// A path as a shell expands a leading tilde: "~" and "~/x" take the home folder ($HOME, or the
// password database's when unset), "~ann/x" ann's home. Anything else, or a user that does not
// exist, comes back unchanged.
std::string expandHome(const std::string& path);

// `folder` + "/" + `name`, without doubling the "/" of the root.
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace mivex
