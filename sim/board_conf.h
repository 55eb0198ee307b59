// Reading and changing single keys of a board's board.conf ("key value..." lines, '#' starts
// a comment). The device backend defines most keys; the simulator adds usb_delay (seconds,
// fractions allowed, from power-on until the USB stick is ready; negative: never). Used by
// bootsim's commands.
#pragma once

#include <string>

inline constexpr int USB_DELAY_DEFAULT = 1;          // seconds, as board.conf holds it
inline constexpr int USB_DELAY_DEFAULT_MS = USB_DELAY_DEFAULT * 1000;

// The value of the first line for KEY (everything after the key and its blanks). 0 when the
// key is present, -1 when it is not or the file cannot be read.
int board_conf_get(const std::string &board_dir, const std::string &key, std::string &value);

// Replaces the first line for KEY with "KEY VALUE" or appends one. 0 or -1.
int board_conf_set(const std::string &board_dir, const std::string &key, const std::string &value);

// usb_delay of the board in milliseconds (-1: never); the default when absent or unreadable.
int board_usb_delay_ms(const std::string &board_dir);
