// CTR_DRBG (AES-256, no derivation function): known answers written in here, the CAVP
// "[AES-256 no df]" files (no reseed and reseed between instantiate and generate), and the
// length and counter limits with their statuses.
#include "crypto/random/ctr_drbg.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t SEEDLEN = 48;

MSTATUS instantiate(CtrDrbgState *s, const std::vector<uint8_t> &entropy,
                    const std::vector<uint8_t> &pers = {})
{
    return CTR_DRBG_instantiate(s, 16, 32, entropy.data(), static_cast<uint32_t>(entropy.size()),
                                pers.empty() ? nullptr : pers.data(),
                                static_cast<uint32_t>(pers.size()));
}

MSTATUS generate(CtrDrbgState *s, std::vector<uint8_t> &out, const std::vector<uint8_t> &addl = {})
{
    return CTR_DRBG_generate(s, out.data(), static_cast<uint32_t>(out.size()),
                             addl.empty() ? nullptr : addl.data(), static_cast<uint32_t>(addl.size()));
}

// First records of the CAVP files (no reseed; reseed between instantiate and generate),
// written in so that they also run on the target.
TEST(CtrDrbgKnownAnswers, InstantiateReseedGenerateTwice)
{
    const struct {
        const char *entropy, *reseed, *returned; // reseed "": none
    } cases[] = {
        {"df5d73faa468649edda33b5cca79b0b05600419ccb7a879ddfec9db32ee494e5531b51de16a30f769262474c73bec010",
         "",
         "d1c07cd95af8a7f11012c84ce48bb8cb87189e99d40fccb1771c619bdf82ab2280b1dc2f"
         "2581f39164f7ac0c510494b3a43c41b7db17514c87b107ae793e01c5"},
        {"e4bc23c5089a19d86f4119cb3fa08c0a4991e0a1def17e101e4c14d9c323460a7c2fb58e0b086c6c57b55f56cae25bad",
         "fd85a836bba85019881e8c6bad23c9061adc75477659acaea8e4a01dfe07a1832dad1c136f59d70f8653a5dc118663d6",
         "b2cb8905c05e5950ca31895096be29ea3d5a3b82b269495554eb80fe07de43e193b9e7c3"
         "ece73b80e062b1c1f68202fbb1c52a040ea2478864295282234aaada"},
    };
    for (const auto &c : cases) {
        CtrDrbgState s;
        ASSERT_EQ(instantiate(&s, hexBytes(c.entropy)), OK);
        EXPECT_EQ(s.reseedCounter, 1u);
        if (*c.reseed) {
            ASSERT_EQ(CTR_DRBG_reseed(&s, hexBytes(c.reseed).data(), SEEDLEN, nullptr, 0), OK);
            EXPECT_EQ(s.reseedCounter, 1u);
        }
        std::vector<uint8_t> out(64);
        ASSERT_EQ(generate(&s, out), OK);
        ASSERT_EQ(generate(&s, out), OK);
        EXPECT_EQ(bytesHex(out), c.returned);
        EXPECT_EQ(s.reseedCounter, 3u);
    }
}

// Runs every "[AES-256 no df]" record of one file, with personalisation strings and
// additional inputs where the record has them.
int run_cavp_file(const std::string &variant, bool with_reseed)
{
    auto records = read_vector_file(shared_vector_path("drbg/" + variant + "/CTR_DRBG_AES-256_no_df.rsp"));
    if (!records)
        return -1;
    int checked = 0;
    for (const VectorRecord &r : *records) {
        const std::string *entropy = r.get("EntropyInput"), *expect = r.get("ReturnedBits");
        if (!r.in_section("AES-256 no df") || !entropy || !expect)
            continue;
        const std::string count = *r.get("COUNT");
        CtrDrbgState s;
        EXPECT_EQ(instantiate(&s, hexBytes(*entropy), hexBytes(*r.get("PersonalizationString"))), OK);
        if (with_reseed) {
            auto e = hexBytes(*r.get("EntropyInputReseed"));
            auto a = hexBytes(*r.get("AdditionalInputReseed"));
            EXPECT_EQ(CTR_DRBG_reseed(&s, e.data(), static_cast<uint32_t>(e.size()),
                                      a.empty() ? nullptr : a.data(), static_cast<uint32_t>(a.size())),
                      OK);
        }
        std::vector<uint8_t> out(hexBytes(*expect).size());
        EXPECT_EQ(generate(&s, out, hexBytes(*r.get("AdditionalInput", 0))), OK);
        EXPECT_EQ(generate(&s, out, hexBytes(*r.get("AdditionalInput", 1))), OK);
        EXPECT_EQ(bytesHex(out), *expect) << variant << " COUNT " << count;
        ++checked;
    }
    return checked;
}

