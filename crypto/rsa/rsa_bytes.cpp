// The RSA body of a key blob:
//   01 | private flag (00/01) | len e | e | len n | n
//      [ | len p | p | len q | q | len dP | dP | len dQ | dQ | len qInv | qInv
//        | len montP | montP | len montQ | montQ ]
// every len a 4-byte big-endian count, numbers as minimal big-endian magnitudes, the
// Montgomery contexts in their own byte form.
#include "crypto/rsa/rsa.h"

#include "crypto/common/bytes.h"

#include <memory>

namespace {

constexpr uint8_t BODY_VERSION = 1;
constexpr uint32_t BODY_HEADER = 2; // version and private flag

uint32_t numberLength(const VLONG *v)
{
    return (VLONG_bitLength(v) + 7) / 8;
}

// The numbers of the body in order: e, n, and for a private key p, q, dP, dQ, qInv.
uint32_t numbersOf(const RSAKey *key, const VLONG *numbers[7])
{
    const VLONG *all[7] = {key->e, key->n, key->p, key->q, key->dP, key->dQ, key->qInv};
    const uint32_t count = key->privateKey ? 7 : 2;
    for (uint32_t i = 0; i < count; ++i)
        numbers[i] = all[i];
    return count;
}

struct KeyDeleter {
    void operator()(RSAKey *key) const { RSA_freeKey(&key, queue); }
    VLONG **queue;
};

// Reads the bytes of the next 4-byte length prefix; false when they are not all there.
bool takeLength(const uint8_t *bytes, uint32_t length, uint32_t *pos, uint32_t *item)
{
    if (length - *pos < 4)
        return false;
    *item = load_be32(bytes + *pos);
    *pos += 4;
    return *item <= length - *pos;
}

} // namespace

MSTATUS RSA_keyToBytes(const RSAKey *key, uint8_t *buffer, uint32_t *length)
{
    if (!key || !length || !key->e || !key->n)
        return ERR_NULL_POINTER;
    if (key->privateKey && (!key->p || !key->q || !key->dP || !key->dQ || !key->qInv || !key->montP || !key->montQ))
        return ERR_RSA_INCOMPLETE_PRIVATE;
    const VLONG *numbers[7];
    const uint32_t count = numbersOf(key, numbers);
    const MontgomeryContext *contexts[2] = {key->montP, key->montQ};
    uint32_t contextLength[2] = {};

    uint64_t size = BODY_HEADER;
    for (uint32_t i = 0; i < count; ++i)
        size += 4 + numberLength(numbers[i]);
    for (uint32_t i = 0; key->privateKey && i < 2; ++i) {
        if (MSTATUS st = VLONG_writeMontgomeryContext(contexts[i], nullptr, &contextLength[i]); st < 0)
            return st;
        size += 4 + contextLength[i];
    }
    if (size > UINT32_MAX)
        return ERR_BAD_LENGTH;
    const uint32_t room = *length;
    *length = uint32_t(size);
    if (!buffer)
        return OK;
    if (room < size)
        return ERR_BUFFER_OVERFLOW;

    buffer[0] = BODY_VERSION;
    buffer[1] = key->privateKey ? 1 : 0;
    uint8_t *p = buffer + BODY_HEADER;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t bytes = int32_t(numberLength(numbers[i]));
        store_be32(p, uint32_t(bytes));
        if (MSTATUS st = VLONG_byteStringFromVlong(numbers[i], p + 4, &bytes); st < 0)
            return st;
        p += 4 + bytes;
    }
    for (uint32_t i = 0; key->privateKey && i < 2; ++i) {
        store_be32(p, contextLength[i]);
        if (MSTATUS st = VLONG_writeMontgomeryContext(contexts[i], p + 4, &contextLength[i]); st < 0)
            return st;
        p += 4 + contextLength[i];
    }
    return OK;
}

MSTATUS RSA_keyFromBytes(RSAKey **out, const uint8_t *bytes, uint32_t length, VLONG **queue)
{
    if (!out || !bytes)
        return ERR_NULL_POINTER;
    if (length < BODY_HEADER)
        return ERR_KEYBLOB_MALFORMED;
    if (bytes[0] != BODY_VERSION)
        return ERR_KEYBLOB_VERSION;
    if (bytes[1] > 1)
        return ERR_KEYBLOB_MALFORMED;
    RSAKey *raw = nullptr;
    if (MSTATUS st = RSA_createKey(&raw); st < 0)
        return st;
    std::unique_ptr<RSAKey, KeyDeleter> key(raw, KeyDeleter{queue});
    key->privateKey = bytes[1];

    VLONG **numbers[] = {&key->e, &key->n, &key->p, &key->q, &key->dP, &key->dQ, &key->qInv};
    const uint32_t count = key->privateKey ? 7 : 2;
    uint32_t pos = BODY_HEADER;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t item = 0;
        // A number longer than a VLONG can hold is as malformed as one running past the end.
        if (!takeLength(bytes, length, &pos, &item) || item > uint32_t(INT32_MAX))
            return ERR_KEYBLOB_MALFORMED;
        if (MSTATUS st = VLONG_vlongFromByteString(bytes + pos, int32_t(item), numbers[i], queue); st < 0)
            return st == ERR_BAD_LENGTH ? ERR_KEYBLOB_MALFORMED : st;
        pos += item;
    }
    for (MontgomeryContext **context : {&key->montP, &key->montQ}) {
        if (!key->privateKey)
            break;
        uint32_t item = 0;
        if (!takeLength(bytes, length, &pos, &item))
            return ERR_KEYBLOB_MALFORMED;
        if (MSTATUS st = VLONG_readMontgomeryContext(bytes + pos, item, context, queue); st < 0)
            return st;
        pos += item;
    }
    // The same exponent rule as RSA_setPublicKey: e = 0 or 1 would make every value verify.
    if (VLONG_compareUnsigned(key->e, 2) < 0)
        return ERR_RSA_EXPONENT_TOO_SMALL;
    if (key->privateKey && (VLONG_compareMagnitude(key->montP->n, key->p) != 0 ||
                            VLONG_compareMagnitude(key->montQ->n, key->q) != 0))
        return ERR_KEYBLOB_MALFORMED;
    if (!VLONG_isZero(key->n))
        if (MSTATUS st = VLONG_barrettMu(&key->mu, key->n, queue); st < 0)
            return st;
    *out = key.release();
    return OK;
}
