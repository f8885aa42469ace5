// Paths as text: joining a name to a folder, a path's folder and its last name. These look at the
// bytes only, never at the filesystem; what a path leads to is decided by identity elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace mivex {

// `folder` + "/" + `name`, without doubling the "/" of the root.
std::string joinPath(const std::string& folder, const std::string& name);

// The path without the "/"s that end it; the root stays "/".
std::string withoutTrailingSlashes(std::string_view path);

// The folder a path names its item in: "/a/b" and "/a//b/" give "/a", "/a" and "/" give "/", and a
// relative path without a "/" gives ".".
std::string parentOf(std::string_view path);

// The last name of a path ("/a/b/" gives "b"; "/" gives "/").
std::string nameOf(std::string_view path);

}  // namespace mivex
