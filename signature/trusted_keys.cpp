// The trusted-key table in force and the lookup in it.
#include "signature/trusted_keys.h"

#include <cstring>

namespace {

const TrustedKeys *g_override = nullptr;

} // namespace

const TrustedKeys &trusted_keys()
{
    return g_override ? *g_override : BUILT_IN_TRUSTED_KEYS;
}

bool trusted_keys_contain(const TrustedKeys &table, const uint8_t fingerprint[KEY_FINGERPRINT_SIZE])
{
    for (size_t i = 0; i < table.count; ++i)
        if (std::memcmp(table.fingerprints[i], fingerprint, KEY_FINGERPRINT_SIZE) == 0)
            return true;
    return false;
}

void trusted_keys_override(const TrustedKeys *table)
{
    g_override = table;
}
