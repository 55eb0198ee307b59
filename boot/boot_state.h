// The process-wide boot state: boot options read at start-up and the flags that the boot
// path, the launch and the rescue console share. One record lives for the whole run.
#pragma once

#include <csignal>
#include <cstdint>

struct BootState {
    volatile sig_atomic_t interrupted; // set by the SIGINT handler, cleared by the rescue menu
    uint8_t usb_present;               // a USB stick is present and its filesystem is ready
    uint8_t fallback_attempt;          // the boot is on its second attempt (the other slot)
    int32_t gdb_mode;                  // boot option gdb (forced on by gdbserver)
    int32_t gdbserver_mode;            // boot option gdbserver
    int32_t rescue_requested;          // boot option diagnostics=rescue
    int32_t diags_requested;           // boot option diagnostics=diags
    uint8_t shell_mode;                // boot option shell
    uint8_t memchk_mode;               // boot option memchk
    int32_t gdb_port;                  // TCP port for gdbserver
    char command_line[256];            // shell command line prepared by the launch
    uint8_t boot_limit;                // boot option bootlimit: trial boots allowed, 0 = off
};

inline constexpr int32_t DEFAULT_GDB_PORT = 1234;

extern BootState g_boot;

// Puts every field back to its start-up value (used by tests that run several boots).
void boot_state_reset();
