// Helpers shared by the tests: scratch folders and mounts, trees as text, child processes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/transfer.h"

namespace mivex::test {

using Names = std::vector<std::string>;  // names, rows or lines
// Shorthand for the engine's requests.
inline constexpr auto kCopy = TransferKind::Copy;
inline constexpr auto kMove = TransferKind::Move;
inline constexpr auto kO = CollisionRule::Overwrite;
inline constexpr auto kN = CollisionRule::KeepBoth;
inline constexpr auto kU = CollisionRule::Update;
// A transfer's monitor: wants totals unless told not to, hands each report to `onReport`, and asks
// the transfer to stop once `stop` is set.
struct Monitor : TransferMonitor {
    bool wantsTotals() const override { return totals; }
    void progress(const TransferProgress& p) override {
        if (onReport) {
            onReport(p);
        }
    }
    bool abortRequested() override { return stop; }
    bool totals = true, stop = false;
    std::function<void(const TransferProgress&)> onReport;
};

// A fresh folder under `under` or $TMPDIR (default /tmp), removed with its contents at the end.
class TempDir {
public:
    explicit TempDir(const std::string& under = "") {
        const char* tmp = std::getenv("TMPDIR");
        mPath = (!under.empty() ? under : tmp && *tmp ? tmp : "/tmp") + "/mivex-test-XXXXXX";
        if (!::mkdtemp(mPath.data())) {
            throw std::runtime_error("cannot make a folder under " + mPath);
        }
    }
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Sets an environment variable for one scope and puts back what was there.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : mName(name) {
        if (const char* old = std::getenv(name)) {
            mOld = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() { mOld ? ::setenv(mName.c_str(), mOld->c_str(), 1) : ::unsetenv(mName.c_str()); }
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

protected:
    ScratchMount() = default;  // mounted by the derived class
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

// A FAT image of `megabytes` (mkfs.vfat) mounted through fusefat, as a USB stick is where the
// kernel has no vfat module: FAT16, names that ignore case, no modes, owners or links.
struct FusefatMount : ScratchMount {
    explicit FusefatMount(int megabytes);
    TempDir mImage;
};

// An ext4 image of 16 MiB made with inodes of `inodeBytes` and mounted through a loop device:
// with 128-byte inodes it keeps whole seconds, as ext3, many network and FUSE filesystems do.
struct Ext4Mount : ScratchMount {
    explicit Ext4Mount(int inodeBytes);
    TempDir mImage;
};

// Declares `var`, a mount of `Kind` made from the arguments, or skips the test saying why.
#define MIVEX_MOUNT_OR_SKIP(var, Kind, ...) \
    Kind var(__VA_ARGS__);                  \
    if (!var.ok())                          \
    GTEST_SKIP() << var.reason()

inline void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << content).flush() || ::chmod(path.c_str(), mode) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}
inline void setTimes(const std::string& path, timespec time) {  // access and modification
    const timespec both[2] = {time, time};
    if (::utimensat(AT_FDCWD, path.c_str(), both, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("cannot set the times of " + path);
    }
}
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline bool exists(const std::string& path) {  // lstat: a dangling link exists
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}
inline struct stat lstatOf(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("no such path: " + path);
    }
    return st;
}
inline std::string randomBytes(std::size_t bytes, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(bytes, '\0');
    std::generate(out.begin(), out.end(), [&] { return static_cast<char>(gen()); });
    return out;
}
inline std::string linkTarget(const std::string& path) {  // "<not a link>" when it is none
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(path, ec);
    return ec ? "<not a link>" : target;
}
// A tree as text, one entry a string: "a/b.txt=bytes" a file, "a/c/" a folder, "a/l->t" a link.
void plantTree(const std::string& root, const Names& entries);
Names describeTree(const std::string& root);  // every entry, sorted
Names listTree(const std::string& folder);    // names only, folders with "/"
void removeTree(const std::string& path);     // any depth, any permissions

struct ProcessResult {
    int exitCode = -1;  // -1 when killed by a signal, the time limit or `killWhen`
    bool timedOut = false;
    bool killed = false;  // by `killWhen`
    std::string output;   // standard output, then standard error
    std::string out;
    std::string err;
};
// Runs argv as uid 65534 when `asNobody`, killed after the time limit or once `killWhen` is true.
ProcessResult runProcess(const Names& argv, int timeoutSeconds = 60, bool asNobody = false,
                         const std::function<bool()>& killWhen = {});

// `write(path)`, true on success, killed past 4 KiB of "a" in `folder` (SIGXFSZ in a child), leaves
// one temporary file there; the next write, of "b", removes it.
void expectKilledWriteCleanedUp(const std::string& folder,
                                const std::function<bool(const std::string&)>& write);

// `cp -a` of `source` into `folder`, as a reference; returns the copy's path.
std::string referenceCopy(const std::string& source, const std::string& folder);
// Fails unless the trees hold the same names, types, bytes, modes, link targets and times.
void expectSame(const std::string& a, const std::string& b);
// What `rsync -naiHAXc --delete` would change to make `b` like `a` (nothing: the same trees).
std::string rsyncDifferences(const std::string& a, const std::string& b);

}  // namespace mivex::test
