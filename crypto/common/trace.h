// Trace output of the cryptographic library: the DEBUG_CONSOLE_* print family, gated by
// the process-wide level mask, writing to one stream (standard output unless set). The
// signature front end traces through it; CRYPTO_initLibrary resets its console state.
#pragma once

#include <cstdint>
#include <cstdio>

// A print at level L happens only when (L & debug_console_mask) == L.
extern uint32_t debug_console_mask;
// Output stream; null until the first write selects standard output.
extern FILE *debug_console_stream;

// Console state beside mask and stream, reset by DEBUG_CONSOLE_init.
struct DebugConsoleState {
    bool stopping;
    int client; // connection of a remote trace client; -1 for none
};
extern DebugConsoleState g_debugConsoleState;

// Resets the console state (not stopping, no client); leaves mask and stream alone.
void DEBUG_CONSOLE_init();

// Not gated: writes text with "%s" to the stream and flushes it.
void DEBUG_CONSOLE_write(const char *text);
// Gated: the text itself; nothing for null.
void DEBUG_CONSOLE_putString(uint32_t level, const char *text);
// Gated: the text (unless null) and then "\r\n".
void DEBUG_CONSOLE_putLine(uint32_t level, const char *text);
// Gated: the value with "%d".
void DEBUG_CONSOLE_putInt(uint32_t level, int32_t value);
// Gated: the low 8 bits of value as two lower-case hex digits.
void DEBUG_CONSOLE_putHexByte(uint32_t level, int32_t value);
