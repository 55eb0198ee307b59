#include "crypto/random/ctr_drbg.h"

#include "crypto/common/bytes.h"

#include <cstring>

namespace {

constexpr uint64_t AES_RESEED_LIMIT = uint64_t{1} << 48;
constexpr uint64_t TDES_RESEED_LIMIT = uint64_t{1} << 32;
constexpr uint64_t AES_MAX_REQUEST_BITS = uint64_t{1} << 19; // this many bits or more: refused
constexpr uint64_t TDES_MAX_REQUEST_BITS = 8191;             // more than this: refused

uint32_t seed_length(const CtrDrbgState *s)
{
    return s->blockLength + s->keyLength;
}

uint8_t *key_bytes(CtrDrbgState *s)
{
    return s->vKey + s->blockLength;
}

// V = (V + 1) mod 2^(8 * outlen), big-endian.
void increment_v(CtrDrbgState *s)
{
    for (uint32_t i = s->blockLength; i-- > 0;)
        if (++s->vKey[i] != 0)
            break;
}

// material = data XOR (input zero-padded to seedlen); the caller has checked inputLength.
void combine(uint8_t *material, const uint8_t *data, uint32_t seedlen, const uint8_t *input,
             uint32_t inputLength)
{
    std::memcpy(material, data, seedlen);
    for (uint32_t i = 0; i < inputLength; ++i)
        material[i] ^= input[i];
}

} // namespace

MSTATUS CTR_DRBG_update(CtrDrbgState *s, const uint8_t *provided)
{
    if (!s)
        return ERR_NULL_POINTER;
    const uint32_t seedlen = seed_length(s);
    uint8_t temp[CTR_DRBG_MAX_SEED + CTR_DRBG_MAX_BLOCK];
    MSTATUS status = OK;
    for (uint32_t done = 0; done < seedlen && status == OK; done += s->blockLength) {
        increment_v(s);
        status = s->encrypt(&s->cipherKey, s->vKey, temp + done);
    }
    if (status == OK) {
        if (provided)
            for (uint32_t i = 0; i < seedlen; ++i)
                temp[i] ^= provided[i];
        // temp is Key || V; the state keeps V || Key.
        std::memcpy(key_bytes(s), temp, s->keyLength);
        std::memcpy(s->vKey, temp + s->keyLength, s->blockLength);
        status = AES_expandKey(&s->cipherKey, key_bytes(s), s->keyLength);
    }
    secure_wipe(temp, sizeof temp);
    return status;
}

MSTATUS CTR_DRBG_instantiate(CtrDrbgState *s, uint32_t blockLength, uint32_t keyLength,
                             const uint8_t *entropy, uint32_t entropyLength,
                             const uint8_t *personalization, uint32_t personalizationLength)
{
    if (!s || !entropy || (!personalization && personalizationLength))
        return ERR_NULL_POINTER;
    secure_wipe(s, sizeof *s);
    if (blockLength != 8 && blockLength != 16)
        return ERR_DRBG_BAD_BLOCK_LENGTH;
    if (blockLength == 16 && keyLength != 16 && keyLength != 24 && keyLength != 32)
        return ERR_DRBG_BAD_KEY_LENGTH;
    if (blockLength == 8)
        return keyLength != 21 ? ERR_DRBG_BAD_KEY_LENGTH : ERR_DRBG_BAD_BLOCK_LENGTH;
    const uint32_t seedlen = blockLength + keyLength;
    if (entropyLength != seedlen || personalizationLength > seedlen)
        return ERR_DRBG_BAD_ENTROPY_LENGTH;

    s->blockLength = blockLength;
    s->keyLength = keyLength;
    s->encrypt = AES_encryptBlock;
    s->flags = 0;
    MSTATUS status = AES_expandKey(&s->cipherKey, key_bytes(s), keyLength); // Key = 0, V = 0
    uint8_t material[CTR_DRBG_MAX_SEED];
    combine(material, entropy, seedlen, personalization, personalizationLength);
    if (status == OK)
        status = CTR_DRBG_update(s, material);
    secure_wipe(material, sizeof material);
    if (status != OK) {
        secure_wipe(s, sizeof *s);
        return status;
    }
    s->reseedCounter = 1;
    return OK;
}

MSTATUS CTR_DRBG_reseed(CtrDrbgState *s, const uint8_t *entropy, uint32_t entropyLength,
                        const uint8_t *additional, uint32_t additionalLength)
{
    if (!s || !entropy || (!additional && additionalLength))
        return ERR_NULL_POINTER;
    const uint32_t seedlen = seed_length(s);
    if (entropyLength != seedlen || additionalLength > seedlen)
        return ERR_DRBG_BAD_ENTROPY_LENGTH;
    uint8_t material[CTR_DRBG_MAX_SEED];
    combine(material, entropy, seedlen, additional, additionalLength);
    MSTATUS status = CTR_DRBG_update(s, material);
    secure_wipe(material, sizeof material);
    if (status == OK)
        s->reseedCounter = 1;
    return status;
}

MSTATUS CTR_DRBG_generate(CtrDrbgState *s, uint8_t *out, uint32_t length,
                          const uint8_t *additional, uint32_t additionalLength)
{
    if (!s || !out || (!additional && additionalLength))
        return ERR_NULL_POINTER;
    const bool tdes = s->blockLength == 8;
    if (s->reseedCounter >= (tdes ? TDES_RESEED_LIMIT : AES_RESEED_LIMIT))
        return ERR_DRBG_RESEED_REQUIRED;
    const uint64_t bits = uint64_t{length} * 8;
    if (tdes ? bits > TDES_MAX_REQUEST_BITS : bits >= AES_MAX_REQUEST_BITS)
        return ERR_DRBG_REQUEST_TOO_LONG;
    const uint32_t seedlen = seed_length(s);
    if (additionalLength > seedlen)
        return ERR_DRBG_BAD_ENTROPY_LENGTH;

    uint8_t input[CTR_DRBG_MAX_SEED] = {};
    if (additionalLength)
        std::memcpy(input, additional, additionalLength);
    MSTATUS status = additionalLength ? CTR_DRBG_update(s, input) : OK;
    for (uint32_t done = 0; done < length && status == OK; done += s->blockLength) {
        increment_v(s);
        uint32_t take = length - done < s->blockLength ? length - done : s->blockLength;
        if (take == s->blockLength) {
            status = s->encrypt(&s->cipherKey, s->vKey, out + done);
        } else {
            status = s->encrypt(&s->cipherKey, s->vKey, s->scratch);
            std::memcpy(out + done, s->scratch, take);
            secure_wipe(s->scratch, sizeof s->scratch);
        }
    }
    if (status == OK)
        status = CTR_DRBG_update(s, input);
    secure_wipe(input, sizeof input);
    if (status == OK)
        ++s->reseedCounter;
    return status;
}
