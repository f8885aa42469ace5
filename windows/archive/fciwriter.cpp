// The cabinet writer of archive/cabinetwriter.h over the system's Cabinet API (FCI, cabinet.dll):
// MSZIP, one cabinet, written under a temporary name beside its path and named when complete.
// FCI hands paths to its callbacks as char*: here they are UTF-8, opened as UTF-16.
#include <windows.h>
// fci.h needs the types of windows.h before it.
#include <fci.h>
#include <fcntl.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "archive/cabinetwriter.h"
#include "windows/platform/wide.h"

namespace mivex {

struct CabinetWriter::Impl {
    std::wstring path;
    std::wstring temp;
    std::vector<std::pair<std::string, std::string>> files;  // full path, name in the cabinet
    std::uint64_t bytes = 0;
    std::string refused;  // a limit passed: every later call fails with it
    std::atomic<bool> cancelled{false};
    mutable std::mutex lock;
    Progress progress;
    int temps = 0;
};

namespace {

CabinetWriter::Factory gFactory = nullptr;
constexpr const char* kCabinetToken = "cabinet";  // szCab: the callbacks open `temp` for it

std::wstring pathFor(const char* name, void* pv) {
    auto* m = static_cast<CabinetWriter::Impl*>(pv);
    return std::string_view(name) == kCabinetToken ? m->temp : win::widen(name);
}

FNFCIALLOC(fciAlloc) {
    return ::HeapAlloc(::GetProcessHeap(), 0, cb);
}
FNFCIFREE(fciFree) {
    ::HeapFree(::GetProcessHeap(), 0, memory);
}
FNFCIOPEN(fciOpen) {
    const DWORD access = (oflag & (_O_WRONLY | _O_RDWR)) == 0 ? GENERIC_READ
                         : (oflag & _O_RDWR) != 0             ? GENERIC_READ | GENERIC_WRITE
                                                              : GENERIC_WRITE;
    const DWORD create = (oflag & _O_CREAT) == 0
                             ? ((oflag & _O_TRUNC) ? TRUNCATE_EXISTING : OPEN_EXISTING)
                         : (oflag & _O_EXCL) != 0  ? CREATE_NEW
                         : (oflag & _O_TRUNC) != 0 ? CREATE_ALWAYS
                                                   : OPEN_ALWAYS;
    (void)pmode;
    const HANDLE file = ::CreateFileW(pathFor(pszFile, pv).c_str(), access, FILE_SHARE_READ,
                                      nullptr, create, FILE_ATTRIBUTE_NORMAL, nullptr);
    *err = file == INVALID_HANDLE_VALUE ? static_cast<int>(::GetLastError()) : 0;
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
}
FNFCIREAD(fciRead) {
    DWORD done = 0;
    (void)pv;
    *err = ::ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &done, nullptr) ? 0 : 1;
    return *err == 0 ? done : static_cast<UINT>(-1);
}
FNFCIWRITE(fciWrite) {
    DWORD done = 0;
    (void)pv;
    *err = ::WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &done, nullptr) ? 0 : 1;
    return *err == 0 ? done : static_cast<UINT>(-1);
}
FNFCICLOSE(fciClose) {
    (void)pv;
    *err = ::CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : 1;
    return *err == 0 ? 0 : -1;
}
FNFCISEEK(fciSeek) {
    (void)pv;
    const DWORD at = ::SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, seektype);
    *err = at == INVALID_SET_FILE_POINTER ? 1 : 0;
    return at == INVALID_SET_FILE_POINTER ? -1 : static_cast<__LONG32>(at);
}
FNFCIDELETE(fciDelete) {
    *err = ::DeleteFileW(pathFor(pszFile, pv).c_str()) ? 0 : 1;
    return *err == 0 ? 0 : -1;
}
FNFCIGETTEMPFILE(fciTempFile) {
    auto* m = static_cast<CabinetWriter::Impl*>(pv);
    wchar_t folder[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, folder);
    const std::string name = win::narrow(std::wstring(folder) + L"mivex-cab-" +
                                         std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                         std::to_wstring(m->temps++) + L".tmp");
    if (name.size() >= static_cast<std::size_t>(cbTempName)) {
        return FALSE;
    }
    name.copy(pszTempName, name.size());
    pszTempName[name.size()] = '\0';
    return TRUE;
}
FNFCIFILEPLACED(fciPlaced) {
    (void)pccab, (void)pszFile, (void)cbFile, (void)fContinuation, (void)pv;
    return 0;
}
FNFCIGETNEXTCABINET(fciNextCabinet) {
    (void)pccab, (void)cbPrevCab, (void)pv;
    return FALSE;  // one cabinet only
}
FNFCISTATUS(fciStatus) {
    auto* m = static_cast<CabinetWriter::Impl*>(pv);
    if (typeStatus == statusFile) {
        const std::lock_guard hold(m->lock);
        m->progress.bytesDone += cb2;
    }
    (void)cb1;
    return m->cancelled ? -1 : 0;
}
FNFCIGETOPENINFO(fciOpenInfo) {
    const HANDLE file =
        ::CreateFileW(win::widen(pszName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    FILETIME local{};
    if (file == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(file, &info)) {
        *err = static_cast<int>(::GetLastError());
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
        return -1;
    }
    ::FileTimeToLocalFileTime(&info.ftLastWriteTime, &local);
    ::FileTimeToDosDateTime(&local, pdate, ptime);
    *pattribs = static_cast<USHORT>(info.dwFileAttributes &
                                    (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)) |
                _A_NAME_IS_UTF;
    (void)pv;
    return reinterpret_cast<INT_PTR>(file);
}

}  // namespace

CabinetWriter::CabinetWriter() : m(std::make_unique<Impl>()) {}

CabinetWriter::~CabinetWriter() {
    if (!m->temp.empty()) {
        ::DeleteFileW(m->temp.c_str());
    }
}

std::unique_ptr<CabinetWriter> CabinetWriter::create(std::string& failure) {
    if (gFactory != nullptr) {
        return gFactory(failure);
    }
    return std::unique_ptr<CabinetWriter>(new CabinetWriter());
}

void CabinetWriter::installFactory(Factory factory) {
    gFactory = factory;
}

std::string CabinetWriter::open(const std::string& path, bool, std::int16_t, bool) {
    m->path = win::widen(path);
    m->temp = m->path + L".~mivex-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    return {};
}

std::string CabinetWriter::add(const std::string& path, const std::string& name) {
    if (!m->refused.empty()) {
        return m->refused;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(win::widen(path).c_str(), GetFileExInfoStandard, &data)) {
        return path + ": " + win::systemMessage(::GetLastError());
    }
    m->bytes += (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (name.size() > kMaxNameBytes) {
        return "the name " + name + " is longer than a cabinet holds (255 bytes)";
    }
    if (m->files.size() + 1 > kMaxFiles || m->bytes > kMaxBytes) {
        m->refused = "a cabinet holds at most 65,535 files and 2,147,450,880 bytes";
        return m->refused;
    }
    m->files.emplace_back(path, name);
    return {};
}

namespace {

std::string describe(const ERF& erf, const std::string& about) {
    switch (erf.erfOper) {
        case FCIERR_OPEN_SRC:
            return about + ": the file cannot be opened";
        case FCIERR_READ_SRC:
            return about + ": the file cannot be read";
        case FCIERR_USER_ABORT:
            return "the archive was cancelled";
        case FCIERR_ALLOC_FAIL:
            return "not enough memory for the archive";
        default:
            return about + ": the cabinet cannot be written (" + win::systemMessage(erf.erfType) +
                   ")";
    }
}

}  // namespace

std::string CabinetWriter::close() {
    if (!m->refused.empty()) {
        return m->refused;
    }
    {
        const std::lock_guard hold(m->lock);
        m->progress.fileCount = m->files.size();
        m->progress.bytesTotal = m->bytes;
    }
    ERF erf{};
    CCAB cabinet{};
    cabinet.cb = CB_MAX_DISK;
    cabinet.cbFolderThresh = CB_MAX_DISK;
    std::string(kCabinetToken).copy(cabinet.szCab, sizeof cabinet.szCab - 1);
    const HFCI fci = ::FCICreate(&erf, fciPlaced, fciAlloc, fciFree, fciOpen, fciRead, fciWrite,
                                 fciClose, fciSeek, fciDelete, fciTempFile, &cabinet, m.get());
    if (fci == nullptr) {
        return describe(erf, win::narrow(m->path));
    }
    std::string failure;
    for (std::size_t i = 0; i < m->files.size() && failure.empty(); ++i) {
        auto& [path, name] = m->files[i];
        {
            const std::lock_guard hold(m->lock);
            m->progress.file = path;
            m->progress.fileNumber = i + 1;
        }
        if (!::FCIAddFile(fci, path.data(), name.data(), FALSE, fciNextCabinet, fciStatus,
                          fciOpenInfo, tcompTYPE_MSZIP)) {
            failure = describe(erf, path);
        }
    }
    if (failure.empty() && !::FCIFlushCabinet(fci, FALSE, fciNextCabinet, fciStatus)) {
        failure = describe(erf, win::narrow(m->path));
    }
    ::FCIDestroy(fci);
    if (failure.empty() && !::MoveFileExW(m->temp.c_str(), m->path.c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        failure = win::narrow(m->path) + ": " + win::systemMessage(::GetLastError());
    }
    if (failure.empty()) {
        m->temp.clear();  // named: nothing to remove
    }
    return failure;
}

void CabinetWriter::cancel() {
    m->cancelled = true;
}

CabinetWriter::Progress CabinetWriter::progress() const {
    const std::lock_guard hold(m->lock);
    return m->progress;
}

}  // namespace mivex
