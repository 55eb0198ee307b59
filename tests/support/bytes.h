// Byte strings for the unit tests: from and to hex text, joined, and the DER and big-endian
// pieces the crypto and image tests build their inputs from. Header only; used by the
// crypto, image and board tests.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// "30 03 02 01 05" -> bytes; blanks are skipped and an odd digit count gets a leading 0.
inline Bytes hexBytes(const std::string &text)
{
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            digits += c;
    if (digits.size() % 2)
        digits.insert(digits.begin(), '0');
    Bytes out(digits.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint8_t(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    return out;
}

// Lower-case hex of n bytes.
inline std::string bytesHex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline std::string bytesHex(const Bytes &b)
{
    return bytesHex(b.data(), b.size());
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// DER element: identifier octet, definite length (short form, or the fewest long-form
// octets), content.
inline Bytes tlv(uint8_t tag, const Bytes &content)
{
    Bytes out{tag};
    size_t n = content.size();
    if (n < 0x80) {
        out.push_back(uint8_t(n));
    } else {
        Bytes octets;
        for (size_t v = n; v; v >>= 8)
            octets.insert(octets.begin(), uint8_t(v));
        out.push_back(uint8_t(0x80 | octets.size()));
        out.insert(out.end(), octets.begin(), octets.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
