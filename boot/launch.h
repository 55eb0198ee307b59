// Application launch: unpacks the application tarball into /tmp, checks the unpacked tree
// for the compatibility marker, prepares it (diagnostics executable, install script,
// environment settings) and starts the application in the mode the boot options select.
// Relies on the console key input, the rescue menu, the I2C bus table and reboot_board.
// Called by the image boot and by the installer when it boots a downloaded image.
#pragma once

#include <cstddef>

#include "boot/boot_state.h"

inline constexpr char APP_TARBALL_PATH[] = "/tmp/tolviimage.tar.gz";

// The launch is split at the unpack so that a caller can learn whether the image unpacks
// before it commits to it (booted-image byte, gdb, start). The application is never
// started on a partly unpacked tree; on a failed unpack
// - the slot and USB boot count it as that image's CRC failure (its messages, the other
//   slot, then the final branches): an unattended board neither starts half an
//   application nor reboots in a loop on one bad image;
// - the rescue-partition boot counts it as its CRC failure ("Image CRC failed. Quitting")
//   and the normal boot goes on;
// - launch_application, which the installer's boot of a downloaded image calls, reboots,
//   as for an unpack whose shell cannot start; the board then boots as usual.

// Waits a second, clears what an earlier attempt left (/tmp/home, /tmp/mpdiag.elf.strip)
// and unpacks the application tarball into /tmp with "cd /tmp \ntar mxzf %s || exit 1\nrm
// %s\n": the "|| exit 1" keeps a failing tar from hiding behind rm's status. Returns true
// when the script ran to a clean exit 0. Anything else, a Ctrl-C included (it reaches tar
// and the shell, which run with the default SIGINT), prints "Failed to gunzip Application
// OS.\n" (stderr), removes the tarball and the partial tree, and returns false.
bool unpack_application();

// The rest of the launch on the tree unpack_application left: the distro-id check, the
// preparation of the tree, the optional shell and the start in the mode the boot options
// select. Never returns: the normal mode replaces the process with /bin/backtrace, the
// debug modes run their command through the shell and reboot the board when it ends.
[[noreturn]] void launch_unpacked_application(bool is_diags);

// Starts the application from the tarball; `is_diags` says the booted component was a
// diagnostics image. unpack_application, then launch_unpacked_application; a failed unpack
// ends in reboot_board(). Never returns.
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
