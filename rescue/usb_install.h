// Installing a file from the USB stick: the files of /mnt/usb listed by number, the
// operator's choice typed with the line editor, then the package installer. Relies on the
// stick being mounted by the platform, the line editor and the installer; the rescue menu
// calls it.
#pragma once

// Lists the stick's files (not its folders), reads the operator's number and installs that
// file (skip-same off, the operator picks the slot). Returns the installer's result, or 0 when
// the operator quits, chooses 0 or less or a number past the last file, or the console input
// ends without a choice. Leaves the working directory at /tmp.
int usb_file_install();