TEST(CtrDrbgCavp, NoReseedAndReseedBeforeGenerate)
{
    const std::pair<const char *, bool> files[] = {{"no_reseed", false}, {"pr_false", true}};
    for (const auto &[variant, with_reseed] : files) {
        int checked = run_cavp_file(variant, with_reseed);
        if (checked < 0)
            GTEST_SKIP() << "drbg vectors absent";
        EXPECT_EQ(checked, 240) << variant;
    }
}

struct InstantiateCase {
    uint32_t block_length;
    uint32_t key_length;
    uint32_t entropy_length;
    MSTATUS expect;
};

TEST(CtrDrbgLimits, InstantiateChecksLengths)
{
    const InstantiateCase cases[] = {
        {16, 32, 48, OK},
        {16, 16, 32, OK},
        {16, 24, 40, OK},
        {12, 32, 44, ERR_DRBG_BAD_BLOCK_LENGTH},
        {0, 32, 32, ERR_DRBG_BAD_BLOCK_LENGTH},
        {16, 20, 36, ERR_DRBG_BAD_KEY_LENGTH},
        {16, 0, 16, ERR_DRBG_BAD_KEY_LENGTH},
        {8, 16, 24, ERR_DRBG_BAD_KEY_LENGTH},  // triple DES needs 21 key bytes
        {8, 21, 29, ERR_DRBG_BAD_BLOCK_LENGTH}, // triple DES is not carried by this build
        {16, 32, 47, ERR_DRBG_BAD_ENTROPY_LENGTH},
        {16, 32, 49, ERR_DRBG_BAD_ENTROPY_LENGTH},
        {16, 16, 48, ERR_DRBG_BAD_ENTROPY_LENGTH},
    };
    std::vector<uint8_t> entropy(64, 0x11);
    for (const InstantiateCase &c : cases) {
        CtrDrbgState s;
        EXPECT_EQ(CTR_DRBG_instantiate(&s, c.block_length, c.key_length, entropy.data(),
                                       c.entropy_length, nullptr, 0),
                  c.expect)
            << c.block_length << "/" << c.key_length << "/" << c.entropy_length;
        if (c.expect == OK) {
            EXPECT_EQ(s.reseedCounter, 1u);
            EXPECT_EQ(s.flags & CTR_DRBG_FLAG_DF, 0u);
            std::vector<uint8_t> out(33);
            EXPECT_EQ(generate(&s, out), OK);
        }
    }
    CtrDrbgState s;
    EXPECT_EQ(CTR_DRBG_instantiate(nullptr, 16, 32, entropy.data(), 48, nullptr, 0), ERR_NULL_POINTER);
    EXPECT_EQ(CTR_DRBG_instantiate(&s, 16, 32, nullptr, 48, nullptr, 0), ERR_NULL_POINTER);
    EXPECT_EQ(CTR_DRBG_instantiate(&s, 16, 32, entropy.data(), 48, nullptr, 48), ERR_NULL_POINTER);
    EXPECT_EQ(CTR_DRBG_instantiate(&s, 16, 32, entropy.data(), 48, entropy.data(), 49),
              ERR_DRBG_BAD_ENTROPY_LENGTH);
}

TEST(CtrDrbgLimits, ReseedNeedsExactlySeedlen)
{
    std::vector<uint8_t> entropy(64, 0x22);
    CtrDrbgState s;
    ASSERT_EQ(instantiate(&s, std::vector<uint8_t>(48, 1)), OK);
    std::vector<uint8_t> out(16);
    ASSERT_EQ(generate(&s, out), OK);
    for (uint32_t len : {0u, 32u, 47u, 49u, 64u}) {
        EXPECT_EQ(CTR_DRBG_reseed(&s, entropy.data(), len, nullptr, 0), ERR_DRBG_BAD_ENTROPY_LENGTH) << len;
        EXPECT_EQ(s.reseedCounter, 2u) << "a refused reseed must not touch the state";
    }
    EXPECT_EQ(CTR_DRBG_reseed(&s, entropy.data(), 48, entropy.data(), 49), ERR_DRBG_BAD_ENTROPY_LENGTH);
    EXPECT_EQ(CTR_DRBG_reseed(&s, entropy.data(), 48, nullptr, 0), OK);
    EXPECT_EQ(s.reseedCounter, 1u);
    EXPECT_EQ(CTR_DRBG_reseed(nullptr, entropy.data(), 48, nullptr, 0), ERR_NULL_POINTER);
    EXPECT_EQ(CTR_DRBG_reseed(&s, nullptr, 48, nullptr, 0), ERR_NULL_POINTER);
}

