// Test helpers for the big-integer tests: an owning VLONG holder and hex conversions of values.
#pragma once

#include "crypto/bigint/vlong.h"
#include "tests/support/bytes.h"

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

// New value 0, with room to take results.
inline VLONG *newVlong()
{
    VLONG *v = nullptr;
    EXPECT_EQ(OK, VLONG_allocVlong(&v, nullptr));
    return v;
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
