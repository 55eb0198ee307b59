// The platform layer under the cryptographic library: start-up and completion hooks, the
// clocks and date that feed the entropy pool, and locks. This system is one thread and has
// no time source of its own for the library, so every hook is a stub that succeeds and
// delivers zero time values; the locks do no locking but still check their held flag.
// Called by CRYPTO_initLibrary and the entropy pool.
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

// Start-up hooks, called in this order by CRYPTO_initLibrary; each returns 0.
MSTATUS PLATFORM_startRuntime();
MSTATUS PLATFORM_startMemory();
MSTATUS PLATFORM_startTimers();
// Completion hooks, called last: finishStatics returns 0, finishStartup(flags) returns 1.
MSTATUS PLATFORM_finishStatics();
MSTATUS PLATFORM_finishStartup(uint32_t flags);

struct PlatformTime {
    uint32_t seconds;
    uint32_t microseconds;
};
// Time of day; the stub delivers zero.
MSTATUS PLATFORM_getTime(PlatformTime *time);
// Millisecond clock; the stub delivers 0.
uint32_t PLATFORM_millisecondClock();

// Calendar date: years since 1970, month, day, hour, minute, second.
struct PlatformDate {
    uint8_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
};
// The stub delivers all zeros.
MSTATUS PLATFORM_getDate(PlatformDate *date);

struct PlatformLock {
    bool held;
};
MSTATUS PLATFORM_createLock(PlatformLock **lockOut);
// Releases *lockRef and sets it to null.
MSTATUS PLATFORM_freeLock(PlatformLock **lockRef);
// -5807 when the lock is already held.
MSTATUS PLATFORM_waitLock(PlatformLock *lock);
// -5808 when the lock is not held.
MSTATUS PLATFORM_releaseLock(PlatformLock *lock);
