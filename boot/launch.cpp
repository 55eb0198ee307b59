// Unpacking, preparing and starting the application.
#include "boot/launch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void unpack_tarball()
{
    std::snprintf(g_boot.command_line, sizeof g_boot.command_line,
                  "cd /tmp \ntar mxzf %s \nrm %s\n", APP_TARBALL_PATH, APP_TARBALL_PATH);
    if (run_shell_command(g_boot.command_line) < 0) {
        std::fputs("Failed to gunzip Application OS.\n", stderr);
        reboot_board();
    }
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

void launch_application(bool is_diags)
{
    sleep(1);
    unpack_tarball();
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
