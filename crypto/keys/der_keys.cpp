// DER key to key blob: the RSA reading, then the EC reading, then the blob of the key read.
#include "crypto/keys/der_key_internal.h"

namespace {

// A temporary holder, emptied (its key released) when it goes out of scope.
struct TemporaryKey {
    KeyHolder holder{KEY_TYPE_EMPTY, nullptr};
    ~TemporaryKey() { CA_MGMT_freeKey(&holder); }
};

} // namespace

MSTATUS CA_MGMT_derToKeyBlob(const uint8_t *der, uint32_t derLength, uint8_t **blob, uint32_t *blobLength)
{
    if (!der || !blob || !blobLength)
        return ERR_NULL_POINTER;
    TemporaryKey key;
    // When both readings fail, the EC reading's status is the one reported.
    if (derkey_readRsa(der, derLength, &key.holder) < 0) {
        CA_MGMT_freeKey(&key.holder);
        if (MSTATUS st = derkey_readEc(der, derLength, &key.holder); st < 0)
            return st;
    }
    return CA_MGMT_keyToKeyBlob(&key.holder, blob, blobLength);
}
