// Every digest against OpenSSL on messages of the block-edge lengths, then random ones, fed
// in random pieces through one reused context, and the long-message digests on 2^29 bytes
// (host only).
#include "crypto/digest/hash.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

namespace {

struct OracleCase {
    uint32_t id;
    const EVP_MD *(*md)();
};

const OracleCase CASES[] = {
    {HASH_ID_MD5, EVP_md5},       {HASH_ID_SHA1, EVP_sha1},     {HASH_ID_SHA224, EVP_sha224},
    {HASH_ID_SHA256, EVP_sha256}, {HASH_ID_SHA384, EVP_sha384}, {HASH_ID_SHA512, EVP_sha512},
};

std::vector<uint8_t> openssl_digest(const EVP_MD *md, const std::vector<uint8_t> &msg)
{
    uint8_t out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), out, &len, md, nullptr), 1);
    return {out, out + len};
}

TEST(HashOracle, RandomMessagesInRandomPieces)
{
    std::mt19937 rng(20240611);
    for (const OracleCase &c : CASES) {
        const HashSuite *suite = nullptr;
        ASSERT_EQ(HASH_getSuite(c.id, &suite), OK);
        void *ctx = nullptr; // one context for every message: init must reset it after a final
        ASSERT_EQ(suite->allocContext(&ctx), OK);
        for (int round = 0; round < 300; ++round) {
            static const size_t edges[] = {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129};
            size_t n = round < 12 ? edges[round] : rng() % (round < 200 ? 600 : 20000);
            std::vector<uint8_t> msg(n);
            for (uint8_t &b : msg)
                b = static_cast<uint8_t>(rng());
            const std::vector<uint8_t> expect = openssl_digest(c.md(), msg);

            uint8_t one_shot[HASH_MAX_DIGEST_SIZE];
            uint32_t len = 0;
            uint8_t dummy = 0;
            ASSERT_EQ(HASH_computeDigest(n ? msg.data() : &dummy, static_cast<uint32_t>(n),
                                         one_shot, &len, c.id),
                      OK);
            ASSERT_EQ(bytesHex(one_shot, len), bytesHex(expect)) << "id " << c.id << " n " << n;

            ASSERT_EQ(suite->init(ctx), OK);
            size_t pos = 0;
            while (pos < n) {
                size_t piece = std::min<size_t>(rng() % 300, n - pos);
                ASSERT_EQ(suite->update(ctx, msg.data() + pos, static_cast<uint32_t>(piece)), OK);
                pos += piece;
            }
            uint8_t pieces[HASH_MAX_DIGEST_SIZE];
            ASSERT_EQ(suite->final(ctx, pieces), OK);
            ASSERT_EQ(bytesHex(pieces, suite->digestSize), bytesHex(expect))
                << "id " << c.id << " n " << n << " (pieces)";
        }
        ASSERT_EQ(suite->freeContext(&ctx), OK);
    }
}

} // namespace

// 2^29 zero bytes: the first length whose bit count needs the high word of the length field.
// Fed in 1 MiB pieces through the update, the same pieces through OpenSSL.
TEST(HashOracle, HalfGigabyteOfZeros)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "512 MiB per digest at sanitizer speed; the plain host build runs it";
#endif
    const std::vector<uint8_t> piece(1u << 20);
    for (const OracleCase &c : {CASES[1], CASES[3], CASES[5]}) {
        const HashSuite *suite = nullptr;
        ASSERT_EQ(HASH_getSuite(c.id, &suite), OK);
        void *ctx = nullptr;
        ASSERT_EQ(suite->allocContext(&ctx), OK);
        ASSERT_EQ(suite->init(ctx), OK);
        EVP_MD_CTX *oracle = EVP_MD_CTX_new();
        ASSERT_EQ(EVP_DigestInit_ex(oracle, c.md(), nullptr), 1);
        for (int i = 0; i < 512; ++i) {
            ASSERT_EQ(suite->update(ctx, piece.data(), static_cast<uint32_t>(piece.size())), OK);
            ASSERT_EQ(EVP_DigestUpdate(oracle, piece.data(), piece.size()), 1);
        }
        uint8_t ours[HASH_MAX_DIGEST_SIZE], expect[EVP_MAX_MD_SIZE];
        unsigned len = 0;
        ASSERT_EQ(suite->final(ctx, ours), OK);
        ASSERT_EQ(suite->freeContext(&ctx), OK);
        ASSERT_EQ(EVP_DigestFinal_ex(oracle, expect, &len), 1);
        EVP_MD_CTX_free(oracle);
        EXPECT_EQ(bytesHex(ours, suite->digestSize), bytesHex(expect, len)) << "id " << c.id;
    }
}
