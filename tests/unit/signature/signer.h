// Signing keys made by OpenSSL at test time for the signature and gate tests: a trusted key
// (0) and a stranger (1), each public key in every form a key record may carry, and the
// records of a signed component: signature, key and the authenticated header.
#pragma once

#include "image/auth_header.h"
#include "image/builder.h"
#include "tests/support/image_parts.h"
#include "tests/unit/crypto/openssl_util.h"

#include <openssl/sha.h>

inline Bytes sha256(const Bytes &data)
{
    Bytes d(SHA256_DIGEST_LENGTH);
    SHA256(data.data(), data.size(), d.data());
    return d;
}

struct Signer {
    EVP_PKEY *pkey;
    Bytes spki_pem, spki_der, pkcs1_pem, pkcs1_der, private_pem;
    size_t k;

    Bytes sign(const Bytes &payload) const { return opensslSign(pkey, EVP_sha256(), sha256(payload)); }
    Bytes raw(const Bytes &block) const { return rawPrivate(pkey, block); }
};

// Two 2048-bit keys: 0 is the one the tests trust, 1 is not.
inline Signer signer(int which)
{
    EVP_PKEY *key = opensslRsaKey(2048, which == 0 ? 65537 : 3);
    const int PUBLIC = OSSL_KEYMGMT_SELECT_PUBLIC_KEY;
    return {key,
            encodeKey(key, PUBLIC, "PEM", "SubjectPublicKeyInfo"),
            encodeKey(key, PUBLIC, "DER", "SubjectPublicKeyInfo"),
            encodeKey(key, PUBLIC, "PEM", "type-specific"),
            encodeKey(key, PUBLIC, "DER", "type-specific"),
            encodeKey(key, OSSL_KEYMGMT_SELECT_KEYPAIR, "PEM", "type-specific"),
            256};
}

// Record 5 for a component of `type` and version `id` with this payload: the 48-byte
// statement, then the signer's signature over it.
inline ComponentRecord auth_record(const Signer &s, uint32_t type, uint32_t id, const Bytes &payload)
{
    Bytes statement(IMAGE_AUTH_STATEMENT_SIZE);
    image_auth_statement(type, id, uint32_t(payload.size()), sha256(payload).data(), statement.data());
    return {IMAGE_RECORD_AUTH_HEADER, cat({statement, s.sign(statement)})};
}

// A format-3 component signed by `s`: record 3 and 4, then record 5 unless `auth` is false.
inline Bytes signed_image(const Signer &s, uint32_t type, uint32_t id, const Bytes &payload, bool auth = true)
{
    ComponentPlan p = plan(type, id, 3);
    p.records = {{IMAGE_RECORD_SIGNATURE, s.sign(payload)}, {IMAGE_RECORD_KEY, s.spki_pem}};
    if (auth)
        p.records.push_back(auth_record(s, type, id, payload));
    return image_build_component(p, payload);
}
