// Helpers shared by the tests: scratch folders, small mounts, files by content, and child
// processes with a time limit.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

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

// A fresh folder under $TMPDIR (default /tmp), removed with everything in it at destruction.
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
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string mName;
    std::optional<std::string> mOld;
};

// A filesystem mounted on a fresh folder for one test, unmounted at destruction. ok() is false,
// with reason() saying why, where mounting is refused (not root, no such filesystem).
class ScratchMount {
public:
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool ok() const { return mMounted && mReason.empty(); }
    const std::string& reason() const { return mReason; }
    const std::string& path() const { return mDir.path(); }
    std::string operator/(const std::string& name) const { return mDir / name; }

protected:
    ScratchMount() = default;
    // mount(2) on the folder; a refusal is kept as the reason, naming `what`.
    bool mount(const char* source, const char* type, unsigned long flags, const std::string& opts,
               const char* what);
    TempDir mDir;
    bool mMounted = false;
    std::string mReason;
};

// A tmpfs of `bytes`: a small one runs out of space on demand.
struct TmpfsMount : ScratchMount {
    explicit TmpfsMount(unsigned long long bytes);
};
// A ramfs: it keeps no extended attributes at all (every one is refused with ENOTSUP).
struct RamfsMount : ScratchMount {
    RamfsMount();
};
// `source` mounted once more, read-only when asked: rename(2) between the two fails with EXDEV.
struct BindMount : ScratchMount {
    BindMount(const std::string& source, bool readOnly);
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
void removeTree(const std::string& path);

struct ProcessResult {
    int exitCode = -1;  // -1 when killed by a signal, the time limit or `killWhen`
    bool timedOut = false;
    bool killed = false;  // by `killWhen`
    std::string output;   // standard output and error together, in the order written
    std::string out;
    std::string err;
};
// Runs argv[0] with the arguments, killing it after `timeoutSeconds`, or as soon as `killWhen`
// answers true (asked every millisecond). `asNobody` runs it through setpriv as uid/gid 65534.
ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutSeconds = 60,
                         bool asNobody = false, const std::function<bool()>& killWhen = {});

// A chain of `levels` folders "d" below the new folder `root`, deeper than PATH_MAX. Every 1000th
// level and the last hold a file "f" with `tag` and the level's number, and `root` a link "l".
void makeDeepTree(const std::string& root, int levels, const std::string& tag);
// How many levels of "d" lie below `root`; -1 when a file of makeDeepTree is missing or wrong.
int deepTreeLevels(const std::string& root, const std::string& tag);
void removeDeepTree(const std::string& path);  // any depth

// The target of the link at `path`; "<not a link>" when it is none.
std::string linkTarget(const std::string& path);
// A `cp -a` of `source` into `folder`, made by coreutils as a reference; returns the copy's path.
std::string referenceCopy(const std::string& source, const std::string& folder);

// Fails the test unless `a` and `b` hold the same tree: names, types, bytes, permission bits, link
// targets and modification times of everything below the top; names the first entry that differs.
void expectSame(const std::string& a, const std::string& b);

// What `rsync -naiHAXc --delete` would change to make `b` like `a`: empty when the two trees hold
// the same names, bytes, modes, owners, times, hard links, ACLs and extended attributes.
std::string rsyncDifferences(const std::string& a, const std::string& b);

}  // namespace mivex::test
