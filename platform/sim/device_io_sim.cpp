// Simulated backend of the device seam: maps the board's device paths to the files of the
// selected board directory and hands each transfer to the device model of its descriptor.
#include "platform/device_io.h"
#include "platform/sim/sim_state.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

std::map<int, SimHandle> &handles()
{
    static std::map<int, SimHandle> open_devices;
    return open_devices;
}

SimHandle *find_handle(int fd)
{
    auto it = handles().find(fd);
    return it == handles().end() ? nullptr : &it->second;
}

// "/dev/i2c-N" and "/dev/mtd-NAME" name devices of the board; nothing else does.
bool resolve(const char *path, SimHandle &h, std::string &file)
{
    if (std::strcmp(path, "/dev/i2c-0") == 0 || std::strcmp(path, "/dev/i2c-1") == 0) {
        h = {false, path[9] - '0', 0};
        file = h.index == 0 ? "i2c-0.eeprom" : "i2c-1.expander";
        return true;
    }
    static constexpr char mtd_prefix[] = "/dev/mtd-";
    if (std::strncmp(path, mtd_prefix, sizeof mtd_prefix - 1) == 0) {
        int index = sim_partition_index(path + sizeof mtd_prefix - 1);
        if (index < 0)
            return false;
        h = {true, index, 0};
        file = "mtd-";
        file += sim_state().conf.mtd[index].name;
        file += ".bin";
        return true;
    }
    return false;
}

int sim_open(const char *path, int flags)
{
    sim_ensure_board();
    SimHandle h{};
    std::string file;
    if (!path || !resolve(path, h, file)) {
        errno = ENOENT;
        return -1;
    }
    int fd = ::open(sim_path(sim_state().dir, file.c_str()).c_str(),
                    (flags & O_ACCMODE) | O_CLOEXEC);
    if (fd >= 0)
        handles()[fd] = h;
    return fd;
}

int sim_close(int fd)
{
    if (handles().erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return ::close(fd);
}

int sim_ioctl(int fd, unsigned long request, void *arg)
{
    SimHandle *h = find_handle(fd);
    if (!h) {
        errno = EBADF;
        return -1;
    }
    return h->is_mtd ? sim_mtd_ioctl(fd, *h, request, arg)
                     : sim_i2c_ioctl(fd, *h, request, arg);
}

// Plain reads and writes are the I2C transfers; the flash is used by position only.
ssize_t sim_read(int fd, void *buf, size_t count)
{
    SimHandle *h = find_handle(fd);
    if (!h || h->is_mtd) {
        errno = h ? EINVAL : EBADF;
        return -1;
    }
    return sim_i2c_read(fd, *h, static_cast<uint8_t *>(buf), count);
}

ssize_t sim_write(int fd, const void *buf, size_t count)
{
    SimHandle *h = find_handle(fd);
    if (!h || h->is_mtd) {
        errno = h ? EINVAL : EBADF;
        return -1;
    }
    return sim_i2c_write(fd, *h, static_cast<const uint8_t *>(buf), count);
}

ssize_t sim_pread(int fd, void *buf, size_t count, off_t offset)
{
    SimHandle *h = find_handle(fd);
    if (!h || !h->is_mtd) {
        errno = h ? ESPIPE : EBADF;
        return -1;
    }
    return sim_mtd_pread(fd, *h, static_cast<uint8_t *>(buf), count, offset);
}

ssize_t sim_pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    SimHandle *h = find_handle(fd);
    if (!h || !h->is_mtd) {
        errno = h ? ESPIPE : EBADF;
        return -1;
    }
    return sim_mtd_pwrite(fd, *h, static_cast<const uint8_t *>(buf), count, offset);
}

int sim_usleep(unsigned int usec)
{
    sim_ensure_board();
    SimEvent e{SimOp::Sleep, std::string()};
    e.length = usec;
    sim_record(e);
    return sim_state().conf.real_sleep ? ::usleep(usec) : 0;
}

constexpr DeviceIo sim_io = {
    sim_open, sim_close, sim_ioctl, sim_read, sim_write, sim_pread, sim_pwrite, sim_usleep,
    sim_file_open, sim_file_write, sim_file_sync, sim_file_close, sim_file_rename,
    sim_file_unlink, sim_file_mkdir,
};

} // namespace

const DeviceIo &device_io()
{
    return sim_io;
}
