// Console input primitives on standard input and output: one raw key without Enter and
// without echo, and one echoed character. Relies only on termios and the SIGINT handler
// being installed without automatic restart. Called by the rescue menu, the line editor
// and the launch's yes/no question.
#pragma once

#include <cstdint>

// Reads one byte from standard input with canonical mode and echo switched off for the
// duration of the read (the attributes are restored afterwards, also after an interrupt).
// Returns 0 when the read was interrupted by SIGINT, failed or hit the end of input.
uint8_t console_get_key();

// True when the last console_get_key found no more input: the end of standard input or a
// read error other than an interrupt. No key will come, so a caller that waits for one stops.
bool console_input_ended();

// Writes one byte to standard output and flushes it at once.
void console_put_char(uint8_t c);
