// Hard links, attributes, ACLs and capabilities kept as cp -a and mv keep them, or as far as can.
#include <fcntl.h>
#include <sys/xattr.h>

#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;

namespace {

void run(const Names& argv) {
    const ProcessResult r = runProcess(argv);
    ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.output;
}

void setXattr(const std::string& path, const char* name, const std::string& value) {
    ASSERT_EQ(::lsetxattr(path.c_str(), name, value.data(), value.size(), 0), 0) << path << name;
}

std::string xattrOf(const std::string& path, const char* name) {
    std::string value(4096, '\0');
    const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    return n < 0 ? std::string("<none>") : value.substr(0, static_cast<std::size_t>(n));
}

// Two names of a big file, three of 300 files over batches in a read-only folder; attributes, ACLs,
// a capability, a setgid folder of another group, links, sub-second times.
void makeMetadataTree(const std::string& root) {
    plantTree(root, {"plain.txt=plain", "tool=#!/bin/sh\n", "shared/before.txt=before the ACL",
                     "sub/inner.txt=inner", "empty/", "sub/up-link->../plain.txt",
                     "dangling->nowhere/at/all", "a/", "b/"});
    writeFile(root + "/data.bin", randomBytes(8 << 20, 11));
    ASSERT_EQ(::link((root + "/data.bin").c_str(), (root + "/sub/data-below.bin").c_str()), 0);
    for (int i = 0; i < 300; ++i) {
        const std::string first = root + "/a/f" + std::to_string(i);
        writeFile(first, randomBytes(i % 10 == 0 ? 100000 : 50, static_cast<unsigned>(i)));
        ASSERT_EQ(::link(first.c_str(), (root + "/a/g" + std::to_string(i)).c_str()), 0);
        ASSERT_EQ(::link(first.c_str(), (root + "/b/h" + std::to_string(i)).c_str()), 0);
    }
    ::chmod((root + "/a/f3").c_str(), 0444);
    ::chmod((root + "/a").c_str(), 0555);
    ::chmod((root + "/plain.txt").c_str(), 0444);
    setXattr(root + "/plain.txt", "user.origin", "scanner 7");
    setXattr(root + "/sub", "user.project", "apollo");
    run({"setfacl", "-m", "u:65534:rwx,g:65534:r-x", root + "/shared"});
    run({"setfacl", "-d", "-m", "u:65534:rwx", root + "/shared"});
    writeFile(root + "/shared/inherited.txt", "after the ACL", 0640);
    // Another owner than the copying user's: the copy's chown must not clear the capability.
    ASSERT_EQ(::chown((root + "/tool").c_str(), 65534, 65534), 0);
    ::chmod((root + "/tool").c_str(), 0755);
    run({"setcap", "cap_net_raw+ep", root + "/tool"});
    ASSERT_EQ(::chown((root + "/sub").c_str(), 0, 65534), 0);
    ASSERT_EQ(::chmod((root + "/sub").c_str(), 02775), 0);
    long ns = 111111111;
    for (const char* name :
         {"data.bin", "plain.txt", "tool", "shared/before.txt", "shared/inherited.txt",
          "sub/inner.txt", "shared", "sub", "empty", "a", ""}) {
        const timespec times[2] = {{1500000000, ns}, {1600000000, ns += 1000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/" + name).c_str(), times, AT_SYMLINK_NOFOLLOW),
                  0);
    }
}

// fs: 'd' disk, 't' tmpfs with room for one data.bin, 'r' ramfs (no attributes); prefilled: older.
struct Case {
    const char* what;
    TransferKind kind;
    CollisionRule rule;
    char fs;
    bool prefilled;
    const char* workers;
    friend void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }
};

class TransferMetadata : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(TransferMetadata, EqualsCpArchiveUnderRsync) {
    const Case& c = GetParam();
    std::optional<TmpfsMount> tmpfs;
    std::optional<RamfsMount> ramfs;
    const ScratchMount* mount = c.fs == 't'   ? &tmpfs.emplace(17 << 20)
                                : c.fs == 'r' ? static_cast<ScratchMount*>(&ramfs.emplace())
                                              : nullptr;
    if (mount && !mount->ok()) {
        GTEST_SKIP() << mount->reason();
    }
    TempDir src, ref, disk;
    const std::string parent = mount ? mount->path() : disk.path();
    const std::string dest = parent + "/in";
    makeMetadataTree(src / "tree");
    const std::string reference = referenceCopy(src / "tree", ref.path());
    if (c.prefilled) {
        // The tree's own files as separate files, older and without attributes.
        plantTree(dest + "/tree", {"data.bin=old", "sub/data-below.bin=old below", "a/g7=old",
                                   "b/h7=old", "shared/before.txt=old"});
    }
    ScopedEnv env("MIVEX_WORKERS", c.workers);
    if (c.fs != 'r') {  // the copy has the source's ACLs, not those of where it lands
        run({"setfacl", "-d", "-m", "u:65534:rwx", parent});
    }
    ASSERT_EQ(transferItem({src / "tree", dest, c.kind, c.rule}).code, 0);
    EXPECT_EQ(listTree(dest), listTree(ref.path()));  // nothing hidden left behind
    if (c.fs == 'r') {
        expectSame(reference, dest + "/tree");  // bytes, modes (the setgid bit too) and times
        EXPECT_EQ(xattrOf(dest + "/tree/plain.txt", "user.origin"), "<none>");
    } else {
        EXPECT_EQ(rsyncDifferences(reference, dest + "/tree"), "");
    }
    EXPECT_TRUE(c.kind == kCopy ? rsyncDifferences(reference, src / "tree").empty()
                                : !exists(src / "tree"));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TransferMetadata,
    ::testing::Values(Case{"CopyKeepBoth", kCopy, kN, 'd', false, "2"},
                      Case{"CopyOverwriteOntoOlderTree", kCopy, kO, 'd', true, "4"},
                      Case{"CopyOntoTmpfsOnOneThread", kCopy, kO, 't', false, "0"},
                      Case{"CopyOntoRamfs", kCopy, kN, 'r', false, "2"},
                      Case{"MoveOverwriteOntoTmpfs", kMove, kO, 't', false, "2"},
                      Case{"MoveKeepBothOntoTmpfs", kMove, kN, 't', false, "1"},
                      Case{"MoveOverwriteOntoOlderTreeOnTmpfs", kMove, kO, 't', true, "2"},
                      Case{"MoveMergesIntoOlderTreeOnOneFilesystem", kMove, kO, 'd', true, "2"}),
    [](const auto& param) { return std::string(param.param.what); });

// Two threads meet the two names of one file: the second waits for the first copy, then links it.
TEST(TransferHardLinks, SecondNameWaitsForTheFirstCopy) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 12 << 20);  // room for one copy
    TempDir src;
    const std::string bytes = randomBytes(8 << 20, 5);
    plantTree(src / "tree", {"big.bin=" + bytes, "sub/"});
    ASSERT_EQ(::link((src / "tree/big.bin").c_str(), (src / "tree/sub/big-too.bin").c_str()), 0);
    ScopedEnv env("MIVEX_WORKERS", "2");
    ASSERT_EQ(transferItem({src / "tree", mount.path(), kMove, kO}).code, 0);
    EXPECT_EQ(readFile(mount / "tree/sub/big-too.bin"), bytes);
    EXPECT_EQ(lstatOf(mount / "tree/big.bin").st_nlink, 2u);
}

