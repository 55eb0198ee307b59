// Fingerprint of a signing key: the SHA-256 of the key blob of its public part.
#include <cstring>

#include "crypto/digest/hash.h"
#include "crypto/init.h"
#include "crypto/rsa/rsa.h"
#include "signature/imgsign.h"
#include "signature/trusted_keys.h"

namespace {

struct HeldKey {
    KeyHolder holder{};
    ~HeldKey() { CA_MGMT_freeKey(&holder); }
};

// Holder with only e and n of an RSA key, so a private key and its public key match.
MSTATUS public_part(const RSAKey *key, KeyHolder *out)
{
    int32_t length = 0;
    uint8_t modulus[RSA_MAX_MODULUS_BYTES];
    if (MSTATUS st = VLONG_byteStringFromVlong(key->n, nullptr, &length); st < 0)
        return st;
    if (length <= 0 || length > int32_t(sizeof modulus) || !key->e || key->e->used > 1)
        return ERR_RSA_KEY_DER;
    if (MSTATUS st = VLONG_byteStringFromVlong(key->n, modulus, &length); st < 0)
        return st;
    RSAKey *copy = nullptr;
    if (MSTATUS st = RSA_createKey(&copy); st < 0)
        return st;
    MSTATUS st = RSA_setPublicKey(copy, VLONG_getUnit(key->e, 0), modulus, uint32_t(length), nullptr);
    if (st < 0) {
        RSA_freeKey(&copy, nullptr);
        return st;
    }
    out->type = KEY_TYPE_RSA;
    out->key = copy;
    return OK;
}

} // namespace

MSTATUS trusted_key_fingerprint(const uint8_t *keyData, uint32_t keyDataLength,
                                uint8_t fingerprint[KEY_FINGERPRINT_SIZE])
{
    if (!keyData || !fingerprint)
        return ERR_NULL_POINTER;
    CRYPTO_initLibrary(); // the PEM reader needs the base64 table
    HeldKey key, publicKey;
    if (MSTATUS st = CA_MGMT_convertPublicKey(keyData, keyDataLength, &key.holder); st < 0)
        return st;
    if (key.holder.type != KEY_TYPE_RSA)
        return ERR_SIGNATURE_KEY_NOT_RSA;
    if (MSTATUS st = public_part(static_cast<const RSAKey *>(key.holder.key), &publicKey.holder); st < 0)
        return st;
    uint8_t *blob = nullptr;
    uint32_t blobLength = 0;
    if (MSTATUS st = CA_MGMT_keyToKeyBlob(&publicKey.holder, &blob, &blobLength); st < 0)
        return st;
    uint8_t digest[HASH_MAX_DIGEST_SIZE];
    uint32_t digestLength = 0;
    MSTATUS st = HASH_computeDigest(blob, blobLength, digest, &digestLength, HASH_ID_SHA256);
    CA_MGMT_freeKeyBlob(&blob, blobLength);
    if (st < 0)
        return st;
    std::memcpy(fingerprint, digest, KEY_FINGERPRINT_SIZE);
    return OK;
}
