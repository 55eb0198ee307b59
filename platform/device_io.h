// The device seam: every open, close, ioctl, read, write, pread and pwrite on an I2C bus or
// MTD partition, and the bus settle delay, goes through this one table of functions, and so do
// the writes of the installer's files on the persistent user filesystem (/user, jffs2 on a
// flash partition of its own). The Linux backend (platform/linux) forwards to libc; the
// simulated backend (platform/sim) emulates the board's devices from files and keeps /user in
// its board directory. board/ and the installer call it; the executable picks the backend by
// the library it links, so nothing else in the product knows which one runs.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

struct DeviceIo {
    int (*open)(const char *path, int flags);
    int (*close)(int fd);
    int (*ioctl)(int fd, unsigned long request, void *arg);
    ssize_t (*read)(int fd, void *buf, size_t count);
    ssize_t (*write)(int fd, const void *buf, size_t count);
    ssize_t (*pread)(int fd, void *buf, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void *buf, size_t count, off_t offset);
    // Delay between device transfers (the parameter store's write cycle), in microseconds.
    int (*usleep)(unsigned int usec);
    // Files under /user, as open(2), write(2), fsync(2), close(2), rename(2), unlink(2) and
    // mkdir(2). A write, sync or rename there is flash work: the simulated board counts each
    // among its flash operations (power cut) and logs it.
    int (*file_open)(const char *path, int flags, mode_t mode);
    ssize_t (*file_write)(int fd, const void *buf, size_t count);
    int (*file_sync)(int fd);
    int (*file_close)(int fd);
    int (*file_rename)(const char *from, const char *to);
    int (*file_unlink)(const char *path);
    int (*file_mkdir)(const char *path, mode_t mode);
};

// The backend linked into this executable. Failures are reported as libc does: -1 and errno.
const DeviceIo &device_io();
