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

// The records of one section of tests/data/vlong_cases.txt.
std::vector<VectorRecord> cases(const char *section)
{
    auto records = read_vector_file(BM_SOURCE_DIR "/tests/data/vlong_cases.txt");
    EXPECT_TRUE(records) << "tests/data/vlong_cases.txt";
    std::vector<VectorRecord> out;
    for (const VectorRecord &r : records.value_or(std::vector<VectorRecord>{}))
        if (r.in_section(section))
            out.push_back(r);
    EXPECT_FALSE(out.empty()) << section;
    return out;
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
    // 0x0100 into a 4-byte buffer: 00 00 01 00 (unit order and byte order both show here).
    Vl v(vlHex("0100"));
    uint8_t four[4];
    int32_t size = 4;
    ASSERT_EQ(OK, VLONG_byteStringFromVlong(v, four, &size));
    EXPECT_EQ("00000100", bytesHex(four, 4));
    EXPECT_EQ(0x100u, v->units[0]);
}

TEST(Vlong, ShortBufferIsRefusedAndLeftUntouched)
{
    Vl v(vlHex("0102030405"));
    uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    int32_t size = 4;
    EXPECT_EQ(ERR_BUFFER_OVERFLOW, VLONG_byteStringFromVlong(v, buf, &size));
    EXPECT_EQ("aaaaaaaa", bytesHex(buf, 4));
    EXPECT_EQ(4, size);
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_byteStringFromVlong(nullptr, buf, &size));
    VLONG *out = nullptr;
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_vlongFromByteString(buf, -1, &out, nullptr));
    EXPECT_EQ(nullptr, out);
}

TEST(Vlong, UnitLimitIsEnforcedAt8192Units)
{
    Vl v(newVlong());
    EXPECT_EQ(OK, VLONG_setUnit(v, VLONG_MAX_UNITS - 1, 1));
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_setUnit(v, VLONG_MAX_UNITS, 1));
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_setBit(v, 32 * VLONG_MAX_UNITS));
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_shlXvlong(v, 32));
    EXPECT_EQ(ERR_BAD_LENGTH, vlong_reserve(v, VLONG_MAX_UNITS + 1));
    EXPECT_EQ(ERR_BAD_LENGTH, vlong_reserveFresh(v, VLONG_MAX_UNITS + 1));
    // A byte string of 8193 significant units is refused; leading zeros do not count.
    std::vector<uint8_t> big(4 * (VLONG_MAX_UNITS + 1), 0);
    big[3] = 1;
    Vl w;
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_vlongFromByteString(big.data(), int32_t(big.size()), w.out(), nullptr));
    EXPECT_EQ(OK, VLONG_vlongFromByteString(big.data() + 4, int32_t(big.size() - 4), w.out(), nullptr));
    big[3] = 0;
    EXPECT_EQ(OK, VLONG_vlongFromByteString(big.data(), int32_t(big.size()), w.out(), nullptr));
    // A product too long for the limit.
    Vl r(newVlong());
    EXPECT_EQ(ERR_BAD_LENGTH, VLONG_multiply(r, v, v, 2 * VLONG_bitLength(v) - 0));
}

TEST(Vlong, QueriesAndSmallOperations)
{
    Vl v(vlHex("80000000" "00000001"));
    EXPECT_EQ(64u, VLONG_bitLength(v));
    EXPECT_TRUE(VLONG_testBit(v, 0));
    EXPECT_TRUE(VLONG_testBit(v, 63));
    EXPECT_FALSE(VLONG_testBit(v, 64));
    EXPECT_EQ(0u, VLONG_getUnit(v, 7));
    ASSERT_EQ(OK, VLONG_setUnit(v, 1, 0));
    EXPECT_EQ(1u, v->used) << "setting the top unit to 0 normalises";
    ASSERT_EQ(OK, VLONG_setBit(v, 100));
    EXPECT_EQ("10000000000000000000000001", hexOf(v));
    EXPECT_EQ(1, VLONG_compareUnsigned(v, 0xFFFFFFFFu));
    ASSERT_EQ(OK, VLONG_clear(v));
    EXPECT_TRUE(VLONG_isZero(v));
    EXPECT_EQ(0u, VLONG_bitLength(v));
    EXPECT_EQ(0, VLONG_compareUnsigned(v, 0));

    // Shifts: across unit boundaries and past the end.
    Vl s(vlHex("123456789abcdef"));
    ASSERT_EQ(OK, VLONG_shlXvlong(s, 68));
    EXPECT_EQ("123456789abcdef00000000000000000", hexOf(s));
    ASSERT_EQ(OK, VLONG_shrXvlong(s, 72));
    EXPECT_EQ("123456789abcde", hexOf(s));
    ASSERT_EQ(OK, VLONG_shlVlong(s));
    EXPECT_EQ("2468acf13579bc", hexOf(s));
    ASSERT_EQ(OK, VLONG_shrVlong(s));
    ASSERT_EQ(OK, VLONG_shrXvlong(s, 32 * s->used));
    EXPECT_TRUE(VLONG_isZero(s));
}

TEST(Vlong, ComparisonsFollowSignAndMagnitude)
{
    for (const VectorRecord &c : cases("compare")) {
        const std::string &x = *c.get("A"), &y = *c.get("B");
        Vl a(vlHex(x)), b(vlHex(y));
        EXPECT_EQ(std::stoi(*c.get("Magnitude")), VLONG_compareMagnitude(a, b)) << x << " vs " << y;
        EXPECT_EQ(std::stoi(*c.get("Sign")), VLONG_compareSigned(a, b)) << x << " vs " << y;
    }
    // A zero that carries the negative flag counts as non-negative.
    Vl negZero(vlHex("0")), one(vlHex("1"));
    negZero->negative = 1;
    EXPECT_EQ(-1, VLONG_compareSigned(negZero, one));
    EXPECT_EQ(0, VLONG_compareSigned(negZero, Vl(vlHex("0"))));
    Vl minusOne(vlHex("-1"));
    EXPECT_EQ(-1, VLONG_compareUnsigned(minusOne, 0));
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
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_divide(q, m, m, q, nullptr));
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
    Vl one(vlHex("1")), r;
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_modexp(nullptr, one, one, r.out(), nullptr));
}

