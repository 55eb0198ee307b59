// Edge-case tests of the big integers (tables in tests/data/vlong_cases.txt). They use no oracle, so they also run on the
// big-endian target, where they catch byte-order faults in the conversions; values of every
// size are compared with OpenSSL in vlong_oracle_test.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"
#include "tests/unit/crypto/vector_file.h"
#include "tests/unit/crypto/vlong_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<VectorRecord> cases(const char *section)
{
    return data_section("vlong_cases.txt", section);
}

MSTATUS statusNamed(const std::string &name)
{
    const std::pair<const char *, MSTATUS> names[] = {{"OK", OK}, {"ERR_BAD_MODULO", ERR_BAD_MODULO},
                                                      {"ERR_NO_INVERSE", ERR_NO_INVERSE},
                                                      {"ERR_DIVIDE_BY_ZERO", ERR_DIVIDE_BY_ZERO}};
    for (const auto &[text, status] : names)
        if (name == text)
            return status;
    ADD_FAILURE() << "unknown status " << name;
    return OK;
}

TEST(Vlong, ByteStringConversionsRoundTripAndPadOnTheLeft)
{
    for (const VectorRecord &c : cases("bytestring")) {
        const std::string &hex = *c.get("In"), &minimalHex = *c.get("Minimal");
        std::vector<uint8_t> in = hexBytes(hex);
        Vl v;
        ASSERT_EQ(OK, VLONG_vlongFromByteString(in.data(), int32_t(in.size()), v.out(), nullptr));
        EXPECT_EQ(std::stoul(*c.get("Used")), v->used) << hex;
        EXPECT_EQ(0u, v->negative);
        int32_t len = -1;
        ASSERT_EQ(OK, VLONG_byteStringFromVlong(v, nullptr, &len));
        std::vector<uint8_t> minimal = hexBytes(minimalHex);
        ASSERT_EQ(int32_t(minimal.size()), len) << hex;
        std::vector<uint8_t> out(size_t(len) + 3, 0xAA);
        int32_t size = len + 3;
        ASSERT_EQ(OK, VLONG_byteStringFromVlong(v, out.data(), &size));
        EXPECT_EQ(len + 3, size) << "the length is left as the buffer size";
        EXPECT_EQ("000000" + minimalHex, bytesHex(out.data(), out.size()));
    }
    // More than 8192 significant units are refused; leading zeros do not count.
    std::vector<uint8_t> big(4 * (VLONG_MAX_UNITS + 1), 0);
    big[3] = 1;
    Vl w;
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_vlongFromByteString(big.data(), int32_t(big.size()), w.out(), nullptr));
    EXPECT_EQ(OK, VLONG_vlongFromByteString(big.data() + 4, int32_t(big.size() - 4), w.out(), nullptr));
    Vl v(vlHex("0100")); // a buffer too short is refused, nothing written
    uint8_t one = 0xAA;
    int32_t size = 1;
    EXPECT_EQ(ERR_BUFFER_OVERFLOW, VLONG_byteStringFromVlong(v, &one, &size));
    EXPECT_EQ(0xAA, one);
}

TEST(Vlong, ComparisonsFollowSignAndMagnitude)
{
    for (const VectorRecord &c : cases("compare")) {
        const std::string &x = *c.get("A"), &y = *c.get("B");
        Vl a(vlHex(x)), b(vlHex(y));
        EXPECT_EQ(std::stoi(*c.get("Magnitude")), VLONG_compareMagnitude(a, b)) << x << " vs " << y;
        EXPECT_EQ(std::stoi(*c.get("Sign")), VLONG_compareSigned(a, b)) << x << " vs " << y;
    }
}

// Carries and borrows that run through every unit, which random operands almost never give.
TEST(Vlong, CarriesAndBorrowsRunThroughEveryUnit)
{
    Vl x(vlHex("ffffffffffffffffffffffffffffffff")), one(vlHex("1"));
    ASSERT_EQ(OK, VLONG_add(x, one));
    EXPECT_EQ("100000000000000000000000000000000", hexOf(x));
    ASSERT_EQ(OK, VLONG_subtract(x, one));
    EXPECT_EQ("ffffffffffffffffffffffffffffffff", hexOf(x));
}

