// The archive run: queue rows to sources, sources to files, files into the cabinet writer. Folder
// trees are read with lstat semantics below the queued folder: a link inside a tree is packed as
// the regular file it leads to (as a queued link is), never walked into as a folder (no loops),
// and FIFOs or devices are never opened.
#include "archive/archivebuilder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/fd.h"
#include "platform/folders.h"
#include "platform/folderwalk.h"
#include "platform/posixio.h"

namespace mivex {

namespace {

enum class Kind { File, Folder, Link, Special };

struct Entry {
    std::string name;
    Kind kind;
};

Kind kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return Kind::File;
    }
    if (S_ISDIR(mode)) {
        return Kind::Folder;
    }
    return S_ISLNK(mode) ? Kind::Link : Kind::Special;
}

std::string cannotRead(const std::string& folder, int error) {
    return "Cannot read the folder " + folder + ": " + errnoText(error);
}

// The entries of the open folder `dir` (at `folder`) in the order the system lists them.
std::string listFolder(int dir, const std::string& folder, std::vector<Entry>& entries) {
    std::vector<DirEntry> names;
    if (const int error = readFolder(dir, names); error != 0) {
        return cannotRead(folder, error);
    }
    for (DirEntry& e : names) {
        Kind kind;
        switch (e.type) {
            case DT_REG:
                kind = Kind::File;
                break;
            case DT_DIR:
                kind = Kind::Folder;
                break;
            case DT_LNK:
                kind = Kind::Link;
                break;
            case DT_UNKNOWN: {
                struct stat st {};
                if (::fstatat(dir, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (errno == ENOENT) {
                        continue;  // removed while listed
                    }
                    return "Cannot read " + joinPath(folder, e.name) + ": " + errnoText(errno);
                }
                kind = kindOf(st.st_mode);
                break;
            }
            default:
                kind = Kind::Special;
        }
        entries.push_back({std::move(e.name), kind});
    }
    return {};
}

}  // namespace

ArchiveBuilder::ArchiveBuilder(FileMet fileMet) : mFileMet(std::move(fileMet)) {}

ArchiveBuilder::~ArchiveBuilder() = default;

void ArchiveBuilder::fail(std::string description) {
    mFailure = std::move(description);
}

void ArchiveBuilder::open(const std::string& archivePath) {
    mWriter = CabinetWriter::create(mNoWriter);
    if (!mWriter) {
        fail(mNoWriter);
        return;
    }
    if (std::string failure = mWriter->open(archivePath, false, 0, false); !failure.empty()) {
        fail(std::move(failure));
    }
}

bool ArchiveBuilder::add(const std::string& path) {
    std::string failure = mWriter ? mWriter->add(path, path) : mNoWriter;
    if (failure.empty()) {
        return true;
    }
    fail(std::move(failure));
    return false;
}

void ArchiveBuilder::close() {
    if (mAbandoned) {
        mWriter.reset();  // discards the partial cabinet
        return;
    }
    if (!mWriter) {
        fail(mNoWriter);
        return;
    }
    // The writer stays until the builder goes, so that cancelClose() always finds it.
    if (std::string failure = mWriter->close(); !failure.empty()) {
        fail(std::move(failure));
    }
}

void ArchiveBuilder::cancelClose() {
    if (mWriter) {
        mWriter->cancel();
    }
}

CabinetWriter::Progress ArchiveBuilder::writeProgress() const {
    return mWriter ? mWriter->progress() : CabinetWriter::Progress{};
}

bool ArchiveBuilder::IsAlreadyPacked(const std::string& path) {
    return !mPacked.insert(path).second;
}

void ArchiveBuilder::addSource(const std::string& source) {
    if (mAbandoned) {
        return;
    }
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            fail("Cannot reach " + source + ": " + errnoText(errno));
        }
        return;  // gone since it was queued: nothing to pack
    }
    if (S_ISREG(st.st_mode)) {
        if (!IsAlreadyPacked(source)) {
            add(source);
        }
    } else if (S_ISDIR(st.st_mode)) {
        AddFolderToArchive(source);
    } else {
        fail("Cannot add " + source + ": it is not a regular file.");
    }
}

bool ArchiveBuilder::AddFolderToArchive(const std::string& folder) {
    // The queued folder may be reached through a link (the user chose it); below it the walk
    // enters real folders only, and its depth costs memory, not stack or descriptors (FolderPath).
    const Fd top(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top.valid()) {
        fail(cannotRead(folder, errno));
        return false;
    }
    const WalkEnd end = walkFolders(
        top.get(), folder,
        [this](int dir, const std::string& path, const struct stat*,
               std::vector<std::string>& subfolders) { return PackFolder(dir, path, subfolders); },
        Unenterable::EndWalk);
    if (end.error != 0) {
        fail(cannotRead(end.where, end.error));  // unreadable, or moved away during the walk
    }
    return !end.stopped && end.error == 0;
}

bool ArchiveBuilder::PackFolder(int dir, const std::string& folder,
                                std::vector<std::string>& subfolders) {
    std::vector<Entry> entries;
    if (std::string failure = listFolder(dir, folder, entries); !failure.empty()) {
        fail(std::move(failure));
        return false;
    }
    for (const Entry& entry : entries) {
        if (entry.kind == Kind::Folder) {
            continue;
        }
        const std::string path = joinPath(folder, entry.name);
        if (mFileMet && !mFileMet(path)) {
            mAbandoned = true;
            return false;
        }
        if (entry.kind == Kind::Special) {
            // A FIFO, socket or device has no contents to pack; the rest of the tree still can be.
            fail("Cannot add " + path + ": it is not a regular file.");
            continue;
        }
        if (entry.kind == Kind::Link) {
            // Left out silently, a link would be missing from an archive called complete.
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                fail("Cannot add " + path + ": the link leads nowhere (" + errnoText(errno) + ").");
                continue;
            }
            if (!S_ISREG(st.st_mode)) {
                fail("Cannot add " + path +
                     ": it is a link to something that is not a regular file.");
                continue;
            }
        }
        if (!IsAlreadyPacked(path) && !add(path)) {
            return false;
        }
    }
    // The walk takes the last one first: the subfolders are walked in the order listed.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->kind == Kind::Folder) {
            subfolders.push_back(it->name);
        }
    }
    return true;
}

}  // namespace mivex
