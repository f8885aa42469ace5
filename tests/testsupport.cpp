// Helpers shared by the tests.
#include "tests/testsupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace mivex::test {

ScopedEnv::ScopedEnv(const char* name, const char* value) : mName(name) {
    if (const char* old = std::getenv(name)) {
        mOld = old;
    }
    ::setenv(name, value, 1);
}

ScopedEnv::~ScopedEnv() {
    mOld ? ::setenv(mName.c_str(), mOld->c_str(), 1) : ::unsetenv(mName.c_str());
}

TempDir::TempDir(const std::string& under) {
    const char* tmp = std::getenv("TMPDIR");
    mPath = (!under.empty() ? under : tmp && *tmp ? tmp : "/tmp") + "/mivex-test-XXXXXX";
    if (!mkdtemp(mPath.data())) {
        throw std::runtime_error("mkdtemp failed: " + mPath + ": " + std::strerror(errno));
    }
}

TempDir::~TempDir() {
    removeTree(mPath);
}

bool ScratchMount::mount(const char* source, const char* type, unsigned long flags,
                         const std::string& opts, const char* what) {
    if (::mount(source, mDir.path().c_str(), type, flags, opts.empty() ? nullptr : opts.c_str())) {
        mReason = std::string(what) + " was refused: " + std::strerror(errno);
        return false;
    }
    mMounted = true;
    return true;
}

ScratchMount::~ScratchMount() {
    if (mMounted) {
        ::umount2(mDir.path().c_str(), MNT_DETACH);
    }
}

TmpfsMount::TmpfsMount(unsigned long long bytes) {
    mount("tmpfs", "tmpfs", 0, "size=" + std::to_string(bytes) + ",mode=0755", "mounting a tmpfs");
}

RamfsMount::RamfsMount() {
    mount("ramfs", "ramfs", 0, "mode=0755", "mounting a ramfs");
}

BindMount::BindMount(const std::string& source, bool readOnly) {
    // MS_RDONLY is ignored on the first bind; it takes a remount of the bind to apply.
    if (mount(source.c_str(), nullptr, MS_BIND, "", "a bind mount") && readOnly) {
        mount(nullptr, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, "", "a read-only remount");
    }
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << content).flush() || ::chmod(path.c_str(), mode) != 0) {
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

struct stat lstatOf(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("no such path: " + path);
    }
    return st;
}

std::string randomBytes(std::size_t bytes, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(bytes, '\0');
    for (auto& c : out) {
        c = static_cast<char>(gen() & 0xff);
    }
    return out;
}

void makeTree(const std::string& root,
              const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, content] : files) {
        plantTree(root, {name.ends_with("/") ? name : name + "=" + content});
    }
}

void plantTree(const std::string& root, const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
        const std::size_t link = e.find("->"), eq = e.find('=');
        const std::string path = root + "/" + e.substr(0, std::min(link, eq));
        fs::create_directories(fs::path(path).parent_path());
        if (path.ends_with("/")) {
            fs::create_directories(path);
        } else if (link < eq) {
            fs::create_symlink(e.substr(link + 2), path);
        } else {
            writeFile(path, e.substr(eq + 1));
        }
    }
}

namespace {

enum class Detail { Names, Content, Meta };

// Every entry below `root`, sorted: its name, then (but for Names) what it holds; with Meta, its
// mode and (but for a link) its modification time follow the name between tabs.
std::vector<std::string> walkTree(const std::string& root, Detail detail) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st {};
        ::lstat(path.c_str(), &st);
        // Lexically: a link is named by where it stands, not by what it leads to.
        std::string line = it->path().lexically_relative(root).string();
        if (detail == Detail::Meta) {
            line += "\t" + std::to_string(st.st_mode) + "\t";
            line += S_ISLNK(st.st_mode) ? ""
                                        : std::to_string(st.st_mtim.tv_sec) + "." +
                                              std::to_string(st.st_mtim.tv_nsec);
        }
        if (detail == Detail::Names) {
            line += S_ISDIR(st.st_mode) ? "/" : "";
        } else {
            line += S_ISLNK(st.st_mode)   ? "->" + linkTarget(path)
                    : S_ISREG(st.st_mode) ? "=" + readFile(path)
                                          : "/";
        }
        out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::vector<std::string> describeTree(const std::string& root) {
    return walkTree(root, Detail::Content);
}

std::vector<std::string> listTree(const std::string& folder) {
    return walkTree(folder, Detail::Names);
}

void removeTree(const std::string& path) {
    if (path.empty()) {
        return;
    }
    std::error_code ec;
    // Tests make folders without write or search permission; give them back first.
    for (auto it = fs::recursive_directory_iterator(
             path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (fs::is_directory(it->symlink_status(typeEc))) {
            ::chmod(it->path().c_str(), 0755);
        }
    }
    ::chmod(path.c_str(), 0755);
    fs::remove_all(path, ec);
}

ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutSeconds, bool asNobody,
                         const std::function<bool()>& killWhen) {
    std::vector<std::string> full;
    if (asNobody) {
        full = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : full) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);

