// The package installer: walks a package (components end to end), checks every component
// (layout, CRC, size limit, signature, skip-same) before anything is written, then writes
// each to its flash partition or image slot. Relies on the image format and validation, the
// flash partitions, the board parameter store and the application launch; called by the USB
// stick paths of start-up and by the rescue console's downloads.
#pragma once

#include <cstdint>

// Installs the package at `path`. skip_same non-zero skips components identical to the
// installed ones; slot 1 or 2 puts an application there, slot 0 asks the operator (who may
// choose to boot the downloaded application at once: then it does not return). Returns 1
// when the package was walked without a failure and at least one component was installed,
// else 0.
int image_install_package(const char *path, uint8_t skip_same, int slot);
