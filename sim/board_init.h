// The board's init, pid 1 of a power-on's process namespace: it enters the board's root file
// system, runs the boot manager and the USB hot-plug helper and decides how the power-on
// ended. Started by the power-on runner (power_on.cpp) once the namespaces and mounts exist.
#pragma once

#include <string>

// Why the last power-on ended, relative to the board directory (/board inside): one word
// and maybe a number ("application", "reboot", "exited N", "killed N"). The backtrace
// stand-in writes "application"; init writes the rest.
inline constexpr const char *BOARD_POWEROFF_FILE = "/.poweroff";

// The files of the USB stick, relative to the board directory; mounted on /mnt/usb when the
// stick gets ready.
inline constexpr const char *BOARD_USB_DIR = "/usb";

// Chroots into ROOT, starts the boot manager from "/" and, with USB_DELAY_MS >= 0 (a stick is
// present), mounts the stick and makes /tmp/usb that many milliseconds later. Returns never: exits 0 once every
// process of the board is gone, after recording the reason and the event log's last line.
[[noreturn]] void board_init_run(const std::string &root, int usb_delay_ms);

// Runs a program of the board in the calling process, as the board's init starts the boot
// manager: default SIGINT and SIGQUIT, and only PATH (/sbin:/usr/sbin:/bin:/usr/bin), HOME,
// TERM and BOOTSIM_BOARD=/board in the environment. ARGV[0] is looked up on that PATH. Exits
// with 127 when the program cannot be started.
[[noreturn]] void board_run_program(const char *const argv[]);
