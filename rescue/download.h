// The serial XMODEM-1K download of a package: the console line switched to 115200 bit/s
// with the operator's help, the external receiver /usr/bin/rx writing /tmp/image, the line
// switched back, then the package installer. Relies on termios on /dev/ttyS0, the shell and
// the installer; the rescue menu calls it.
#pragma once

// Receives /tmp/image and installs it (skip-same off, the operator picks the slot). Returns
// the installer's result, or 0 when no file was received.
int xmodem_rescue();

// Opens /dev/ttyS0, saves its attributes, switches it to 115200 bit/s 8N1 raw and waits for
// the operator's CR at the new rate. Returns the descriptor, or -1 (after "Can't open serial
// port!") when the port cannot be opened. The wait ends early at the end of the line's input.
int serial_fast_mode();

// Applies the attributes saved by serial_fast_mode and waits for the operator's Enter (LF)
// at the old rate. With no handle (-1) nothing was switched: it returns at once.
void serial_restore_mode(int fd);
