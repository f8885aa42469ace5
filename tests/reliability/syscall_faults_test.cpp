// System calls failing where no real filesystem fails on demand: EIO on read, write, close and
// syncfs, copy_file_range refusing, no room at the step that names a file. A shim preloaded into
// the program's run makes one call fail; each case checks the entry's line in the run log, that
// nothing partial or temporary stays at the destination, that the source is whole, and that the
// next entry of the queue is still carried out.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "queue/copyoperation.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

enum How : unsigned {
    Plain = 0,
    Overwrite = 1,  // an older file stands at the name
    NamedOnly = 2,  // no unnamed files, hard links or RENAME_NOREPLACE: a named temporary file
    Across = 4,     // the destination is another filesystem
    Tree = 8,       // the entry is a folder holding the file
    Kept = 16,      // a failed move leaves its whole copy at the destination too
};

struct Fault {
    const char* what;
    const char* fault;  // MIVEX_FAULT: "call:ERRNO:part[:n]", comma-separated
    const char* codes;
    int code;  // in the entry's log line; 0 for success
    unsigned how;
};

// "victim" is in the source's path, "faulty/" in the destination's: a file being written there
// without a name is "faulty/#inode (deleted)".
const Fault kCases[] = {
    {"copy range EIO", "copy_file_range:EIO:victim", "C-N", 1117, Plain},
    {"copy range EIO in a tree", "copy_file_range:EIO:victim", "C-N", 1117, Tree},
    {"read EIO", "copy_file_range:EXDEV:victim,read:EIO:victim:2", "C-N", 1117, Plain},
    {"write EIO over an old file", "copy_file_range:EXDEV:victim,write:EIO:faulty/:2", "C-O", 1117,
     Overwrite},
    {"write EIO named", "copy_file_range:ENOSYS:victim,write:EIO:faulty/:3", "C-N", 1117,
     NamedOnly},
    {"write EIO moving across", "write:EIO:faulty/:2", "M-O", 1117, Across},
    {"close EIO", "close:EIO:faulty/", "C-N", 1117, Plain},
    {"close EIO over an old file", "close:EIO:faulty/", "C-O", 1117, Overwrite},
    {"close EIO named", "close:EIO:faulty/", "C-N", 1117, NamedOnly},
    {"syncfs EIO moving across", "syncfs:EIO:faulty", "M-O", 1117, Across | Kept},
    {"copy range EXDEV", "copy_file_range:EXDEV:victim", "C-N", 0, Plain},
    {"copy range ENOSYS", "copy_file_range:ENOSYS:victim", "C-O", 0, Overwrite},
    {"copy range EOPNOTSUPP", "copy_file_range:EOPNOTSUPP:victim", "C-N", 0, Tree},
    {"copy range EINVAL", "copy_file_range:EINVAL:victim", "C-N", 0, NamedOnly},
    {"link ENOSPC", "linkat:ENOSPC:faulty", "C-N", 1223, Plain},
    {"link ENOSPC keeping both", "linkat:ENOSPC:faulty", "C-N", 1223, Overwrite},
    {"rename ENOSPC over an old file", "renameat:ENOSPC:faulty", "C-O", 1223, Overwrite},
    {"rename ENOSPC named", "renameat:ENOSPC:faulty", "C-N", 1223, NamedOnly},
    {"rename ENOSPC moving", "renameat2:ENOSPC:faulty", "M-O", 1223, Plain},
};

void PrintTo(const Fault& f, std::ostream* out) {
    *out << f.what;
}

class SyscallFaults : public ::testing::TestWithParam<Fault> {};

}  // namespace

TEST_P(SyscallFaults, EntryFailsCleanlyOrFallsBackAndTheQueueGoesOn) {
    const Fault& c = GetParam();
    std::optional<TmpfsMount> mount;
    TempDir src, local;
    if (c.how & Across) {
        mount.emplace(32 << 20);
        if (!mount->ok()) {
            GTEST_SKIP() << mount->reason();
        }
    }
    const std::string dst = mount ? mount->path() : local.path();
    // Not a multiple of any buffer, and a few of them long.
    const std::string bytes = randomBytes((1 << 20) + 123, 7);
    const std::string item = (c.how & Tree) ? "tree" : "victim.bin";
    const std::string victim = (c.how & Tree) ? "tree/victim.bin" : "victim.bin";
    makeTree(src.path(), {{victim, bytes}, {"tree/other.txt", "other"}, {"next.txt", "next"}});
    makeTree(dst, {{"faulty/", ""}, {"fine/", ""}});
    if (c.how & Overwrite) {
        writeFile(dst + "/faulty/" + victim, "old");
    }

    Unattended program;
    program.preload = (c.how & NamedOnly ? std::string(kPlainFs) + ":" : std::string()) + kFaults;
    ScopedEnv fault("MIVEX_FAULT", c.fault);
    const std::vector<std::string> rows = {entry(c.codes, src / item, dst + "/faulty"),
                                           entry("C-N", src / "next.txt", dst + "/fine")};
    const ProcessResult result = program.run(program.list(rows));
    EXPECT_EQ(result.exitCode, c.code == 0 ? 0 : 1) << result.output;
    const std::string log = readFile(program.logPath());
    const std::string line =
        c.code == 0 ? rows[0] + " was successful"
                    : "*** ERROR *** " + rows[0] + " did not copy - " + GetErrorText(c.code);
    EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(rows[1] + " was successful\r\n"), std::string::npos) << log;
    EXPECT_EQ(readFile(dst + "/fine/next.txt"), "next");

    // What arrived is whole, or the old file is; nothing temporary stays. A failed move, or any
    // copy, leaves the source whole.
    const bool moved = c.code == 0 && c.codes[0] == 'M';
    EXPECT_EQ(exists(src / victim), !moved);
    if (!moved) {
        EXPECT_TRUE(readFile(src / victim) == bytes);
    }
    const std::string arrived = dst + "/faulty/" + victim;
    if (c.code == 0 || (c.how & Kept)) {
        EXPECT_TRUE(readFile(arrived) == bytes);
    } else if (c.how & Overwrite) {
        EXPECT_EQ(readFile(arrived), "old");
    } else {
        EXPECT_FALSE(exists(arrived));
    }
    for (const std::string& name : listTree(dst + "/faulty")) {
        if (!name.ends_with("/") && name != victim) {
            EXPECT_EQ(name, "tree/other.txt");  // no temporary file, no copy name
            EXPECT_EQ(readFile(dst + "/faulty/" + name), "other");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, SyscallFaults, ::testing::ValuesIn(kCases), [](const auto& param) {
    std::string name = param.param.what;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
});
