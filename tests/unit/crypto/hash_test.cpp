// The digest dispatcher and the suite table: buffer rules of HASH_computeDigest, suite rows,
// null-argument statuses, and incremental updates split at every awkward boundary giving
// the one-shot digest.
#include "crypto/digest/hash.h"
#include "crypto/digest/md5.h"
#include "crypto/digest/sha1.h"
#include "crypto/digest/sha256.h"
#include "crypto/digest/sha512.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct IdInfo {
    uint32_t id;
    uint32_t digest_size;
    uint32_t block_size;
};

const IdInfo IDS[] = {
    {HASH_ID_MD5, 16, 64},     {HASH_ID_SHA1, 20, 64},     {HASH_ID_SHA256, 32, 64},
    {HASH_ID_SHA384, 48, 128}, {HASH_ID_SHA512, 64, 128}, {HASH_ID_SHA224, 28, 64},
};

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 131 + 7);
    return v;
}

TEST(HashComputeDigest, EveryIdReportsItsSizeAndZeroesTheRest)
{
    auto msg = pattern(200);
    for (const IdInfo &info : IDS) {
        for (uint32_t n : {0u, 200u}) {
            uint8_t out[HASH_MAX_DIGEST_SIZE];
            std::memset(out, 0xAA, sizeof out);
            uint32_t len = 0;
            ASSERT_EQ(HASH_computeDigest(msg.data(), n, out, &len, info.id), OK);
            EXPECT_EQ(len, info.digest_size) << info.id;
            for (uint32_t i = info.digest_size; i < HASH_MAX_DIGEST_SIZE; ++i)
                ASSERT_EQ(out[i], 0) << "id " << info.id << " length " << n << " byte " << i;
        }
    }
}

TEST(HashComputeDigest, NullPointersWriteNothing)
{
    uint8_t data[4] = {};
    uint8_t out[HASH_MAX_DIGEST_SIZE];
    uint32_t len = 77;
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(HASH_computeDigest(nullptr, 0, out, &len, HASH_ID_SHA256), ERR_NULL_POINTER);
    EXPECT_EQ(HASH_computeDigest(data, 4, nullptr, &len, HASH_ID_SHA256), ERR_NULL_POINTER);
    EXPECT_EQ(HASH_computeDigest(data, 4, out, nullptr, HASH_ID_SHA256), ERR_NULL_POINTER);
    EXPECT_EQ(len, 77u);
    for (uint8_t b : out)
        ASSERT_EQ(b, 0xAA);
}

TEST(HashComputeDigest, UnsupportedIdsLeaveZeroedBufferAndLength)
{
    uint8_t data[4] = {1, 2, 3, 4};
    for (uint32_t id : {0u, 1u, HASH_ID_MD2, HASH_ID_MD4, 6u, 10u, 15u, 0xFFFFFFFFu}) {
        uint8_t out[HASH_MAX_DIGEST_SIZE];
        std::memset(out, 0xAA, sizeof out);
        uint32_t len = 77;
        EXPECT_EQ(HASH_computeDigest(data, 4, out, &len, id), ERR_HASH_UNSUPPORTED) << id;
        EXPECT_EQ(len, 77u);
        for (uint8_t b : out)
            ASSERT_EQ(b, 0) << "id " << id;
    }
}

TEST(HashSuiteTable, RowsMatchTheAlgorithms)
{
    for (const IdInfo &info : IDS) {
        const HashSuite *suite = nullptr;
        ASSERT_EQ(HASH_getSuite(info.id, &suite), OK);
        ASSERT_NE(suite, nullptr);
        EXPECT_EQ(suite->digestSize, info.digest_size) << info.id;
        EXPECT_EQ(suite->blockSize, info.block_size) << info.id;
    }
    for (uint32_t id : {0u, HASH_ID_MD2, HASH_ID_MD4, 6u, 15u}) {
        const HashSuite *suite = reinterpret_cast<const HashSuite *>(0x1);
        EXPECT_EQ(HASH_getSuite(id, &suite), ERR_HASH_SUITE_UNKNOWN) << id;
        EXPECT_EQ(suite, reinterpret_cast<const HashSuite *>(0x1));
    }
    EXPECT_EQ(HASH_getSuite(HASH_ID_SHA256, nullptr), ERR_NULL_POINTER);
}

