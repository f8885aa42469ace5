// The program folder from the module's own name; the log folder checked by making a file there.
#include "windows/platform/winfolders.h"

#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <system_error>

namespace mivex::win {

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/') {
        return folder + name;
    }
    return folder + L'\\' + name;
}

std::wstring programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) {
        return L".";
    }
    // "C:\" keeps its separator: "C:" alone is the drive's current folder.
    return path.substr(0, cut == 2 && path[1] == L':' ? cut + 1 : cut);
}

namespace {

// Whether a file can be made in `folder`: one made and removed at once (never one that exists).
bool canWriteIn(const std::wstring& folder) {
    const std::wstring probe =
        joinPath(folder, L"~mivex-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(file);
    return true;
}

std::wstring localAppData() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path) == S_OK) {
        folder = path;
    }
    ::CoTaskMemFree(path);
    return folder;
}

}  // namespace

std::wstring chooseLogFolder(const std::wstring& programFolder) {
    if (canWriteIn(programFolder)) {
        return programFolder;
    }
    const std::wstring base = localAppData();
    if (base.empty()) {
        return {};
    }
    const std::wstring folder = joinPath(base, L"Mivex");
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder), error);
    return canWriteIn(folder) ? folder : std::wstring();
}

}  // namespace mivex::win
