// Fuzz target: the list reader and the first-line test, over a list file holding the input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "listfile/listfile.h"

namespace {

// One in-memory file for every input, read through its /proc path as a list would be.
const std::string& listPath(int& fd) {
    static int memfd = ::memfd_create("list.flq", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(memfd);
    fd = memfd;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = -1;
    const std::string& path = listPath(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    const bool isList = mivex::CheckQueueList(path);
    const mivex::ListReadResult read = mivex::ReadQueueList(path, 64);
    // The reader fails whole exactly where the first-line test does (or past the row limit).
    if (isList != (read.status != mivex::ListReadStatus::NotAList)) {
        std::abort();
    }
    if (read.status != mivex::ListReadStatus::Ok && !read.rows.empty()) {
        std::abort();
    }
    std::size_t kept = 0;
    for (const std::string& row : read.rows) {
        if (row.find_first_of("\r\n") != std::string::npos) {
            std::abort();  // a line end inside a row
        }
        kept += row.size();
    }
    if (kept > size || read.rows.size() > 64) {
        std::abort();
    }
    return 0;
}
