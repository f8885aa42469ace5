#!/usr/bin/python3
"""A passthrough filesystem that keeps wrong bytes: the first byte of every file whose name holds
"flip" is stored with its lowest bit turned, as a failing disk or cable would keep it.

    flipfs.py ROOT MOUNTPOINT    (runs in the foreground until unmounted)
"""
import errno
import os
import sys

from fusepy import FUSE, FuseOSError, Operations


class FlipFs(Operations):
    def __init__(self, root):
        self.root = root

    def _real(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def __call__(self, op, path, *args):
        try:
            return super().__call__(op, self._real(path) if op != "rename" else path, *args)
        except OSError as e:
            raise FuseOSError(e.errno or errno.EIO)

    def access(self, path, mode):
        if not os.access(path, mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(path)
        keys = ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime", "st_nlink", "st_size",
                "st_uid", "st_ino")
        return {k: getattr(st, k) for k in keys}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(path)

    def statfs(self, path):
        st = os.statvfs(path)
        return {k: getattr(st, k) for k in ("f_bavail", "f_bfree", "f_blocks", "f_bsize",
                                             "f_favail", "f_ffree", "f_files", "f_flag",
                                             "f_frsize", "f_namemax")}

    chmod = os.chmod
    mkdir = os.mkdir
    rmdir = os.rmdir
    unlink = os.unlink
    readlink = os.readlink

    def chown(self, path, uid, gid):
        os.lchown(path, uid, gid)

    def utimens(self, path, times=None):
        os.utime(path, times, follow_symlinks=False)

    def symlink(self, target, source):
        os.symlink(source, target)

    def link(self, target, source):
        os.link(self._real(source), target)

    def rename(self, old, new):
        os.rename(self._real(old), self._real(new))

    def truncate(self, path, length, fh=None):
        os.truncate(path, length)

    def open(self, path, flags):
        return os.open(path, flags)

    def create(self, path, mode, fi=None):
        return os.open(path, os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        if offset == 0 and data and "flip" in os.path.basename(path):
            data = bytes([data[0] ^ 1]) + data[1:]
        return os.pwrite(fh, data, offset)

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def flush(self, path, fh):
        pass

    def release(self, path, fh):
        os.close(fh)


if __name__ == "__main__":
    FUSE(FlipFs(sys.argv[1]), sys.argv[2], foreground=True, nothreads=True)
