// Result codes of one transfer.
#include "platform/resultcodes.h"

#include <cerrno>
#include <string>

#include "platform/texts.h"

namespace mivex {

int codeFromErrno(int err, bool onSource) {
    switch (err) {
        case 0:
            return kSuccess;
        case ENOENT:
        case ENOTDIR:
            return onSource ? kFileNotFound : kPathNotFound;
        case EACCES:
        case EPERM:
        case ELOOP:  // O_NOFOLLOW met a link where a real folder or file was expected
            return kAccessDenied;
        case EROFS:
            return kWriteProtected;
        case EBUSY:
        case ETXTBSY:
            return kInUse;
        case EEXIST:
            return kFileExists;
        case EISDIR:
        case ENOTEMPTY:
            return kAlreadyExists;
        case ENAMETOOLONG:
            return kNameTooLong;
        case EFBIG:
            return kFileTooLarge;
        case EIO:
            return kIoError;
        case ENOSPC:
#ifdef EDQUOT  // no quotas in the Windows C library's errno
        case EDQUOT:
#endif
            return kDiskFull;
        case EMFILE:
        case ENFILE:
            return kTooManyOpenFiles;
        case ENOMEM:
            return kNotEnoughMemory;
        case EINVAL:
            return kInvalidParameter;
        default:
            return kGeneralFailure;
    }
}

std::string_view describeCode(int code) {
    switch (code) {
        case kNotAnEntry:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "The line is not a queue entry (\"C-N --> source --> destination folder\").");
        case kSuccess:
            return QT_TRANSLATE_NOOP("mivex", "Success.");
        case kFileNotFound:
            return QT_TRANSLATE_NOOP("mivex", "The source does not exist.");
        case kPathNotFound:
            return QT_TRANSLATE_NOOP(
                "mivex", "A folder on the way to the destination is missing or is not a folder.");
        case kTooManyOpenFiles:
            return QT_TRANSLATE_NOOP("mivex", "Too many files are open.");
        case kAccessDenied:
            return QT_TRANSLATE_NOOP(
                "mivex", "Access denied: a file or folder could not be read or written.");
        case kNotEnoughMemory:
            return QT_TRANSLATE_NOOP("mivex", "Not enough memory.");
        case kWriteProtected:
            return QT_TRANSLATE_NOOP("mivex", "The destination is on a read-only filesystem.");
        case kCopyDiffers:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "The copy differs from its source after writing: the destination's disk or its "
                "connection may be failing.");
        case kGeneralFailure:
            return QT_TRANSLATE_NOOP("mivex", "An unexpected system failure.");
        case kLinksNotHeld:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "The destination cannot hold symbolic links (FAT and exFAT hold none): a link "
                "was not copied.");
        case kInUse:
            return QT_TRANSLATE_NOOP("mivex",
                                     "A file is in use, or changed while it was being copied.");
        case kFileExists:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "A file of the chosen name appeared at the destination, or another item of the "
                "same operation took the name (a destination that ignores case).");
        case kInvalidParameter:
            return QT_TRANSLATE_NOOP("mivex", "The system refused a request as invalid.");
        case kSameFile:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "The destination is the item's own folder (only a copy that keeps both can do "
                "that), or the very file that the item is or links to.");
        case kInvalidName:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "The destination cannot hold a name: FAT, exFAT and NTFS (USB sticks, memory "
                "cards) take no : ? * \" < > | \\ or control character in a name, nor a name "
                "ending in a dot or a blank. Rename the item.");
        case kIntoItself:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "A folder cannot be copied or moved into itself or one of its subfolders.");
        case kDirNotEmpty:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "A moved folder could not be removed because something new appeared in it.");
        case kAlreadyExists:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "A file arrives where a folder of that name stands, or a folder where a file "
                "stands.");
        case kNameTooLong:
            return QT_TRANSLATE_NOOP("mivex", "A name or path is too long.");
        case kFileTooLarge:
            return QT_TRANSLATE_NOOP(
                "mivex",
                "A file is too large for the destination: larger than its filesystem holds "
                "(FAT32: 4 GiB), or than the file size limit of the run (ulimit -f).");
        case kIoError:
            return QT_TRANSLATE_NOOP("mivex", "An input/output error on the disk.");
        case kSkipped:
            return QT_TRANSLATE_NOOP("mivex",
                                     "Skipped: the user skipped the entry during the run, which "
                                     "went on with the next one.");
        case kSpecialFile:
            return QT_TRANSLATE_NOOP("mivex",
                                     "A FIFO, socket or device file cannot be copied or moved.");
        case kDiskFull:
            return QT_TRANSLATE_NOOP(
                "mivex", "Not enough free space on the destination drive (or over quota).");
        default:
            return {};
    }
}

std::string plainReason(int code) {
    const std::string_view english = describeCode(code);
    if (english.empty()) {
        return withArg(translated(QT_TRANSLATE_NOOP("mivex", "error code %1")),
                       std::to_string(code));
    }
    std::string text = translated(english.data());  // the table's texts are literals
    if (text.back() == '.') {
        text.pop_back();
    }
    // In the middle of a sentence: "line 2: the source does not exist". A translation keeps its
    // own first letter (a German noun stays capitalised).
    if (text == english.substr(0, text.size()) && text.front() >= 'A' && text.front() <= 'Z') {
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    }
    return text;
}

}  // namespace mivex
