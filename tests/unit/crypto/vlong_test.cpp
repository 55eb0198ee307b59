// Known-answer and edge-case tests of the big integers. They use no oracle, so they also
// run on the big-endian target, where they catch byte-order faults in the conversions.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"
#include "tests/unit/crypto/vlong_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ProductCase {
    const char *a, *b, *product;
};
struct ModexpCase {
    const char *x, *e, *n, *result;
};
struct DivisionCase {
    const char *dividend, *divisor, *quotient, *remainder;
};

// Generated known answers (independent big-integer arithmetic), fixed in the source.
const ProductCase kProducts[] = {
    {"a3b8c1e9392456de3eb13b9046685257bdd640fb06671ad11c80317fa3b1799d",
     "972a846916419f828b9d2434e465e150bd9c66b3ad3c2d6d1a3d1fa7bc8960a9",
     "60ad2b5ed9f771e908cfd20f13c0dea24590ba2475e8a6604d3f242b7f9c8906e185a8ead564f1d73bab2d54"
     "a960b451cb1e341a2d5bab434f9ed259fec928a5"},
    {"b71ecd7b27cd813047229389571aa8766c307511b2b9437a28df6ec4ce4a2bbdc241330b01a9e71fde8a774b"
     "cf36d58b4737819096da1dac72ff5d2a386ecbe06b65a6a48b8148f6b38a088ca65ed389b74d0fb132e70629"
     "8fadc1a606cb0fb39a1de644815ef6d13b8faa1837f8a88b17fc695a07a0ca6e0822e8f36c031199",
     "b139d32c93cd59bf5c941cf0dc98d2c1e2acf72f9e574f7aa0ee89aed453dd324b0dbb418d5288f1142c3fe8"
     "60e7a113ec1b8ca1f91e1d4c1ff49b7889463e85759cde66bacfb3d00b1f9163ce9ff57f43b7a3a69a8dca03"
     "580d7b71d8f564135be6128e18c267976142ea7d17be31111a2a73ed562b0f79c37459eef50bea63",
     "7ec5a8fc2d5259e838d9c2758fbf21a50f35139775c251d4981005116089133a93c1ede2da0f07d75d7c2a3f"
     "911768a9e2faac25dc414f00c4ebe9d6d11c44eb407e2d2a45427fac352306bfd92a5ead0c696c471c631b7f"
     "54a689b813fbea9b3b41a601b869e7fcd4fd06abcfc4355705b5577943fd77a11de1848395ba44ad3f0bdb35"
     "f5d99f55e10ceb1a7b2e4ff785cd75f14a3e80105c4937c35110058b0cf9b7533f9ec6bf77c4815791f48fde"
     "9274f008d13d0d53700d9c616dd6962cf7b0fd9630f885ae4e67a8c44de60e80ae7a872af77bedeb3fc8e800"
     "f3b4ddfec0b8a7f8d05224fe6dd8821c601ecfb8cf2a89452fed6166078fb814c1d8a82b"},
};

const ModexpCase kModexps[] = {
    {"baa80d88bd64072bcfbe01a28defe39bf0027312476f57a5e5a5abaefcfad8efc89849b3aa7efe4458a885ab"
     "9099a435a240ae5af305535ec42e0829a3b2e95d65a441d58842dea2bc372f",
     "10001",
     "f412b29347294739614ff3d719db3ad0ddd1dfb23b982ef8daf61a26146d3f31fc377a4c4a15544dc5e7ce8a"
     "3a578a8ea9488d990bbb259911ce5dd2b45ed1f1",
     "215ef62a25fb6e5f1cdcef2470c4c652f6c5be7d44fd369bfbd9273c3bc41c59ebeaf3c72bf6dbc4d42774c0"
     "2bd900a667b1199fb1b969d036099179ced50b17"},
    {"31a9fb8c4b032ccd7c524a55304317faf42e12f3838b3268e944239b02b61c4",
     "b7c93acfe059a0ee9132b63ef16287e4e9c349e03602f8ac10f1bc81448aaa9e66b2bc5b50c187fcce177b4e"
     "0837b8a3d261a7ab3aa2e4f90e51f30d",
     "a3d70628ece66fa2fd5166e6451b4cf36123fdf77656af7229d4beef3eabedcb",
     "8ad1374711792b2ef6523174dfdd8631268ca7b34aef6263b9b6c6e184c05bf"},
    {"36d95a76d79bf3c4c06434308bc89fa6a688fb5d27bbeb799193f22faf823bed01d43cf2fde",
     "a72091c11f735dc713d960c0fd195c17af08a1745d6d87e570ddf827050a82369b584ff5e9ff0ff50bde4382"
     "567b85cabcc97663f1c97956269f0e5d7b875",
     "a49757750a9a491f0b2ea1fca65e27a984d654821d07fcd9eb1a7cad415366eb16f508ebad6",
     "1d65fd8d2d23fa816d3ba187ec40f1c54c7a3485ccdbcab667aaca14538569a288928461222"},
};