// Feeds the message through a suite in pieces of the given sizes (cycled) and compares with
// the one-shot digest. The sizes sit on and around the block and length-field boundaries.
// One context serves every case, so a state left over from the last message shows too.
TEST(HashSuiteTable, SplitUpdatesEqualOneShot)
{
    const std::vector<std::vector<uint32_t>> splits = {
        {0, 1},  {1},   {55},  {56},  {57}, {63},  {64},          {65},         {111},
        {112},   {113}, {127}, {128}, {129}, {3, 0, 61}, {64, 0, 0, 1}, {200, 7, 128},
    };
    const uint32_t lengths[] = {0, 1, 55, 56, 57, 63, 64, 65, 111, 112, 113, 127, 128, 129, 1000};
    for (const IdInfo &info : IDS) {
        const HashSuite *suite = nullptr;
        ASSERT_EQ(HASH_getSuite(info.id, &suite), OK);
        void *ctx = nullptr; // one context for every message: init must reset it after a final
        ASSERT_EQ(suite->allocContext(&ctx), OK);
        for (uint32_t n : lengths) {
            auto msg = pattern(n);
            uint8_t expect[HASH_MAX_DIGEST_SIZE];
            uint32_t expect_len = 0;
            uint8_t dummy = 0;
            ASSERT_EQ(HASH_computeDigest(n ? msg.data() : &dummy, n, expect, &expect_len, info.id),
                      OK);
            for (const auto &split : splits) {
                ASSERT_EQ(suite->init(ctx), OK);
                uint32_t pos = 0;
                for (size_t k = 0; pos < n || k == 0; ++k) {
                    uint32_t piece = std::min(split[k % split.size()], n - pos);
                    ASSERT_EQ(suite->update(ctx, n ? msg.data() + pos : &dummy, piece), OK);
                    pos += piece;
                    if (k > 4 * n + 4)
                        break;
                }
                uint8_t got[HASH_MAX_DIGEST_SIZE] = {};
                ASSERT_EQ(suite->final(ctx, got), OK);
                EXPECT_EQ(bytesHex(got, info.digest_size), bytesHex(expect, expect_len))
                    << "id " << info.id << " length " << n << " first piece " << split[0];
            }
        }
        ASSERT_EQ(suite->freeContext(&ctx), OK);
        EXPECT_EQ(ctx, nullptr);
    }
}

TEST(HashContexts, NullArgumentsAreRejected)
{
    uint8_t data[1] = {0};
    uint8_t out[64];
    for (const IdInfo &info : IDS) {
        const HashSuite *suite = nullptr;
        ASSERT_EQ(HASH_getSuite(info.id, &suite), OK);
        void *ctx = nullptr;
        ASSERT_EQ(suite->allocContext(&ctx), OK);
        ASSERT_EQ(suite->init(ctx), OK);
        EXPECT_EQ(suite->allocContext(nullptr), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->init(nullptr), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->update(nullptr, data, 1), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->update(ctx, nullptr, 0), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->update(ctx, nullptr, 1), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->final(nullptr, out), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->final(ctx, nullptr), ERR_NULL_POINTER) << info.id;
        EXPECT_EQ(suite->freeContext(nullptr), ERR_NULL_POINTER) << info.id;
        ASSERT_EQ(suite->freeContext(&ctx), OK);
        EXPECT_EQ(suite->freeContext(&ctx), ERR_NULL_POINTER) << "second free of id " << info.id;
    }
}

// The typed one-shots (which the dispatcher calls) check their own arguments.
TEST(HashContexts, TypedOneShotsRejectNullArguments)
{
    uint8_t data[1] = {0}, out[64];
    for (auto fn : {MD5_completeDigest, SHA1_completeDigest, SHA256_completeDigest, SHA224_completeDigest,
                    SHA512_completeDigest, SHA384_completeDigest}) {
        EXPECT_EQ(fn(nullptr, 0, out), ERR_NULL_POINTER);
        EXPECT_EQ(fn(data, 1, nullptr), ERR_NULL_POINTER);
    }
}

// MD5's bit counter carries from the low into the high word instead of wrapping: a wrapped
// counter would encode the wrong length in the final block of a >512 MiB message. (The SHA
// counters are checked through the length they encode, in sha_test.)
TEST(HashContexts, Md5LengthCounterCarriesIntoTheHighWord)
{
    uint8_t data[32] = {};
    MD5Ctx md5;
    ASSERT_EQ(MD5_initDigest(&md5), OK);
    md5.bitsLow = 0xFFFFFF00;
    ASSERT_EQ(MD5_updateDigest(&md5, data, 32), OK); // 256 bits
    EXPECT_EQ(md5.bitsHigh, 1u);
    EXPECT_EQ(md5.bitsLow, 0u);
}

} // namespace
