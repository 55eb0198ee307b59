// Linux backend of the device seam: plain libc calls on the real character devices.
#include "platform/device_io.h"

#include <fcntl.h>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int linux_open(const char *path, int flags)
{
    return ::open(path, flags);
}

int linux_ioctl(int fd, unsigned long request, void *arg)
{
    return ::ioctl(fd, request, arg);
}

int linux_usleep(unsigned int usec)
{
    return ::usleep(usec);
}

int linux_file_open(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

constexpr DeviceIo linux_io = {
    linux_open, ::close, linux_ioctl, ::read, ::write, ::pread, ::pwrite, linux_usleep,
    linux_file_open, ::write, ::fsync, ::close, ::rename, ::unlink, ::mkdir,
};

} // namespace

const DeviceIo &device_io()
{
    return linux_io;
}
