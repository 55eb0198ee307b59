// RSA keys, the RSA public operation with PKCS#1 v1.5 type-1 unpadding, and the check that
// opens a signature to its DigestInfo (RSASSA-PKCS1-v1_5 verification up to the digest
// comparison). Relies on the big integers, the DER parser and the platform lock hooks;
// called by the key readers and the signature verification front end.
#pragma once

#include "crypto/common/platform_hooks.h"
#include "crypto/common/status.h"
#include "crypto/bigint/vlong.h"

#include <cstdint>

// A public key has privateKey = 0 and only e and n set; every other pointer is null.
struct RSAKey {
    uint32_t privateKey; // 1 when the private numbers below are present
    VLONG *e;            // public exponent
    VLONG *n;            // modulus
    VLONG *p, *q;        // prime factors, p > q (private keys only)
    VLONG *dP, *dQ;      // e^-1 mod (p-1), e^-1 mod (q-1)
    VLONG *qInv;         // q^-1 mod p
    MontgomeryContext *montP, *montQ;
    PlatformLock *lock;  // guards the blinding pair of private-key operations
    VLONG *blind, *unblind;
    uint32_t blindCount; // uses of the blinding pair; renewed after 32
    // Barrett constant of n, set together with n by RSA_setPublicKey and RSA_cloneKey so that
    // the public operation skips its division. Null when n was put in place otherwise; code
    // that replaces n directly must release it (the public operation then computes it per call).
    VLONG *mu;
};

inline constexpr uint32_t RSA_MAX_MODULUS_BYTES = 512; // 4096 bits
inline constexpr uint32_t RSA_DIGEST_BUFFER = 64;      // size of the digest output of the check

// New zeroed record with its lock. -6001 for a null out, -6101 when memory is exhausted.
MSTATUS RSA_createKey(RSAKey **out);
// Releases every number (to the queue when given), the contexts, the lock and the record;
// *ref becomes null. -6001 for a null ref or record.
MSTATUS RSA_freeKey(RSAKey **ref, VLONG **queue);
// Makes key the public key (exponent, big-endian modulus). -7701 for a null key, -6013 for
// an exponent below 2; the key is left unchanged on those failures.
MSTATUS RSA_setPublicKey(RSAKey *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                         VLONG **queue);
// Makes key a private key: e and n as RSA_setPublicKey, then p and q (big-endian), marked
// private and completed with RSA_completePrivateKey. When the completion fails (factors
// without the inverses it needs, -6004 or -6005) the key is left public.
MSTATUS RSA_setPrivateKey(RSAKey *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                          const uint8_t *p, uint32_t pLength, const uint8_t *q, uint32_t qLength,
                          VLONG **queue);
// Public keys: nothing. Private keys: p and q swapped when p < q (dropping dP, dQ, qInv and
// the Montgomery contexts), then whichever of dP, dQ, qInv, montP, montQ is missing computed.
// -7701 for a null key, -7708 for a private key without e, p or q.
MSTATUS RSA_completePrivateKey(RSAKey *key, VLONG **queue);
// RSA body of a key blob: version 1 | private flag | e, n (| p, q, dP, dQ, qInv | montP,
// montQ), each number as a 4-byte length and its minimal big-endian bytes. *length is the
// buffer size on entry (ignored for a null buffer) and the body size on return; a shorter
// buffer gives -6007. -7708 for a private key that is not complete.
MSTATUS RSA_keyToBytes(const RSAKey *key, uint8_t *buffer, uint32_t *length);
// Reads an RSA body into a new key. -7402 for a malformed body (a private flag other than 0
// or 1, an item running past the end, Montgomery contexts not of p and q), -7404 for a
// version other than 1, -6013 for e below 2 (as RSA_setPublicKey). Bytes after the last item
// are ignored.
MSTATUS RSA_keyFromBytes(RSAKey **out, const uint8_t *bytes, uint32_t length, VLONG **queue);
// Deep copy of n, e (and for a private key p, q, dP, dQ, qInv and both Montgomery contexts,
// which must be present: else -7708). The blinding pair is not copied.
MSTATUS RSA_cloneKey(RSAKey **out, const RSAKey *source, VLONG **queue);
// Minimal byte length of n. -6001 when key, length or n is null.
MSTATUS RSA_getModulusLength(const RSAKey *key, int32_t *length);

// RSA public operation alone: block (at least the modulus length k) receives
// signature^e mod n as exactly k big-endian bytes. A signature value not below n is refused
// with -7709. Lets a caller compare the whole opened block with an encoding of its own.
MSTATUS RSA_publicBlock(const RSAKey *key, const uint8_t *signature, uint8_t *block, VLONG **queue);

// RSA public operation on a signature of exactly the modulus length, then the type-1
// unpadding "00 01 FF..FF 00 || data" (a block starting 01 is also taken, its second byte
// unexamined). block (at least the modulus length) receives the data moved to its start and
// *blockLength its length. A signature value not below n is refused with -7709.
MSTATUS RSA_decryptSignatureBlock(const RSAKey *key, const uint8_t *signature, uint8_t *block,
                                  uint32_t *blockLength, VLONG **queue);

// Opens the signature and parses its DigestInfo. On 0: digest (64 bytes, zero-filled past
// the digest) holds the digest, *digestLength its length and *hashId the hash id it names;
// the caller must still compare the digest with its own. *hashId is written as soon as the
// algorithm is recognised, also when a later check fails. Every pointer is required (-6001).
// After the checks that give -7603, -7604 and -7609, the DigestInfo must be exactly the DER
// SEQUENCE { SEQUENCE { OID, absent or NULL parameters }, OCTET STRING digest } filling the
// data; any other encoding (other parameters or tags, long-form lengths) is -7603.
MSTATUS RSA_verifyDigestInfo(const RSAKey *key, const uint8_t *signature, uint32_t signatureLength,
                             uint8_t *digest, uint32_t *digestLength, int32_t *hashId);
