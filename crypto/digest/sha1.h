// SHA-1 message digest (FIPS 180-4) with its incremental context and one-shot form, and the
// bare compression function SHA1_G that stirs the entropy pool. Relies only on the byte
// helpers; called through the hash suite table, HASH_computeDigest and the entropy pool.
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t SHA1_DIGEST_SIZE = 20;
constexpr uint32_t SHA1_BLOCK_SIZE = 64;

struct SHA1Ctx {
    uint32_t state[5];
    uint32_t bytesHigh; // message length in bytes, high word
    uint32_t bytesLow;
    int32_t held;
    uint8_t block[SHA1_BLOCK_SIZE];
};

MSTATUS SHA1_allocDigest(SHA1Ctx **ctxOut);
// Overwrites the context with zeros, releases it and sets *ctxRef to null.
MSTATUS SHA1_freeDigest(SHA1Ctx **ctxRef);
MSTATUS SHA1_initDigest(SHA1Ctx *ctx);
MSTATUS SHA1_updateDigest(SHA1Ctx *ctx, const uint8_t *data, uint32_t length);
// Writes 20 bytes.
MSTATUS SHA1_finalDigest(SHA1Ctx *ctx, uint8_t *digest);
MSTATUS SHA1_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest);

// One SHA-1 compression of the 64-byte block from the standard initial value, with no
// padding or length (the G function of FIPS 186-2); writes 20 bytes big-endian. Returns 0
// (-6001 for a null pointer).
MSTATUS SHA1_G(const uint8_t *block, uint8_t *out);
