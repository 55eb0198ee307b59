// Fuzz target: CA_MGMT_derToKeyBlob and CA_MGMT_pemToKeyBlob on arbitrary bytes. Every blob
// they make must read back into a key that writes the very same blob.
#include "crypto/init.h"
#include "crypto/keys/key_holder.h"

#include <cstdint>
#include <cstring>

namespace {

// Checks one conversion's blob and releases it.
void checkBlob(uint8_t *blob, uint32_t length)
{
    KeyHolder key{KEY_TYPE_EMPTY, nullptr};
    uint8_t *again = nullptr;
    uint32_t againLength = 0;
    if (CA_MGMT_keyBlobToKey(blob, length, &key) != OK || CA_MGMT_keyToKeyBlob(&key, &again, &againLength) != OK ||
        againLength != length || std::memcmp(blob, again, length) != 0)
        __builtin_trap();
    CA_MGMT_freeKeyBlob(&again, againLength);
    CA_MGMT_freeKey(&key);
    CA_MGMT_freeKeyBlob(&blob, length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const MSTATUS initialised = CRYPTO_initLibrary(); // the base64 table of PEM
    (void)initialised;
    uint8_t *blob = nullptr;
    uint32_t length = 0;
    if (CA_MGMT_derToKeyBlob(data, uint32_t(size), &blob, &length) == OK)
        checkBlob(blob, length);
    if (CA_MGMT_pemToKeyBlob(data, uint32_t(size), &blob, &length) == OK)
        checkBlob(blob, length);
    return 0;
}
