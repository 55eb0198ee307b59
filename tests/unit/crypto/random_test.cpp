// The random contexts and their CTR_DRBG: the reseed every 384 bits, seeding from a device
// file; the DRBG's CAVP "[AES-256 no df]" files (no reseed, and reseed between instantiate and
// generate; their first records are in tests/data) and its length and counter limits with their
// statuses. The pool's bit positions and stirring are checked against a model in
// random_oracle_test.
#include "crypto/random/entropy.h"
#include "crypto/init.h"
#include "crypto/common/platform_hooks.h"
#include "crypto/random/random.h"
#include "crypto/random/ctr_drbg.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

struct ContextHolder {
    RandomContext *ctx = nullptr;
    ~ContextHolder()
    {
        if (ctx)
            RANDOM_freeContext(&ctx);
    }
};

TEST(RandomContext, EveryThreeHundredEightyFourthBitReseeds)
{
    ContextHolder h;
    ASSERT_EQ(RANDOM_createContext(&h.ctx, 3), OK);
    uint8_t out[16];
    ASSERT_EQ(RANDOM_generate(h.ctx, out, 16), OK);
    ASSERT_EQ(h.ctx->drbg.reseedCounter, 2u);
    for (int round = 0; round < 2; ++round) {
        const uint64_t counter = h.ctx->drbg.reseedCounter;
        uint8_t state[CTR_DRBG_MAX_SEED];
        std::memcpy(state, h.ctx->drbg.vKey, sizeof state);
        for (uint32_t i = 1; i < RANDOM_RESEED_BITS; ++i) {
            ASSERT_EQ(RANDOM_addEntropyBit(h.ctx, i & 1), OK);
            ASSERT_EQ(h.ctx->drbg.reseedCounter, counter) << "reseed before bit 384, at bit " << i;
        }
        EXPECT_EQ(h.ctx->entropyBitCount, 383u);
        EXPECT_EQ(std::memcmp(state, h.ctx->drbg.vKey, sizeof state), 0);
        ASSERT_EQ(RANDOM_addEntropyBit(h.ctx, 1), OK);
        EXPECT_EQ(h.ctx->entropyBitCount, 0u);
        EXPECT_EQ(h.ctx->drbg.reseedCounter, 1u);
        EXPECT_NE(std::memcmp(state, h.ctx->drbg.vKey, sizeof state), 0) << "reseed left V and Key";
    }
}

// Seeds g_randomContext from a device file written by the test, then restores everything.
class DeviceSeed : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(g_randomContext, nullptr) << "this binary must not initialise the library";
        ASSERT_EQ(RANDOM_createContext(&g_randomContext, 3), OK);
        path_ = std::string(BM_BINARY_DIR) + "/random_test_device." + std::to_string(getpid());
    }

    void TearDown() override
    {
        RANDOM_setDevicePathForTest(nullptr);
        RANDOM_freeContext(&g_randomContext);
        std::remove(path_.c_str());
    }

    void write_device(const std::vector<uint8_t> &bytes)
    {
        FILE *f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
        RANDOM_setDevicePathForTest(path_.c_str());
    }

    std::string path_;
};

// A short read stops after the whole words before it, without a reseed: the pool shows each
// word fed least significant bit first (00 00 00 01 flips the bit after the current position).
// (A whole device read and its reseed, and a missing device: init_test; every pool bit
// reaching the output: random_oracle_test.)
TEST_F(DeviceSeed, ShortReadFeedsTheWholeWordsBeforeIt)
{
    write_device({0, 0, 0, 1, 0, 0, 0, 0, 0xA5, 0xA5});
    const uint32_t pos = (g_entropyPool.bitPos + 1) % ENTROPY_BITS;
    uint8_t before[ENTROPY_MIX_SIZE];
    std::memcpy(before, g_entropyPool.mix, sizeof before);
    EXPECT_EQ(RANDOM_seedFromDevice(), ERR_RANDOM_DEVICE_READ);
    EXPECT_EQ(g_randomContext->entropyBitCount, 64u) << "two whole words before the short read";
    for (uint32_t i = 0; i < ENTROPY_MIX_SIZE; ++i) {
        uint8_t flipped = before[i] ^ g_entropyPool.mix[i];
        EXPECT_EQ(flipped, i == pos / 8 ? 1u << (pos % 8) : 0u) << "byte " << i;
    }
}

