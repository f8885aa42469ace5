// What a copy keeps besides contents, and what it does with links, special files and attributes
// the destination refuses: the engine's promises on one screen, the same as `cp -a`'s.
#pragma once

namespace mivex {

struct CopyOptions {
    // ----- what is never different: stated here so that every promise is on one screen

    // Symbolic links are copied as links (their target text), never followed: a link in the source
    // must not lead the copy outside the tree, or into it twice.
    static constexpr bool kLinksAsLinks = true;

    // Sockets, FIFOs and device files are never opened (a FIFO would block, a device could have
    // side effects): each fails its item with kSpecialFile, and the rest of the entry goes on.
    static constexpr bool kSpecialFilesFail = true;

    // ----- attributes that cannot be set

    // Owners and groups are kept when running as root; a refusal (a filesystem without owners:
    // EPERM from vfat and exfat-fuse, ENOSYS from fusefat) leaves the item with the owner the
    // filesystem gives it and does not fail it, as with cp -a.
    bool keepOwners = true;

    // Permission bits that cannot be set fail the item: a copy left at its private 0600/0700, or
    // more open than its source, would differ from it in who may read it.
    bool modeRefusalFails = true;

    // ... but not on a filesystem that holds no Unix modes or owners at all: FAT (USB sticks,
    // memory cards), exFAT and NTFS, whose kernel drivers refuse chmod and chown with EPERM (vfat,
    // unless mounted "quiet"), nor on any filesystem that says the call is not supported (FUSE
    // drivers: ENOSYS or EOPNOTSUPP). There the mount decides every file's mode and owner, and
    // the data is the copy: the item succeeds, as cp -a copies and only warns. A USB stick would
    // otherwise get nothing at all. Owners and times are kept as far as the filesystem holds them
    // (FAT: times to 2 seconds). EPERM where modes are held still fails the item.
    bool modelessFilesystemsTakeData = true;

    // Whether the refusal `err` to set the mode of the copy open at `fd` fails the item, by the
    // two rules above.
    bool modeRefusalFailsItem(int err, int fd) const;

    // Times that cannot be set only make the copy look newer; cp -a merely warns, and the item
    // stays a success.
    bool timesRefusalFails = false;

    // ----- hard links and extended attributes

    // A file reached by several names inside one entry arrives as one file with those names: the
    // later names are linked to the first copy instead of being copied again (cp -a does the same
    // within one invocation). A tree of hard links then needs its space once, not once a name.
    bool keepHardLinks = true;

    // Every extended attribute the source lists is copied to files and folders: user.*, trusted.*
    // and security.* as far as the process may read them, the POSIX ACLs (system.posix_acl_access
    // and, on folders, system.posix_acl_default) and file capabilities (security.capability).
    // Links keep none of their own: user.* cannot exist on a link, and the others could only be set
    // through the link's path, which the engine never re-resolves.
    bool keepXattrs = true;

    // A destination filesystem that keeps no attributes, or not of this kind, answers ENOTSUP: the
    // item still arrives, without them, as with cp -a. Its permission bits, which every filesystem
    // keeps, still hold what an ACL's mask allows.
    bool skipUnsupportedXattrs = true;

    // Setting trusted.* takes CAP_SYS_ADMIN and security.* (capabilities among them) CAP_SETFCAP;
    // refused with EPERM, the item arrives without that attribute, as with cp -a. Any other refusal
    // (no space for the attribute, an I/O error) fails the item.
    bool skipPrivilegedXattrs = true;
};

}  // namespace mivex
