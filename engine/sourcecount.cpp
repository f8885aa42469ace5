// The count of a source: one walk, every item counted one way.
#include "engine/sourcecount.h"

#include <fcntl.h>

#include "platform/fd.h"
#include "platform/folderwalk.h"

namespace mivex {

SourceTotals countSource(int dir, const std::string& name, const struct stat& st,
                         const CountOptions& options) {
    SourceTotals totals;
    const std::uint64_t block = options.block;
    const auto add = [&totals, block](const struct stat& item) {
        const bool file = S_ISREG(item.st_mode);
        const auto size = static_cast<std::uint64_t>(item.st_size);
        if (file || S_ISLNK(item.st_mode)) {
            ++totals.files;
        }
        if (file) {
            totals.bytes += size;
        }
        if (block != 0) {
            totals.room += file ? (size + block - 1) / block * block : block;
        }
    };
    add(st);
    if (!S_ISDIR(st.st_mode)) {
        return totals;
    }
    const Fd top(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (top.valid()) {
        totals.stopped = !walkTree(top.get(), [&add, &options](const struct stat& item) {
            add(item);
            return !options.stop || !options.stop->load(std::memory_order_relaxed);
        });
    }
    return totals;
}

}  // namespace mivex
