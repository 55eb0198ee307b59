// The device seam: every open, close, ioctl, read, write, pread and pwrite on an I2C bus or
// MTD partition, and the bus settle delay, goes through this one table of functions.
// The Linux backend (platform/linux) forwards to libc; the simulated backend (platform/sim)
// emulates the board's devices from files. board/ calls it; the executable picks the backend
// by the library it links, so nothing else in the product knows which one runs.
#pragma once

#include <cstddef>
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
};

// The backend linked into this executable. Failures are reported as libc does: -1 and errno.
const DeviceIo &device_io();
