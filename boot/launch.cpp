// Unpacking, preparing and starting the application.
#include "boot/launch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "board/i2c.h"
#include "boot/startup.h"
#include "rescue/console.h"
#include "rescue/rescue_menu.h"

namespace {

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr char UNPACKED_HOME_PATH[] = "/tmp/home";
constexpr char DIAGS_EXECUTABLE_PATH[] = "/tmp/mpdiag.elf.strip";
constexpr char DISTRO_ID_PATH[] = "/tmp/home/bin/distro-id";
constexpr char INSTALL_SCRIPT_PATH[] = "/tmp/home/bin/install.sh";
constexpr char ENV_SETUP_PATH[] = "/tmp/home/bin/env-setup";
constexpr char GDB_PATH[] = "/tmp/gdb";
constexpr char STARTER_PATH[] = "/bin/backtrace";

bool file_exists(const char *path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    std::remove(path);
    return 0;
}

// Removes a file or a whole directory tree, without the shell: a Ctrl-C cannot stop it
// half-way. Symbolic links are removed, not followed.
void remove_tree(const char *path)
{
    struct stat info;
    if (lstat(path, &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        std::remove(path);
        return;
    }
    nftw(path, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

// What an unpack may leave in /tmp besides the tarball: the application tree and the
// diagnostics executable of a diagnostics tarball.
void remove_unpacked_tree()
{
    remove_tree(UNPACKED_HOME_PATH);
    remove_tree(DIAGS_EXECUTABLE_PATH);
}

// An application tree without the distro-id marker may not suit this board: the operator
// may go to the rescue menu and download another image instead.
void check_compatibility()
{
    if (file_exists(DISTRO_ID_PATH))
        return;
    std::puts("WARNING: Suspected incompatible application image detected during unpacking");
    std::printf("Would you like to enter recovery mode to download a new image? y/N: ");
    std::fflush(stdout);
    uint8_t key = console_get_key();
    if (key == 'y' || key == 'Y')
        rescue_menu();
}

void prepare_tree(bool is_diags)
{
    if (is_diags) {
        std::puts("install diags image");
        run_shell_command("mkdir -p /tmp/home/bin");
        run_shell_command("mv /tmp/mpdiag.elf.strip /tmp/home/bin/mp.elf.strip");
    }
    if (file_exists(INSTALL_SCRIPT_PATH)) {
        std::puts("Running install script");
        run_shell_command(INSTALL_SCRIPT_PATH);
        apply_env_setup(ENV_SETUP_PATH);
    }
}

[[noreturn]] void exec_starter()
{
    std::fflush(stdout);
    std::fflush(stderr);
    execlp(STARTER_PATH, STARTER_PATH, static_cast<char *>(nullptr));
    std::fputs("Failed to start Application OS.\n", stderr);
    reboot_board();
}

} // namespace

launch_mode choose_launch_mode(const BootState &state, bool gdb_available)
{
    if (state.gdbserver_mode)
        return state.memchk_mode ? launch_mode::GDBSERVER_MEMCHK : launch_mode::GDBSERVER;
    if (state.gdb_mode)
        return gdb_available ? launch_mode::GDB : launch_mode::GDB_MISSING;
    return state.memchk_mode ? launch_mode::MEMCHK : launch_mode::NORMAL;
}

int apply_env_setup(const char *path)
{
    FilePtr file(std::fopen(path, "r"));
    if (!file)
        return 0;
    int count = 0;
    char name[512] = {};
    char value[512] = {};
    while (std::fscanf(file.get(), "%511s %511s", name, value) >= 1) {
        // A name the environment cannot hold (one with '=') is passed over.
        if (setenv(name, value, 1) == 0)
            ++count;
        std::memset(name, 0, sizeof name);
        std::memset(value, 0, sizeof value);
    }
    return count;
}

bool unpack_application()
{
    sleep(1);
    remove_unpacked_tree();
    std::snprintf(g_boot.command_line, sizeof g_boot.command_line,
                  "cd /tmp \ntar mxzf %s || exit 1\nrm %s\n", APP_TARBALL_PATH, APP_TARBALL_PATH);
    if (shell_command_succeeded(run_shell_command(g_boot.command_line)))
        return true;
    std::fputs("Failed to gunzip Application OS.\n", stderr);
    std::remove(APP_TARBALL_PATH);
    remove_unpacked_tree();
    return false;
}

void launch_application(bool is_diags)
{
    if (!unpack_application())
        reboot_board();
    launch_unpacked_application(is_diags);
}

void launch_unpacked_application(bool is_diags)
{
    check_compatibility();
    i2c_close_buses();
    prepare_tree(is_diags);

    if (g_boot.shell_mode) {
        std::puts("Dropping into shell");
        std::snprintf(g_boot.command_line, sizeof g_boot.command_line, "/bin/sh\n");
        run_shell_command(g_boot.command_line);
        std::puts("Dropping out of shell");
    }

    switch (choose_launch_mode(g_boot, file_exists(GDB_PATH))) {
    case launch_mode::GDBSERVER_MEMCHK:
        std::snprintf(g_boot.command_line, sizeof g_boot.command_line,
                      "LD_PRELOAD=libduma.so.0.0.0 /bin/gdbserver :%d /tmp/home/bin/mp.elf.strip\n",
                      g_boot.gdb_port);
        run_shell_command(g_boot.command_line);
        reboot_board();
    case launch_mode::GDBSERVER:
        std::snprintf(g_boot.command_line, sizeof g_boot.command_line,
                      "/bin/gdbserver :%d /tmp/home/bin/mp.elf.strip\n", g_boot.gdb_port);
        run_shell_command(g_boot.command_line);
        reboot_board();
    case launch_mode::GDB:
        std::puts("*** Launching under GDB ***");
        run_shell_command("/tmp/gdb /tmp/home/bin/mp.elf.strip");
        reboot_board();
    case launch_mode::GDB_MISSING:
        std::puts("**** GDB mode selected but GDB not available. Please install GDB image ***");
        exec_starter();
    case launch_mode::MEMCHK:
        run_shell_command("LD_PRELOAD=libduma.so.0.0.0 /tmp/home/bin/mp.elf.strip\n");
        reboot_board();
    case launch_mode::NORMAL:
        break;
    }
    exec_starter();
}
