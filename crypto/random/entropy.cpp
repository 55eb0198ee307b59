#include "crypto/random/entropy.h"

#include "crypto/common/bytes.h"
#include "crypto/digest/sha1.h"

#include <cstring>

EntropyPool g_entropyPool;

namespace {

// mix[0..19], mix[20..39], mix[40..59] = SHA1_G(mix), each over the block as it stands
// after the previous step.
void rehash(EntropyPool *pool)
{
    for (uint32_t at = 0; at < 60; at += SHA1_DIGEST_SIZE) {
        uint8_t digest[SHA1_DIGEST_SIZE];
        SHA1_G(pool->mix, digest);
        std::memcpy(pool->mix + at, digest, sizeof digest);
        secure_wipe(digest, sizeof digest);
    }
}

void stir_time(EntropyPool *pool)
{
    uint8_t *m = pool->mix;
    uint8_t clock[4];
    store_be32(clock, PLATFORM_millisecondClock());
    for (int i = 0; i < 4; ++i)
        m[i] ^= clock[i];

    PlatformDate date{};
    PLATFORM_getDate(&date);
    const uint8_t d[6] = {static_cast<uint8_t>(date.year + 30), date.month, date.day,
                          date.hour, date.minute, date.second};
    for (int i = 0; i < 6; ++i)
        m[47 - i] ^= d[i];

    for (uint32_t i = 0; i < 48; ++i)
        m[(4 + i) % 48] ^= static_cast<uint8_t>(0x67 + i);

    // The 96 bytes of opportunistic noise are taken as zeros: the stir must not read memory
    // it never wrote, and the pool's strength rests on the entropy bits fed into it.
    rehash(pool);
}

void stir_output(EntropyPool *pool)
{
    for (uint32_t i = 0; i < ENTROPY_OUT_SIZE; ++i)
        pool->out[i] ^= pool->mix[i];
    rehash(pool);
    pool->readPos = 0;
}

MSTATUS ensure_initialised(EntropyPool *pool)
{
    return pool->initialised ? OK : ENTROPY_initPool(pool);
}

} // namespace

MSTATUS ENTROPY_initPool(EntropyPool *pool)
{
    if (!pool)
        return ERR_NULL_POINTER;
    if (pool->initialised)
        return ERR_WRONG_TYPE; // -6011: initialised twice
    MSTATUS status = PLATFORM_createLock(&pool->lock);
    if (status != OK)
        return status;
    status = PLATFORM_createLock(&pool->auxLock);
    if (status != OK) {
        PLATFORM_freeLock(&pool->lock);
        return status;
    }
    pool->readPos = ENTROPY_OUT_SIZE;
    pool->bitPos = 0;
    pool->initialised = true;
    return OK;
}

MSTATUS ENTROPY_addBit(EntropyPool *pool, uint32_t bit)
{
    if (!pool)
        return ERR_NULL_POINTER;
    MSTATUS status = ensure_initialised(pool);
    if (status == OK)
        status = PLATFORM_waitLock(pool->lock);
    if (status != OK)
        return status;
    // The first bit fed goes to position 1.
    pool->bitPos = (pool->bitPos + 1) % ENTROPY_BITS;
    if (bit & 1)
        pool->mix[pool->bitPos / 8] ^= static_cast<uint8_t>(1u << (pool->bitPos % 8));
    return PLATFORM_releaseLock(pool->lock);
}

MSTATUS ENTROPY_takeBytes(EntropyPool *pool, uint8_t *out, uint32_t n)
{
    if (!pool || !out)
        return ERR_NULL_POINTER;
    MSTATUS status = ensure_initialised(pool);
    if (status == OK)
        status = PLATFORM_waitLock(pool->lock);
    if (status != OK)
        return status;
    if (!pool->stirred) {
        stir_time(pool);
        stir_output(pool);
        pool->stirred = true;
    }
    uint32_t done = 0;
    while (done < n) {
        if (pool->readPos >= ENTROPY_OUT_SIZE) {
            stir_time(pool);
            stir_output(pool);
            continue;
        }
        uint32_t take = ENTROPY_OUT_SIZE - pool->readPos;
        if (take > n - done)
            take = n - done;
        std::memcpy(out + done, pool->out + pool->readPos, take);
        secure_wipe(pool->out + pool->readPos, take); // delivered bytes never leave twice
        pool->readPos += take;
        done += take;
    }
    return PLATFORM_releaseLock(pool->lock);
}
