// Boot options from the boot loader's environment.
#include "boot/boot_options.h"

#include "board/mtd.h"
#include "boot/boot_state.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Text after the first occurrence of `key`, or nullptr. A plain substring search: the key
// also matches at the end of a longer name or inside another entry's value.
const char *value_of(const char *text, const char *key)
{
    const char *at = std::strstr(text, key);
    return at ? at + std::strlen(key) : nullptr;
}

bool starts_with(const char *text, const char *literal)
{
    return std::strncmp(text, literal, std::strlen(literal)) == 0;
}

// A flag option: absent leaves the field, present sets it to whether the value starts "on".
template <typename Field>
void apply_on_flag(const char *text, const char *key, Field &field)
{
    if (const char *value = value_of(text, key))
        field = starts_with(value, "on") ? 1 : 0;
}

// One decimal number as "%d" reads it (leading blanks, optional sign). A number that does
// not fit a signed 32-bit integer leaves the port as it is.
void apply_port(const char *text)
{
    const char *value = value_of(text, "gdbport=");
    if (!value)
        return;
    char *end = nullptr;
    errno = 0;
    long long port = std::strtoll(value, &end, 10);
    if (end == value || errno == ERANGE || port < INT32_MIN || port > INT32_MAX)
        return;
    g_boot.gdb_port = static_cast<int32_t>(port);
}

// bootlimit=N with N a plain decimal number from 1 to 255 ending at the end of the entry
// turns trial boot on; any other value, as no entry at all, leaves it off.
void apply_boot_limit(const char *text)
{
    const char *value = value_of(text, "bootlimit=");
    g_boot.boot_limit = 0;
    if (!value)
        return;
    unsigned limit = 0;
    size_t digits = 0;
    for (; value[digits] >= '0' && value[digits] <= '9'; ++digits) {
        limit = limit * 10 + static_cast<unsigned>(value[digits] - '0');
        if (limit > 255)
            return;
    }
    if (digits > 0 && (value[digits] == ' ' || value[digits] == '\0'))
        g_boot.boot_limit = static_cast<uint8_t>(limit);
}

} // namespace

void apply_boot_options(const char *text)
{
    apply_on_flag(text, "gdb=", g_boot.gdb_mode);
    if (const char *value = value_of(text, "gdbserver=")) {
        g_boot.gdbserver_mode = starts_with(value, "on") ? 1 : 0;
        if (g_boot.gdbserver_mode)
            g_boot.gdb_mode = 1;
    }
    apply_port(text);
    apply_on_flag(text, "shell=", g_boot.shell_mode);
    apply_on_flag(text, "memchk=", g_boot.memchk_mode);
    // Both diagnostics requests look at the same, first occurrence.
    if (const char *value = value_of(text, "diagnostics=")) {
        g_boot.rescue_requested = starts_with(value, "rescue") ? 1 : 0;
        g_boot.diags_requested = starts_with(value, "diags") ? 1 : 0;
    }
    apply_boot_limit(text);
}

void read_boot_options()
{
    // Zero-filled, so a failed or short read leaves blanks; one more byte ends the text.
    char text[BOOT_ENV_SCAN_SIZE + 1] = {};
    flash_read_at(text, g_mtd_fd[MTD_UBOOTENV], BOOT_ENV_OFFSET, BOOT_ENV_SCAN_SIZE);
    // Entries are NUL-terminated strings; joining them with blanks makes one searchable text.
    for (size_t i = 0; i < BOOT_ENV_SCAN_SIZE; ++i)
        if (text[i] == '\0')
            text[i] = ' ';
    text[BOOT_ENV_SCAN_SIZE] = '\0';
    apply_boot_options(text);
}
