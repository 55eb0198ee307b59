// Helpers of the key reader tests: an owning key holder, PEM or DER to blob bytes, blob
// builders and the bytes of a big integer.
#pragma once

#include "crypto/bigint/vlong.h"
#include "crypto/keys/key_holder.h"
#include "tests/unit/crypto/rsa_test_util.h"

#include <gtest/gtest.h>

#include <string>

struct HeldKey {
    KeyHolder h{KEY_TYPE_EMPTY, nullptr};
    ~HeldKey() { EXPECT_EQ(OK, CA_MGMT_freeKey(&h)); }
    template <typename T>
    T *as() const { return static_cast<T *>(h.key); }
};

struct Converted {
    MSTATUS status;
    Bytes blob;
};

// CA_MGMT_pemToKeyBlob or CA_MGMT_derToKeyBlob, the blob copied out and released.
inline Converted toBlob(bool pem, const Bytes &input)
{
    uint8_t *blob = nullptr;
    uint32_t length = 0;
    auto convert = pem ? CA_MGMT_pemToKeyBlob : CA_MGMT_derToKeyBlob;
    Converted r{convert(input.data(), uint32_t(input.size()), &blob, &length), {}};
    if (r.status == OK) {
        r.blob.assign(blob, blob + length);
        EXPECT_EQ(OK, CA_MGMT_freeKeyBlob(&blob, length));
    }
    return r;
}
inline Converted pemToBlob(const std::string &text) { return toBlob(true, Bytes(text.begin(), text.end())); }
inline Converted derToBlob(const Bytes &der) { return toBlob(false, der); }

inline Bytes blobOf(const KeyHolder &h)
{
    uint8_t *blob = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(OK, CA_MGMT_keyToKeyBlob(&h, &blob, &length));
    Bytes out(blob, blob + length);
    CA_MGMT_freeKeyBlob(&blob, length);
    return out;
}

inline Bytes numberBytes(const VLONG *v)
{
    int32_t length = 0;
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(v, nullptr, &length));
    Bytes out(size_t(length), 0);
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(v, out.data(), &length));
    return out;
}

// Blob of a public RSA key: 12 + 10 + length(e) + length(n) bytes.
inline Bytes rsaPublicBlob(const Bytes &e, const Bytes &n)
{
    return cat({be32(0), be32(1), be32(KEY_TYPE_RSA), {0x01, 0x00}, be32(uint32_t(e.size())), e,
                be32(uint32_t(n.size())), n});
}

// Blob of an EC key (an all-zero scalar for a public key).
inline Bytes ecBlob(uint8_t curveId, const Bytes &point, const Bytes &scalar)
{
    return cat({be32(0), be32(1), be32(KEY_TYPE_EC), be32(curveId), be32(uint32_t(point.size())), point,
                be32(uint32_t(scalar.size())), scalar});
}
