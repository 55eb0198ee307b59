// The console line editor: one typed line with cursor movement, insertion and deletion,
// echoed in place on the serial console. Relies on the raw key input of console.h; the USB
// file install calls it for the operator's file number.
#pragma once

#include <cstddef>

// Lets the operator type one line into `buffer` (capacity bytes, zeroed on entry, at most
// capacity - 1 characters, always NUL-terminated). Enter (CR or LF) or a Ctrl-C byte ends
// the line, and so does the end of console input (console_input_ended() then tells it);
// the ending key is not stored. An interrupt is a key 0: it rings the bell and editing goes
// on. Returns buffer.
char *console_edit_line(char *buffer, size_t capacity);
