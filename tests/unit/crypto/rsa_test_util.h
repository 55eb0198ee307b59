// Builders for RSA signature tests: DER pieces, DigestInfos and PKCS#1 v1.5 type-1 blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// DER element: tag, definite length (short or long form), content.
inline Bytes tlv(uint8_t tag, const Bytes &content)
{
    Bytes out{tag};
    size_t n = content.size();
    if (n < 0x80) {
        out.push_back(uint8_t(n));
    } else if (n < 0x100) {
        out.push_back(0x81);
        out.push_back(uint8_t(n));
    } else {
        out.push_back(0x82);
        out.push_back(uint8_t(n >> 8));
        out.push_back(uint8_t(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

namespace oid {
inline const Bytes MD2{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x02};
inline const Bytes MD4{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x04};
inline const Bytes MD5{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
inline const Bytes SHA1{0x2B, 0x0E, 0x03, 0x02, 0x1A};
inline const Bytes SHA1_OIW_RSA{0x2B, 0x0E, 0x03, 0x02, 0x1D};
inline const Bytes SHA256{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
inline const Bytes SHA384{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
inline const Bytes SHA512{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};
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
