#include "crypto/common/platform_hooks.h"

#include <new>

MSTATUS PLATFORM_startRuntime() { return OK; }

MSTATUS PLATFORM_startMemory() { return OK; }

MSTATUS PLATFORM_startTimers() { return OK; }

MSTATUS PLATFORM_finishStatics() { return OK; }

MSTATUS PLATFORM_finishStartup(uint32_t flags)
{
    (void)flags;
    return 1;
}

MSTATUS PLATFORM_getTime(PlatformTime *time)
{
    if (!time)
        return ERR_NULL_POINTER;
    *time = {};
    return OK;
}

uint32_t PLATFORM_millisecondClock() { return 0; }

MSTATUS PLATFORM_getDate(PlatformDate *date)
{
    if (!date)
        return ERR_NULL_POINTER;
    *date = {};
    return OK;
}

MSTATUS PLATFORM_createLock(PlatformLock **lockOut)
{
    if (!lockOut)
        return ERR_NULL_POINTER;
    *lockOut = new (std::nothrow) PlatformLock{false};
    return *lockOut ? OK : ERR_MEM_ALLOC;
}

MSTATUS PLATFORM_freeLock(PlatformLock **lockRef)
{
    if (!lockRef || !*lockRef)
        return ERR_NULL_POINTER;
    delete *lockRef;
    *lockRef = nullptr;
    return OK;
}

MSTATUS PLATFORM_waitLock(PlatformLock *lock)
{
    if (!lock)
        return ERR_NULL_POINTER;
    if (lock->held)
        return ERR_LOCK_HELD;
    lock->held = true;
    return OK;
}

MSTATUS PLATFORM_releaseLock(PlatformLock *lock)
{
    if (!lock)
        return ERR_NULL_POINTER;
    if (!lock->held)
        return ERR_LOCK_NOT_HELD;
    lock->held = false;
    return OK;
}
