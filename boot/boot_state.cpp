// Storage of the process-wide boot state.
#include "boot/boot_state.h"

#include <cstring>

BootState g_boot = {0, 0, 0, 0, 0, 0, 0, 0, 0, DEFAULT_GDB_PORT, {}, 0};

void boot_state_reset()
{
    g_boot.interrupted = 0;
    g_boot.usb_present = 0;
    g_boot.fallback_attempt = 0;
    g_boot.gdb_mode = 0;
    g_boot.gdbserver_mode = 0;
    g_boot.rescue_requested = 0;
    g_boot.diags_requested = 0;
    g_boot.shell_mode = 0;
    g_boot.memchk_mode = 0;
    g_boot.gdb_port = DEFAULT_GDB_PORT;
    std::memset(g_boot.command_line, 0, sizeof g_boot.command_line);
    g_boot.boot_limit = 0;
}
