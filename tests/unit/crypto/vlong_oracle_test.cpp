// Differential tests of the big integers against OpenSSL's BIGNUM on random operands,
// shaped to reach every multiplication, division and exponentiation path.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"
#include "tests/unit/crypto/vlong_test_util.h"

#include <openssl/bn.h>

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace {

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

BnPtr newBn()
{
    return BnPtr(BN_new(), &BN_free);
}

BnPtr toBn(const VLONG *v)
{
    int32_t len = 0;
    VLONG_byteStringFromVlong(v, nullptr, &len);
    std::vector<uint8_t> b(size_t(len) + 1);
    VLONG_byteStringFromVlong(v, b.data(), &len);
    BnPtr bn(BN_bin2bn(b.data(), len, nullptr), &BN_free);
    BN_set_negative(bn.get(), v->negative && v->used);
    return bn;
}

std::string bnHex(const BIGNUM *b)
{
    char *s = BN_bn2hex(b);
    std::string out(s);
    OPENSSL_free(s);
    return out;
}

// v equals b and is normalised.
::testing::AssertionResult same(const VLONG *v, const BIGNUM *b)
{
    BnPtr got = toBn(v);
    if (BN_cmp(got.get(), b) != 0)
        return ::testing::AssertionFailure() << "got " << bnHex(got.get()) << "\nwant " << bnHex(b);
    if (v->used > v->capacity || (v->used && v->units[v->used - 1] == 0) || (!v->used && v->negative))
        return ::testing::AssertionFailure() << "value not normalised";
    return ::testing::AssertionSuccess();
}

#define EXPECT_SAME(v, b) EXPECT_TRUE(same((v), (b)))

struct Rng {
    std::mt19937_64 gen;
    explicit Rng(uint64_t seed) : gen(seed) {}
    uint32_t unit() { return uint32_t(gen()); }
    // Random value of exactly `units` units (top unit non-zero); odd when asked.
    VLONG *value(uint32_t units, bool odd = false, bool negative = false)
    {
        VLONG *v = nullptr;
        EXPECT_EQ(OK, VLONG_allocVlong(&v, nullptr));
        for (uint32_t i = 0; i < units; ++i) {
            uint32_t u = unit();
            if (i + 1 == units && u == 0)
                u = 1;
            if (i == 0 && odd)
                u |= 1;
            VLONG_setUnit(v, i, u);
        }
        v->negative = negative && v->used ? 1 : 0;
        return v;
    }
};

struct BnCtx {
    BN_CTX *ctx = BN_CTX_new();
    ~BnCtx() { BN_CTX_free(ctx); }
};

// VLONG_divide, which works on magnitudes, against BN_div.
void expectDivide(const VLONG *a, const VLONG *m, BN_CTX *ctx, const std::string &where)
{
    BnPtr A = toBn(a), M = toBn(m), q = newBn(), r = newBn();
    BN_set_negative(A.get(), 0);
    BN_set_negative(M.get(), 0);
    BN_div(q.get(), r.get(), A.get(), M.get(), ctx);
    Vl vq(newVlong()), vr(newVlong());
    ASSERT_EQ(OK, VLONG_divide(vq, a, m, vr, nullptr));
    EXPECT_SAME(vq, q.get()) << where;
    EXPECT_SAME(vr, r.get()) << where;
}

// Every multiplication path: 8-unit kernel, Karatsuba at 16..128 units, schoolbook for unequal
// or odd sizes (operands with equal halves, which make the middle product zero: the all-ones
// rows of the next test). (Truncated
// products are reached through the Barrett reduction below, which takes them mod b^(k+1).)
TEST(VlongOracle, MultiplyAndSquareMatchOnEveryPath)
{
    Rng rng(2);
    BnCtx bc;
    const uint32_t sizes[][2] = {{8, 8},   {16, 16}, {32, 32}, {64, 64}, {128, 128}, {1, 1},
                                 {7, 9},   {9, 9},   {24, 24}, {65, 64}, {64, 65},   {1, 100},
                                 {100, 3}, {48, 48}, {8, 16},  {16, 8}};
    for (auto [an, bn] : sizes) {
        for (int round = 0; round < 16; ++round) {
            Vl a(rng.value(an)), b(rng.value(bn));
            BnPtr A = toBn(a), B = toBn(b), prod = newBn(), sq = newBn();
            BN_mul(prod.get(), A.get(), B.get(), bc.ctx);
            BN_sqr(sq.get(), A.get(), bc.ctx);
            Vl r(newVlong());
            ASSERT_EQ(OK, VLONG_multiply(r, a, b, VLONG_bitLength(a) + VLONG_bitLength(b)));
            EXPECT_SAME(r, prod.get()) << an << "x" << bn << " round " << round;
            ASSERT_EQ(OK, VLONG_square(r, a, 2 * VLONG_bitLength(a)));
            EXPECT_SAME(r, sq.get()) << an << " squared, round " << round;
            Vl inPlace; // the result may be an operand
            ASSERT_EQ(OK, VLONG_makeCopy(a, inPlace.out(), nullptr));
            ASSERT_EQ(OK, VLONG_multiply(inPlace, inPlace, b, VLONG_bitLength(a) + VLONG_bitLength(b)));
            EXPECT_SAME(inPlace, prod.get()) << an << "x" << bn << " in place";
            ASSERT_EQ(OK, VLONG_makeCopy(a, inPlace.out(), nullptr));
            ASSERT_EQ(OK, VLONG_square(inPlace, inPlace, 2 * VLONG_bitLength(a)));
            EXPECT_SAME(inPlace, sq.get()) << an << " squared in place";
            // The same value passed twice takes the squaring kernel.
            Vl copy;
            ASSERT_EQ(OK, VLONG_makeCopy(a, copy.out(), nullptr));
            ASSERT_EQ(OK, VLONG_multiply(r, a, copy, 2 * VLONG_bitLength(a)));
            EXPECT_SAME(r, sq.get());
        }
    }
}

TEST(VlongOracle, KaratsubaAgreesWithSchoolbookIncludingAllOnesOperands)
{
    // All-ones operands maximise every carry of the Karatsuba combination step. The RSA sizes
    // up to 128 units have their own fixed-size square; 256 takes the general recursion.
    for (uint32_t n : {16u, 32u, 64u, 128u, 256u}) {
        std::vector<uint32_t> a(n, 0xFFFFFFFFu), b(n, 0xFFFFFFFFu), viaKaratsuba(2 * n), viaSchool(2 * n);
        std::vector<uint32_t> scratch(4 * n);
        Rng rng(n);
        for (int variant = 0; variant < 5; ++variant) {
            if (variant == 1)
                a[n / 2] = 0; // halves differ in one unit
            if (variant == 2)
                b[0] = 1;
            if (variant >= 3) // random operands, with low half below the high half and above it
                for (uint32_t i = 0; i < n; ++i) {
                    a[i] = rng.unit();
                    b[i] = rng.unit();
                }
            if (variant == 4)
                std::swap(a[n / 2 - 1], a[n - 1]);
            units_karatsuba(viaKaratsuba.data(), a.data(), b.data(), n, scratch.data());
            units_mulLow(viaSchool.data(), a.data(), n, b.data(), n, 2 * n);
            EXPECT_EQ(viaSchool, viaKaratsuba) << n << " units, variant " << variant;
            units_karatsubaSquare(viaKaratsuba.data(), a.data(), n, scratch.data());
            units_sqrLow(viaSchool.data(), a.data(), n, 2 * n);
            EXPECT_EQ(viaSchool, viaKaratsuba) << n << " units squared, variant " << variant;
        }
    }
}

TEST(VlongOracle, DivideModAndQuotientMatchWithSigns)
{
    Rng rng(3);
    BnCtx bc;
    const uint32_t sizes[][2] = {{1, 1}, {2, 1}, {9, 1}, {2, 2}, {5, 3}, {64, 33}, {129, 64}, {130, 65}, {3, 7}};
    for (auto [an, bn] : sizes) {
        for (int signs = 0; signs < 4; ++signs) {
            Vl a(rng.value(an, false, signs & 1)), m(rng.value(bn, false, signs & 2));
            BnPtr A = toBn(a), M = toBn(m), q = newBn(), r = newBn();
            BN_div(q.get(), r.get(), A.get(), M.get(), bc.ctx); // truncating, like ours
            Vl vq, vr;
            ASSERT_EQ(OK, VLONG_quotient(a, m, vq.out(), nullptr));
            EXPECT_SAME(vq, q.get()) << an << "/" << bn;
            ASSERT_EQ(OK, VLONG_mod(a, m, vr.out(), nullptr));
            EXPECT_SAME(vr, r.get()) << an << "%" << bn;
            expectDivide(a, m, bc.ctx, std::to_string(an) + " units by " + std::to_string(bn));
        }
    }
}

// Dividends and divisors made of all-ones units (with a few holes) keep the top remainder
// unit equal to the top divisor unit, the case where the quotient estimate starts at b - 1.
TEST(VlongOracle, DivisionWithEqualTopUnitsMatches)
{
    Rng rng(9);
    BnCtx bc;
    for (uint32_t n : {2u, 3u, 8u, 33u}) {
        for (int round = 0; round < 8; ++round) {
            Vl a(newVlong()), m(newVlong());
            for (uint32_t i = 0; i < 2 * n + 1; ++i)
                VLONG_setUnit(a, i, (rng.unit() % 4 == 0 && round) ? rng.unit() : 0xFFFFFFFFu);
            for (uint32_t i = 0; i < n; ++i)
                VLONG_setUnit(m, i, i + 1 == n ? 0xFFFFFFFFu - uint32_t(round % 2) : (round > 3 ? rng.unit() : 0u));
            expectDivide(a, m, bc.ctx, std::to_string(n) + " units, round " + std::to_string(round));
        }
    }
}

// Operands whose first quotient estimate is one too large even after the refinement with
// the second divisor unit, so the add-back correction runs.
TEST(VlongOracle, DivisionAddBackStepGivesTheRightQuotient)
{
    BnCtx bc;
    struct Case {
        const char *dividend, *divisor;
    } cases[] = {
        {"7fffffff800000000000000000000000", "800000000000000000000001"},
        {"7fffffff800000010000000000000000", "800000000000000100000001"},
        {"7fffffff80000000ffffffff00000000ffffffff", "8000000000000000fffffffe00000001"},
    };
    uint32_t totalAddBacks = 0;
    for (const Case &c : cases) {
        Vl a(vlHex(c.dividend)), m(vlHex(c.divisor));
        // Count the corrections on the raw kernel, then check the public result.
        size_t n = m->used, mm = a->used - n;
        std::vector<uint32_t> u(a->units, a->units + a->used), v(m->units, m->units + n), q(mm + 1);
        u.push_back(0);
        totalAddBacks += units_divide(q.data(), u.data(), mm, v.data(), n);
        EXPECT_EQ(std::vector<uint32_t>(m->units, m->units + n), v) << "divisor must be restored";
        expectDivide(a, m, bc.ctx, c.dividend);
    }
    EXPECT_GE(totalAddBacks, 1u);
}

// (Montgomery multiplication and squaring: the modexp test's Montgomery path below, for every
// window width, and vlong_test's reductions of multiples of n.)

// Moduli with and without the top bit set: mu = b^k + mu', whose top row is added rather than
// multiplied, or the plain product. Operands n - 1 (every carry live), below n, one above n
// and both far above it (reduced by division first); squaring in place; and a far too small
// mu (1, so q3 is 0 and r far above n), whose correction must fall back to division instead
// of running for up to b rounds.
TEST(VlongOracle, BarrettMultiplyMatchesForEveryShapeOfModulusAndOperand)
{
    Rng rng(5);
    BnCtx bc;
    for (uint32_t k : {1u, 2u, 8u, 9u, 33u, 64u, 128u}) {
        for (int top = 0; top < 2; ++top) {
            Vl n(rng.value(k)), mu, one(vlHex("1"));
            uint32_t t = VLONG_getUnit(n, k - 1);
            ASSERT_EQ(OK, VLONG_setUnit(n, k - 1, top ? (t | 0x80000000u) : ((t >> 1) | 1u)));
            ASSERT_EQ(OK, VLONG_barrettMu(mu.out(), n, nullptr));
            EXPECT_EQ(top == 1, VLONG_getUnit(mu, k) == 1) << "top unit of mu";
            BnPtr N = toBn(n);
            for (int round = 0; round < 10; ++round) {
                // 0: (n - 1)^2; 1-6: below n; 7: one operand above n; 8: both far above; 9: mu = 1
                Vl a(rng.value(round == 7 ? k + 1 : round == 8 ? 2 * k + 3 : k)), b(rng.value(round == 8 ? 2 * k : k));
                if (round == 0) {
                    ASSERT_EQ(OK, VLONG_makeCopy(n, a.out(), nullptr));
                    ASSERT_EQ(OK, VLONG_decrement(a));
                    ASSERT_EQ(OK, VLONG_makeCopy(a, b.out(), nullptr));
                }
                if (round < 7 || round == 9) {
                    ASSERT_EQ(OK, vlong_reduce(a, n, nullptr));
                    ASSERT_EQ(OK, vlong_reduce(b, n, nullptr));
                }
                const std::string where = std::to_string(k) + " units, top bit " + std::to_string(top) + ", round " +
                                          std::to_string(round);
                BnPtr A = toBn(a), B = toBn(b), want = newBn(), sq = newBn();
                BN_mod_mul(want.get(), A.get(), B.get(), N.get(), bc.ctx);
                BN_mod_mul(sq.get(), A.get(), A.get(), N.get(), bc.ctx);
                Vl r(newVlong());
                ASSERT_EQ(OK, VLONG_barrettMultiply(r, a, b, n, round == 9 ? one : mu, nullptr));
                EXPECT_SAME(r, want.get()) << where;
                ASSERT_EQ(OK, VLONG_barrettMultiply(a, a, a, n, mu, nullptr)); // in place, through one record
                EXPECT_SAME(a, sq.get()) << where << ", squared";
            }
        }
    }
}

TEST(VlongOracle, ModexpMatchesOnBothPathsAndEveryWindowWidth)
{
    Rng rng(7);
    BnCtx bc;
    struct Case {
        uint32_t modUnits, expUnits;
        bool oddModulus;
    } cases[] = {
        {64, 1, true},   // RSA public operation, Barrett
        {128, 1, true},  // 4096-bit RSA
        {64, 1, false},  // even modulus, Barrett
        {8, 13, true},   // longest exponent still on the Barrett path
        {16, 14, true},  // shortest exponent on the Montgomery path (window 5)
        {8, 24, true},   // window 6
        {4, 20, false},  // long exponent with an even modulus stays on Barrett
        {33, 13, false},
        {1, 2, true},
    };
    for (const Case &c : cases) {
        for (int round = 0; round < 5; ++round) {
            Vl n(rng.value(c.modUnits, c.oddModulus)), e(rng.value(c.expUnits)), mu;
            if (!c.oddModulus)
                VLONG_setUnit(n, 0, VLONG_getUnit(n, 0) & ~1u);
            // rounds 2 and 3: x above n (and wider than n); round 4: x = n, which gives 0
            Vl x(round == 4 ? nullptr : rng.value(round >= 2 ? c.modUnits + 2 : c.modUnits));
            if (round == 4) {
                ASSERT_EQ(OK, VLONG_makeCopy(n, x.out(), nullptr));
            }
            if (c.expUnits == 1)
                VLONG_setUnit(e, 0, round == 0 ? 65537 : 3);
            const std::string where = std::to_string(c.modUnits) + "-unit n, " + std::to_string(c.expUnits) +
                                      "-unit e, round " + std::to_string(round);
            BnPtr X = toBn(x), E = toBn(e), N = toBn(n), want = newBn();
            BN_mod_exp(want.get(), X.get(), E.get(), N.get(), bc.ctx);
            Vl r, viaMu;
            ASSERT_EQ(OK, VLONG_modexp(x, e, n, r.out(), nullptr));
            EXPECT_SAME(r, want.get()) << where;
            // The entry with a caller-computed mu (the RSA public operation): Barrett for any exponent.
            VLONG *queue = nullptr;
            ASSERT_EQ(OK, VLONG_barrettMu(mu.out(), n, nullptr));
            ASSERT_EQ(OK, VLONG_modexpBarrett(x, e, n, mu, viaMu.out(), &queue));
            EXPECT_SAME(viaMu, want.get()) << where << ", given mu";
            VLONG_freeVlongQueue(&queue);
        }
    }
    // The Montgomery window method itself, for exponents of every width class.
    for (uint32_t bits : {1u, 2u, 23u, 24u, 79u, 80u, 239u, 240u, 671u, 672u, 1000u}) {
        Vl n(rng.value(9, true)), x(rng.value(9)), e(newVlong());
        for (uint32_t i = 0; i + 1 < bits; ++i)
            if (rng.unit() & 1)
                VLONG_setBit(e, i);
        VLONG_setBit(e, bits - 1);
        BnPtr X = toBn(x), E = toBn(e), N = toBn(n), want = newBn();
        BN_mod_exp(want.get(), X.get(), E.get(), N.get(), bc.ctx);
        Vl r;
        ASSERT_EQ(OK, vlong_modexpMontgomery(x, e, n, r.out(), nullptr));
        EXPECT_SAME(r, want.get()) << bits << "-bit exponent, window " << vlong_windowWidth(bits);
    }
}

} // namespace
