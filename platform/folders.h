// Where the program lives and where its run logs go.
#pragma once

#include <string>

namespace mivex {

// The folder of the running executable, links resolved, without a trailing "/" except for "/".
std::string programFolder();

// The log folder: the program folder when this user may write there, otherwise
// $XDG_STATE_HOME/mivex (default ~/.local/state/mivex), created when missing.
std::string chooseLogFolder(const std::string& programFolder);

// `folder` + "/" + `name`, without doubling the "/" of the root.
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace mivex
