// The entropy pool, the platform locks, the random contexts and their CTR_DRBG: lock checks,
// the reseed every 384 bits, seeding from a device file; the DRBG's CAVP "[AES-256 no df]"
// files (no reseed, and reseed between instantiate and generate; their first records are in
// tests/data) and its length and counter limits with their statuses. The pool's bit positions and stirring are checked
// against a model in random_oracle_test.
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

// A pool of the test's own, released at the end.
struct LocalPool {
    EntropyPool pool{};
    ~LocalPool()
    {
        if (pool.lock)
            PLATFORM_freeLock(&pool.lock);
        if (pool.auxLock)
            PLATFORM_freeLock(&pool.auxLock);
    }
};

TEST(PlatformLocks, WaitAndReleaseCheckTheHeldFlag)
{
    PlatformLock *lock = nullptr;
    ASSERT_EQ(PLATFORM_createLock(&lock), OK);
    EXPECT_EQ(PLATFORM_releaseLock(lock), ERR_LOCK_NOT_HELD);
    EXPECT_EQ(PLATFORM_waitLock(lock), OK);
    EXPECT_EQ(PLATFORM_waitLock(lock), ERR_LOCK_HELD);
    EXPECT_EQ(PLATFORM_releaseLock(lock), OK);
    EXPECT_EQ(PLATFORM_releaseLock(lock), ERR_LOCK_NOT_HELD);
    EXPECT_EQ(PLATFORM_freeLock(&lock), OK);
    EXPECT_EQ(lock, nullptr);
    EXPECT_EQ(PLATFORM_waitLock(nullptr), ERR_NULL_POINTER);
    EXPECT_EQ(PLATFORM_releaseLock(nullptr), ERR_NULL_POINTER);
}

TEST(EntropyPool, InitialisingTwiceIsRefused)
{
    LocalPool p;
    ASSERT_EQ(ENTROPY_initPool(&p.pool), OK);
    EXPECT_EQ(p.pool.readPos, ENTROPY_OUT_SIZE);
    EXPECT_EQ(p.pool.bitPos, 0u);
    EXPECT_NE(p.pool.lock, nullptr);
    EXPECT_NE(p.pool.auxLock, nullptr);
    EXPECT_EQ(ENTROPY_initPool(&p.pool), ERR_WRONG_TYPE);
}

TEST(EntropyPool, HeldLockIsReported)
{
    LocalPool p;
    uint8_t out[4];
    ASSERT_EQ(ENTROPY_initPool(&p.pool), OK);
    p.pool.lock->held = true;
    EXPECT_EQ(ENTROPY_addBit(&p.pool, 1), ERR_LOCK_HELD);
    EXPECT_EQ(ENTROPY_takeBytes(&p.pool, out, 4), ERR_LOCK_HELD);
    p.pool.lock->held = false;
    EXPECT_EQ(ENTROPY_takeBytes(&p.pool, out, 4), OK);
    EXPECT_FALSE(p.pool.lock->held);
    EXPECT_EQ(ENTROPY_takeBytes(&p.pool, nullptr, 4), ERR_NULL_POINTER);
    EXPECT_EQ(ENTROPY_addBit(nullptr, 1), ERR_NULL_POINTER);
}

struct ContextHolder {
    RandomContext *ctx = nullptr;
    ~ContextHolder()
    {
        if (ctx)
            RANDOM_freeContext(&ctx);
    }
};

TEST(RandomContext, KindsZeroAndThreeMakeACtrDrbg)
{
    for (uint32_t kind : {0u, 3u}) {
        ContextHolder h;
        ASSERT_EQ(RANDOM_createContext(&h.ctx, kind), OK);
        ASSERT_NE(h.ctx, nullptr);
        EXPECT_EQ(h.ctx->kind, RANDOM_KIND_CTR_DRBG);
        EXPECT_EQ(h.ctx->entropyBitCount, 0u);
        EXPECT_EQ(h.ctx->drbg.reseedCounter, 1u);
        EXPECT_EQ(h.ctx->drbg.blockLength, 16u);
        EXPECT_EQ(h.ctx->drbg.keyLength, 32u);
    }
    for (uint32_t kind : {1u, 2u, 4u, 100u}) {
        RandomContext *ctx = reinterpret_cast<RandomContext *>(0x1);
        EXPECT_EQ(RANDOM_createContext(&ctx, kind), ERR_RANDOM_KIND_UNKNOWN) << kind;
        EXPECT_EQ(ctx, reinterpret_cast<RandomContext *>(0x1));
    }
    EXPECT_EQ(RANDOM_createContext(nullptr, 3), ERR_NULL_POINTER);
}

