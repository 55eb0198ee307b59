// MD5 message digest (RFC 1321): the incremental context and its one-shot form. Relies only
// on the byte helpers; reached through the hash suite table and HASH_computeDigest.
// Every operation returns 0 or a negative status (-6001 null argument, -6101 no memory).
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t MD5_DIGEST_SIZE = 16;
constexpr uint32_t MD5_BLOCK_SIZE = 64;

struct MD5Ctx {
    uint32_t state[4];
    uint32_t bitsHigh; // message length in bits, high word
    uint32_t bitsLow;
    int32_t held;      // bytes waiting in block
    uint8_t block[MD5_BLOCK_SIZE];
};

// Allocates an uninitialised context; the caller releases it with MD5_freeDigest.
MSTATUS MD5_allocDigest(MD5Ctx **ctxOut);
// Wipes and releases *ctxRef and sets it to null.
MSTATUS MD5_freeDigest(MD5Ctx **ctxRef);
MSTATUS MD5_initDigest(MD5Ctx *ctx);
// data must be non-null even when length is 0.
MSTATUS MD5_updateDigest(MD5Ctx *ctx, const uint8_t *data, uint32_t length);
// Writes 16 bytes; the context must be initialised again before reuse.
MSTATUS MD5_finalDigest(MD5Ctx *ctx, uint8_t *digest);
MSTATUS MD5_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest);
