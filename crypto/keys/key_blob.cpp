// The key blob, the library's serialised key:
//   00 00 00 00 | 00 00 00 01 (version) | 00 00 00 tt (type) | body
// with the RSA body of RSA_keyToBytes or the EC body
//   00 00 00 id | P (4) | 04 x y (P = 2 x field length + 1) | S (4) | k (S = field length)
// All numbers big-endian. A public EC key has an all-zero k and reads back as a public key.
#include "crypto/keys/key_holder.h"

#include "crypto/common/bytes.h"
#include "crypto/keys/ec.h"
#include "crypto/rsa/rsa.h"

#include <cstdlib>
#include <memory>

namespace {

constexpr uint32_t BLOB_HEADER = 12;
constexpr uint32_t BLOB_VERSION = 1;
constexpr uint8_t POINT_UNCOMPRESSED = 0x04;

// ---- EC body ------------------------------------------------------------------------------

uint32_t ecBodySize(uint32_t fieldLength)
{
    return 4 + 4 + (2 * fieldLength + 1) + 4 + fieldLength;
}

MSTATUS writeNumber(const VLONG *v, uint8_t *out, uint32_t size)
{
    int32_t length = int32_t(size);
    return VLONG_byteStringFromVlong(v, out, &length);
}

MSTATUS writeEcBody(const ECKey *key, uint8_t *out)
{
    const uint32_t length = EC_fieldLength(key->curveId);
    store_be32(out, key->curveId);
    store_be32(out + 4, 2 * length + 1);
    uint8_t *point = out + 8;
    point[0] = POINT_UNCOMPRESSED;
    MSTATUS st = writeNumber(key->x, point + 1, length);
    if (st >= 0)
        st = writeNumber(key->y, point + 1 + length, length);
    uint8_t *scalar = point + 2 * length + 1;
    store_be32(scalar, length);
    if (st >= 0)
        st = writeNumber(key->k, scalar + 4, length);
    return st;
}

// Takes a 4-byte length and that many bytes; false when they are not all there.
bool takeItem(const uint8_t *body, uint32_t size, uint32_t *pos, const uint8_t **item, uint32_t *length)
{
    if (size - *pos < 4)
        return false;
    *length = load_be32(body + *pos);
    *pos += 4;
    if (*length > size - *pos)
        return false;
    *item = body + *pos;
    *pos += *length;
    return true;
}

MSTATUS readEcBody(const uint8_t *body, uint32_t size, KeyHolder *holder)
{
    if (size < 4 || body[0] || body[1] || body[2])
        return ERR_KEYBLOB_MALFORMED;
    const uint8_t curveId = body[3];
    uint32_t pos = 4, pointLength = 0, scalarLength = 0;
    const uint8_t *point = nullptr, *scalar = nullptr;
    if (!takeItem(body, size, &pos, &point, &pointLength) || !takeItem(body, size, &pos, &scalar, &scalarLength))
        return ERR_KEYBLOB_MALFORMED;
    // An all-zero scalar is the mark of a public key: it stays public.
    bool isPrivate = false;
    for (uint32_t i = 0; i < scalarLength; ++i)
        isPrivate |= scalar[i] != 0;
    return EC_setKey(holder, curveId, point, pointLength, isPrivate ? scalar : nullptr, scalarLength);
}

// ---- RSA body -----------------------------------------------------------------------------

MSTATUS readRsaBody(const uint8_t *body, uint32_t size, KeyHolder *holder)
{
    RSAKey *key = nullptr;
    if (MSTATUS st = RSA_keyFromBytes(&key, body, size, nullptr); st < 0)
        return st;
    holder->type = KEY_TYPE_RSA;
    holder->key = key;
    return OK;
}

struct BlobDeleter {
    uint32_t size;
    void operator()(uint8_t *blob) const { CA_MGMT_freeKeyBlob(&blob, size); }
};

} // namespace

MSTATUS CA_MGMT_keyBlobToKey(const uint8_t *blob, uint32_t blobLength, KeyHolder *holder)
{
    if (!blob || !holder)
        return ERR_NULL_POINTER;
    if (MSTATUS st = CA_MGMT_freeKey(holder); st < 0)
        return st;
    if (blobLength < BLOB_HEADER || load_be32(blob) != 0)
        return ERR_KEYBLOB_MALFORMED;
    if (load_be32(blob + 4) != BLOB_VERSION)
        return ERR_KEYBLOB_VERSION;
    if (blob[8] || blob[9] || blob[10])
        return ERR_KEYBLOB_MALFORMED;
    const uint8_t *body = blob + BLOB_HEADER;
    const uint32_t size = blobLength - BLOB_HEADER;
    switch (blob[11]) {
    case KEY_TYPE_RSA:
        return readRsaBody(body, size, holder);
    case KEY_TYPE_EC:
        return readEcBody(body, size, holder);
    case KEY_TYPE_DSA:
        return ERR_KEYBLOB_TYPE; // numbered by the format, but this library has no DSA keys
    default:
        return ERR_KEYBLOB_MALFORMED;
    }
}

MSTATUS CA_MGMT_keyToKeyBlob(const KeyHolder *holder, uint8_t **blob, uint32_t *blobLength)
{
    if (!holder || !blob || !blobLength)
        return ERR_NULL_POINTER;
    if (holder->type != KEY_TYPE_RSA && holder->type != KEY_TYPE_EC)
        return ERR_KEYBLOB_TYPE;
    if (!holder->key)
        return ERR_NULL_POINTER;

    // The body size first, so that nothing is written into a blob that cannot be finished.
    uint32_t bodySize = 0;
    auto *rsa = static_cast<RSAKey *>(holder->key);
    const auto *ec = static_cast<const ECKey *>(holder->key);
    if (holder->type == KEY_TYPE_RSA) {
        if (MSTATUS st = RSA_completePrivateKey(rsa, nullptr); st < 0)
            return st;
        if (MSTATUS st = RSA_keyToBytes(rsa, nullptr, &bodySize); st < 0)
            return st;
    } else {
        if (EC_fieldLength(ec->curveId) == 0)
            return ERR_EC_CURVE_UNSUPPORTED;
        bodySize = ecBodySize(EC_fieldLength(ec->curveId));
    }
    if (bodySize > UINT32_MAX - BLOB_HEADER)
        return ERR_BAD_LENGTH;
    const uint32_t size = BLOB_HEADER + bodySize;
    std::unique_ptr<uint8_t, BlobDeleter> out(static_cast<uint8_t *>(std::calloc(size, 1)), BlobDeleter{size});
    if (!out)
        return ERR_MEM_ALLOC;
    store_be32(out.get() + 4, BLOB_VERSION);
    out.get()[11] = uint8_t(holder->type);
    MSTATUS st = OK;
    if (holder->type == KEY_TYPE_RSA) {
        uint32_t room = bodySize;
        st = RSA_keyToBytes(rsa, out.get() + BLOB_HEADER, &room);
    } else {
        st = writeEcBody(ec, out.get() + BLOB_HEADER);
    }
    if (st < 0)
        return st;
    *blob = out.release();
    *blobLength = size;
    return OK;
}

MSTATUS CA_MGMT_freeKeyBlob(uint8_t **blob, uint32_t length)
{
    if (!blob || !*blob)
        return ERR_NULL_POINTER;
    secure_wipe(*blob, length);
    std::free(*blob);
    *blob = nullptr;
    return OK;
}
