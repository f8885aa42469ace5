// The cabinet writer over libgcab. libgcab only collects the files while they are added; it reads,
// compresses and writes them all when the cabinet is written, trusting that every file still has
// the size it had when added and that its own 16-bit counters did not wrap. So this class counts
// against the format's limits while files are added, checks before and after the write that each
// file is still the one added, and reads the finished header back. The cabinet is written to a
// hidden file beside its final path and renamed into place only when all of that holds.
// Its output stream is a small one of our own (caboutput.h).
#include "archive/cabinetwriter.h"

#include <fcntl.h>
#include <libgcab.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "archive/caboutput.h"
#include "platform/fileid.h"
#include "platform/posixio.h"
#include "platform/tempnames.h"

namespace mivex {

namespace {

template <typename T>
struct Unref {
    void operator()(T* p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref<T>>;

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

constexpr std::uint32_t kBlockBytes = 32768;
// The cabinet header ahead of a single folder entry without reserved space: the total size at
// byte 8, the file count at byte 28 and the folder's data block count at byte 40.
constexpr int kHeaderBytes = 44;

CabinetWriter::Factory gFactory = nullptr;

std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), ",");
    }
    return digits;
}

// Whether the file at `path` is still the one added: a write changes its size or its change
// time, a replacement its identity.
bool unchanged(const std::string& path, const FileState& was) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && was.unchangedIn(st);
}

struct AddedFile {
    std::string path;
    FileState identity;
};

std::uint32_t littleEndian(const unsigned char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | p[i];
    }
    return value;
}

}  // namespace

struct CabinetWriter::Impl {
    std::string path;     // where the finished cabinet goes
    std::string partial;  // the hidden file it is written to first
    FileId partialId;
    int fd = -1;  // the partial cabinet, open while the writer is
    GPtr<GCabCabinet> cabinet;
    GPtr<GCabFolder> folder;
    std::vector<AddedFile> files;
    std::uint64_t bytes = 0;
    // Set once the cabinet cannot be written at all; every later call reports it.
    std::string refusal;

    // While the cabinet is written.
    std::size_t nextFile = 0;
    mutable std::mutex progressMutex;
    Progress progress;  // guarded by progressMutex
    std::string changed;
    // Cancelled to make a write under way fail: by the checks above, or from another thread.
    GPtr<GCancellable> cancellable{g_cancellable_new()};

    bool isOpen() const { return cabinet != nullptr; }
    std::string openCabinet();

    void discard() {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        if (!partial.empty()) {
            ::unlink(partial.c_str());
            partial.clear();
        }
        folder.reset();
        cabinet.reset();
        files.clear();
        bytes = 0;
    }

    // libgcab announces each file just before opening it, in the order they were added. A file
    // that is no longer the one added would give data that disagrees with the header; one that
    // became a FIFO would block the read.
    static gboolean beforeFile(GCabFile* file, gpointer self) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->nextFile >= impl->files.size()) {
            impl->stop("The archive writer met a file it did not add: " +
                       std::string(gcab_file_get_name(file)));
            return TRUE;
        }
        const AddedFile& added = impl->files[impl->nextFile++];
        {
            std::lock_guard lock(impl->progressMutex);
            Progress& p = impl->progress;
            if (p.fileNumber > 0) {
                p.bytesDone +=
                    static_cast<std::uint64_t>(impl->files[p.fileNumber - 1].identity.size);
            }
            p.fileNumber = impl->nextFile;
            p.file = added.path;
        }
        if (!unchanged(added.path, added.identity)) {
            impl->stop(added.path + " changed or disappeared before it could be archived.");
        }
        return TRUE;
    }

    void stop(std::string why) {
        if (changed.empty()) {
            changed = std::move(why);
        }
        g_cancellable_cancel(cancellable.get());
    }

    std::string failWrite(const std::string& why) {
        discard();
        return "Cannot write the archive file " + path + ": " + why;
    }

    // The header as written must count every file and every block of their data; then the
    // cabinet is made durable before it takes the real name.
    std::string verifyAndSync() {
        unsigned char header[kHeaderBytes] = {};
        struct stat st {};
        const ssize_t got = ::pread(fd, header, sizeof header, 0);
        if (got < 0 || ::fstat(fd, &st) != 0 || ::fsync(fd) != 0 ||
            ::close(std::exchange(fd, -1)) != 0) {
            return errnoText(errno);
        }
        const std::uint64_t blocks = (bytes + kBlockBytes - 1) / kBlockBytes;
        if (got != kHeaderBytes ||
            std::string_view(reinterpret_cast<const char*>(header), 4) != "MSCF" ||
            littleEndian(header + 8, 4) != static_cast<std::uint64_t>(st.st_size) ||
            littleEndian(header + 28, 2) != files.size() ||
            littleEndian(header + 40, 2) != blocks) {
            return "the cabinet came out inconsistent; a file may have changed while it was read.";
        }
        return {};
    }
};

CabinetWriter::CabinetWriter() : m(std::make_unique<Impl>()) {}

CabinetWriter::~CabinetWriter() {
    m->discard();
}

std::unique_ptr<CabinetWriter> CabinetWriter::create(std::string& failure) {
    failure.clear();
    if (gFactory) {
        return gFactory(failure);
    }
    return std::unique_ptr<CabinetWriter>(new CabinetWriter);
}

void CabinetWriter::installFactory(Factory factory) {
    gFactory = factory;
}