    int outFds[2], errFds[2];
    if (::pipe2(outFds, O_CLOEXEC) != 0 || ::pipe2(errFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFds[1], 1);
        ::dup2(errFds[1], 2);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    ::close(outFds[1]);
    ::close(errFds[1]);
    ProcessResult result;
    pollfd fds[2] = {{outFds[0], POLLIN, 0}, {errFds[0], POLLIN, 0}};
    std::string* parts[2] = {&result.out, &result.err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    bool ended = false;
    // One loop reads both pipes, so `output` keeps the order the two streams were written in.
    for (int open = 2; open > 0 || !ended;) {
        ::poll(fds, 2, killWhen ? 1 : 5);
        for (int i = 0; i < 2; ++i) {
            char buf[4096];
            const ssize_t n = fds[i].fd < 0 || !fds[i].revents ? 0 : ::read(fds[i].fd, buf, 4096);
            if (n > 0) {
                parts[i]->append(buf, std::size_t(n));
                result.output.append(buf, std::size_t(n));
            } else if (fds[i].fd >= 0 && fds[i].revents) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        ended = ended || ::waitpid(pid, &status, WNOHANG) == pid;
        if (ended) {
            continue;
        }
        result.killed = killWhen && killWhen();
        if (result.killed || std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = !result.killed;
            ended = true;
        }
    }
    result.exitCode =
        (!result.timedOut && !result.killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {

bool holdsFile(int level, int levels) {
    return level % 1000 == 0 || level == levels;
}

}  // namespace

void makeDeepTree(const std::string& root, int levels, const std::string& tag) {
    if (::mkdir(root.c_str(), 0755) != 0) {
        throw std::runtime_error("cannot make " + root);
    }
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::symlinkat("d", fd, "l") != 0) {
        throw std::runtime_error("cannot open " + root);
    }
    for (int level = 1; level <= levels; ++level) {
        const int next = ::mkdirat(fd, "d", 0755) == 0
                             ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : -1;
        ::close(fd);
        fd = next;
        if (fd < 0) {
            throw std::runtime_error("cannot make level " + std::to_string(level));
        }
        if (holdsFile(level, levels)) {
            const std::string text = tag + std::to_string(level);
            const int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const bool written =
                file >= 0 && ::write(file, text.data(), text.size()) == ssize_t(text.size());
            ::close(file);
            if (!written) {
                throw std::runtime_error("cannot write level " + std::to_string(level));
            }
        }
    }
    ::close(fd);
}

int deepTreeLevels(const std::string& root, const std::string& tag) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int levels = 0;
    std::vector<int> withFile;
    while (fd >= 0) {
        char text[64];
        const int file = ::openat(fd, "f", O_RDONLY | O_CLOEXEC);
        if (file >= 0) {
            const ssize_t n = ::read(file, text, sizeof text);
            ::close(file);
            if (std::string(text, n < 0 ? 0 : std::size_t(n)) != tag + std::to_string(levels)) {
                ::close(fd);
                return -1;
            }
            withFile.push_back(levels);
        }
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
        levels += fd >= 0;
    }
    for (int level = 1; level <= levels; ++level) {
        if (holdsFile(level, levels) &&
            !std::binary_search(withFile.begin(), withFile.end(), level)) {
            return -1;
        }
    }
    return levels;
}

void removeDeepTree(const std::string& path) {
    // std::filesystem gives up below PATH_MAX; rm walks by descriptors.
    ::chmod(path.c_str(), 0755);
    runProcess({"rm", "-rf", "--", path});
}

std::string linkTarget(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string("<not a link>") : std::string(buf, static_cast<std::size_t>(n));
}

std::string referenceCopy(const std::string& source, const std::string& folder) {
    ProcessResult r = runProcess({"cp", "-a", "--", source, folder + "/"});
    if (r.exitCode != 0) {
        throw std::runtime_error("cp -a " + source + " failed: " + r.output);
    }
    std::string name = source;
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    return folder + "/" + name.substr(name.rfind('/') + 1);
}

std::string rsyncDifferences(const std::string& a, const std::string& b) {
    ProcessResult r = runProcess({"rsync", "-naiHAXc", "--delete", "--", a + "/", b + "/"});
    if (r.exitCode != 0) {
        throw std::runtime_error("rsync " + a + " " + b + " failed: " + r.output);
    }
    return r.output;
}

void expectSame(const std::string& a, const std::string& b) {
    std::vector<std::string> la = walkTree(a, Detail::Meta), lb = walkTree(b, Detail::Meta);
    // The top's time is not compared: the two tops are usually made differently.
    la.push_back(".\t" + std::to_string(lstatOf(a).st_mode));
    lb.push_back(".\t" + std::to_string(lstatOf(b).st_mode));
    const auto [ia, ib] = std::mismatch(la.begin(), la.end(), lb.begin(), lb.end());
    if (ia != la.end() || ib != lb.end()) {
        const std::string& first = ia == la.end() ? *ib : ib == lb.end() ? *ia : std::min(*ia, *ib);
        ADD_FAILURE() << first.substr(0, first.find('\t')) << " differs";
    }
}

}  // namespace mivex::test
