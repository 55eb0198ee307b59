// bootsim exec: one command run on a board's root file system as the running application would
// run it, with the board's devices (through BOOTSIM_BOARD=/board), its /user and a fresh /tmp,
// between power-ons. Used by bootsim's main; the board tests run "bootmgr confirm" with it.
#pragma once

#include <string>
#include <vector>

// Refreshes the board's programs (BOOTMGR becomes /sbin/bootmgr), logs "bootsim.exec COMMAND
// ARGS..." in the event log and runs COMMAND (looked up on the board's PATH) in the board's
// namespaces, chrooted into DIR/root with "/" as working directory. Returns the command's
// exit status, 128 + the signal number when a signal ended it (a power cut: 137), or 1 when
// the board cannot be used (after a message).
int board_exec(const std::string &board_dir, const std::string &bootmgr,
               const std::vector<std::string> &command);
