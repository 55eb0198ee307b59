// Test helpers for the big-integer tests: an owning VLONG holder and hex conversions.
#pragma once

#include "crypto/bigint/vlong.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Owns one VLONG, freed (without a queue) when it goes out of scope.
struct Vl {
    VLONG *v = nullptr;
    Vl() = default;
    explicit Vl(VLONG *p) : v(p) {}
    Vl(const Vl &) = delete;
    Vl &operator=(const Vl &) = delete;
    ~Vl()
    {
        if (v)
            VLONG_freeVlong(&v, nullptr);
    }
    VLONG *operator->() const { return v; }
    operator VLONG *() const { return v; }
    VLONG **out()
    {
        if (v)
            VLONG_freeVlong(&v, nullptr);
        return &v;
    }
};

inline std::vector<uint8_t> hexBytes(const std::string &hex)
{
    std::string h = hex.size() % 2 ? "0" + hex : hex;
    std::vector<uint8_t> out(h.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint8_t(std::stoul(h.substr(2 * i, 2), nullptr, 16));
    return out;
}

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

// New value from hex digits; a leading '-' makes it negative.
inline VLONG *vlHex(const std::string &hex)
{
    bool neg = !hex.empty() && hex[0] == '-';
    std::vector<uint8_t> b = hexBytes(neg ? hex.substr(1) : hex);
    VLONG *v = nullptr;
    EXPECT_EQ(OK, VLONG_vlongFromByteString(b.data(), int32_t(b.size()), &v, nullptr));
    if (v && neg && v->used)
        v->negative = 1;
    return v;
}

// Minimal lower-case hex of a value ("0" for zero, '-' for negatives).
inline std::string hexOf(const VLONG *v)
{
    int32_t len = 0;
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(v, nullptr, &len));
    std::vector<uint8_t> b(size_t(len) + 1);
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(v, b.data(), &len));
    std::string s = bytesHex(b.data(), size_t(len));
    size_t nz = s.find_first_not_of('0');
    s = nz == std::string::npos ? "0" : s.substr(nz);
    return (v->negative && v->used ? "-" : "") + s;
}

// Checks the representation invariant: no zero top unit, no negative zero, used <= capacity.
inline void expectNormalised(const VLONG *v)
{
    ASSERT_LE(v->used, v->capacity);
    if (v->used) {
        EXPECT_NE(0u, v->units[v->used - 1]);
    } else {
        EXPECT_EQ(0u, v->negative);
    }
}
