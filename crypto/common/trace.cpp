#include "crypto/common/trace.h"

uint32_t debug_console_mask = 0x00400002;
FILE *debug_console_stream = nullptr;
DebugConsoleState g_debugConsoleState = {false, -1};

namespace {

bool level_passes(uint32_t level)
{
    return (level & debug_console_mask) == level;
}

} // namespace

void DEBUG_CONSOLE_init()
{
    g_debugConsoleState.stopping = false;
    g_debugConsoleState.client = -1;
}

void DEBUG_CONSOLE_write(const char *text)
{
    if (!text)
        return;
    if (!debug_console_stream)
        debug_console_stream = stdout;
    std::fprintf(debug_console_stream, "%s", text);
    std::fflush(debug_console_stream);
}

void DEBUG_CONSOLE_putString(uint32_t level, const char *text)
{
    if (!level_passes(level) || !text)
        return;
    DEBUG_CONSOLE_write(text);
}

void DEBUG_CONSOLE_putLine(uint32_t level, const char *text)
{
    if (!level_passes(level))
        return;
    if (text)
        DEBUG_CONSOLE_write(text);
    DEBUG_CONSOLE_write("\r\n");
}

void DEBUG_CONSOLE_putInt(uint32_t level, int32_t value)
{
    if (!level_passes(level))
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(value));
    DEBUG_CONSOLE_write(buf);
}

void DEBUG_CONSOLE_putHexByte(uint32_t level, int32_t value)
{
    if (!level_passes(level))
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(value) & 0xFFu);
    DEBUG_CONSOLE_write(buf);
}
