// Copies: every file under a temporary name beside its target, named only when complete.
#include <atomic>

#include "platform/resultcodes.h"
#include "windows/engine/winjob.h"
#include "windows/platform/wide.h"
#include "windows/platform/winfolders.h"

namespace mivex::win {

DWORD CALLBACK onFileProgress(LARGE_INTEGER, LARGE_INTEGER done, LARGE_INTEGER, LARGE_INTEGER,
                              DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
    auto* file = static_cast<FileProgress*>(data);
    const auto now = static_cast<std::uint64_t>(done.QuadPart);
    file->progress.bytes += now - file->counted;
    file->counted = now;
    return file->progress.cancel ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

namespace {

std::wstring temporaryName(const std::wstring& folder) {
    static std::atomic<unsigned> next{0};
    return joinPath(folder, L"~mivex-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                std::to_wstring(next++) + L".tmp");
}

// `source` copied whole to a new temporary file in `folder`.
int copyToTemporary(const std::wstring& source, const std::wstring& folder, std::wstring& temp,
                    Job& job) {
    temp = temporaryName(folder);
    FileProgress file{job.progress};
    if (::CopyFileExW(source.c_str(), temp.c_str(), onFileProgress, &file, nullptr,
                      COPY_FILE_FAIL_IF_EXISTS)) {
        return 0;
    }
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    return error == ERROR_REQUEST_ABORTED ? kStopped : codeFromWin32(error);
}

// Names the complete temporary file: in one step over a file there, or at the first free name.
int nameFile(const std::wstring& temp, const std::wstring& folder, const std::wstring& name,
             Placing placing, Job& job) {
    if (placing != Placing::KeepBoth) {
        const DWORD flags =
            MOVEFILE_WRITE_THROUGH | (placing == Placing::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
        return ::MoveFileExW(temp.c_str(), joinPath(folder, name).c_str(), flags)
                   ? 0
                   : codeFromWin32(::GetLastError());
    }
    for (int n = 0; n < kKeepBothTries; ++n) {
        const std::wstring candidate = n == 0 ? name : keepBothName(name, false, n);
        const std::wstring target = joinPath(folder, candidate);
        if (itemState(target)) {
            continue;
        }
        if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            job.placedAs = narrow(candidate);
            return 0;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return codeFromWin32(error);
        }
    }
    return kFileExists;
}

int copyFile(const std::wstring& source, const ItemState& state, const std::wstring& folder,
             const std::wstring& name, Placing placing, Job& job) {
    if (placing == Placing::Replace) {
        if (const auto there = itemState(joinPath(folder, name))) {
            if (there->folder()) {
                return kAlreadyExists;
            }
            if (there->sameItem(state)) {
                return kSameFile;
            }
            // Only a copy leaves an equal-looking file: a move would then remove a source whose
            // bytes may be nowhere else.
            if (job.entry.updates() && job.entry.copies() && there->size == state.size &&
                there->written == state.written) {
                job.copied.emplace_back(source, state);
                return 0;
            }
        }
    }
    std::wstring temp;
    if (const int code = copyToTemporary(source, folder, temp, job); code != 0) {
        return code;
    }
    const auto after = itemState(source);
    int code = after && after->unchanged(state) ? 0 : kInUse;
    if (code == 0) {
        code = nameFile(temp, folder, name, placing, job);
    }
    if (code != 0) {
        ::DeleteFileW(temp.c_str());
        return code;
    }
    job.copied.emplace_back(source, state);
    return 0;
}

// The folder `name` in `folder` made (or, replacing, one there taken to merge into).
int makeFolder(const std::wstring& folder, const std::wstring& name, Placing placing,
               std::wstring& made, Job& job) {
    for (int n = 0; n < (placing == Placing::KeepBoth ? kKeepBothTries : 1); ++n) {
        const std::wstring candidate = n == 0 ? name : keepBothName(name, true, n);
        made = joinPath(folder, candidate);
        if (::CreateDirectoryW(made.c_str(), nullptr)) {
            job.placedAs = narrow(candidate);
            return 0;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            return codeFromWin32(error);
        }
        if (placing == Placing::Replace) {
            const auto there = itemState(made);
            return there && there->folder() ? 0 : kAlreadyExists;
        }
    }
    return placing == Placing::New ? kFileExists : kAlreadyExists;
}

int copyFolder(const std::wstring& source, const ItemState& state, const std::wstring& folder,
               const std::wstring& name, Placing placing, Job& job) {
    std::wstring made;
    if (const int code = makeFolder(folder, name, placing, made, job); code != 0) {
        return code;
    }
    // Inside a folder just made every name is free; inside a merged one files are replaced.
    const Placing inside = placing == Placing::Replace ? Placing::Replace : Placing::New;
    WIN32_FIND_DATAW found;
    const HANDLE walk = ::FindFirstFileExW(joinPath(source, L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (walk == INVALID_HANDLE_VALUE) {
        return codeFromWin32(::GetLastError());
    }
    int code = 0;
    do {
        const std::wstring child = found.cFileName;
        if (child == L"." || child == L"..") {
            continue;
        }
        const std::wstring path = joinPath(source, child);
        const auto childState = itemState(path);
        code = childState ? copyItem(path, *childState, made, child, inside, job)
                          : codeFromWin32(::GetLastError());
    } while (code == 0 && ::FindNextFileW(walk, &found));
    ::FindClose(walk);
    if (code == 0) {
        job.copied.emplace_back(source, state);
    }
    return code;
}

}  // namespace

int copyItem(const std::wstring& source, const ItemState& state, const std::wstring& folder,
             const std::wstring& name, Placing placing, Job& job) {
    if (job.progress.cancel) {
        return kStopped;
    }
    // A link or junction is never followed: copying what it leads to could copy a tree twice or
    // loop. Copying links themselves needs a privilege most users lack; the entry fails instead.
    if ((state.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return kSpecialFile;
    }
    return state.folder() ? copyFolder(source, state, folder, name, placing, job)
                          : copyFile(source, state, folder, name, placing, job);
}

}  // namespace mivex::win
