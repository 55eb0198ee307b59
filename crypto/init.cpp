#include "crypto/init.h"

#include "crypto/common/trace.h"

RandomContext *g_randomContext = nullptr;

namespace {

uint32_t g_initCount = 0;
PlatformTime g_startTime = {};

// Static storage: building the table cannot run out of memory.
uint8_t g_base64Storage[256];
const uint8_t *g_base64Table = nullptr;

void build_base64_table()
{
    static constexpr char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t &entry : g_base64Storage)
        entry = 0;
    for (uint32_t i = 0; i < 64; ++i)
        g_base64Storage[static_cast<uint8_t>(ALPHABET[i])] = static_cast<uint8_t>(i + 1);
    g_base64Table = g_base64Storage;
}

} // namespace

MSTATUS CRYPTO_initLibrary()
{
    if (++g_initCount != 1)
        return OK;
    MSTATUS status = PLATFORM_startRuntime();
    if (status >= 0)
        status = PLATFORM_startMemory();
    if (status >= 0)
        status = PLATFORM_getTime(&g_startTime);
    if (status >= 0)
        status = PLATFORM_startTimers();
    if (status < 0)
        return status;
    DEBUG_CONSOLE_init();
    build_base64_table();
    status = RANDOM_createContext(&g_randomContext, 3);
    if (status < 0)
        return status;
    status = RANDOM_seedFromDevice();
    if (status < 0)
        return status;
    status = PLATFORM_finishStatics();
    if (status < 0)
        return status;
    return PLATFORM_finishStartup(0);
}

uint32_t CRYPTO_getInitCount() { return g_initCount; }

PlatformTime CRYPTO_getStartTime() { return g_startTime; }

const uint8_t *CRYPTO_base64DecodeTable() { return g_base64Table; }
