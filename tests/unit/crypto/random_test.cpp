// The entropy pool, the platform locks and the random contexts: lock checks, the reseed every
// 384 bits, and seeding from a device file. The pool's bit positions and stirring are checked
// against a model in random_oracle_test.
#include "crypto/random/entropy.h"
#include "crypto/init.h"
#include "crypto/common/platform_hooks.h"
#include "crypto/random/random.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
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

} // namespace
