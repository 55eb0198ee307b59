// Start-up and boot sequence of the boot manager: the SIGINT flag, the slot choice, the
// fixed order of board preparation, operator requests, USB stick and the two slot attempts,
// and the reboot that ends every run in which nothing could be started. Relies on the board
// access (I2C, flash), the boot options, the USB boot, the image boot and the rescue menu.
// boot/main/main.cpp calls boot_main(); every part of the boot path calls reboot_board().
#pragma once

// Runs the whole boot sequence; never returns.
[[noreturn]] void boot_main();

// Installs on_sigint for SIGINT with an empty mask and without SA_RESTART, so that a
// blocked console read returns early when Ctrl-C arrives.
void install_sigint_handler();
void on_sigint(int signal_number);

// 2 when the board's boot slot byte is 2, otherwise 1 (also after a failed read).
int choose_boot_slot();

// Sleeps a second, runs "reboot" and exits with status 0; never returns. SIGINT and
// SIGQUIT are ignored from its start on (also by the shell that runs "reboot"), so the
// console cannot stop a reboot once it is decided. When the command does not run to a
// clean exit 0 (system() fails, the shell or reboot is killed or reports an error),
// "System reboot failed, please power-cycle.\n" goes to standard error before the exit.
[[noreturn]] void reboot_board();

// Hands a command line to /bin/sh through system() after flushing the console streams, so
// that what the boot manager printed comes out before the command's own output. Returns
// the result of system(); only a negative value means the shell could not be started.
int run_shell_command(const char *command);

// True when a status from run_shell_command shows that the command line ran to its end
// and exited with 0: not -1 (no shell), not killed by a signal (Ctrl-C reaches the shell
// and its children), and not a non-zero exit (127: the shell could not run the command).
bool shell_command_succeeded(int status);