// Division edge cases; quotients and remainders of every size are compared with OpenSSL in
// vlong_oracle_test and reached through RSA on the target by rsa_cavp_test.
TEST(Vlong, DivisionEdgeCases)
{
    Vl m(vlHex("cb21c8eaee95715bd6fa4161293c4c2e")), q(newVlong()), r(newVlong());
    Vl small(vlHex("-1234")), zero(vlHex("0"));
    ASSERT_EQ(OK, VLONG_divide(q, small, m, r, nullptr)); // below the divisor: 0 rem |dividend|
    EXPECT_TRUE(VLONG_isZero(q));
    EXPECT_EQ("1234", hexOf(r));
    EXPECT_EQ(ERR_DIVIDE_BY_ZERO, VLONG_divide(q, m, zero, r, nullptr));
}

TEST(Vlong, ModexpEdgeCases)
{
    for (const VectorRecord &c : cases("modexp")) {
        const std::string where = *c.get("X") + "^" + *c.get("E") + " mod " + *c.get("N");
        Vl x(vlHex(*c.get("X"))), e(vlHex(*c.get("E"))), n(vlHex(*c.get("N"))), r;
        EXPECT_EQ(statusNamed(*c.get("Status")), VLONG_modexp(x, e, n, r.out(), nullptr)) << where;
        if (const std::string *result = c.get("Result")) {
            ASSERT_NE(nullptr, r.v) << where;
            EXPECT_EQ(*result, hexOf(r)) << where;
        }
    }
}

// Inverses of 1024- to 2048-bit numbers are compared with OpenSSL through the CRT completion
// of keys_oracle_test.
TEST(Vlong, ModularInverseEdgeCases)
{
    for (const VectorRecord &c : cases("inverse")) {
        const std::string where = *c.get("A") + " mod " + *c.get("M");
        Vl a(vlHex(*c.get("A"))), m(vlHex(*c.get("M"))), r;
        EXPECT_EQ(statusNamed(*c.get("Status")), VLONG_modularInverse(a, m, r.out(), nullptr)) << where;
        if (const std::string *inverse = c.get("Inverse"))
            EXPECT_EQ(*inverse, hexOf(r)) << where;
        else
            EXPECT_EQ(nullptr, r.v) << where;
    }
}

TEST(Vlong, MontgomeryByteFormAndItsRefusals)
{
    Vl n(vlHex("c5"));
    MontgomeryContext *ctx = nullptr;
    ASSERT_EQ(OK, VLONG_createMontgomeryContext(&ctx, n, nullptr));
    EXPECT_EQ(8u, ctx->k);
    uint32_t len = 0;
    ASSERT_EQ(OK, VLONG_writeMontgomeryContext(ctx, nullptr, &len));
    std::vector<uint8_t> form(len);
    // R = 0x100, Rinv = 0x100^-1 mod 0xc5, n = 0xc5, nPrime = -0xc5^-1 mod 0x100
    ASSERT_EQ(OK, VLONG_writeMontgomeryContext(ctx, form.data(), &len));
    EXPECT_EQ("0100000008" "00000002" "0100" "00000001" "bb" "00000001" "c5" "00000001" "f3",
              bytesHex(form.data(), form.size()));
    uint32_t shortLen = len - 1;
    EXPECT_EQ(ERR_BUFFER_OVERFLOW, VLONG_writeMontgomeryContext(ctx, form.data(), &shortLen));

    MontgomeryContext *back = nullptr;
    std::vector<uint8_t> bad = form;
    bad[0] = 2;
    EXPECT_EQ(ERR_KEYBLOB_VERSION, VLONG_readMontgomeryContext(bad.data(), len, &back, nullptr));
    bad = form;
    bad[19] = 0xc4; // even modulus
    EXPECT_EQ(ERR_KEYBLOB_MALFORMED, VLONG_readMontgomeryContext(bad.data(), len, &back, nullptr));
    EXPECT_EQ(nullptr, back);
    ASSERT_EQ(OK, VLONG_readMontgomeryContext(form.data(), len, &back, nullptr));
    VLONG_freeMontgomeryContext(&back, nullptr);
    VLONG_freeMontgomeryContext(&ctx, nullptr);

    Vl even(vlHex("c4"));
    EXPECT_EQ(ERR_BAD_MODULO, VLONG_createMontgomeryContext(&ctx, even, nullptr));
}

