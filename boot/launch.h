// Application launch: unpacks the application tarball into /tmp, checks the unpacked tree
// for the compatibility marker, prepares it (diagnostics executable, install script,
// environment settings) and starts the application in the mode the boot options select.
// Relies on the console key input, the rescue menu, the I2C bus table and reboot_board.
// Called by the image boot and by the installer when it boots a downloaded image.
#pragma once

#include <cstddef>

#include "boot/boot_state.h"

inline constexpr char APP_TARBALL_PATH[] = "/tmp/tolviimage.tar.gz";

// Starts the application; `is_diags` says the booted component was a diagnostics image.
// Never returns: the normal mode replaces the process with /bin/backtrace, the debug modes
// run their command through the shell and reboot the board when it ends.
[[noreturn]] void launch_application(bool is_diags);

// The six ways to start the application, in the order in which they are tried.
enum class launch_mode {
    GDBSERVER_MEMCHK, // gdbserver with the DUMA library preloaded
    GDBSERVER,
    GDB,              // under /tmp/gdb
    GDB_MISSING,      // gdb asked for but not extracted: normal start with a warning
    MEMCHK,           // the application itself with the DUMA library preloaded
    NORMAL,           // exec /bin/backtrace
};

// Picks the mode from the boot options and whether /tmp/gdb exists.
launch_mode choose_launch_mode(const BootState &state, bool gdb_available);

// Reads blank-separated name/value word pairs from `path` and sets each as an environment
// variable, replacing an existing value; a final word without a partner gets the empty
// string. A missing file sets nothing. Returns the number of variables set.
int apply_env_setup(const char *path);
