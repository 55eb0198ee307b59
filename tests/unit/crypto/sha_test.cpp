// Known answers for SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512 through the dispatcher:
// the FIPS 180-4 examples written in here (run everywhere, also on the target) and the
// NIST byte-oriented vector files when the shared folder is present.
#include "crypto/digest/hash.h"
#include "crypto/digest/sha1.h"
#include "crypto/digest/sha256.h"
#include "crypto/digest/sha512.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string TWO_BLOCK = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string LONG_112 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
    "lmnopqrsmnopqrstnopqrstu";

struct Known {
    uint32_t id;
    std::string message;
    const char *digest;
};

std::string digest_hex(uint32_t id, const std::string &message)
{
    uint8_t out[HASH_MAX_DIGEST_SIZE];
    uint32_t len = 0;
    MSTATUS st = HASH_computeDigest(reinterpret_cast<const uint8_t *>(message.data()),
                                    static_cast<uint32_t>(message.size()), out, &len, id);
    if (st != OK)
        return "status " + std::to_string(st);
    return bytesHex(out, len);
}

// The one- and two-block examples of every algorithm (the empty message and every other length
// are in the NIST files and the oracle test). SHA-224 and SHA-384 are listed on purpose: a
// truncated SHA-256/512 with the wrong initial value would fail them.
TEST(ShaKnownAnswers, Fips180Examples)
{
    const Known cases[] = {
        {HASH_ID_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HASH_ID_SHA1, TWO_BLOCK, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {HASH_ID_SHA224, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
        {HASH_ID_SHA224, TWO_BLOCK, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
        {HASH_ID_SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {HASH_ID_SHA256, TWO_BLOCK,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {HASH_ID_SHA384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
         "34c825a7"},
        {HASH_ID_SHA384, LONG_112,
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa"
         "91746039"},
        {HASH_ID_SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
         "a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {HASH_ID_SHA512, LONG_112,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99de"
         "c4b5433ac7d329eeb6dd26545e96e55b874be909"},
    };
    for (const Known &k : cases)
        EXPECT_EQ(digest_hex(k.id, k.message), k.digest) << "id " << k.id << " msg " << k.message;
}

// SHA1_G is the bare compression: no padding, no length. For the padded one-block message
// "abc" it must therefore equal SHA-1("abc").
TEST(ShaKnownAnswers, Sha1GIsOneCompressionWithoutPadding)
{
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24; // bit length of "abc"
    uint8_t out[20];
    ASSERT_EQ(SHA1_G(block, out), OK);
    EXPECT_EQ(bytesHex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");

    uint8_t zeros[64] = {};
    ASSERT_EQ(SHA1_G(zeros, out), OK);
    EXPECT_NE(bytesHex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(SHA1_G(nullptr, out), ERR_NULL_POINTER);
    EXPECT_EQ(SHA1_G(zeros, nullptr), ERR_NULL_POINTER);
}

// The last block ends in the message length in bits, which passes into its high word from
// 2^29 bytes on (2^61 for SHA-512), while the byte count itself carries into its high word
// at 2^32 (2^64) bytes. No test message is that long, so each case starts a context at such
// a count, adds 20 bytes and compares the digest with one compression of the last block as
// the standard pads it, built here: the 20 bytes, 0x80, zeros, the bit count big-endian.
template <typename Ctx, typename Word, size_t BLOCK, size_t WORDS>
void expect_length_field(MSTATUS (*init)(Ctx *), MSTATUS (*update)(Ctx *, const uint8_t *, uint32_t),
                         MSTATUS (*final)(Ctx *, uint8_t *), Word low, Word high)
{
    uint8_t data[20];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<uint8_t>(0xA0 + i);
    Ctx ctx;
    ASSERT_EQ(init(&ctx), OK);
    ctx.bytesLow = low;
    ctx.bytesHigh = high;
    ASSERT_EQ(update(&ctx, data, sizeof data), OK);
    uint8_t digest[WORDS * sizeof(Word)];
    ASSERT_EQ(final(&ctx, digest), OK);

    // Count + 20 in bytes, then times 8 across the two words of the length field.
    Word countLow = low + sizeof data;
    Word countHigh = high + (countLow < low ? 1 : 0);
    constexpr int BITS = 8 * sizeof(Word);
    Word bitsHigh = (countHigh << 3) | (countLow >> (BITS - 3));
    Word bitsLow = countLow << 3;
    uint8_t block[BLOCK] = {};
    std::memcpy(block, data, sizeof data);
    block[sizeof data] = 0x80;
    for (size_t i = 0; i < sizeof(Word); ++i) {
        block[BLOCK - 2 * sizeof(Word) + i] = static_cast<uint8_t>(bitsHigh >> (BITS - 8 - 8 * i));
        block[BLOCK - sizeof(Word) + i] = static_cast<uint8_t>(bitsLow >> (BITS - 8 - 8 * i));
    }
    Ctx ref;
    ASSERT_EQ(init(&ref), OK);
    ASSERT_EQ(update(&ref, block, BLOCK), OK); // one whole block: compressed at once
    uint8_t expect[WORDS * sizeof(Word)];
    for (size_t w = 0; w < WORDS; ++w)
        for (size_t i = 0; i < sizeof(Word); ++i)
            expect[w * sizeof(Word) + i] = static_cast<uint8_t>(ref.state[w] >> (BITS - 8 - 8 * i));
    EXPECT_EQ(bytesHex(digest, sizeof digest), bytesHex(expect, sizeof expect))
        << "count " << high << ":" << low << " + 20";
}

TEST(ShaLengthField, CountsPastTheLowWordOfBitsAndOfBytes)
{
    for (uint32_t low : {(1u << 29) - 8, 0xFFFFFFF0u}) {
        expect_length_field<SHA1Ctx, uint32_t, 64, 5>(SHA1_initDigest, SHA1_updateDigest, SHA1_finalDigest, low, 0u);
        expect_length_field<SHA256Ctx, uint32_t, 64, 8>(SHA256_initDigest, SHA256_updateDigest, SHA256_finalDigest,
                                                         low, 0u);
    }
    for (uint64_t low : {(uint64_t{1} << 61) - 8, ~uint64_t{0} - 15})
        expect_length_field<SHA512Ctx, uint64_t, 128, 8>(SHA512_initDigest, SHA512_updateDigest, SHA512_finalDigest,
                                                         low, uint64_t{0});
}

struct NistFile {
    const char *name;
    uint32_t id;
    uint32_t digest_size;
};

const NistFile NIST_FILES[] = {
    {"SHA1", HASH_ID_SHA1, 20},     {"SHA224", HASH_ID_SHA224, 28}, {"SHA256", HASH_ID_SHA256, 32},
    {"SHA384", HASH_ID_SHA384, 48}, {"SHA512", HASH_ID_SHA512, 64},
};

// Short files cover every length from 0 to one block and beyond (so the 56/112-byte two-block
// finalisation), Long files multi-block lengths.
TEST(ShaNistVectors, ShortAndLongMessages)
{
    int checked = 0;
    for (const NistFile &f : NIST_FILES) {
        for (const char *kind : {"ShortMsg", "LongMsg"}) {
            std::string path = shared_vector_path(std::string("nist-sha/") + f.name + kind + ".rsp");
            auto records = read_vector_file(path);
            if (!records)
                GTEST_SKIP() << "no vector file " << path;
            for (const VectorRecord &r : *records) {
                const std::string *len = r.get("Len"), *msg = r.get("Msg"), *md = r.get("MD");
                if (!len || !msg || !md)
                    continue;
                std::vector<uint8_t> m = hexBytes(*msg);
                m.resize(std::stoul(*len) / 8); // "Len = 0" comes with "Msg = 00"
                uint8_t out[HASH_MAX_DIGEST_SIZE];
                uint32_t out_len = 0;
                ASSERT_EQ(HASH_computeDigest(m.data(), static_cast<uint32_t>(m.size()), out,
                                             &out_len, f.id),
                          OK);
                ASSERT_EQ(out_len, f.digest_size);
                EXPECT_EQ(bytesHex(out, out_len), *md) << f.name << kind << " Len " << *len;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 500);
}

// SHAVS Monte Carlo: M0 = M1 = M2 = Seed; Mi = H(M(i-3) || M(i-2) || M(i-1)) for i = 3..1002.
// Under emulation on the target only the first checkpoints run, to keep the suite quick.
TEST(ShaNistVectors, MonteCarlo)
{
#if defined(__powerpc__)
    const size_t checkpoints = 5;
#else
    const size_t checkpoints = 100;
#endif
    for (const NistFile &f : NIST_FILES) {
        std::string path = shared_vector_path(std::string("nist-sha/") + f.name + "Monte.rsp");
        auto records = read_vector_file(path);
        if (!records)
            GTEST_SKIP() << "no vector file " << path;
        std::vector<uint8_t> seed;
        size_t done = 0;
        for (const VectorRecord &r : *records) {
            if (const std::string *s = r.get("Seed")) {
                seed = hexBytes(*s);
                continue;
            }
            const std::string *md = r.get("MD");
            if (!md || seed.empty() || done == checkpoints)
                continue;
            std::vector<uint8_t> m0 = seed, m1 = seed, m2 = seed;
            for (int i = 3; i < 1003; ++i) {
                std::vector<uint8_t> msg = m0;
                msg.insert(msg.end(), m1.begin(), m1.end());
                msg.insert(msg.end(), m2.begin(), m2.end());
                uint8_t out[HASH_MAX_DIGEST_SIZE];
                uint32_t out_len = 0;
                ASSERT_EQ(HASH_computeDigest(msg.data(), static_cast<uint32_t>(msg.size()), out,
                                             &out_len, f.id),
                          OK);
                m0 = std::move(m1);
                m1 = std::move(m2);
                m2.assign(out, out + out_len);
            }
            ASSERT_EQ(bytesHex(m2), *md) << f.name << " checkpoint " << done;
            seed = m2;
            ++done;
        }
        EXPECT_EQ(done, checkpoints) << f.name;
    }
}

} // namespace
