// Fuzz target: splitting entries, and the round trip of an entry through a list file: fields that
// may stand in an entry, built, written, read back and split, come back unchanged.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "listfile/listfile.h"
#include "queue/queueentry.h"

namespace {

const std::string& scratchList() {
    static const std::string path = [] {
        char folder[] = "/tmp/mivex-fuzz-entry-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/list.flq";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Any text splits without fault.
    (void)mivex::ParseRecord(input);

    // The round trip: the first byte picks the codes, a NUL splits source from destination.
    if (size < 2) {
        return 0;
    }
    const std::string_view fields = input.substr(1);
    const std::size_t cut = fields.find('\0');
    if (cut == std::string_view::npos) {
        return 0;
    }
    const std::string_view wantSource = fields.substr(0, cut);
    const std::string_view wantDest = fields.substr(cut + 1);
    if (wantSource.empty() || !mivex::isStorablePath(wantSource) ||
        !mivex::isStorablePath(wantDest) || wantDest.find('\0') != std::string_view::npos ||
        wantSource.find('\0') != std::string_view::npos) {
        return 0;
    }
    const mivex::QueueEntry want{(data[0] & 1) ? "C" : "M", (data[0] & 2) ? "N" : "O",
                                 std::string(wantSource), std::string(wantDest)};
    const std::string entry = want.text();
    if (entry.size() > mivex::kMaxListLineLength) {
        return 0;  // longer than any real entry: the reader does not keep such a line
    }
    std::string error;
    if (!mivex::WriteQueueList(scratchList(), entry + "\r\n", error)) {
        std::abort();
    }
    const mivex::ListReadResult read = mivex::ReadQueueList(scratchList(), 10);
    if (read.status != mivex::ListReadStatus::Ok || read.rows.empty() || read.rows[0] != entry) {
        std::abort();
    }
    if (mivex::ParseRecord(read.rows[0]) != want) {
        std::abort();
    }
    return 0;
}