// ---- CTR_DRBG (AES-256, no derivation function)

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

// Runs every "[AES-256 no df]" record of one file, with personalisation strings and
// additional inputs where the record has them; -1 when the file is absent.
int run_cavp_file(const std::string &path, bool with_reseed)
{
    auto records = read_vector_file(path);
    if (!records)
        return -1;
    int checked = 0;
    for (const VectorRecord &r : *records) {
        const std::string *entropy = r.get("EntropyInput"), *expect = r.get("ReturnedBits");
        if (!r.in_section("AES-256 no df") || !entropy || !expect)
            continue;
        CtrDrbgState s;
        EXPECT_EQ(instantiate(&s, hexBytes(*entropy), hexBytes(*r.get("PersonalizationString"))), OK);
        if (with_reseed) {
            auto e = hexBytes(*r.get("EntropyInputReseed"));
            auto a = hexBytes(*r.get("AdditionalInputReseed"));
            EXPECT_EQ(CTR_DRBG_reseed(&s, e.data(), static_cast<uint32_t>(e.size()),
                                      a.empty() ? nullptr : a.data(), static_cast<uint32_t>(a.size())),
                      OK);
        }
        EXPECT_EQ(s.reseedCounter, 1u);
        std::vector<uint8_t> out(hexBytes(*expect).size());
        EXPECT_EQ(generate(&s, out, hexBytes(*r.get("AdditionalInput", 0))), OK);
        EXPECT_EQ(generate(&s, out, hexBytes(*r.get("AdditionalInput", 1))), OK);
        EXPECT_EQ(bytesHex(out), *expect) << path << " COUNT " << *r.get("COUNT");
        EXPECT_EQ(s.reseedCounter, 3u);
        ++checked;
    }
    return checked;
}

// The first record of each file is in tests/data, so that it runs without the shared
// vectors (and on the target either way).
TEST(CtrDrbgCavp, NoReseedAndReseedBeforeGenerate)
{
    const std::pair<const char *, bool> files[] = {{"no_reseed", false}, {"pr_false", true}};
    for (const auto &[variant, with_reseed] : files) {
        const std::string first = std::string(BM_SOURCE_DIR "/tests/data/ctr_drbg_") + variant + "_first.rsp";
        EXPECT_EQ(run_cavp_file(first, with_reseed), 1) << first;
        int checked = run_cavp_file(shared_vector_path(std::string("drbg/") + variant + "/CTR_DRBG_AES-256_no_df.rsp"),
                                    with_reseed);
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
        {16, 20, 36, ERR_DRBG_BAD_KEY_LENGTH},
        {8, 21, 29, ERR_DRBG_BAD_BLOCK_LENGTH}, // triple DES is not carried by this build
        {16, 32, 47, ERR_DRBG_BAD_ENTROPY_LENGTH},
        {16, 32, 49, ERR_DRBG_BAD_ENTROPY_LENGTH},
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
    CtrDrbgState s; // entropy and personalisation together longer than the seed
    EXPECT_EQ(CTR_DRBG_instantiate(&s, 16, 32, entropy.data(), 48, entropy.data(), 49), ERR_DRBG_BAD_ENTROPY_LENGTH);
}

TEST(CtrDrbgLimits, ReseedNeedsExactlySeedlen)
{
    std::vector<uint8_t> entropy(64, 0x22);
    CtrDrbgState s;
    ASSERT_EQ(instantiate(&s, std::vector<uint8_t>(48, 1)), OK);
    std::vector<uint8_t> out(16);
    ASSERT_EQ(generate(&s, out), OK);
    for (uint32_t len : {0u, 47u, 49u}) {
        EXPECT_EQ(CTR_DRBG_reseed(&s, entropy.data(), len, nullptr, 0), ERR_DRBG_BAD_ENTROPY_LENGTH) << len;
        EXPECT_EQ(s.reseedCounter, 2u) << "a refused reseed must not touch the state";
    }
    EXPECT_EQ(CTR_DRBG_reseed(&s, entropy.data(), 48, entropy.data(), 49), ERR_DRBG_BAD_ENTROPY_LENGTH);
    EXPECT_EQ(CTR_DRBG_reseed(&s, entropy.data(), 48, nullptr, 0), OK);
    EXPECT_EQ(s.reseedCounter, 1u);
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
