// One power-on of a simulated board: a private mount and process namespace (and a user
// namespace when not run as root), a fresh /tmp, the board directory at /board, the caller's
// terminal as console and /dev/ttyS0, a small init that starts the boot manager and the USB
// hot-plug helper, and the reason the power-on ended. Used by bootsim run.
#pragma once

#include <string>

enum class PowerOff {
    Application, // the application starter /bin/backtrace ran
    Reboot,      // the reboot command ran
    Exited,      // the boot manager ended on its own; detail = exit status
    Killed,      // the boot manager was killed by a signal (power cut); detail = signal
    TimedOut,    // the caller's time limit ran out; everything was killed
    SwitchedOff, // bootsim got SIGTERM (the power switch); everything was killed
    Failed,      // the sandbox could not be set up
};

struct PowerOnResult {
    PowerOff how = PowerOff::Failed;
    int detail = 0;
};

struct PowerOnOptions {
    std::string bootmgr;  // host path of the boot manager binary copied into the board
    unsigned timeout = 0; // seconds; 0: no limit
};

// Runs one power-on of the board in BOARD_DIR (an absolute path) and says how it ended.
// Appends "bootsim.power-on N" and "bootsim.power-off REASON" lines to the event log.
PowerOnResult power_on(const std::string &board_dir, const PowerOnOptions &options);

// Text of the reason as written to the event log: "application", "reboot", "exited N",
// "killed N", "timeout", "switched-off", "failed".
std::string power_off_text(const PowerOnResult &result);

// For a process about to run a program of the board: a user namespace when not root, a
// private mount namespace (with FLAGS, such as CLONE_NEWPID, unshared along with it), a fresh
// /tmp, the board directory at /board, the host's null, zero, urandom and tty devices and
// TERMINAL as /dev/ttyS0 and /dev/console. The caller then chroots into BOARD/root. Ends the
// process with status 1 on failure.
void board_enter_namespaces(const std::string &board, const std::string &terminal, int flags);

// The caller's terminal, which the board gets as its console, or /dev/null without one.
std::string board_terminal();
