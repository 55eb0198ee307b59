// Builders for RSA signature tests: DigestInfos, PKCS#1 v1.5 type-1 blocks, and the table of
// crafted blocks that the plain and the OpenSSL-oracle RSA tests both sign and check.
#pragma once

#include "crypto/common/status.h"
#include "tests/support/bytes.h"

#include <vector>

namespace oid {
inline const Bytes MD2{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x02};
inline const Bytes MD4{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x04};
inline const Bytes SHA1{0x2B, 0x0E, 0x03, 0x02, 0x1A};
inline const Bytes SHA1_OIW_RSA{0x2B, 0x0E, 0x03, 0x02, 0x1D};
inline const Bytes SHA256{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
inline const Bytes SHA224{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04};
inline const Bytes NIST_ARC_5{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x05};
inline const Bytes UNKNOWN{0x2A, 0x03, 0x04};
} // namespace oid

// Digest bytes 0x01, 0x02, ... of the given length.
inline Bytes digestOf(size_t length)
{
    Bytes d(length);
    for (size_t i = 0; i < length; ++i)
        d[i] = uint8_t(i + 1);
    return d;
}

// SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING digest }
inline Bytes digestInfo(const Bytes &algorithm, const Bytes &digest, bool withNull = true)
{
    Bytes algId = tlv(0x30, cat({tlv(0x06, algorithm), withNull ? Bytes{0x05, 0x00} : Bytes{}}));
    return tlv(0x30, cat({algId, tlv(0x04, digest)}));
}

// 00 01 FF .. FF 00 || data, k bytes in all.
inline Bytes type1Block(size_t k, const Bytes &data)
{
    Bytes block{0x00, 0x01};
    block.insert(block.end(), k - 3 - data.size(), 0xFF);
    block.push_back(0x00);
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

struct BlockCase {
    const char *name;
    Bytes block;
    MSTATUS status; // of RSA_verifyDigestInfo
};

// Blocks of k bytes around the SHA-256 DigestInfo of digestOf(32): the padding rules as the
// check applies them (its lenient ones included) and DigestInfos that must not pass.
inline std::vector<BlockCase> blockCases(size_t k)
{
    const Bytes info = digestInfo(oid::SHA256, digestOf(32)), good = type1Block(k, info);
    auto with = [&](size_t index, uint8_t value) {
        Bytes b = good;
        b[index] = value;
        return b;
    };
    auto fill = [&](size_t count, const Bytes &data) { // 00 01 FF*count 00 data, then 00 bytes
        Bytes b = cat({{0x00, 0x01}, Bytes(count, 0xFF), {0x00}, data});
        b.resize(k, 0x00);
        return b;
    };
    return {
        {"well formed", good, OK},
        {"block type 2", with(1, 0x02), ERR_RSA_BAD_PADDING},
        {"leading 00 00", with(1, 0x00), ERR_RSA_BAD_PADDING},
        {"01 in front, second byte not examined", with(0, 0x01), OK},
        {"01 in front with 7f after it", cat({{0x01, 0x7F}, Bytes(good.begin() + 2, good.end())}), OK},
        {"padding not starting with FF", with(2, 0x00), ERR_RSA_BAD_PADDING},
        {"FE inside the padding", with(20, 0xFE), ERR_RSA_BAD_PADDING},
        {"seven FF", fill(7, info), ERR_RSA_BAD_PADDING},
        {"no separator: unpads to nothing, then no DigestInfo", cat({{0x00, 0x01}, Bytes(k - 2, 0xFF)}), ERR_DER_EMPTY},
        {"separator as the last byte", cat({{0x00, 0x01}, Bytes(k - 3, 0xFF), {0x00}}), ERR_DER_EMPTY},
        {"trailing byte after the DigestInfo", type1Block(k, cat({info, {0x00}})), ERR_STRUCTURE},
        {"DigestInfo moved left (garbage after it)", fill(k - 3 - info.size() - 4, info), ERR_STRUCTURE},
        {"SHA-1 naming a 32-byte digest", type1Block(k, digestInfo(oid::SHA1, digestOf(32))), ERR_BAD_SIGNATURE_LENGTH},
        {"unknown algorithm", type1Block(k, digestInfo(oid::UNKNOWN, digestOf(32))), ERR_ALGORITHM_UNKNOWN},
    };
}
