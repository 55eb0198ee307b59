// Key holders: a key type and the key record of that type (RSA or EC), with the key blob,
// the library's own serialised form through which every converted key passes, and the
// readers that turn PEM or DER text into a key blob. Relies on RSA, the big integers, the
// DER parser and the base64 table of the library initialisation; called by the image
// signature front end and by the host tools.
#pragma once

#include <cstdint>

#include "crypto/common/status.h"

enum : uint32_t {
    KEY_TYPE_EMPTY = 0,
    KEY_TYPE_RSA = 1,
    KEY_TYPE_EC = 2,
    KEY_TYPE_DSA = 3, // part of the blob numbering; never made by this library
};

// The holder owns its key record: RSAKey for KEY_TYPE_RSA, ECKey for KEY_TYPE_EC. An empty
// holder has type 0 and a null key.
struct KeyHolder {
    uint32_t type;
    void *key;
};

// Sets the holder empty (without releasing anything). -6001 for a null holder.
MSTATUS CA_MGMT_initKey(KeyHolder *holder);
// Releases the key by type and empties the holder; an empty holder stays as it is. -6015 for
// an unknown type, -6001 for a null holder.
MSTATUS CA_MGMT_freeKey(KeyHolder *holder);
// Empties destination, then makes it a deep copy of source (type 0 copies nothing). -6015
// for an unknown source type (destination then untouched); copying a holder onto itself
// changes nothing.
MSTATUS CA_MGMT_copyKey(KeyHolder *destination, const KeyHolder *source);

// Key blob: 00 00 00 00 | version 00 00 00 01 | type 00 00 00 tt | body of the type.
// Reads a blob into the holder, which is emptied first and then owns the new key. -7402 for a
// malformed blob, -7404 for a version other than 1, -7403 for type 3 (DSA: numbered by the
// format, but this library makes no DSA keys). An EC blob whose scalar is all zeros is a
// public key and reads back as one (private flag 0).
MSTATUS CA_MGMT_keyBlobToKey(const uint8_t *blob, uint32_t blobLength, KeyHolder *holder);
// Writes the holder's key as a new blob (RSA private keys are completed first). The caller
// releases it with CA_MGMT_freeKeyBlob. -7403 for a type that has no blob form (empty, DSA
// or unknown). A public RSA key gives 12 + 10 + length(e) + length(n) bytes.
MSTATUS CA_MGMT_keyToKeyBlob(const KeyHolder *holder, uint8_t **blob, uint32_t *blobLength);
// Wipes `length` bytes of the blob and frees it; *blob becomes null.
MSTATUS CA_MGMT_freeKeyBlob(uint8_t **blob, uint32_t length);

// PEM text (base64 between "-----" lines, any label, LF or CR LF) to a new key blob.
MSTATUS CA_MGMT_pemToKeyBlob(const uint8_t *text, uint32_t textLength, uint8_t **blob,
                             uint32_t *blobLength);
// DER key (RSA: PKCS#1 RSAPrivateKey or RSAPublicKey, SubjectPublicKeyInfo; EC:
// SubjectPublicKeyInfo or ECPrivateKey on a named curve) to a new key blob. When both the
// RSA and the EC reading fail, the EC reading's status is returned.
MSTATUS CA_MGMT_derToKeyBlob(const uint8_t *der, uint32_t derLength, uint8_t **blob,
                             uint32_t *blobLength);
