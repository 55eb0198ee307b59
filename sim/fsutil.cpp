// Small file-system helpers for the simulator tool (see fsutil.h). Plain POSIX calls with
// descriptors held by UniqueFd; errors are reported as -1 with errno set.
#include "sim/fsutil.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

int write_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int write_with_flags(const std::string &path, const std::string &text, int flags)
{
    UniqueFd out(open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644));
    if (out.fd < 0)
        return -1;
    return write_all(out.fd, text.data(), text.size());
}

int remove_entry(const char *path, const struct stat *, int type, struct FTW *)
{
    int rc = (type == FTW_DP) ? rmdir(path) : unlink(path);
    return (rc == 0 || errno == ENOENT) ? 0 : -1;
}

} // namespace

int make_dirs(const std::string &path, unsigned mode)
{
    if (path.empty() || is_directory(path))
        return 0;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && make_dirs(path.substr(0, slash), mode) != 0)
        return -1;
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return -1;
    return 0;
}

int remove_tree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? 0 : -1;
    if (!S_ISDIR(st.st_mode))
        return unlink(path.c_str());
    return nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

int empty_dir(const std::string &path)
{
    DirHandle dir(opendir(path.c_str()));
    if (!dir)
        return -1;
    int rc = 0;
    while (struct dirent *entry = readdir(dir.get())) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (remove_tree(path + "/" + entry->d_name) != 0)
            rc = -1;
    }
    return rc;
}

int copy_file(const std::string &from, const std::string &to, unsigned mode)
{
    UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        return -1;
    // Replace rather than overwrite: the target may be a running program or a hard link.
    std::string temp = to + ".new";
    UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (out.fd < 0)
        return -1;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || write_all(out.fd, buffer, static_cast<size_t>(n)) != 0) {
            unlink(temp.c_str());
            return -1;
        }
        if (n == 0)
            break;
    }
    if (fchmod(out.fd, mode) != 0 || rename(temp.c_str(), to.c_str()) != 0) {
        unlink(temp.c_str());
        return -1;
    }
    return 0;
}

int copy_tree(const std::string &from, const std::string &to)
{
    DirHandle dir(opendir(from.c_str()));
    if (!dir || make_dirs(to) != 0)
        return -1;
    while (struct dirent *entry = readdir(dir.get())) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        std::string source = from + "/" + entry->d_name;
        std::string target = to + "/" + entry->d_name;
        struct stat st;
        if (lstat(source.c_str(), &st) != 0)
            return -1;
        int rc = 0;
        if (S_ISDIR(st.st_mode)) {
            rc = copy_tree(source, target);
        } else if (S_ISLNK(st.st_mode)) {
            char link[PATH_MAX];
            ssize_t n = readlink(source.c_str(), link, sizeof link - 1);
            rc = n < 0 ? -1 : make_symlink(std::string(link, static_cast<size_t>(n)), target);
        } else if (S_ISREG(st.st_mode)) {
            rc = copy_file(source, target, st.st_mode & 07777);
        }
        if (rc != 0)
            return -1;
    }
    return 0;
}

int read_file(const std::string &path, std::string &text)
{
    UniqueFd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        return -1;
    text.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return 0;
        text.append(buffer, static_cast<size_t>(n));
    }
}

int write_file(const std::string &path, const std::string &text)
{
    return write_with_flags(path, text, O_TRUNC);
}

int append_file(const std::string &path, const std::string &text)
{
    return write_with_flags(path, text, O_APPEND);
}

int make_symlink(const std::string &target, const std::string &to)
{
    if (unlink(to.c_str()) != 0 && errno != ENOENT)
        return -1;
    return symlink(target.c_str(), to.c_str());
}

bool path_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string executable_dir()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

bool parse_number(const std::string &text, uint32_t &value)
{
    int base = 10;
    std::string digits = text;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        digits = text.substr(2);
    }
    if (digits.empty() || digits[0] == '-' || digits[0] == '+' || isspace(digits[0]))
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long parsed = strtoull(digits.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || parsed > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}
