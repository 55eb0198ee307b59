// The digest dispatcher: hash ids, the constant table of hash suites (one row of sizes and
// context operations per algorithm) and HASH_computeDigest. Relies on the per-algorithm
// modules md5, sha1, sha256 and sha512; called by the signature front end (SHA-256 of a
// payload) and by the RSA DigestInfo check, which reports algorithms as these ids.
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t HASH_ID_MD2 = 2; // recognised inside a DigestInfo only; no implementation
constexpr uint32_t HASH_ID_MD4 = 3; // likewise
constexpr uint32_t HASH_ID_MD5 = 4;
constexpr uint32_t HASH_ID_SHA1 = 5;
constexpr uint32_t HASH_ID_SHA256 = 11;
constexpr uint32_t HASH_ID_SHA384 = 12;
constexpr uint32_t HASH_ID_SHA512 = 13;
constexpr uint32_t HASH_ID_SHA224 = 14;

// Every digest buffer handed to HASH_computeDigest has this size, whatever the algorithm.
constexpr uint32_t HASH_MAX_DIGEST_SIZE = 64;

// One algorithm behind a type-erased context: the operations take the context made by
// allocContext of the same row.
struct HashSuite {
    uint32_t digestSize;
    uint32_t blockSize;
    MSTATUS (*allocContext)(void **ctxOut);
    MSTATUS (*freeContext)(void **ctxRef);
    MSTATUS (*init)(void *ctx);
    MSTATUS (*update)(void *ctx, const uint8_t *data, uint32_t length);
    MSTATUS (*final)(void *ctx, uint8_t *digest);
};

// Stores the row of hashId (4, 5, 11, 12, 13, 14) in *suite; -6010 for any other id,
// leaving *suite unset.
MSTATUS HASH_getSuite(uint32_t hashId, const HashSuite **suite);

// One-shot digest of data into the 64-byte digest buffer, which is cleared first, so the
// bytes after the digest are zero. *digestLength receives the algorithm's digest size.
// -6001 for a null pointer (nothing written); -7612 for an unsupported id (buffer zeroed,
// *digestLength not written).
MSTATUS HASH_computeDigest(const uint8_t *data, uint32_t length, uint8_t *digest,
                           uint32_t *digestLength, uint32_t hashId);
