// Image-signature front end: the SHA-256 digest of a signed payload, the conversion of the
// key a component carries (PEM or DER text) into a key holder, and the RSA PKCS#1 v1.5
// signature check against the digest. Relies on the cryptographic library (digests, key
// readers, RSA, trace); called by the image signature gate and the image tool.
#pragma once

#include <cstdint>

#include "crypto/common/status.h"
#include "crypto/keys/key_holder.h"

// Statuses of this front end beyond the library's own.
enum : MSTATUS {
    ERR_SIGNATURE_KEY_NOT_RSA = -7712,   // the key converts, but is not an RSA key
    ERR_SIGNATURE_NOT_CANONICAL = -7713, // the opened block is not exactly
                                         // 00 01 FF..FF 00 || DER DigestInfo(SHA-256, digest)
};

// SHA-256 of the data into digest (32 bytes); *digestLength = 32. -6001 for a null pointer.
MSTATUS IMGSIGN_computeSHA256(const uint8_t *data, uint32_t dataLength, uint8_t *digest,
                              uint32_t *digestLength);

// Decodes keyData (PEM, else DER) and, when key is not null, makes *key own a deep copy of
// it (the caller releases it with CA_MGMT_freeKey). A failed PEM attempt is not reported:
// the result is then that of the DER attempt.
MSTATUS CA_MGMT_convertPublicKey(const uint8_t *keyData, uint32_t keyDataLength, KeyHolder *key);

// 0 when the signature over the digest verifies with the RSA key in keyData and the opened
// block is the canonical PKCS#1 v1.5 encoding of a SHA-256 DigestInfo; otherwise a negative
// status (-7711 for another digest, -7712 for a key that is not RSA, -7713 for a block that
// passes the lenient check but is not canonical).
MSTATUS IMGSIGN_verifySignature(const uint8_t *digest, int32_t digestLength, const uint8_t *signature,
                                uint32_t signatureLength, const uint8_t *keyData,
                                uint32_t keyDataLength);

// Trace dumps at level 4: "length = N" then the bytes in hex, 16 a line; the RSA key's type,
// private flag, modulus and exponent.
void IMGSIGN_traceBytes(const uint8_t *bytes, int32_t length);
void IMGSIGN_traceKey(const KeyHolder *key);
