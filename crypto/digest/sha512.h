// SHA-512 and SHA-384 (FIPS 180-4), which share one context record, update and
// compression and differ only in initial value and output length. Relies only on the
// byte helpers; called through the hash suite table and HASH_computeDigest.
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t SHA512_DIGEST_SIZE = 64;
constexpr uint32_t SHA384_DIGEST_SIZE = 48;
constexpr uint32_t SHA512_BLOCK_SIZE = 128;

struct SHA512Ctx {
    uint64_t state[8];
    uint64_t bytesHigh; // 128-bit message length in bytes
    uint64_t bytesLow;
    int32_t held;
    uint8_t block[SHA512_BLOCK_SIZE];
};

MSTATUS SHA512_allocDigest(SHA512Ctx **ctxOut);
// Overwrites the context with zeros, releases it and sets *ctxRef to null.
MSTATUS SHA512_freeDigest(SHA512Ctx **ctxRef);
MSTATUS SHA512_initDigest(SHA512Ctx *ctx);
MSTATUS SHA384_initDigest(SHA512Ctx *ctx);
MSTATUS SHA512_updateDigest(SHA512Ctx *ctx, const uint8_t *data, uint32_t length);
// Writes 64 bytes (SHA384_finalDigest: the first 48).
MSTATUS SHA512_finalDigest(SHA512Ctx *ctx, uint8_t *digest);
MSTATUS SHA384_finalDigest(SHA512Ctx *ctx, uint8_t *digest);
MSTATUS SHA512_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest);
MSTATUS SHA384_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest);