TEST(RandomContext, TwoContextsAndTwoRequestsDiffer)
{
    ContextHolder a, b;
    ASSERT_EQ(RANDOM_createContext(&a.ctx, 3), OK);
    ASSERT_EQ(RANDOM_createContext(&b.ctx, 3), OK);
    uint8_t x[40], y[40], z[40];
    ASSERT_EQ(RANDOM_generate(a.ctx, x, 40), OK);
    ASSERT_EQ(RANDOM_generate(a.ctx, y, 40), OK);
    ASSERT_EQ(RANDOM_generate(b.ctx, z, 40), OK);
    EXPECT_NE(bytesHex(x, 40), bytesHex(y, 40));
    EXPECT_NE(bytesHex(x, 40), bytesHex(z, 40));
    EXPECT_EQ(a.ctx->drbg.reseedCounter, 3u);
}

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

TEST(RandomContext, WrongOrNullContextIsRejected)
{
    ContextHolder h;
    ASSERT_EQ(RANDOM_createContext(&h.ctx, 3), OK);
    uint8_t out[8];
    EXPECT_EQ(RANDOM_addEntropyBit(nullptr, 1), ERR_NULL_POINTER);
    EXPECT_EQ(RANDOM_generate(nullptr, out, 8), ERR_NULL_POINTER);
    EXPECT_EQ(RANDOM_generate(h.ctx, nullptr, 8), ERR_NULL_POINTER);
    h.ctx->kind = 1;
    EXPECT_EQ(RANDOM_addEntropyBit(h.ctx, 1), ERR_NULL_POINTER);
    EXPECT_EQ(RANDOM_generate(h.ctx, out, 8), ERR_NULL_POINTER);
    EXPECT_EQ(h.ctx->entropyBitCount, 0u);
    h.ctx->kind = RANDOM_KIND_CTR_DRBG;
    EXPECT_EQ(RANDOM_generate(h.ctx, out, 65536), ERR_DRBG_REQUEST_TOO_LONG);
    EXPECT_EQ(RANDOM_freeContext(&h.ctx), OK);
    EXPECT_EQ(h.ctx, nullptr);
    EXPECT_EQ(RANDOM_freeContext(&h.ctx), ERR_NULL_POINTER);
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

// 32 bytes give 256 bits, then a reseed: the generator's very next output depends on every
// device bit, from the first fed to the last.
TEST_F(DeviceSeed, DeviceBitsReachTheGeneratorAtOnce)
{
    const EntropyPool pool = g_entropyPool;
    const RandomContext context = *g_randomContext;
    auto firstOutput = [&](const std::vector<uint8_t> &device) {
        g_entropyPool = pool;
        *g_randomContext = context;
        write_device(device);
        EXPECT_EQ(RANDOM_seedFromDevice(), OK);
        EXPECT_EQ(g_entropyPool.bitPos, (pool.bitPos + 256) % ENTROPY_BITS);
        EXPECT_EQ(g_randomContext->entropyBitCount, 0u);
        uint8_t out[32];
        EXPECT_EQ(RANDOM_generate(g_randomContext, out, sizeof out), OK);
        return bytesHex(out, sizeof out);
    };
    std::vector<uint8_t> device(32, 0);
    const std::string zeros = firstOutput(device);
    device[3] = 0x01; // least significant bit of the first big-endian word: fed first
    EXPECT_NE(firstOutput(device), zeros);
    device[3] = 0;
    device[28] = 0x80; // most significant bit of the last word: fed last
    EXPECT_NE(firstOutput(device), zeros);
}

// A short read stops after the whole words before it, without a reseed: the pool shows each
// word fed least significant bit first (00 00 00 01 flips the bit after the current position).
TEST_F(DeviceSeed, ShortReadAndMissingDevice)
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
    RANDOM_setDevicePathForTest("/nonexistent/urandom");
    EXPECT_EQ(RANDOM_seedFromDevice(), ERR_RANDOM_DEVICE_OPEN);
}

TEST_F(DeviceSeed, MissingGlobalContextStopsAtFirstBit)
{
    write_device(std::vector<uint8_t>(32, 0xFF));
    RandomContext *saved = g_randomContext;
    g_randomContext = nullptr;
    const uint32_t pos = g_entropyPool.bitPos;
    EXPECT_EQ(RANDOM_seedFromDevice(), ERR_NULL_POINTER);
    EXPECT_EQ(g_entropyPool.bitPos, pos);
    g_randomContext = saved;
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