TEST(CtrDrbgLimits, RequestLengthAndReseedCounter)
{
    CtrDrbgState s;
    ASSERT_EQ(instantiate(&s, std::vector<uint8_t>(48, 3)), OK);
    // 2^19 bits = 65536 bytes is refused; one byte less is served.
    std::vector<uint8_t> big(65536);
    EXPECT_EQ(CTR_DRBG_generate(&s, big.data(), 65536, nullptr, 0), ERR_DRBG_REQUEST_TOO_LONG);
    EXPECT_EQ(CTR_DRBG_generate(&s, big.data(), 0xFFFFFFFF, nullptr, 0), ERR_DRBG_REQUEST_TOO_LONG);
    EXPECT_EQ(s.reseedCounter, 1u);
    EXPECT_EQ(CTR_DRBG_generate(&s, big.data(), 65535, nullptr, 0), OK);
    EXPECT_EQ(s.reseedCounter, 2u);

    s.reseedCounter = (uint64_t{1} << 48) - 1;
    std::vector<uint8_t> out(16);
    EXPECT_EQ(generate(&s, out), OK);
    EXPECT_EQ(s.reseedCounter, uint64_t{1} << 48);
    EXPECT_EQ(generate(&s, out), ERR_DRBG_RESEED_REQUIRED);
    EXPECT_EQ(CTR_DRBG_reseed(&s, std::vector<uint8_t>(48, 4).data(), 48, nullptr, 0), OK);
    EXPECT_EQ(generate(&s, out), OK);

    EXPECT_EQ(CTR_DRBG_generate(nullptr, out.data(), 16, nullptr, 0), ERR_NULL_POINTER);
    EXPECT_EQ(CTR_DRBG_generate(&s, nullptr, 16, nullptr, 0), ERR_NULL_POINTER);
}

// A request that ends inside a block takes the leading bytes of that block: the first n
// bytes of a longer request from the same state match, for every n around block edges.
TEST(CtrDrbgLimits, PartialBlocksArePrefixesOfWholeOutput)
{
    CtrDrbgState base;
    ASSERT_EQ(instantiate(&base, std::vector<uint8_t>(48, 5)), OK);
    std::vector<uint8_t> whole(64);
    CtrDrbgState copy = base;
    ASSERT_EQ(generate(&copy, whole), OK);
    for (uint32_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 63u}) {
        CtrDrbgState s = base;
        std::vector<uint8_t> part(n + 1, 0xEE);
        ASSERT_EQ(CTR_DRBG_generate(&s, part.data(), n, nullptr, 0), OK);
        EXPECT_EQ(bytesHex(part.data(), n), bytesHex(whole.data(), n)) << n;
        EXPECT_EQ(part[n], 0xEE) << "wrote past the request of " << n;
    }
}

// V is a 128-bit big-endian counter: incrementing all-ones wraps to zero rather than
// carrying into the key that follows it in the state.
TEST(CtrDrbgLimits, CounterWrapsWithinV)
{
    CtrDrbgState s;
    ASSERT_EQ(instantiate(&s, std::vector<uint8_t>(48, 6)), OK);
    std::memset(s.vKey, 0xFF, 16);
    uint8_t key_before[32];
    std::memcpy(key_before, s.vKey + 16, 32);
    AesKey k;
    ASSERT_EQ(AES_expandKey(&k, key_before, 32), OK);
    uint8_t zero[16] = {}, expect[16];
    ASSERT_EQ(AES_encryptBlock(&k, zero, expect), OK);
    uint8_t out[16];
    ASSERT_EQ(CTR_DRBG_generate(&s, out, 16, nullptr, 0), OK);
    EXPECT_EQ(bytesHex(out, 16), bytesHex(expect, 16));
}

} // namespace
