// Signing side of the image tool. A signed format-3 component carries, in this order, the
// payload signature (record 3), the public key (record 4) and the authenticated header
// (record 5: the 48-byte statement and its signature). Every way of signing ends in one
// assembly routine, so `create --sign KEY.pem`, `create --sign pkcs11:...` and `digest`,
// an external signer and `attach` give the same bytes. Keys come from PEM or DER files
// (encrypted ones with --passin) or from a PKCS#11 token through OpenSSL's engine
// (imgtool_key.cpp). Called by the create, digest and attach commands.
#pragma once

#include <openssl/types.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "image/builder.h"
#include "tools/imgtool.h"

// The options that say where a signing or verification key is.
struct SignerOptions {
    const char *key = nullptr;           // key file, or a PKCS#11 URI ("pkcs11:...")
    const char *passin = nullptr;        // pass:TEXT, env:VAR, file:PATH or fd:N
    const char *pkcs11_module = nullptr; // else PKCS11_MODULE_PATH
    bool key_as_der = false;             // key record in DER instead of PEM
};

// Takes argv[*i] (and its value) when it is --passin, --pkcs11-module or --key-record.
// Returns 1 when taken (*i moved to the value), 0 when not a signer option, -1 after a
// one-line error.
int imgtool_signer_option(int argc, char **argv, int *i, SignerOptions *options);

struct PkeyFree {
    void operator()(EVP_PKEY *key) const;
};
struct EngineRelease {
    void operator()(ENGINE *engine) const;
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// A private key with its public half; a token key keeps its engine alive.
struct SigningKey {
    std::unique_ptr<ENGINE, EngineRelease> engine; // declared first: released last
    Pkey private_key;
    Pkey public_key;
};

// Loads the private key of options.key (file or PKCS#11 URI) and its public half, and
// refuses a key the board could not verify with. False after a one-line error.
bool imgtool_load_signing_key(const SignerOptions &options, SigningKey *key);
// Loads an RSA public key (or the public half of a private key) from a file, refusing a key
// the board could not verify with. False after a one-line error naming `path`.
bool imgtool_load_public_key(const char *path, const SignerOptions &options, Pkey *key);
// The key record's value: the public key as PEM, or DER.
bool imgtool_key_record(EVP_PKEY *public_key, bool as_der, Bytes *out);
// nullptr, or the limit of a board-usable key that this RSA key breaks.
const char *imgtool_key_limit_violation(EVP_PKEY *key);

using Digest = std::array<uint8_t, 32>;
Digest imgtool_sha256(const uint8_t *data, size_t size);

// One signature a signed component needs: its label on the digest/attach command lines and
// the SHA-256 value that PKCS#1 v1.5 signs.
struct SignatureNeed {
    const char *label; // "payload" (record 3) or "header" (record 5)
    Digest digest;
};
std::vector<SignatureNeed> imgtool_signature_needs(const ComponentPlan &plan, const Bytes &payload);

// The assembly routine: drops any records 3, 4 and 5 of the plan and appends the signature,
// key and authenticated-header records, after checking that each signature (in the order
// of imgtool_signature_needs) verifies with the public key. False after a one-line error.
bool imgtool_add_signature_records(ComponentPlan &plan, const Bytes &payload, EVP_PKEY *public_key,
                                   bool key_as_der, const std::vector<Bytes> &signatures);

// Signs every need with the key (RSA PKCS#1 v1.5 over the SHA-256 value) and assembles.
bool imgtool_sign_plan(ComponentPlan &plan, const Bytes &payload, const SignerOptions &options);
