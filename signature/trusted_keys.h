// The keys this build trusts to sign images. A key is known by its fingerprint: the SHA-256
// of its public key blob, so the same key in PEM or DER, PKCS#1 or SubjectPublicKeyInfo form
// has one fingerprint. The build turns its list of key files into a table compiled into the
// boot manager; the signature gate accepts a signature only from a key in it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/common/status.h"

inline constexpr size_t KEY_FINGERPRINT_SIZE = 32;

struct TrustedKeys {
    const uint8_t (*fingerprints)[KEY_FINGERPRINT_SIZE];
    size_t count;
    bool accept_any_key; // built on explicit request only: any key that verifies is taken
};

// Fingerprint of a key given as PEM or DER text (public or private RSA key: the public part
// counts). Fails with the key readers' status; -7712 for a key that is not RSA.
MSTATUS trusted_key_fingerprint(const uint8_t *keyData, uint32_t keyDataLength,
                                uint8_t fingerprint[KEY_FINGERPRINT_SIZE]);

// The table in force: the one built in, unless a test or a host tool handed another.
const TrustedKeys &trusted_keys();
bool trusted_keys_contain(const TrustedKeys &table, const uint8_t fingerprint[KEY_FINGERPRINT_SIZE]);

// For tests and host tools only (the boot manager never calls it): use `table` instead of
// the built-in one; null goes back to the built-in table.
void trusted_keys_override(const TrustedKeys *table);

// The table the build generated from its list of key files.
extern const TrustedKeys BUILT_IN_TRUSTED_KEYS;
