// A filesystem that keeps wrong bytes, for the tests of verify after copy (tests/flipfs.py, FUSE).
// Its includer defines MIVEX_SOURCE_DIR, where the script lies.
#pragma once

#include <linux/magic.h>
#include <sys/vfs.h>

#include <chrono>
#include <thread>

#include "tests/testsupport.h"

namespace mivex::test {

// `root` seen through flipfs at path(): the first byte of a file named "*flip*" is kept wrong.
struct FlipFsMount : ScratchMount {
    explicit FlipFsMount(const std::string& root) {
        const auto r =
            runProcess({"sh", "-c",
                        "/usr/bin/python3 -c 'import fusepy' 2>/dev/null || exit 127; "
                        "/usr/bin/python3 \"$0\" \"$1\" \"$2\" </dev/null >/dev/null "
                        "2>&1 &",
                        std::string(MIVEX_SOURCE_DIR) + "/tests/flipfs.py", root, path()});
        for (int i = 0; i < 100 && r.exitCode == 0; ++i) {
            if (struct statfs fs{};
                ::statfs(path().c_str(), &fs) == 0 && fs.f_type == FUSE_SUPER_MAGIC) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        mReason = r.exitCode == 127 ? "no python3-fusepy for the test filesystem"
                                    : "the test filesystem could not be mounted (no /dev/fuse?)";
    }
};

}  // namespace mivex::test
