// What the Windows engine knows of one item: its identity, its kind, and the names it may take.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace mivex::win {

// One file or folder on one volume, whatever path reaches it.
struct ItemState {
    DWORD volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::uint64_t written = 0;  // last write time
    DWORD attributes = 0;
    bool folder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool sameItem(const ItemState& other) const {
        return volume == other.volume && index == other.index;
    }
    bool unchanged(const ItemState& other) const {
        return sameItem(other) && size == other.size && written == other.written;
    }
};

// The item at `path` itself (a link or junction is not followed unless `follow`: a folder reached
// through one is the folder it leads to); nothing when it cannot be opened, with GetLastError()
// telling why.
std::optional<ItemState> itemState(const std::wstring& path, bool follow = false);

// `path` without trailing separators, except at a drive's root ("C:\").
std::wstring trimmed(std::wstring path);
// The folder holding `path`, and its last name.
std::wstring parentOf(const std::wstring& path);
std::wstring nameOf(const std::wstring& path);

// The n-th keep-both name of `name` (n = 1: "report - Copy.doc", n = 2: "report - Copy (2).doc");
// a folder's name has no extension.
std::wstring keepBothName(const std::wstring& name, bool folder, int n);

// The result code for a Win32 error met by the engine.
int codeFromWin32(DWORD error);

}  // namespace mivex::win
