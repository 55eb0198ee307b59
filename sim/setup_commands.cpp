// The board set-up commands of bootsim (see setup_commands.h). Device files are reached only
// through the device backend's board functions, so their format stays the backend's own; the
// boot loader environment is made by mkenvimage from u-boot-tools, as on a real build host.
#include "sim/setup_commands.h"

#include "platform/sim/sim_board.h"
#include "sim/board_conf.h"
#include "sim/board_init.h"
#include "sim/fsutil.h"
#include "sim/sandbox.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int OK = 0;
constexpr int FAILED = 1;
constexpr int USAGE = 2;

constexpr uint32_t USB_STATUS_OFFSET = 0x13B;
constexpr uint8_t USB_PRESENT = 213;
constexpr const char *ENV_PARTITION = "ubootenv";
constexpr const char *ENV_SIZE = "0x20000";
constexpr size_t ENV_CRC_SIZE = 4;

bool is_board(const std::string &dir)
{
    if (path_exists(dir + "/board.conf"))
        return true;
    fprintf(stderr, "bootsim: %s is not a board (make one with bootsim new)\n", dir.c_str());
    return false;
}

int usage(const char *text)
{
    fprintf(stderr, "usage: bootsim %s\n", text);
    return USAGE;
}

// A file in the board directory that is removed when it goes out of scope.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string &dir)
    {
        std::string pattern = dir + "/.bootsim-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = mkstemp(name.data());
        if (fd >= 0) {
            close(fd);
            path = name.data();
        }
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile()
    {
        if (!path.empty())
            unlink(path.c_str());
    }
};

// Runs a program found on PATH and waits for it; its exit status, or -1.
int run_program(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int set_usb_status(const std::string &dir, uint8_t value)
{
    if (sim_eeprom_set(dir.c_str(), USB_STATUS_OFFSET, value) != 0) {
        fprintf(stderr, "bootsim: cannot write the USB status byte of %s\n", dir.c_str());
        return FAILED;
    }
    return OK;
}

int env_set(const std::string &dir, const Args &entries)
{
    std::string text;
    for (const std::string &entry : entries) {
        if (entry.find('=') == std::string::npos || entry[0] == '=' || entry.find('\n') != std::string::npos) {
            fprintf(stderr, "bootsim: not a NAME=VALUE entry: %s\n", entry.c_str());
            return USAGE;
        }
        text += entry + "\n";
    }
    TempFile input(dir), image(dir);
    if (input.path.empty() || image.path.empty() || write_file(input.path, text) != 0) {
        fprintf(stderr, "bootsim: cannot write a temporary file in %s: %s\n", dir.c_str(), strerror(errno));
        return FAILED;
    }
    // -b: the board is big-endian, so its boot loader keeps the CRC big-endian.
    int rc = run_program({"mkenvimage", "-b", "-s", ENV_SIZE, "-o", image.path, input.path});
    if (rc != 0) {
        fprintf(stderr, "bootsim: mkenvimage failed (install the package u-boot-tools)\n");
        return FAILED;
    }
    if (sim_flash_write_file(dir.c_str(), ENV_PARTITION, image.path.c_str()) != 0) {
        fprintf(stderr, "bootsim: cannot write partition %s of %s\n", ENV_PARTITION, dir.c_str());
        return FAILED;
    }
    return OK;
}

// Prints the entries of the environment, one per line, as the boot loader would list them:
// NUL-terminated strings after the CRC, up to the first empty one.
int env_show(const std::string &dir)
{
    TempFile copy(dir);
    std::string data;
    if (copy.path.empty() || sim_flash_read_file(dir.c_str(), ENV_PARTITION, copy.path.c_str()) != 0 ||
        read_file(copy.path, data) != 0) {
        fprintf(stderr, "bootsim: cannot read partition %s of %s\n", ENV_PARTITION, dir.c_str());
        return FAILED;
    }
    size_t pos = ENV_CRC_SIZE;
    while (pos < data.size() && data[pos] != '\0') {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos)
            end = data.size();
        std::string entry = data.substr(pos, end - pos);
        if (entry.find_first_not_of('\xff') == std::string::npos)
            break; // erased flash: no environment was ever written
        printf("%s\n", entry.c_str());
        pos = end + 1;
    }
    return OK;
}

} // namespace

std::string absolute_path(const std::string &dir)
{
    char resolved[PATH_MAX];
    if (realpath(dir.c_str(), resolved))
        return resolved;
    if (!dir.empty() && dir[0] == '/')
        return dir;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + dir : dir;
}

