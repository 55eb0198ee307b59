// The board's root file system, DIR/root: busybox applets, the XMODEM receiver with its
// shared libraries, the stand-ins for the board's own programs (sim/rootfs, installed beside
// bootsim) and the mount points that a power-on fills. bootsim new builds it; bootsim run
// refreshes the stand-ins and the boot manager before every power-on.
#pragma once

#include <string>

// Builds DIR/root from scratch (the board's /user, kept in DIR/root/user, is left alone).
// Prints its own error message; 0 or -1.
int sandbox_build(const std::string &board_dir);

// Copies the stand-ins and the boot manager binary BOOTMGR into DIR/root, so a rebuilt
// program is used by the next power-on. Prints its own error message; 0 or -1.
int sandbox_refresh(const std::string &board_dir, const std::string &bootmgr);

// Where the boot manager lives inside the board.
inline constexpr const char *SANDBOX_BOOTMGR = "/sbin/bootmgr";
