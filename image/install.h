// The package installer: walks a package (components end to end), checks every component
// (layout, CRC, size limit, signature, skip-same) before anything is written, then writes
// each to its flash partition or image slot. Relies on the image format and validation, the
// flash partitions, the board parameter store and the application launch; called by the USB
// stick paths of start-up and by the rescue console's downloads.
#pragma once

#include <cstdint>

// Seconds the slot question waits when nobody may be at the console (a power-on with a
// USB stick): no answer by then installs no application and the walk goes on.
inline constexpr int INSTALL_UNATTENDED_ANSWER_S = 10;

// Installs the package at `path`, which must be a regular file. skip_same non-zero skips
// components identical to the installed ones (an application equal to either slot's image
// before the slot question). Slot 1 or 2 puts an application there; slot 0 asks the
// operator (who may choose to boot the downloaded application at once: then it does not
// return), waiting at most answer_timeout_s seconds when that is not 0. Returns 1 when the
// package was walked without a failure and at least one component was installed, else 0.
int image_install_package(const char *path, uint8_t skip_same, int slot, int answer_timeout_s = 0);

// Prints a file name as it is, except that a backslash is doubled, a newline shows as \n
// and any other control character as \xHH: a name cannot forge lines on the console.
void image_print_file_name(const char *name);