// Inverses of every size are compared with OpenSSL in vlong_oracle_test.
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

// Minimal two's-complement forms, each read back (0x80 00 .. 00 is the most negative value
// of its length).
TEST(Vlong, LengthPrefixedIntegersRoundTripInMinimalForm)
{
    for (const VectorRecord &c : cases("mpint")) {
        const std::string &value = *c.get("Value");
        Vl v(vlHex(value));
        uint8_t *bytes = nullptr;
        uint32_t len = 0;
        ASSERT_EQ(OK, VLONG_mpintFromVlong(v, &bytes, &len));
        EXPECT_EQ(*c.get("Bytes"), bytesHex(bytes, len)) << value;
        Vl back;
        uint32_t consumed = 0;
        ASSERT_EQ(OK, VLONG_newFromMpint(bytes, len, back.out(), &consumed));
        EXPECT_EQ(value, hexOf(back));
        EXPECT_EQ(len, consumed) << value;
        std::free(bytes);
    }
}

TEST(Vlong, LengthPrefixedIntegersReadOnlyTheirLength)
{
    std::vector<uint8_t> in = hexBytes("00000002ff00ee"); // the trailing byte is not consumed
    Vl v;
    uint32_t consumed = 0;
    ASSERT_EQ(OK, VLONG_newFromMpint(in.data(), uint32_t(in.size()), v.out(), &consumed));
    EXPECT_EQ("-100", hexOf(v));
    EXPECT_EQ(6u, consumed);
    // Shorter than a length, running past the input, a negative length.
    for (const char *bad : {"000000", "0000000201", "80000000"}) {
        in = hexBytes(bad);
        EXPECT_EQ(ERR_BAD_LENGTH, VLONG_newFromMpint(in.data(), uint32_t(in.size()), v.out(), &consumed)) << bad;
    }
    VLONG *out = nullptr;
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_newFromMpint(nullptr, 4, &out, &consumed));
}

TEST(Vlong, QueueHandsBackParkedRecordsWithTheirUnits)
{
    VLONG *queue = nullptr;
    VLONG *a = vlHex("1122334455667788");
    uint32_t *units = a->units;
    uint32_t capacity = a->capacity;
    ASSERT_EQ(OK, VLONG_freeVlong(&a, &queue));
    EXPECT_EQ(nullptr, a);
    ASSERT_NE(nullptr, queue);
    EXPECT_EQ(0x55667788u, queue->units[0]) << "parking does not wipe";
    VLONG *b = nullptr;
    ASSERT_EQ(OK, VLONG_allocVlong(&b, &queue));
    EXPECT_EQ(nullptr, queue);
    EXPECT_EQ(units, b->units);
    EXPECT_EQ(capacity, b->capacity);
    EXPECT_EQ(0u, b->used);
    EXPECT_EQ(nullptr, b->next);
    ASSERT_EQ(OK, VLONG_freeVlong(&b, &queue));
    ASSERT_EQ(OK, VLONG_freeVlongQueue(&queue));
    EXPECT_EQ(nullptr, queue);
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_freeVlong(&b, nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_freeVlong(nullptr, nullptr));
}

TEST(Vlong, WipeWritesTheMarkerIntoEveryUnit)
{
    uint32_t units[5] = {1, 2, 3, 4, 5};
    vlong_wipeUnits(units, 5);
    for (uint32_t u : units)
        EXPECT_EQ(0x67u, u);
}

TEST(Vlong, MontgomeryByteFormFailures)
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
    EXPECT_EQ(ERR_KEYBLOB_MALFORMED, VLONG_readMontgomeryContext(form.data(), 0, &back, nullptr));
    EXPECT_EQ(ERR_KEYBLOB_MALFORMED, VLONG_readMontgomeryContext(form.data(), 4, &back, nullptr));
    EXPECT_EQ(ERR_KEYBLOB_MALFORMED, VLONG_readMontgomeryContext(form.data(), len - 1, &back, nullptr));
    std::vector<uint8_t> bad = form;
    bad[0] = 2;
    EXPECT_EQ(ERR_KEYBLOB_VERSION, VLONG_readMontgomeryContext(bad.data(), len, &back, nullptr));
    bad = form;
    bad[4] = 9; // k no longer matches R
    EXPECT_EQ(ERR_KEYBLOB_MALFORMED, VLONG_readMontgomeryContext(bad.data(), len, &back, nullptr));
    bad = form;
    bad[19] = 0xc4; // even modulus
    EXPECT_EQ(ERR_KEYBLOB_MALFORMED, VLONG_readMontgomeryContext(bad.data(), len, &back, nullptr));
    EXPECT_EQ(nullptr, back);
    ASSERT_EQ(OK, VLONG_readMontgomeryContext(form.data(), len, &back, nullptr));
    VLONG_freeMontgomeryContext(&back, nullptr);
    VLONG_freeMontgomeryContext(&ctx, nullptr);

    Vl even(vlHex("c4")), one(vlHex("1"));
    EXPECT_EQ(ERR_BAD_MODULO, VLONG_createMontgomeryContext(&ctx, even, nullptr));
    EXPECT_EQ(ERR_BAD_MODULO, VLONG_createMontgomeryContext(&ctx, one, nullptr));
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
