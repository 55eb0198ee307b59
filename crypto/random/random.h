// Random generator contexts of the library: a CTR_DRBG on AES-256 seeded from the entropy
// pool, entropy fed bit by bit with a reseed every 384 bits, and the seeding of the global
// context from /dev/urandom. Relies on ctr_drbg and entropy; CRYPTO_initLibrary creates
// and seeds g_randomContext (declared in init.h) through it.
#pragma once

#include "crypto/random/ctr_drbg.h"
#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t RANDOM_KIND_CTR_DRBG = 2; // kind stored in every context made here
constexpr uint32_t RANDOM_RESEED_BITS = 384; // entropy bits per reseed

struct RandomContext {
    uint32_t kind;
    uint32_t entropyBitCount; // bits fed since the last reseed, 0..383
    CtrDrbgState drbg;
};

// Kinds 0 and 3 create an AES-256 CTR_DRBG instantiated from 48 bytes of the entropy pool.
// -6001 null out; -7203 any other kind; -6101 no memory.
MSTATUS RANDOM_createContext(RandomContext **out, uint32_t kind);
// Wipes and releases *ctxRef, setting it to null.
MSTATUS RANDOM_freeContext(RandomContext **ctxRef);
// Feeds bit 0 of bit to the entropy pool; every 384th bit reseeds the context from 48 pool
// bytes. -6001 for a null context or one that is not a CTR_DRBG context.
MSTATUS RANDOM_addEntropyBit(RandomContext *ctx, uint32_t bit);
// length bytes of generator output (no additional input).
MSTATUS RANDOM_generate(RandomContext *ctx, uint8_t *out, uint32_t length);
// Reads 32 bytes from /dev/urandom, feeds them bit by bit to g_randomContext, then reseeds
// it from the pool (bit count back to 0), so that its next output depends on the device.
// -7201 device cannot be opened, -7202 short read (no reseed on a failure).
MSTATUS RANDOM_seedFromDevice();

// Test seam: the device RANDOM_seedFromDevice opens (null restores /dev/urandom).
void RANDOM_setDevicePathForTest(const char *path);
