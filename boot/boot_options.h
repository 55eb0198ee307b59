// Boot options: reads the boot loader's environment from the ubootenv partition once at
// start-up and sets the option fields of g_boot (gdb, gdbserver, gdb port, shell, memchk,
// diagnostics=rescue/diags, bootlimit). Relies on board/mtd.h for the read; called by main.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t BOOT_ENV_OFFSET = 4;     // the environment's CRC word is skipped
inline constexpr size_t BOOT_ENV_SCAN_SIZE = 1280; // bytes of the environment looked at

// Reads the environment (a failed read leaves every option as it is) and applies the keys.
void read_boot_options();

// The scan alone, on `text` (NUL-terminated, entries already joined by blanks).
void apply_boot_options(const char *text);
