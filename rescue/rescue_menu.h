// The rescue menu, the versions report and the filesystem erase: the operator's way out when
// nothing can be booted, when the boot options ask for it or after the launch's recovery
// question. Relies on the console input, the serial and USB downloads, the installed-header
// reads and the rescue-partition boot. Called by the start-up sequence, the final branches of
// the image boot and the launch.
#pragma once

// Serves the menu until the operator chooses Exit (returns 1) or Reboot (does not return).
// At the end of console input nobody can choose any more: the menu is left as with Exit, so
// that the boot goes on (start-up) or ends in its own reboot (the final branches).
int rescue_menu();

// Prints the version of every installed component (0.0.0.0 where none can be read); returns 0.
int show_versions();

// Asks whether to erase the user filesystem (only y or Y erase; the key 0 of an interrupt or
// of the end of input is a no), then boots the rescue partition's image either way. Returns 1
// only when that boot returned.
int erase_user_filesystem();
