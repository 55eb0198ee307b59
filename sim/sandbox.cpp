// Builds the board's root file system under DIR/root (see sandbox.h). Host programs come from
// the Debian packages busybox-static and lrzsz; the libraries a program needs are found with
// ldd and copied to the same paths inside, so the program runs after the chroot.
#include "sim/sandbox.h"

#include "sim/fsutil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct PipeCloser {
    void operator()(FILE *pipe) const { pclose(pipe); }
};
using PipeHandle = std::unique_ptr<FILE, PipeCloser>;

// Every line that COMMAND prints on standard output.
std::vector<std::string> command_lines(const std::string &command)
{
    std::vector<std::string> lines;
    PipeHandle pipe(popen(command.c_str(), "r"));
    if (!pipe)
        return lines;
    char line[4096];
    while (fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        lines.push_back(text);
    }
    return lines;
}

// Absolute paths of the shared libraries and the loader that ldd names for PROGRAM; empty
// for a static program.
std::vector<std::string> shared_libraries(const std::string &program)
{
    std::vector<std::string> libraries;
    for (const std::string &line : command_lines("ldd '" + program + "' 2>/dev/null")) {
        // "\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x...)" or "\t/lib64/ld-linux... (0x...)"
        size_t start = line.find("=> ");
        start = (start == std::string::npos) ? line.find_first_not_of(" \t") : start + 3;
        if (start == std::string::npos || line[start] != '/')
            continue;
        size_t end = line.find(" (", start);
        libraries.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    }
    return libraries;
}

const char *first_existing(const std::vector<const char *> &paths)
{
    for (const char *path : paths)
        if (path_exists(path))
            return path;
    return nullptr;
}

// Copies a host program to TARGET inside ROOT, with the libraries it needs at their own paths.
int install_program(const std::string &root, const std::string &program, const std::string &target)
{
    std::string path = root + target;
    if (make_dirs(path.substr(0, path.find_last_of('/'))) != 0 || copy_file(program, path, 0755) != 0) {
        fprintf(stderr, "bootsim: cannot copy %s to %s: %s\n", program.c_str(), path.c_str(), strerror(errno));
        return -1;
    }
    for (const std::string &library : shared_libraries(program)) {
        std::string copy = root + library;
        if (make_dirs(copy.substr(0, copy.find_last_of('/'))) != 0 || copy_file(library, copy, 0755) != 0) {
            fprintf(stderr, "bootsim: cannot copy %s: %s\n", library.c_str(), strerror(errno));
            return -1;
        }
    }
    return 0;
}

// busybox-static with a link for each of its applets at the path the applet list gives.
int install_busybox(const std::string &root)
{
    const char *busybox = first_existing({"/bin/busybox", "/usr/bin/busybox"});
    if (!busybox) {
        fprintf(stderr, "bootsim: busybox not found (install the package busybox-static)\n");
        return -1;
    }
    if (install_program(root, busybox, "/bin/busybox") != 0)
        return -1;
    std::vector<std::string> applets = command_lines(std::string(busybox) + " --list-full");
    if (applets.empty()) {
        fprintf(stderr, "bootsim: %s lists no applets\n", busybox);
        return -1;
    }
    for (const std::string &applet : applets) {
        if (applet.empty() || applet == "bin/busybox")
            continue;
        std::string link = root + "/" + applet;
        if (make_dirs(link.substr(0, link.find_last_of('/'))) != 0 || make_symlink("/bin/busybox", link) != 0) {
            fprintf(stderr, "bootsim: cannot link %s: %s\n", link.c_str(), strerror(errno));
            return -1;
        }
    }
    return 0;
}

// The real lrzsz receiver. It picks XMODEM from its own name, so the copy keeps the name rx;
// the /usr/bin/rx stand-in in front of it turns off lrzsz's restricted mode.
int install_receiver(const std::string &root)
{
    const char *receiver = first_existing({"/usr/bin/rx", "/usr/bin/lrzsz-rx"});
    if (!receiver) {
        fprintf(stderr, "bootsim: the XMODEM receiver rx was not found (install the package lrzsz)\n");
        return -1;
    }
    return install_program(root, receiver, "/usr/libexec/lrzsz/rx");
}

int install_standins(const std::string &root)
{
    std::string source = executable_dir() + "/rootfs";
    if (!is_directory(source)) {
        fprintf(stderr, "bootsim: stand-in scripts not found in %s\n", source.c_str());
        return -1;
    }
    if (copy_tree(source, root) != 0) {
        fprintf(stderr, "bootsim: cannot install the stand-ins from %s: %s\n", source.c_str(), strerror(errno));
        return -1;
    }
    return 0;
}

// Mount points: the board directory, a fresh /tmp, /proc, and empty files that the
// device nodes of the host are bound onto.
int make_mount_points(const std::string &root)
{
    for (const char *dir : {"/board", "/tmp", "/proc", "/dev", "/user", "/mnt/usb", "/root", "/etc", "/var"})
        if (make_dirs(root + dir) != 0)
            return -1;
    for (const char *device : {"null", "zero", "urandom", "tty", "console", "ttyS0"}) {
        std::string path = root + "/dev/" + device;
        if (!path_exists(path) && write_file(path, "") != 0)
            return -1;
    }
    chmod((root + "/tmp").c_str(), 01777);
    return 0;
}

} // namespace

int sandbox_build(const std::string &board_dir)
{
    std::string root = board_dir + "/root";
    if (make_dirs(root) != 0 || make_mount_points(root) != 0) {
        fprintf(stderr, "bootsim: cannot make %s: %s\n", root.c_str(), strerror(errno));
        return -1;
    }
    if (install_busybox(root) != 0 || install_receiver(root) != 0 || install_standins(root) != 0)
        return -1;
    return 0;
}

int sandbox_refresh(const std::string &board_dir, const std::string &bootmgr)
{
    std::string root = board_dir + "/root";
    if (install_standins(root) != 0)
        return -1;
    if (copy_file(bootmgr, root + SANDBOX_BOOTMGR, 0755) != 0) {
        fprintf(stderr, "bootsim: cannot copy the boot manager %s: %s\n", bootmgr.c_str(), strerror(errno));
        return -1;
    }
    return 0;
}
