// Verify for many files at once: a pool thread holds the copies of its batch unnamed while their
// data goes to the disk, then waits once, reads them all back and names those that are right.
#include "engine/heldcopies.h"

#include <fcntl.h>

#include "engine/transferengine.h"
#include "engine/verify.h"

namespace mivex::engine {

int Transfer::holdCopy(const ItemWay& item, int src, Fd& dst, const std::string& temp,
                       const struct stat& st, bool occupied) {
    Fd source(::fcntl(src, F_DUPFD_CLOEXEC, 0));
    if (!source.valid()) {
        return codeFromErrno(errno);
    }
    startWriting(dst.get());
    HeldCopies& held = *item.held;
    held.copies.push_back({std::move(source), std::move(dst), temp, item.name, item.dstName,
                           item.srcPath, item.srcDir, item.dstDir, item.placement, item.record, st,
                           occupied});
    held.bytes += static_cast<std::uint64_t>(st.st_size);
    if (held.copies.size() >= HeldCopies::kMostFiles || held.bytes >= HeldCopies::kMostBytes) {
        settleHeld(held);
    }
    return kSuccess;
}

void Transfer::settleHeld(HeldCopies& held) {
    std::vector<int> codes;
    codes.reserve(held.copies.size());
    for (HeldCopy& c : held.copies) {
        codes.push_back(mAborted ? kSuccess : readBackFromStorage(c.dst.get()));
    }
    for (std::size_t i = 0; i < held.copies.size(); ++i) {
        HeldCopy& c = held.copies[i];
        int code = codes[i] == kSuccess && !mAborted
                       ? compareContents(c.src.get(), c.dst.get(), [this] { return stopped(); })
                       : codes[i];
        ::posix_fadvise(c.dst.get(), 0, 0, POSIX_FADV_DONTNEED);
        if (code == kCopyDiffers && !stopped()) {
            noteDiffers(c.srcPath);
        }
        HardLinks::Claim none;  // a held copy has no other names
        const ItemWay way{c.srcDir, c.name, c.dstDir, c.dstName, c.placement, c.srcPath, c.record};
        noteFailure(placeCopy(way, c.dst, c.temp, c.st, c.occupied, none, code));
    }
    held.copies.clear();
    held.bytes = 0;
}

}  // namespace mivex::engine
