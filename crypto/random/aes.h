// AES block cipher (FIPS 197), encrypt direction only, for 128-, 192- and 256-bit keys.
// Relies on nothing but the byte layout of FIPS 197; the CTR_DRBG random generator is its
// only caller (AES-256 on single 16-byte blocks).
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t AES_BLOCK_SIZE = 16;

// Expanded key: rounds + 1 round keys of 16 bytes, in FIPS 197 byte order.
struct AesKey {
    uint32_t rounds; // 10, 12 or 14
    uint8_t roundKeys[16 * 15];
};

// keyLength 16, 24 or 32 bytes; anything else is -6003 and leaves *key wiped.
MSTATUS AES_expandKey(AesKey *key, const uint8_t *keyBytes, uint32_t keyLength);
// Encrypts one 16-byte block; in and out may be the same buffer.
MSTATUS AES_encryptBlock(const AesKey *key, const uint8_t *in, uint8_t *out);
