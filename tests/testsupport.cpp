// Helpers shared by the tests.
#include "tests/testsupport.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace fs = std::filesystem;

namespace mivex::test {

TempDir::~TempDir() {
    removeTree(mPath);
}
ScratchMount::ScratchMount(const std::string& source, const char* type, const std::string& options,
                           bool readOnly) {
    // MS_RDONLY is ignored on the first bind; it takes a remount of the bind to apply.
    if (::mount(source.c_str(), path().c_str(), type, type ? 0 : MS_BIND, options.c_str()) != 0 ||
        (readOnly && ::mount(nullptr, path().c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                             nullptr) != 0)) {
        mReason = "mounting " + source + " was refused: " + std::strerror(errno);
    }
}

ScratchMount::~ScratchMount() {
    ::umount2(path().c_str(), MNT_DETACH);  // refused harmlessly when nothing was mounted
}

FusefatMount::FusefatMount(int megabytes) {
    const std::string image = mImage / "fat.img";
    ProcessResult r = runProcess({"truncate", "-s", std::to_string(megabytes) + "M", image});
    // A user's PATH may lack /usr/sbin, where Debian puts it.
    const char* mkfs = fs::exists("/usr/sbin/mkfs.vfat") ? "/usr/sbin/mkfs.vfat" : "mkfs.vfat";
    r = r.exitCode == 0 ? runProcess({mkfs, image}) : r;
    r = r.exitCode == 0 ? runProcess({"fusefat", "-o", "rw+", image, path()}) : r;
    struct statfs fs {};
    if (r.exitCode == 127) {
        mReason = "no mkfs.vfat or fusefat (Debian: dosfstools, fusefat)";
    } else if (r.exitCode != 0 || ::statfs(path().c_str(), &fs) != 0 ||
               fs.f_type != FUSE_SUPER_MAGIC) {
        mReason = "fusefat could not mount a FAT image: " + r.output;
    }
}

Ext4Mount::Ext4Mount(int inodeBytes) {
    const std::string image = mImage / "ext4.img";
    ProcessResult r = runProcess({"truncate", "-s", "16M", image});
    const char* mkfs = fs::exists("/usr/sbin/mkfs.ext4") ? "/usr/sbin/mkfs.ext4" : "mkfs.ext4";
    r = r.exitCode == 0 ? runProcess({mkfs, "-q", "-F", "-I", std::to_string(inodeBytes), image})
                        : r;
    r = r.exitCode == 0 ? runProcess({"mount", "-o", "loop", image, path()}) : r;
    if (r.exitCode != 0) {
        mReason = "an ext4 image could not be made or mounted through a loop device: " + r.output;
    }
}

void plantTree(const std::string& root, const Names& entries) {
    for (const std::string& e : entries) {
        const std::size_t link = e.find("->"), eq = e.find('=');
        const std::string path = root + "/" + e.substr(0, std::min(link, eq));
        fs::create_directories(fs::path(path).parent_path());
        if (link < eq) {
            fs::create_symlink(e.substr(link + 2), path);
        } else if (!path.ends_with("/")) {
            writeFile(path, e.substr(eq + 1));
        }
    }
}

namespace {

enum class Detail { Names, Content, Meta };

// Every entry below `root`, sorted: its name, then (but for Names) what it holds; with Meta, its
// mode and (but for a link) its modification time follow the name between tabs.
Names walkTree(const std::string& root, Detail detail) {
    Names out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st {};
        ::lstat(path.c_str(), &st);  // it may be gone: runs go on while a test lists
        // Lexically: a link is named by where it stands, not by what it leads to.
        std::string line = it->path().lexically_relative(root).string();
        if (detail == Detail::Meta) {
            line += "\t" + std::to_string(st.st_mode) + "\t";
            line += S_ISLNK(st.st_mode) ? ""
                                        : std::to_string(st.st_mtim.tv_sec) + "." +
                                              std::to_string(st.st_mtim.tv_nsec);
        }
        const auto hash = [&](const std::string& bytes) {
            return detail == Detail::Meta ? std::to_string(std::hash<std::string>{}(bytes)) : bytes;
        };
        line += S_ISDIR(st.st_mode)       ? "/"
                : detail == Detail::Names ? ""
                : S_ISLNK(st.st_mode)     ? "->" + linkTarget(path)
                : S_ISREG(st.st_mode)     ? "=" + hash(readFile(path))
                                          : "/";
        out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

Names describeTree(const std::string& root) {
    return walkTree(root, Detail::Content);
}
Names listTree(const std::string& folder) {
    return walkTree(folder, Detail::Names);
}

void removeTree(const std::string& path) {
    std::error_code ec;
    if (fs::remove_all(path, ec) == static_cast<std::uintmax_t>(-1)) {
        // Folders without write or search permission or deeper than PATH_MAX: coreutils cope.
        runProcess({"sh", "-c", "chmod -R u+rwx -- \"$0\"; rm -rf -- \"$0\"", path});
    }
}

ProcessResult runProcess(const Names& argv, int timeoutSeconds, bool asNobody,
                         const std::function<bool()>& killWhen) {
    Names full = argv;
    if (asNobody) {
        full.insert(full.begin(),
                    {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    }
    std::vector<char*> args(full.size() + 1);  // ends with a null pointer
    std::transform(full.begin(), full.end(), args.begin(), [](auto& a) { return a.data(); });
    // Files, not pipes: nothing to drain while waiting, and a child can never block on them.
    FILE* const streams[2] = {std::tmpfile(), std::tmpfile()};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::fileno(streams[0]), 1);
        ::dup2(::fileno(streams[1]), 2);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        result.killed = killWhen && killWhen();
        result.timedOut = !result.killed && std::chrono::steady_clock::now() > deadline;
        if (result.killed || result.timedOut) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(killWhen ? 1000 : 5000);
    }
    result.out = readFile("/proc/self/fd/" + std::to_string(::fileno(streams[0])));
    result.err = readFile("/proc/self/fd/" + std::to_string(::fileno(streams[1])));
    result.output = result.out + result.err;
    std::fclose(streams[0]);
    std::fclose(streams[1]);
    result.exitCode =
        !result.killed && !result.timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void expectKilledWriteCleanedUp(const std::string& folder,
                                const std::function<bool(const std::string&)>& write) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit noCore{0, 0}, size{4096, 4096};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::signal(SIGXFSZ, SIG_DFL);
        ::setrlimit(RLIMIT_FSIZE, &size);
        write(folder + "/a");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_TRUE(::waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
                WTERMSIG(status) == SIGXFSZ);
    const Names left = listTree(folder);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0].starts_with(".mivex-")) << left[0];
    EXPECT_TRUE(write(folder + "/b"));
    EXPECT_EQ(listTree(folder), Names{"b"});
}

std::string referenceCopy(const std::string& source, const std::string& folder) {
    const ProcessResult r = runProcess({"cp", "-a", "--", source, folder + "/"});
    if (r.exitCode != 0) {
        throw std::runtime_error("cp -a " + source + " failed: " + r.output);
    }
    return folder + "/" + fs::path(source).filename().string();
}

std::string rsyncDifferences(const std::string& a, const std::string& b) {
    const ProcessResult r = runProcess({"rsync", "-naiHAXc", "--delete", "--", a + "/", b + "/"});
    if (r.exitCode != 0) {
        throw std::runtime_error("rsync " + a + " " + b + " failed: " + r.output);
    }
    return r.output;
}

void expectSame(const std::string& a, const std::string& b) {
    EXPECT_EQ(lstatOf(a).st_mode, lstatOf(b).st_mode) << a << " and " << b;
    EXPECT_EQ(walkTree(a, Detail::Meta), walkTree(b, Detail::Meta)) << a << " and " << b;
}

}  // namespace mivex::test
