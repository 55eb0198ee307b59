// Linux backend of the device seam: plain libc calls on the real character devices.
#include "platform/device_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
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

constexpr DeviceIo linux_io = {
    linux_open, ::close, linux_ioctl, ::read, ::write, ::pread, ::pwrite, linux_usleep,
};

} // namespace

const DeviceIo &device_io()
{
    return linux_io;
}
