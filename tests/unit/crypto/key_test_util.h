// Helpers of the key reader tests: an owning key holder, conversions that hand back the blob
// as bytes, and the bytes of a big integer.
#pragma once

#include "crypto/keys/key_holder.h"
#include "tests/unit/crypto/rsa_test_util.h"

#include <gtest/gtest.h>

#include "crypto/bigint/vlong.h"

#include <string>

struct HeldKey {
    KeyHolder h{KEY_TYPE_EMPTY, nullptr};
    HeldKey() = default;
    HeldKey(const HeldKey &) = delete;
    ~HeldKey() { EXPECT_EQ(OK, CA_MGMT_freeKey(&h)); }
    template <typename T>
    T *as() const { return static_cast<T *>(h.key); }
};

struct Converted {
    MSTATUS status;
    Bytes blob;
};

// A conversion (CA_MGMT_pemToKeyBlob or CA_MGMT_derToKeyBlob) with the blob copied out.
template <typename Convert>
Converted convertKey(Convert convert, const Bytes &input)
{
    uint8_t *blob = nullptr;
    uint32_t length = 0;
    Converted r{convert(input.data(), uint32_t(input.size()), &blob, &length), {}};
    if (r.status == OK) {
        r.blob.assign(blob, blob + length);
        EXPECT_EQ(OK, CA_MGMT_freeKeyBlob(&blob, length));
        EXPECT_EQ(nullptr, blob);
    }
    return r;
}

inline Converted pemToBlob(const std::string &text)
{
    return convertKey(CA_MGMT_pemToKeyBlob, Bytes(text.begin(), text.end()));
}

inline Converted derToBlob(const Bytes &der)
{
    return convertKey(CA_MGMT_derToKeyBlob, der);
}

// The holder's key written as a blob again.
inline Bytes blobOf(const KeyHolder &h)
{
    uint8_t *blob = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(OK, CA_MGMT_keyToKeyBlob(&h, &blob, &length));
    Bytes out(blob, blob + length);
    CA_MGMT_freeKeyBlob(&blob, length);
    return out;
}

// Big-endian bytes of v, left-padded with zeros to `size` (0: the minimal length).
inline Bytes numberBytes(const VLONG *v, size_t size = 0)
{
    int32_t length = 0;
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(v, nullptr, &length));
    if (size)
        length = int32_t(size);
    Bytes out(size_t(length), 0);
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(v, out.data(), &length));
    return out;
}

inline Bytes be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// The blob the library writes for a public RSA key: 12 + 10 + length(e) + length(n) bytes.
inline Bytes rsaPublicBlob(const Bytes &e, const Bytes &n)
{
    return cat({be32(0), be32(1), be32(KEY_TYPE_RSA), {0x01, 0x00}, be32(uint32_t(e.size())), e,
                be32(uint32_t(n.size())), n});
}

// The blob of an EC key: curve id, the uncompressed point and the scalar (zeros: public).
inline Bytes ecBlob(uint8_t curveId, const Bytes &point, const Bytes &scalar)
{
    return cat({be32(0), be32(1), be32(KEY_TYPE_EC), be32(curveId), be32(uint32_t(point.size())), point,
                be32(uint32_t(scalar.size())), scalar});
}
