// The library-wide entropy pool: entropy bits flip bits of a 64-byte mixing block, which is
// stirred with the SHA-1 compression function SHA1_G together with the platform clock and
// date into a 48-byte output buffer. Relies on sha1 and the platform hooks; the random
// context draws its seed and reseed material from it.
#pragma once

#include "crypto/common/platform_hooks.h"
#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t ENTROPY_MIX_SIZE = 64;
constexpr uint32_t ENTROPY_OUT_SIZE = 48;
constexpr uint32_t ENTROPY_BITS = 384; // bit positions in mix[0..47]

struct EntropyPool {
    bool initialised;
    bool stirred;
    PlatformLock *lock;    // guards every read and change of the pool
    PlatformLock *auxLock; // created with the pool, otherwise unused
    uint8_t mix[ENTROPY_MIX_SIZE];
    uint8_t out[ENTROPY_OUT_SIZE];
    uint32_t readPos; // next unread byte of out; ENTROPY_OUT_SIZE when empty
    uint32_t bitPos;  // position of the last bit fed, 0..383
};

// The pool of the process (zero at start).
extern EntropyPool g_entropyPool;

// Creates the locks, empties the output buffer; -6011 when already initialised. The other
// operations call it on first use.
MSTATUS ENTROPY_initPool(EntropyPool *pool);
// Feeds bit 0 of bit: advances the bit position (mod 384) and flips that bit of mix when 1.
MSTATUS ENTROPY_addBit(EntropyPool *pool, uint32_t bit);
// Delivers n bytes, stirring whenever the output buffer runs empty (and before the first take).
MSTATUS ENTROPY_takeBytes(EntropyPool *pool, uint8_t *out, uint32_t n);