// Odd factors of the given unit counts from a fixed generator; `top` sets the top bit of
// their top units (so that n = p*q fills whole units and mu = b^k + mu').
void makeFactors(size_t pUnits, size_t qUnits, bool top, uint32_t seed, Vl &p, Vl &q)
{
    uint32_t state = seed;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (auto [v, units] : {std::pair<Vl *, size_t>{&p, pUnits}, {&q, qUnits}}) {
        std::vector<uint8_t> bytes(4 * units);
        for (uint8_t &b : bytes)
            b = uint8_t(next());
        bytes[0] = top ? uint8_t(bytes[0] | 0x80) : uint8_t((bytes[0] & 0x3F) | 0x20);
        bytes.back() |= 1;
        ASSERT_EQ(OK, VLONG_vlongFromByteString(bytes.data(), int32_t(bytes.size()), v->out(), nullptr));
    }
}

// Products that are multiples of n reduce to 0, not to n: the final corrections of Barrett
// and Montgomery must subtract n when the value equals n. (n - 1)^2 gives 1 and, through
// REDC, R^-1 mod n: results below n whatever the reduction left before its last step.
TEST(Vlong, ReductionsOfMultiplesOfNGiveZero)
{
    struct Shape {
        size_t pUnits, qUnits;
        bool top;
    } shapes[] = {{1, 1, true}, {1, 1, false}, {4, 4, true}, {3, 5, false}, {8, 8, true},
                  {8, 8, false}, {32, 32, true}, {32, 32, false}, {64, 64, true}};
    uint32_t seed = 7;
    for (const Shape &s : shapes) {
        for (int round = 0; round < 4; ++round) {
            Vl p, q, n(newVlong()), mu, r(newVlong()), nMinus1, one(vlHex("1")), three(vlHex("3")), threeP(newVlong());
            makeFactors(s.pUnits, s.qUnits, s.top, seed++, p, q);
            ASSERT_EQ(OK, VLONG_multiply(n, p, q, VLONG_bitLength(p) + VLONG_bitLength(q)));
            ASSERT_EQ(OK, VLONG_multiply(threeP, p, three, VLONG_bitLength(p) + 2));
            ASSERT_EQ(OK, VLONG_makeCopy(n, nMinus1.out(), nullptr));
            ASSERT_EQ(OK, VLONG_decrement(nMinus1));
            ASSERT_EQ(OK, VLONG_barrettMu(mu.out(), n, nullptr));
            const std::string where = "units " + std::to_string(n->used) + " round " + std::to_string(round);

            const std::pair<VLONG *, VLONG *> multiples[] = {{p, q}, {q, p}, {n, one}, {threeP, q}};
            for (auto [a, b] : multiples) {
                ASSERT_EQ(OK, VLONG_barrettMultiply(r, a, b, n, mu, nullptr));
                EXPECT_EQ("0", hexOf(r)) << "Barrett, " << where;
            }
            ASSERT_EQ(OK, VLONG_barrettMultiply(r, nMinus1, nMinus1, n, mu, nullptr));
            EXPECT_EQ("1", hexOf(r)) << "Barrett (n-1)^2, " << where;

            MontgomeryContext *ctx = nullptr;
            ASSERT_EQ(OK, VLONG_createMontgomeryContext(&ctx, n, nullptr));
            Vl x;
            for (auto [a, b] : multiples) {
                ASSERT_EQ(OK, VLONG_makeCopy(a, x.out(), nullptr));
                ASSERT_EQ(OK, VLONG_montgomeryMultiply(ctx, x, b));
                EXPECT_EQ("0", hexOf(x)) << "Montgomery, " << where;
            }
            ASSERT_EQ(OK, VLONG_makeCopy(n, x.out(), nullptr));
            ASSERT_EQ(OK, VLONG_montgomerySquare(ctx, x));
            EXPECT_EQ("0", hexOf(x)) << "Montgomery n^2, " << where;
            ASSERT_EQ(OK, VLONG_makeCopy(nMinus1, x.out(), nullptr));
            ASSERT_EQ(OK, VLONG_montgomerySquare(ctx, x));
            EXPECT_EQ(hexOf(ctx->Rinv), hexOf(x)) << "Montgomery (n-1)^2, " << where;
            VLONG_freeMontgomeryContext(&ctx, nullptr);
        }
    }
}

} // namespace
