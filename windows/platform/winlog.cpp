// The run log: one appended write a line, in the folder chosen at start.
#include "windows/platform/winlog.h"

#include <windows.h>

#include "windows/platform/wide.h"
#include "windows/platform/winfolders.h"

namespace mivex::win {

namespace {

SYSTEMTIME localTime(std::time_t when) {
    // FILETIME counts 100 ns steps from 1601; time_t seconds from 1970.
    const ULONGLONG ticks = (static_cast<ULONGLONG>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    ::FileTimeToSystemTime(&utc, &universal);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
    return local;
}

}  // namespace

std::wstring logFileName(std::time_t when) {
    const SYSTEMTIME t = localTime(when);
    wchar_t name[32];
    ::swprintf(name, 32, L"%02u%02u%04u-log.txt", t.wMonth, t.wDay, t.wYear);
    return name;
}

std::string logTimestamp(std::time_t when) {
    const SYSTEMTIME t = localTime(when);
    wchar_t date[128] = L"";
    wchar_t time[128] = L"";
    ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, 128, nullptr);
    std::string stamp = narrow(date);
    if (t.wHour != 0 || t.wMinute != 0 || t.wSecond != 0) {
        ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &t, nullptr, time, 128);
        stamp += ' ' + narrow(time);
    }
    return stamp;
}

std::wstring RunLog::path() const {
    return mFolder.empty() ? std::wstring() : joinPath(mFolder, logFileName(std::time(nullptr)));
}

void RunLog::log(std::string_view message) {
    if (mFolder.empty()) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    const std::string line = logTimestamp(now) + '\t' + std::string(message) + "\r\n";
    const std::wstring file = joinPath(mFolder, logFileName(now));
    const HANDLE handle =
        ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok =
        handle != INVALID_HANDLE_VALUE &&
        ::WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size();
    const DWORD error = ::GetLastError();
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    if (!ok && mFailure.empty()) {
        mFailure = systemMessage(error);
    }
}

}  // namespace mivex::win
