// Identity from the open item's volume serial and file index; names from the path text.
#include "windows/engine/winpaths.h"

#include <algorithm>

#include "platform/resultcodes.h"

namespace mivex::win {

std::optional<ItemState> itemState(const std::wstring& path, bool follow) {
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (follow ? DWORD(0) : DWORD(FILE_FLAG_OPEN_REPARSE_POINT));
    const HANDLE item = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (item == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(item, &info);
    const DWORD error = ::GetLastError();
    ::CloseHandle(item);
    if (!ok) {
        ::SetLastError(error);
        return std::nullopt;
    }
    ItemState state;
    state.volume = info.dwVolumeSerialNumber;
    state.index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state.written = (std::uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                    info.ftLastWriteTime.dwLowDateTime;
    state.attributes = info.dwFileAttributes;
    return state;
}

namespace {
bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}
// Where the part after a drive's root ("C:\") or a share's ("\\server\share\") begins.
std::size_t rootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && isSeparator(path[2])) {
        return 3;
    }
    return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}
}  // namespace

std::wstring trimmed(std::wstring path) {
    while (path.size() > std::max<std::size_t>(rootLength(path), 1) && isSeparator(path.back())) {
        path.pop_back();
    }
    return path;
}

std::wstring parentOf(const std::wstring& path) {
    const std::wstring whole = trimmed(path);
    const std::size_t cut = whole.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut < rootLength(whole)) {
        return whole.substr(0, rootLength(whole));
    }
    return trimmed(whole.substr(0, std::max(cut, rootLength(whole))));
}

std::wstring nameOf(const std::wstring& path) {
    const std::wstring whole = trimmed(path);
    const std::size_t cut = whole.find_last_of(L"\\/");
    return cut == std::wstring::npos ? whole.substr(rootLength(whole)) : whole.substr(cut + 1);
}

std::wstring keepBothName(const std::wstring& name, bool folder, int n) {
    const std::size_t dot = folder ? std::wstring::npos : name.rfind(L'.');
    const bool hasExtension = dot != std::wstring::npos && dot > 0;
    const std::wstring stem = hasExtension ? name.substr(0, dot) : name;
    const std::wstring extension = hasExtension ? name.substr(dot) : std::wstring();
    const std::wstring mark = n == 1 ? L" - Copy" : L" - Copy (" + std::to_wstring(n) + L")";
    return stem + mark + extension;
}

int codeFromWin32(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return kDiskFull;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return kInUse;
        case ERROR_FILENAME_EXCED_RANGE:
            return kNameTooLong;
        case ERROR_SUCCESS:
            return kGeneralFailure;  // a failure that gave no reason is still a failure
        default:
            return static_cast<int>(error);  // the result codes are the system's own
    }
}

}  // namespace mivex::win
