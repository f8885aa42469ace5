// One entry: the refusals decided by identity, then a copy, a move on one volume, or a copy
// followed by the removal of what was copied.
#include "windows/engine/wintransfer.h"

#include <filesystem>
#include <system_error>

#include "platform/resultcodes.h"
#include "windows/engine/winjob.h"
#include "windows/platform/wide.h"
#include "windows/platform/winfolders.h"

namespace mivex::win {

namespace {

// Whether `folder`, or a folder above it, is the folder `item`, also through a junction.
bool isAtOrBelow(const std::wstring& folder, const ItemState& item) {
    for (std::wstring at = folder;;) {
        const auto state = itemState(at, true);
        if (state && state->sameItem(item)) {
            return true;
        }
        const std::wstring up = parentOf(at);
        if (up == at || up.empty()) {
            return false;
        }
        at = up;
    }
}

// Removes the copied source items that are still what was copied; a folder goes only once empty.
int removeSources(Job& job) {
    int failure = 0;
    for (const auto& [path, copied] : job.copied) {
        const auto now = itemState(path);
        const bool same = now && (copied.folder() ? now->sameItem(copied) : now->unchanged(copied));
        if (!same) {
            failure = failure != 0 ? failure : kInUse;
            continue;
        }
        if ((now->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            ::SetFileAttributesW(path.c_str(), now->attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        const bool gone =
            copied.folder() ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
        if (!gone && failure == 0) {
            const DWORD error = ::GetLastError();
            failure = error == ERROR_DIR_NOT_EMPTY ? kDirNotEmpty : codeFromWin32(error);
        }
    }
    return failure;
}

int copyThenRemove(const std::wstring& source, const ItemState& state, const std::wstring& dest,
                   Placing placing, Job& job) {
    const int code = copyItem(source, state, dest, nameOf(source), placing, job);
    return code != 0 ? code : removeSources(job);
}

// A move on one volume: one rename, unless a folder merges into a folder of its name.
int moveOnVolume(const std::wstring& source, const ItemState& state, const std::wstring& dest,
                 Placing placing, Job& job) {
    const std::wstring name = nameOf(source);
    if (placing == Placing::Replace) {
        if (const auto there = itemState(joinPath(dest, name))) {
            if (there->folder() != state.folder()) {
                return kAlreadyExists;
            }
            if (there->sameItem(state)) {
                return kSameFile;  // another name of the very file: replacing it would lose one
            }
            if (there->folder()) {
                return copyThenRemove(source, state, dest, placing, job);
            }
        }
    }
    FileProgress file{job.progress};
    const DWORD replace = placing == Placing::Replace ? MOVEFILE_REPLACE_EXISTING : 0;
    for (int n = 0; n < (placing == Placing::KeepBoth ? kKeepBothTries : 1); ++n) {
        const std::wstring candidate = n == 0 ? name : keepBothName(name, state.folder(), n);
        const std::wstring target = joinPath(dest, candidate);
        if (placing == Placing::KeepBoth && itemState(target)) {
            continue;
        }
        if (::MoveFileWithProgressW(source.c_str(), target.c_str(), onFileProgress, &file,
                                    replace | MOVEFILE_WRITE_THROUGH)) {
            job.placedAs = narrow(candidate);
            return 0;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_REQUEST_ABORTED) {
            return kStopped;
        }
        if (placing != Placing::KeepBoth ||
            (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)) {
            return codeFromWin32(error);
        }
    }
    return kAlreadyExists;
}

// The checks once the destination folder is there; 0 when the entry may go on.
int refusal(const QueueEntry& entry, const std::wstring& source, const ItemState& destState) {
    if (nameOf(source).empty()) {
        return kInvalidParameter;  // a drive's root has no name to arrive under
    }
    // Its own folder: only a keep-both copy has a name to go to.
    const auto home = itemState(parentOf(source), true);
    if (home && home->sameItem(destState) && !(entry.copies() && entry.keepsBoth())) {
        return kSameFile;
    }
    return 0;
}

int transfer(const QueueEntry& entry, Job& job) {
    const std::wstring source = trimmed(widen(entry.source));
    const std::wstring dest = trimmed(widen(entry.dest));
    const auto state = itemState(source);
    if (!state) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? kFileNotFound
                   : codeFromWin32(error);
    }
    if (state->folder() && isAtOrBelow(dest, *state)) {
        return kIntoItself;  // before a folder is made inside it
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(dest), ignored);
    const auto destState = itemState(dest, true);
    if (!destState || !destState->folder()) {
        return kPathNotFound;
    }
    if (const int code = refusal(entry, source, *destState); code != 0) {
        return code;
    }
    const Placing placing = entry.keepsBoth() ? Placing::KeepBoth : Placing::Replace;
    if (entry.copies()) {
        return copyItem(source, *state, dest, nameOf(source), placing, job);
    }
    if (state->volume == destState->volume) {
        return moveOnVolume(source, *state, dest, placing, job);
    }
    return copyThenRemove(source, *state, dest, placing, job);
}

}  // namespace

TransferResult DoFileOperation(const QueueEntry& entry, TransferProgress& progress) {
    Job job{entry, progress, {}, {}};
    TransferResult result;
    result.code = transfer(entry, job);
    if (result.code == kStopped) {
        result.code = 0;
        result.aborted = true;
    }
    result.placedAs = job.placedAs;
    return result;
}

}  // namespace mivex::win
