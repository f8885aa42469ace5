// Where the program lives and where its run logs go.
#pragma once

#include <memory>
#include <string>

#include "platform/fd.h"
#include "platform/pathtext.h"

namespace mivex {

// The folder of the running executable, links resolved, without a trailing "/" except for "/".
std::string programFolder();

// The prefix this build installs under (CMAKE_INSTALL_PREFIX).
std::string installPrefix();

// Whether `folder` holds an installed Mivex, which never writes beside itself: it lies under
// `prefix` (unless that is "/"), under /usr or /opt, or it belongs to someone other than the user
// running the program (the system, or another user). A folder that cannot be examined counts too.
bool isInstalledFolder(const std::string& folder, const std::string& prefix);

// What the choice of the log folder depends on; empty strings for what is not set.
struct LogPlaces {
    std::string programFolder;
    std::string installPrefix;
    std::string stateHome;   // $XDG_STATE_HOME
    std::string home;        // $HOME
    std::string passwdHome;  // the home of the effective user in the password database
};

// The places of this process.
LogPlaces currentLogPlaces(const std::string& programFolder);

// The folder the run logs go to: its path, for what is said to the user, and the folder itself,
// kept open from the moment it was checked. Logs are created relative to the open folder, so a
// folder on the way to it that is swapped for a link afterwards (by another user, whose folder
// $XDG_STATE_HOME may lie in after `su` or `sudo -E`) cannot steer where they are written.
// Copies share the one descriptor.
class LogFolder {
public:
    LogFolder() = default;  // none: runs are not logged
    LogFolder(std::string path, Fd folder);
    // The folder at `path` as it stands, for a folder the caller chose itself; one that cannot be
    // opened keeps the reason, and the log's lines are then lost with it.
    static LogFolder open(const std::string& path);

    bool empty() const { return mPath.empty(); }
    const std::string& path() const { return mPath; }
    int fd() const { return mFolder ? mFolder->get() : -1; }
    // Why the folder could not be opened (an errno), or 0.
    int openError() const { return mError; }

private:
    std::string mPath;
    std::shared_ptr<const Fd> mFolder;
    int mError = 0;
};

// The log folder: the program folder when Mivex runs from its own folder (a build tree, an
// unpacked copy) and may write there, unless others may too (writable by its group or by
// everyone, or sticky: a download in /tmp). Otherwise the first of $XDG_STATE_HOME/mivex,
// $HOME/.local/state/mivex and the password database's home's .local/state/mivex that is, or can
// be made, a real folder (no link on the way) owned by this user and writable; missing folders
// are made with mode 0700. Never a shared folder: when none fits, returns none (the runs are not
// logged) and sets `problem` to a sentence saying why.
LogFolder findLogFolder(const LogPlaces& places, std::string& problem);

// The log folder of this process, chosen once at start-up; when there is none, says so on
// standard error and returns none.
LogFolder chooseLogFolder(const std::string& programFolder);

// Whether two folder paths name one folder: the same device and inode, so that "/data/Photos" and
// "/data/photos" are two folders while a folder reached through a link or a bind mount is one.
// When either cannot be looked at, the paths are compared byte for byte.
bool sameFolder(const std::string& a, const std::string& b);

// A path as a shell expands a leading tilde: "~" and "~/x" take the home folder ($HOME, or the
// password database's when unset), "~ann/x" ann's home. Anything else, or a user that does not
// exist, comes back unchanged.
std::string expandHome(const std::string& path);

}  // namespace mivex
