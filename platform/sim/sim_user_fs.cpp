// The board's persistent /user as the simulated board keeps it: DIR/root/user of the board
// directory, which bootsim also makes the /user of the board's root file system. Writes,
// syncs and renames count as flash operations (the power cut can fall on any of them) and
// are logged as "user ..." lines. Paths outside /user are refused, so that code under test
// never writes to the host's own files through the seam.
#include "platform/sim/sim_state.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char USER_ROOT[] = "/user";

// Board paths of the files open through the seam, for the log.
std::map<int, std::string> &open_files()
{
    static std::map<int, std::string> files;
    return files;
}

// The host path of a board path under /user, or "" (errno EACCES) for any other path.
std::string host_path(const char *path)
{
    const size_t n = sizeof USER_ROOT - 1;
    if (!path || std::strncmp(path, USER_ROOT, n) != 0 || (path[n] != '\0' && path[n] != '/')) {
        errno = EACCES;
        return std::string();
    }
    sim_ensure_board();
    return sim_state().dir + "/root" + path;
}

void record(SimOp op, const std::string &path, size_t length)
{
    SimEvent e{op, "user"};
    e.path = path;
    e.length = static_cast<uint32_t>(length);
    sim_record(e);
}

std::string path_of(int fd)
{
    auto it = open_files().find(fd);
    return it == open_files().end() ? std::string("?") : it->second;
}

} // namespace

int sim_file_open(const char *path, int flags, mode_t mode)
{
    std::string host = host_path(path);
    if (host.empty())
        return -1;
    int fd = ::open(host.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0)
        open_files()[fd] = path;
    return fd;
}

ssize_t sim_file_write(int fd, const void *buf, size_t count)
{
    sim_count_flash_operation();
    ssize_t n = ::write(fd, buf, count);
    if (n >= 0)
        record(SimOp::FileWrite, path_of(fd), static_cast<size_t>(n));
    return n;
}

int sim_file_sync(int fd)
{
    sim_count_flash_operation();
    int result = ::fsync(fd);
    if (result == 0)
        record(SimOp::FileSync, path_of(fd), 0);
    return result;
}

int sim_file_close(int fd)
{
    open_files().erase(fd);
    return ::close(fd);
}

int sim_file_rename(const char *from, const char *to)
{
    std::string host_from = host_path(from);
    std::string host_to = host_path(to);
    if (host_from.empty() || host_to.empty())
        return -1;
    sim_count_flash_operation();
    int result = ::rename(host_from.c_str(), host_to.c_str());
    if (result == 0)
        record(SimOp::FileRename, std::string(from) + " " + to, 0);
    return result;
}

int sim_file_unlink(const char *path)
{
    std::string host = host_path(path);
    return host.empty() ? -1 : ::unlink(host.c_str());
}

int sim_file_mkdir(const char *path, mode_t mode)
{
    std::string host = host_path(path);
    if (host.empty())
        return -1;
    // The board's root and /user exist on a board that bootsim made; a bare board directory
    // (unit tests) gets them here.
    const std::string &dir = sim_state().dir;
    ::mkdir((dir + "/root").c_str(), 0755);
    ::mkdir((dir + "/root" + USER_ROOT).c_str(), 0755);
    return ::mkdir(host.c_str(), mode);
}
