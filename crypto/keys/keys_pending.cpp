// Placeholder until the key readers land: no key text converts, so every signed component
// is refused; developer images are unaffected. Replaced by the key reader sources.
#include <cstdlib>

#include "crypto/keys/key_holder.h"
#include "crypto/rsa/rsa.h"

MSTATUS CA_MGMT_initKey(KeyHolder *holder)
{
    if (!holder)
        return ERR_NULL_POINTER;
    *holder = KeyHolder{};
    return OK;
}

MSTATUS CA_MGMT_freeKey(KeyHolder *holder)
{
    if (!holder)
        return ERR_NULL_POINTER;
    if (holder->type == KEY_TYPE_RSA) {
        RSAKey *key = static_cast<RSAKey *>(holder->key);
        RSA_freeKey(&key, nullptr);
    }
    *holder = KeyHolder{};
    return OK;
}

MSTATUS CA_MGMT_copyKey(KeyHolder *destination, const KeyHolder *source)
{
    if (!destination || !source)
        return ERR_NULL_POINTER;
    CA_MGMT_freeKey(destination);
    return source->type == KEY_TYPE_EMPTY ? OK : ERR_KEY_TYPE_UNKNOWN;
}

MSTATUS CA_MGMT_keyBlobToKey(const uint8_t *, uint32_t, KeyHolder *)
{
    return ERR_KEYBLOB_MALFORMED;
}

MSTATUS CA_MGMT_keyToKeyBlob(const KeyHolder *, uint8_t **, uint32_t *)
{
    return ERR_KEYBLOB_TYPE;
}

MSTATUS CA_MGMT_freeKeyBlob(uint8_t **blob, uint32_t)
{
    if (!blob)
        return ERR_NULL_POINTER;
    std::free(*blob);
    *blob = nullptr;
    return OK;
}

MSTATUS CA_MGMT_pemToKeyBlob(const uint8_t *, uint32_t, uint8_t **, uint32_t *)
{
    return ERR_RSA_KEY_DER;
}

MSTATUS CA_MGMT_derToKeyBlob(const uint8_t *, uint32_t, uint8_t **, uint32_t *)
{
    return ERR_RSA_KEY_DER;
}