// As another user, what only privilege may set is skipped; an attribute too big fails the item.
TEST(TransferXattrPolicy, SkipsWhatOnlyPrivilegeMaySetAndFailsWhatCannotBeHeld) {
    MIVEX_MOUNT_OR_SKIP(mount, TmpfsMount, 16 << 20);
    Unattended app;
    TempDir src, dst, state;
    for (const std::string& open : {src.path(), app.lists.path(), state.path()}) {
        ::chmod(open.c_str(), 0777);
    }
    plantTree(src / "tree", {"tool=#!/bin/sh\n", "notes.txt=n"});
    ::chmod((src / "tree/tool").c_str(), 0755);
    run({"setcap", "cap_net_raw+ep", src / "tree/tool"});
    setXattr(src / "tree/notes.txt", "trusted.hidden", "only root sees this");
    setXattr(src / "tree/notes.txt", "user.origin", "scanner 7");
    // Linking to a copy by its descriptor alone takes a privilege too: the link goes another way.
    ASSERT_EQ(::link((src / "tree/notes.txt").c_str(), (src / "tree/notes-again.txt").c_str()), 0);
    ASSERT_EQ(::chown(dst.path().c_str(), 65534, 65534), 0);
    const std::string list = app.list({entry("C-N", src / "tree", dst.path())});
    const ProcessResult r =
        runProcess({"env", "XDG_STATE_HOME=" + state.path(), app.exe(), list, "-auto"}, 60, true);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(lstatOf(dst / "tree/tool").st_mode & 07777, 0755u);
    EXPECT_EQ(xattrOf(dst / "tree/tool", "security.capability"), "<none>");
    EXPECT_EQ(xattrOf(dst / "tree/notes.txt", "user.origin"), "scanner 7");
    EXPECT_EQ(xattrOf(dst / "tree/notes.txt", "trusted.hidden"), "<none>");
    EXPECT_EQ(lstatOf(dst / "tree/notes-again.txt").st_ino, lstatOf(dst / "tree/notes.txt").st_ino);
    removeTree(dst / "tree");
    const std::string big(60000, 'x');
    if (::setxattr(dst.path().c_str(), "user.big", big.data(), big.size(), 0) == 0) {
        GTEST_SKIP() << "the filesystem of " << dst.path() << " holds a 60,000-byte attribute";
    }
    plantTree(mount.path(), {"big-attr.txt=data", "big-attr-folder/inside.txt=i"});
    for (const char* item : {"big-attr.txt", "big-attr-folder"}) {
        SCOPED_TRACE(item);
        setXattr(mount / item, "user.big", big);
        EXPECT_NE(transferItem({mount / item, dst.path(), kCopy, kN}).code, 0);
        EXPECT_NE(transferItem({mount / item, dst.path(), kMove, kO}).code, 0);
        EXPECT_TRUE(exists(mount / item));
        EXPECT_TRUE(listTree(dst.path()).empty()) << "nothing half made is left";
    }
}