int command_new(const std::string &dir)
{
    if (path_exists(dir + "/board.conf")) {
        fprintf(stderr, "bootsim: %s is a board already\n", dir.c_str());
        return FAILED;
    }
    if (make_dirs(dir) != 0 || sim_board_create(dir.c_str()) != 0) {
        fprintf(stderr, "bootsim: cannot make the board %s: %s\n", dir.c_str(), strerror(errno));
        return FAILED;
    }
    std::string delay;
    if (board_conf_get(dir, "usb_delay", delay) != 0 &&
        board_conf_set(dir, "usb_delay", std::to_string(USB_DELAY_DEFAULT)) != 0) {
        fprintf(stderr, "bootsim: cannot write %s/board.conf\n", dir.c_str());
        return FAILED;
    }
    if (write_file(dir + "/events.log", "") != 0 || make_dirs(dir + BOARD_USB_DIR) != 0 ||
        sandbox_build(dir) != 0)
        return FAILED;
    return OK;
}

int command_eeprom(const std::string &dir, const Args &args)
{
    const char *text = "eeprom DIR get OFFSET | eeprom DIR set OFFSET VALUE";
    uint32_t offset = 0, value = 0;
    bool get = args.size() == 2 && args[0] == "get";
    bool set = args.size() == 3 && args[0] == "set";
    if ((!get && !set) || !parse_number(args[1], offset) || (set && (!parse_number(args[2], value) || value > 255)))
        return usage(text);
    if (!is_board(dir))
        return FAILED;
    if (set) {
        if (sim_eeprom_set(dir.c_str(), offset, static_cast<uint8_t>(value)) != 0) {
            fprintf(stderr, "bootsim: cannot write EEPROM offset %s of %s\n", args[1].c_str(), dir.c_str());
            return FAILED;
        }
        return OK;
    }
    uint8_t byte = 0;
    if (sim_eeprom_get(dir.c_str(), offset, &byte) != 0) {
        fprintf(stderr, "bootsim: cannot read EEPROM offset %s of %s\n", args[1].c_str(), dir.c_str());
        return FAILED;
    }
    printf("%u\n", byte);
    return OK;
}

int command_flash(const std::string &dir, const Args &args)
{
    if (args.size() != 3 || (args[1] != "write" && args[1] != "read"))
        return usage("flash DIR PARTITION write FILE | flash DIR PARTITION read FILE");
    if (!is_board(dir))
        return FAILED;
    const char *partition = args[0].c_str();
    const char *file = args[2].c_str();
    int rc = args[1] == "write" ? sim_flash_write_file(dir.c_str(), partition, file)
                                : sim_flash_read_file(dir.c_str(), partition, file);
    if (rc != 0) {
        fprintf(stderr, "bootsim: cannot %s partition %s with %s\n", args[1].c_str(), partition, file);
        return FAILED;
    }
    return OK;
}

int command_env(const std::string &dir, const Args &args)
{
    if (args.empty() || (args[0] != "set" && args[0] != "show") || (args[0] == "show" && args.size() != 1))
        return usage("env DIR set [NAME=VALUE...] | env DIR show");
    if (!is_board(dir))
        return FAILED;
    if (args[0] == "show")
        return env_show(dir);
    return env_set(dir, Args(args.begin() + 1, args.end()));
}

int command_usb(const std::string &dir, const Args &args)
{
    bool insert = args.size() == 2 && args[0] == "insert";
    bool remove = args.size() == 1 && args[0] == "remove";
    if (!insert && !remove)
        return usage("usb DIR insert FOLDER | usb DIR remove");
    if (!is_board(dir))
        return FAILED;
    std::string stick = dir + BOARD_USB_DIR;
    if (make_dirs(stick) != 0 || empty_dir(stick) != 0) {
        fprintf(stderr, "bootsim: cannot empty %s: %s\n", stick.c_str(), strerror(errno));
        return FAILED;
    }
    if (remove)
        return set_usb_status(dir, 0);
    if (!is_directory(args[1]) || copy_tree(args[1], stick) != 0) {
        fprintf(stderr, "bootsim: cannot copy %s to %s: %s\n", args[1].c_str(), stick.c_str(), strerror(errno));
        return FAILED;
    }
    return set_usb_status(dir, USB_PRESENT);
}

int command_conf(const std::string &dir, const Args &args)
{
    if (args.empty() || args.size() > 2)
        return usage("conf DIR KEY [VALUE]");
    if (!is_board(dir))
        return FAILED;
    if (args.size() == 2) {
        if (board_conf_set(dir, args[0], args[1]) != 0) {
            fprintf(stderr, "bootsim: cannot write %s/board.conf\n", dir.c_str());
            return FAILED;
        }
        return OK;
    }
    std::string value;
    if (board_conf_get(dir, args[0], value) != 0) {
        fprintf(stderr, "bootsim: %s is not set in %s/board.conf\n", args[0].c_str(), dir.c_str());
        return FAILED;
    }
    printf("%s\n", value.c_str());
    return OK;
}