const DivisionCase kDivision = {
    "9d53434b88139b9ae270da702f06b90f143262fdc5c0eed8da0365bf89897b9405cacec877409a977d21e02f"
    "f01cf99988c24c961b1cd2262801c4510435a1098ae43346c12ace8ae340454cac5b68c28f49481a0a04dc4",
    "cb21c8eaee95715bd6fa4161293c4c2e2e3444ea7c8c03987108976e334e2817efdae849217",
    "c6457b3e4ec6fa817ba9e4cd05e05e0b6f1532582736bd6d22d42a42a04099704b314d2a4f689c1298ef43af"
    "8562cdbb3d43",
    "2d0f27922cfccc8cf73d7d609af645ffdcd34aca08ba6a03ea30cbe0b568c6061e63b5196bf"};

TEST(Vlong, ByteStringConversionsRoundTripAndPadOnTheLeft)
{
    struct Case {
        const char *in;      // big-endian input bytes
        uint32_t used;       // units after reading
        const char *minimal; // minimal byte string written back
    } cases[] = {
        {"", 0, ""},
        {"000000", 0, ""},
        {"000001", 1, "01"},
        {"0100", 1, "0100"},
        {"01020304", 1, "01020304"},
        {"0102030405", 2, "0102030405"},
        {"00000000ffffffff00000000", 2, "ffffffff00000000"},
        {"8000000000000000000000000000000000", 5, "8000000000000000000000000000000000"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> in = hexBytes(c.in);
        Vl v;
        ASSERT_EQ(OK, VLONG_vlongFromByteString(in.data(), int32_t(in.size()), v.out(), nullptr));
        EXPECT_EQ(c.used, v->used) << c.in;
        EXPECT_EQ(0u, v->negative);
        int32_t len = -1;
        ASSERT_EQ(OK, VLONG_byteStringFromVlong(v, nullptr, &len));
        std::vector<uint8_t> minimal = hexBytes(c.minimal);
        ASSERT_EQ(int32_t(minimal.size()), len) << c.in;
        std::vector<uint8_t> out(size_t(len) + 3, 0xAA);
        int32_t size = len + 3;
        ASSERT_EQ(OK, VLONG_byteStringFromVlong(v, out.data(), &size));
        EXPECT_EQ(len + 3, size) << "the length is left as the buffer size";
        EXPECT_EQ("000000" + std::string(c.minimal), bytesHex(out.data(), out.size()));
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
    struct Case {
        const char *a, *b;
        int magnitude, sign;
    } cases[] = {
        {"5", "3", 1, 1},           {"-5", "3", 1, -1},      {"-5", "-3", 1, -1},
        {"-3", "-5", -1, 1},        {"100000000", "ffffffff", 1, 1},
        {"0", "-0", 0, 0},          {"7", "7", 0, 0},        {"-7", "7", 0, -1},
    };
    for (const Case &c : cases) {
        Vl a(vlHex(c.a)), b(vlHex(c.b));
        EXPECT_EQ(c.magnitude, VLONG_compareMagnitude(a, b)) << c.a << " vs " << c.b;
        EXPECT_EQ(c.sign, VLONG_compareSigned(a, b)) << c.a << " vs " << c.b;
    }
    // A zero that carries the negative flag counts as non-negative.
    Vl negZero(vlHex("0")), one(vlHex("1"));
    negZero->negative = 1;
    EXPECT_EQ(-1, VLONG_compareSigned(negZero, one));
    EXPECT_EQ(0, VLONG_compareSigned(negZero, Vl(vlHex("0"))));
    Vl minusOne(vlHex("-1"));
    EXPECT_EQ(-1, VLONG_compareUnsigned(minusOne, 0));
}

TEST(Vlong, KnownProductsThroughKernelAndKaratsuba)
{
    for (const ProductCase &c : kProducts) {
        Vl a(vlHex(c.a)), b(vlHex(c.b)), r(newVlong());
        ASSERT_EQ(OK, VLONG_multiply(r, a, b, VLONG_bitLength(a) + VLONG_bitLength(b)));
        EXPECT_EQ(c.product, hexOf(r));
        // The result may be one of the operands.
        ASSERT_EQ(OK, VLONG_multiply(a, a, b, VLONG_bitLength(a) + VLONG_bitLength(b)));
        EXPECT_EQ(c.product, hexOf(a));
        Vl sq(newVlong());
        ASSERT_EQ(OK, VLONG_square(sq, b, 2 * VLONG_bitLength(b)));
        ASSERT_EQ(OK, VLONG_square(b, b, 2 * VLONG_bitLength(b)));
        EXPECT_EQ(hexOf(sq), hexOf(b)) << "square in place";
    }
}

TEST(Vlong, KnownDivision)
{
    Vl a(vlHex(kDivision.dividend)), m(vlHex(kDivision.divisor)), q(newVlong()), r(newVlong());
    ASSERT_EQ(OK, VLONG_divide(q, a, m, r, nullptr));
    EXPECT_EQ(kDivision.quotient, hexOf(q));
    EXPECT_EQ(kDivision.remainder, hexOf(r));
    // Dividend below the divisor: quotient 0, remainder |dividend|.
    Vl small(vlHex("-1234"));
    ASSERT_EQ(OK, VLONG_divide(q, small, m, r, nullptr));
    EXPECT_TRUE(VLONG_isZero(q));
    EXPECT_EQ("1234", hexOf(r));
    Vl zero(vlHex("0"));
    EXPECT_EQ(ERR_DIVIDE_BY_ZERO, VLONG_divide(q, a, zero, r, nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_divide(q, a, m, q, nullptr));
}

TEST(Vlong, KnownModexpOnBothPaths)
{
    for (const ModexpCase &c : kModexps) {
        Vl x(vlHex(c.x)), e(vlHex(c.e)), n(vlHex(c.n)), r;
        ASSERT_EQ(OK, VLONG_modexp(x, e, n, r.out(), nullptr));
        EXPECT_EQ(c.result, hexOf(r)) << "exponent of " << e->used << " units";
    }
}

TEST(Vlong, ModexpEdgeCases)
{
    struct Case {
        const char *x, *e, *n;
        MSTATUS status;
        const char *result;
    } cases[] = {
        {"5", "0", "1", OK, "1"},       // e = 0 gives 1 even for n = 1
        {"0", "3", "7", OK, "0"},       // x = 0 gives 0
        {"5", "3", "1", OK, "0"},
        {"5", "3", "0", ERR_BAD_MODULO, nullptr},
        {"9", "2", "7", OK, "4"},       // x above n
        {"3", "5", "8", OK, "3"},       // even modulus
    };
    for (const Case &c : cases) {
        Vl x(vlHex(c.x)), e(vlHex(c.e)), n(vlHex(c.n)), r;
        EXPECT_EQ(c.status, VLONG_modexp(x, e, n, r.out(), nullptr)) << c.x << "^" << c.e << " mod " << c.n;
        if (c.result) {
            ASSERT_NE(nullptr, r.v);
            EXPECT_EQ(c.result, hexOf(r));
        }
    }
    Vl one(vlHex("1")), r;
    EXPECT_EQ(ERR_NULL_POINTER, VLONG_modexp(nullptr, one, one, r.out(), nullptr));
}

// Minimal two's-complement forms, each read back (0x80 00 .. 00 is the most negative value
// of its length).
TEST(Vlong, LengthPrefixedIntegersRoundTripInMinimalForm)
{
    struct Case {
        const char *value, *bytes;
    } cases[] = {
        {"0", "00000000"},           {"1", "0000000101"},     {"7f", "000000017f"},
        {"80", "000000020080"},      {"-1", "00000001ff"},    {"-7f", "0000000181"},
        {"-80", "0000000180"},       {"-81", "00000002ff7f"}, {"-100", "00000002ff00"},
        {"-800000", "00000003800000"}, {"-ff", "00000002ff01"},
        {"123456789abcdef0", "00000008123456789abcdef0"},
    };
    for (const Case &c : cases) {
        Vl v(vlHex(c.value));
        uint8_t *bytes = nullptr;
        uint32_t len = 0;
        ASSERT_EQ(OK, VLONG_mpintFromVlong(v, &bytes, &len));
        EXPECT_EQ(c.bytes, bytesHex(bytes, len)) << c.value;
        Vl back;
        uint32_t consumed = 0;
        ASSERT_EQ(OK, VLONG_newFromMpint(bytes, len, back.out(), &consumed));
        EXPECT_EQ(c.value, hexOf(back));
        EXPECT_EQ(len, consumed) << c.value;
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
