// Fuzz target: CA_MGMT_convertPublicKey on arbitrary bytes (PEM first, then DER), with the
// key copied into a holder and released again, and the fingerprint of whatever converts.
#include "crypto/init.h"
#include "crypto/keys/key_holder.h"
#include "signature/imgsign.h"
#include "signature/trusted_keys.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool initialised = (CRYPTO_initLibrary(), true);
    (void)initialised;
    KeyHolder holder;
    CA_MGMT_initKey(&holder);
    if (CA_MGMT_convertPublicKey(data, uint32_t(size), &holder) == OK) {
        uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
        trusted_key_fingerprint(data, uint32_t(size), fingerprint);
    }
    CA_MGMT_freeKey(&holder);
    return 0;
}
