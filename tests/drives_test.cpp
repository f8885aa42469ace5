// The browse panes' view of the disk: drives from mountinfo, and folder and file listings.
#include "platform/drives.h"

#include <array>
#include <cerrno>

#include "platform/folders.h"
#include "platform/pathtext.h"
#include "tests/testsupport.h"

using namespace mivex;
using namespace mivex::test;

// Browsable mounts, root first; a path's drive is its longest mount; "~" expanded as by a shell.
TEST(Drives, MountInfoDriveOfAndHomeExpansion) {
    const char* text =
        "1 1 0:1 / /proc rw - proc p rw\n1 1 0:2 / / rw shared:1 - ext4 /dev/vda rw\n"
        "1 1 0:3 / /media/me/USB\\040Stick rw shared:5 master:2 - vfat /dev/sdb1 rw\n"
        "1 1 0:4 / /home rw - btrfs d rw\n1 1 0:5 / /tmp rw - tmpfs t rw\n"
        "1 1 0:6 / /mnt/cg rw - cgroup2 c rw\n1 1 0:7 / /dev/shm rw - tmpfs t rw\n"
        "1 1 0:8 / /run/user/1000 rw - tmpfs t rw\n1 1 0:9 / /run/media/me/cd ro - iso9660 d ro\n"
        "1 1 7:1 / /snap/core/123 ro - squashfs d ro\n1 1 7:2 / /opt/image ro - squashfs d ro\n"
        "1 1 0:4 / /home rw - btrfs d rw\n"  // stacked on /home
        "1 1 0:10 / /runner rw - ext4 d rw\n1 1 0:11 / /mnt/a\\134b\\011c rw - ext4 d rw\n"
        "garbage line\n";
    EXPECT_EQ(drivesFromMountInfo(text),
              (Names{"/", "/home", "/media/me/USB Stick", "/mnt/a\\b\tc", "/opt/image",
                     "/run/media/me/cd", "/runner", "/tmp"}));
    EXPECT_EQ(drivesFromMountInfo(""), Names{"/"});
    EXPECT_EQ(listDrives().front(), "/");
    const Names drives{"/", "/media/usb", "/media/usb/inner", "/home"};
    EXPECT_EQ(driveOf("/media/usb/photos/a.jpg", drives), "/media/usb");
    EXPECT_EQ(driveOf("/media/usb/", drives), "/media/usb");
    EXPECT_EQ(driveOf("/media/usb/inner/x", drives), "/media/usb/inner");
    EXPECT_EQ(driveOf("/media/usb2/x", drives), "/");
    EXPECT_EQ(driveOf("/home/me", Names{}), "/");
    for (const auto& [path, parent, name] :
         std::initializer_list<std::array<const char*, 3>>{{"/a/b/", "/a", "b"},
                                                           {"/a//b", "/a", "b"},
                                                           {"/a", "/", "a"},
                                                           {"//a", "/", "a"},
                                                           {"/", "/", "/"},
                                                           {"b", ".", "b"},
                                                           {"a//b/", "a", "b"}}) {
        EXPECT_EQ(parentOf(path), parent) << path;
        EXPECT_EQ(nameOf(path), name) << path;
    }
    ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(expandHome("~"), "/home/ann");
    EXPECT_EQ(expandHome("~/"), "/home/ann/");
    EXPECT_EQ(expandHome("~/New/Sub"), "/home/ann/New/Sub");
    EXPECT_EQ(expandHome("~root/x"), "/root/x");
    EXPECT_EQ(expandHome("~nosuchuser1234/x"), "~nosuchuser1234/x");
    EXPECT_EQ(expandHome("/a/~/b"), "/a/~/b");
    EXPECT_EQ(expandHome(""), "");
}

// Visible folders and matching files, links followed; a folder is an identity, not a spelling.
TEST(Listing, VisibleEntriesAndFoldersByIdentity) {
    TempDir dir;
    plantTree(dir.path(), {"b.txt=b", "a.TXT=a", "Zeta=z", "apple.doc=", ".hidden.txt=h",
                           "sub/inner.txt=i", "Caps/in/", "caps/", ".dotdir/", "linkdir->sub",
                           "linkfile->b.txt", "dangling->missing"});
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    const auto files = [&](const std::string& pattern) {
        Names names{"stale"};
        int err = -1;
        EXPECT_TRUE(readFiles(dir.path(), pattern, names, err));
        EXPECT_EQ(err, 0);
        return names;
    };
    Names names;
    int err = -1;
    ASSERT_TRUE(readSubfolders(dir.path(), names, err));
    EXPECT_EQ(names, (Names{"Caps", "caps", "linkdir", "sub"}));
    EXPECT_EQ(files("*.*"), (Names{"Zeta", "a.TXT", "apple.doc", "b.txt", "linkfile"}));
    EXPECT_EQ(files("*"), files("*.*"));
    EXPECT_EQ(files("*.txt"), Names{"b.txt"});
    EXPECT_EQ(files("a*"), (Names{"a.TXT", "apple.doc"}));
    EXPECT_EQ(files("*.doc;Z*"), (Names{"Zeta", "apple.doc"}));
    EXPECT_FALSE(readSubfolders(dir / "missing", names, err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(readFiles(dir / "b.txt", "*.*", names, err));
    EXPECT_EQ(err, ENOTDIR);
    BindMount bind(dir / "Caps", false);
    EXPECT_FALSE(sameFolder(dir / "Caps", dir / "caps"));  // letter case names another folder
    EXPECT_TRUE(sameFolder(dir / "sub", dir / "linkdir"));
    EXPECT_TRUE(sameFolder(dir / "Caps", dir / "Caps/in/.."));
    EXPECT_FALSE(sameFolder(dir / "Caps", dir / "Caps/in"));
    EXPECT_TRUE(sameFolder(dir / "gone", dir / "gone"));
    EXPECT_FALSE(sameFolder(dir / "gone", dir / "Gone"));
    EXPECT_TRUE(!bind.ok() || sameFolder(dir / "Caps", bind.path()));
}
