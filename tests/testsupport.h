// Helpers shared by the tests: scratch folders and mounts, trees as text, child processes.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/transfer.h"

namespace mivex::test {

// Shorthand for the engine's requests.
inline constexpr auto kCopy = TransferKind::Copy;
inline constexpr auto kMove = TransferKind::Move;
inline constexpr auto kO = CollisionRule::Overwrite;
inline constexpr auto kN = CollisionRule::KeepBoth;

// A fresh folder under `under` or $TMPDIR (default /tmp), removed with its contents at the end.
class TempDir {
public:
    explicit TempDir(const std::string& under = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Sets an environment variable for one scope and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : mName(name) {
        if (const char* old = std::getenv(name)) {
            mOld = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() { mOld ? ::setenv(mName.c_str(), mOld->c_str(), 1) : ::unsetenv(mName.c_str()); }

private:
    std::string mName;
    std::optional<std::string> mOld;
};

// A filesystem on a fresh folder for one test; ok() is false, reason() says why, where refused.
class ScratchMount : public TempDir {
public:
    // `type` nullptr: `source` bound once more.
    ScratchMount(const std::string& source, const char* type, const std::string& options,
                 bool readOnly = false);
    ~ScratchMount();
    bool ok() const { return mReason.empty(); }
    const std::string& reason() const { return mReason; }

private:
    std::string mReason;
};
// A tmpfs of `bytes`: a small one runs out of space on demand.
struct TmpfsMount : ScratchMount {
    explicit TmpfsMount(unsigned long long bytes)
        : ScratchMount("tmpfs", "tmpfs", "size=" + std::to_string(bytes) + ",mode=0755") {}
};
// A ramfs: it keeps no extended attributes at all (every one is refused with ENOTSUP).
struct RamfsMount : ScratchMount {
    RamfsMount() : ScratchMount("ramfs", "ramfs", "mode=0755") {}
};
// `source` mounted once more, read-only when asked: rename(2) between the two fails with EXDEV.
struct BindMount : ScratchMount {
    BindMount(const std::string& source, bool readOnly)
        : ScratchMount(source, nullptr, "", readOnly) {}
};

// Declares `var`, a mount of `Kind` made from the arguments, or skips the test saying why.
#define MIVEX_MOUNT_OR_SKIP(var, Kind, ...) \
    Kind var(__VA_ARGS__);                  \
    if (!var.ok())                          \
    GTEST_SKIP() << var.reason()

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string readFile(const std::string& path);  // throws std::runtime_error when unreadable
bool exists(const std::string& path);           // lstat: a dangling link exists
struct stat lstatOf(const std::string& path);   // throws when missing
std::string randomBytes(std::size_t bytes, unsigned seed);
// Files ("a/b.txt", content) and folders ("a/c/", ignored) below `root`, as plantTree makes them.
void makeTree(const std::string& root,
              const std::vector<std::pair<std::string, std::string>>& files);
// A tree as text, one entry a string: "a/b.txt=bytes" a file, "a/c/" a folder, "a/l->t" a link.
// plantTree makes the entries below `root`; describeTree gives every entry below `root`, sorted.
void plantTree(const std::string& root, const std::vector<std::string>& entries);
std::vector<std::string> describeTree(const std::string& root);
// Names below `folder`, sorted, relative, folders with a trailing "/"; hidden names included.
std::vector<std::string> listTree(const std::string& folder);
void removeTree(const std::string& path);  // any depth, any permissions

struct ProcessResult {
    int exitCode = -1;  // -1 when killed by a signal, the time limit or `killWhen`
    bool timedOut = false;
    bool killed = false;  // by `killWhen`
    std::string output;   // standard output, then standard error
    std::string out;
    std::string err;
};
// Runs argv (killed after `timeoutSeconds` or once `killWhen`, asked every millisecond, is true);
// `asNobody` runs it through setpriv as uid/gid 65534.
ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutSeconds = 60,
                         bool asNobody = false, const std::function<bool()>& killWhen = {});

// A chain of `levels` folders "d" below the new folder `root`, deeper than PATH_MAX; every 1000th
// level and the last hold a file "f" with `tag` and the level's number, and `root` a link "l".
void makeDeepTree(const std::string& root, int levels, const std::string& tag);
// How many levels of "d" lie below `root`; -1 when a file of makeDeepTree is missing or wrong.
int deepTreeLevels(const std::string& root, const std::string& tag);
inline void removeDeepTree(const std::string& path) {
    runProcess({"rm", "-rf", "--", path});
}

std::string linkTarget(const std::string& path);  // "<not a link>" when it is none
// A `cp -a` of `source` into `folder` by coreutils, as a reference; returns the copy's path.
std::string referenceCopy(const std::string& source, const std::string& folder);
// Fails the test unless `a` and `b` hold the same names, types, bytes, modes, link targets and
// modification times below the top, naming the first entry that differs.
void expectSame(const std::string& a, const std::string& b);
// What `rsync -naiHAXc --delete` would change to make `b` like `a`: empty when the same names,
// bytes, modes, owners, times, hard links, ACLs and extended attributes.
std::string rsyncDifferences(const std::string& a, const std::string& b);

}  // namespace mivex::test