std::string CabinetWriter::open(const std::string& path, bool, std::int16_t, bool) {
    if (m->isOpen()) {
        return "Cannot open " + path + ": an archive is already open.";
    }
    m->path = path;
    // Until the next open, every call on this writer repeats why there is no cabinet.
    m->refusal = "Cannot create the archive file " + path + ": ";
    const std::string failure = m->openCabinet();
    m->refusal = failure.empty() ? std::string() : m->refusal + failure;
    return m->refusal;
}

std::string CabinetWriter::Impl::openCabinet() {
    struct stat st {};
    if (path.empty() || path.back() == '/' ||
        (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        return errnoText(EISDIR);
    }

    // Claimed with O_EXCL, so that nothing of anyone else's is ever written over; what a killed
    // run left in that folder goes first.
    fd = createTempBeside(path, partial);
    if (fd < 0) {
        const int error = errno;
        partial.clear();
        return errnoText(error);
    }
    ::fstat(fd, &st);
    partialId = FileId::of(st);
    cabinet.reset(gcab_cabinet_new());
    folder.reset(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
    GError* raw = nullptr;
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &raw)) {
        ErrorPtr error(raw);
        discard();
        return error->message;
    }
    return {};
}

std::string CabinetWriter::add(const std::string& path, const std::string& name) {
    if (!m->refusal.empty()) {
        return m->refusal;
    }
    if (!m->isOpen()) {
        return "Cannot add " + path + ": no archive is open.";
    }
    const std::string prefix = "Cannot add " + path + ": ";
    const std::string inside = name.starts_with('/') ? name.substr(1) : name;
    if (inside.empty()) {
        return prefix + "it has no name.";
    }
    if (inside.find('\\') != std::string::npos) {
        return prefix +
               "a name inside a cabinet cannot hold \"\\\", which separates folders there.";
    }
    if (!g_utf8_validate(inside.data(), static_cast<gssize>(inside.size()), nullptr)) {
        return prefix + "its name is not valid UTF-8, which a cabinet cannot hold.";
    }
    if (inside.size() > kMaxNameBytes) {
        return prefix + "a cabinet holds names of at most " + std::to_string(kMaxNameBytes) +
               " bytes, and this one has " + std::to_string(inside.size()) + ".";
    }

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return prefix + errnoText(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return prefix + "it is not a regular file.";
    }
    const FileState identity = FileState::of(st);
    if (identity.id == m->partialId) {
        return {};  // the archive being written, met in a folder that is being packed
    }

    if (m->files.size() + 1 > kMaxFiles) {
        m->refusal = "The archive would hold more than " + grouped(kMaxFiles) +
                     " files, the most a cabinet file can hold; it was not written.";
        return m->refusal;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxBytes - m->bytes) {
        m->refusal = "The archive would hold more than " + grouped(kMaxBytes) +
                     " bytes of file data, the most a cabinet file can hold (with " + path +
                     " it would be " + grouped(m->bytes + size) + "); it was not written.";
        return m->refusal;
    }

    GPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GPtr<GCabFile> entry(gcab_file_new_with_file(inside.c_str(), file.get()));
    GError* raw = nullptr;
    if (!gcab_folder_add_file(m->folder.get(), entry.get(), FALSE, nullptr, &raw)) {
        ErrorPtr error(raw);
        return prefix + error->message;
    }
    m->files.push_back({path, identity});
    m->bytes += size;
    return {};
}

CabinetWriter::Progress CabinetWriter::progress() const {
    std::lock_guard lock(m->progressMutex);
    return m->progress;
}

void CabinetWriter::cancel() {
    g_cancellable_cancel(m->cancellable.get());
}

std::string CabinetWriter::close() {
    if (!m->refusal.empty()) {
        m->discard();
        return m->refusal;
    }
    if (!m->isOpen()) {
        return "Cannot close the archive: no archive is open.";
    }
    if (m->files.empty()) {
        // A cabinet without files is one that no reader accepts.
        return m->failWrite("there are no files to put in it.");
    }

    m->nextFile = 0;
    m->changed.clear();
    {
        std::lock_guard lock(m->progressMutex);
        m->progress = Progress{};
        m->progress.fileCount = m->files.size();
        m->progress.bytesTotal = m->bytes;
    }
    GPtr<GOutputStream> out(newCabinetOutput(m->fd));
    GError* raw = nullptr;
    const bool written = gcab_cabinet_write(m->cabinet.get(), out.get(), &Impl::beforeFile, nullptr,
                                            m.get(), m->cancellable.get(), &raw) &&
                         g_output_stream_close(out.get(), nullptr, &raw) &&
                         cabinetOutputError(out.get()) == 0;
    ErrorPtr error(raw);
    const int outputError = cabinetOutputError(out.get());
    out.reset();
    if (!m->changed.empty()) {
        return m->failWrite(m->changed);
    }
    if (!written) {
        return m->failWrite(outputError ? errnoText(outputError)
                            : error     ? std::string(error->message)
                                        : "the cabinet library failed.");
    }
    for (const AddedFile& added : m->files) {
        if (!unchanged(added.path, added.identity)) {
            return m->failWrite(added.path + " changed while it was being archived.");
        }
    }
    if (std::string why = m->verifyAndSync(); !why.empty()) {
        return m->failWrite(why);
    }
    if (::rename(m->partial.c_str(), m->path.c_str()) != 0) {
        return m->failWrite(errnoText(errno));
    }
    m->partial.clear();
    m->discard();
    return {};
}

}  // namespace mivex
