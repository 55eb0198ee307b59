// CTR_DRBG of NIST SP 800-90A section 10.2.1 without derivation function, on AES: the
// working state (V, Key, reseed counter) and instantiate, reseed, generate and update.
// Relies on the AES block cipher; the random context of random.h is its caller (tests
// instantiate it directly from given entropy). Lengths are in bytes.
#pragma once

#include "crypto/random/aes.h"
#include "crypto/common/status.h"

#include <cstdint>

constexpr uint32_t CTR_DRBG_MAX_BLOCK = 16;
constexpr uint32_t CTR_DRBG_MAX_KEY = 32;
constexpr uint32_t CTR_DRBG_MAX_SEED = CTR_DRBG_MAX_BLOCK + CTR_DRBG_MAX_KEY;
constexpr uint32_t CTR_DRBG_FLAG_DF = 1; // derivation function in use (never set here)

using CtrDrbgEncryptFn = MSTATUS (*)(const AesKey *key, const uint8_t *in, uint8_t *out);

struct CtrDrbgState {
    uint64_t reseedCounter;
    uint32_t blockLength; // outlen
    uint32_t keyLength;   // keylen; seedlen = outlen + keylen
    CtrDrbgEncryptFn encrypt;
    AesKey cipherKey; // Key expanded
    uint32_t flags;
    uint8_t vKey[CTR_DRBG_MAX_SEED]; // V (blockLength bytes) followed by Key (keyLength bytes)
    uint8_t scratch[CTR_DRBG_MAX_BLOCK];
};

// Instantiates with exactly seedlen bytes of entropy and an optional personalisation string
// of at most seedlen bytes (null / 0 for none): Key = V = 0, Update(entropy XOR pers),
// reseed counter 1. -17208 block length not 8 or 16; -17207 key length not 16, 24 or 32
// for AES (21 for triple DES); -17208 as well for triple DES, which this build does not
// carry; -17210 entropy or personalisation length wrong. On failure *state is wiped.
MSTATUS CTR_DRBG_instantiate(CtrDrbgState *state, uint32_t blockLength, uint32_t keyLength,
                             const uint8_t *entropy, uint32_t entropyLength,
                             const uint8_t *personalization, uint32_t personalizationLength);

// Reseed with exactly seedlen bytes of entropy and optional additional input (at most
// seedlen bytes): Update(entropy XOR input), reseed counter 1. -17210 for wrong lengths.
MSTATUS CTR_DRBG_reseed(CtrDrbgState *state, const uint8_t *entropy, uint32_t entropyLength,
                        const uint8_t *additional, uint32_t additionalLength);

// length bytes of output with optional additional input. -17205 when the reseed counter has
// reached its limit (2^48; 2^32 for triple DES), -17209 for 2^19 bits or more (triple DES:
// more than 8191 bits), -17210 for additional input longer than seedlen.
MSTATUS CTR_DRBG_generate(CtrDrbgState *state, uint8_t *out, uint32_t length,
                          const uint8_t *additional, uint32_t additionalLength);

// CTR_DRBG_Update with seedlen bytes of provided data (null for all zeros).
MSTATUS CTR_DRBG_update(CtrDrbgState *state, const uint8_t *provided);
