// SHA-256 and SHA-224 (FIPS 180-4), which share one context record, update and
// compression and differ only in initial value and output length. Relies only on the
// byte helpers; called through the hash suite table and HASH_computeDigest, which the
// image signature check uses for every signed payload, so the block loop is tuned.
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t SHA256_DIGEST_SIZE = 32;
constexpr uint32_t SHA224_DIGEST_SIZE = 28;
constexpr uint32_t SHA256_BLOCK_SIZE = 64;

struct SHA256Ctx {
    uint32_t state[8];
    uint32_t bytesHigh; // message length in bytes, high word
    uint32_t bytesLow;
    int32_t held;
    uint8_t block[SHA256_BLOCK_SIZE];
};

MSTATUS SHA256_allocDigest(SHA256Ctx **ctxOut);
// Overwrites the context with zeros, releases it and sets *ctxRef to null.
MSTATUS SHA256_freeDigest(SHA256Ctx **ctxRef);
MSTATUS SHA256_initDigest(SHA256Ctx *ctx);
MSTATUS SHA224_initDigest(SHA256Ctx *ctx);
MSTATUS SHA256_updateDigest(SHA256Ctx *ctx, const uint8_t *data, uint32_t length);
// Writes 32 bytes (SHA224_finalDigest: the first 28).
MSTATUS SHA256_finalDigest(SHA256Ctx *ctx, uint8_t *digest);
MSTATUS SHA224_finalDigest(SHA256Ctx *ctx, uint8_t *digest);
MSTATUS SHA256_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest);
MSTATUS SHA224_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest);
