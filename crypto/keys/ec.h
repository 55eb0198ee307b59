// EC keys on the NIST prime curves P-192, P-224, P-256, P-384 and P-521: the curve table
// with the published parameters, the key record and EC_setKey with its on-curve check (field
// arithmetic on VLONG). This library only recognises, stores and serialises EC keys; it
// signs and verifies nothing with them. Called by the DER key reader and the key blob.
#pragma once

#include <cstdint>

#include "crypto/bigint/vlong.h"
#include "crypto/common/status.h"
#include "crypto/keys/key_holder.h"

// Curve ids: the last arc of the curve's object identifier.
enum : uint8_t {
    EC_CURVE_P192 = 1,  // 1.2.840.10045.3.1.1
    EC_CURVE_P256 = 7,  // 1.2.840.10045.3.1.7
    EC_CURVE_P224 = 33, // 1.3.132.0.33
    EC_CURVE_P384 = 34, // 1.3.132.0.34
    EC_CURVE_P521 = 35, // 1.3.132.0.35
};

struct ECKey {
    uint32_t privateKey; // 1 when k holds the private scalar
    uint8_t curveId;
    VLONG *x, *y;        // public point
    VLONG *k;            // private scalar, 0 < k < p (zero for a public key)
};

// Byte length of a field element of the curve; 0 for an unknown curve id.
uint32_t EC_fieldLength(uint8_t curveId);

// Makes the holder an EC key on the curve with the point 04 | x | y (the hybrid forms 06 | x | y
// and 07 | x | y are taken when their first byte names the parity of y) and, when scalar is
// not null, the private scalar. Status order: -6001 null holder or point, -9802 unknown curve,
// -9702 point length not 2 x field length + 1, -9703 first byte, -6011 a coordinate not below
// p or a point off the curve, -9803 a scalar that is zero or not below p. On success the
// holder's previous key is released; on failure the holder is left as it was.
MSTATUS EC_setKey(KeyHolder *holder, uint8_t curveId, const uint8_t *point, uint32_t pointLength,
                  const uint8_t *scalar, uint32_t scalarLength);
// Releases the record and its numbers; *ref becomes null.
MSTATUS EC_freeKey(ECKey **ref);
// Deep copy.
MSTATUS EC_cloneKey(ECKey **out, const ECKey *source);
