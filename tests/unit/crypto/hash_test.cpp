// The digest dispatcher and the suite table: buffer rules of HASH_computeDigest, suite rows,
// null-argument statuses, and incremental updates split at every awkward boundary giving
// the one-shot digest. Known answers: the RFC 1321 suite for MD5 and the FIPS 180-4 examples
// for SHA-1/224/256/384/512 (in tests/data, so they run everywhere, also on the target), the
// SHA length field past 2^32 bytes, and the NIST byte-oriented and Monte Carlo files when the
// shared folder is present.
#include "crypto/digest/hash.h"
#include "crypto/digest/md5.h"
#include "crypto/digest/sha1.h"
#include "crypto/digest/sha256.h"
#include "crypto/digest/sha512.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
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
// counters are checked through the length they encode, in the SHA length-field test below.)
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

// ---- SHA known answers: bare compression, the length field, NIST vectors.


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

// Every Len/Msg/MD record of a file (of the algorithm's section only, when asked); -1 when
// the file is absent.
int check_messages(const std::string &path, const NistFile &f, bool own_section)
{
    auto records = read_vector_file(path);
    if (!records)
        return -1;
    int checked = 0;
    for (const VectorRecord &r : *records) {
        const std::string *len = r.get("Len"), *msg = r.get("Msg"), *md = r.get("MD");
        if (!len || !msg || !md || (own_section && !r.in_section(f.name)))
            continue;
        std::vector<uint8_t> m = hexBytes(*msg);
        m.resize(std::stoul(*len) / 8); // "Len = 0" comes with "Msg = 00"
        uint8_t out[HASH_MAX_DIGEST_SIZE];
        uint32_t out_len = 0;
        EXPECT_EQ(HASH_computeDigest(m.data(), static_cast<uint32_t>(m.size()), out, &out_len, f.id), OK);
        EXPECT_EQ(bytesHex(out, out_len), *md) << path << " " << f.name << " Len " << *len;
        ++checked;
    }
    return checked;
}

// The one- and two-block examples of every algorithm, also without the shared vectors.
TEST(ShaKnownAnswers, Fips180Examples)
{
    for (const NistFile &f : NIST_FILES)
        EXPECT_EQ(2, check_messages(BM_SOURCE_DIR "/tests/data/fips180_examples.rsp", f, true)) << f.name;
}

// MD5: the suite of RFC 1321 (also without the shared vectors, and on the target).
TEST(Md5KnownAnswers, Rfc1321Suite)
{
    const NistFile md5 = {"MD5", HASH_ID_MD5, 16};
    EXPECT_EQ(7, check_messages(BM_SOURCE_DIR "/tests/data/md5_rfc1321.rsp", md5, false));
    if (check_messages(shared_vector_path("md5/rfc-1321.txt"), md5, false) < 0)
        GTEST_SKIP() << "md5 vectors absent";
}

// Short files cover every length from 0 to one block and beyond (so the 56/112-byte two-block
// finalisation), Long files multi-block lengths.
TEST(ShaNistVectors, ShortAndLongMessages)
{
    int checked = 0;
    for (const NistFile &f : NIST_FILES) {
        for (const char *kind : {"ShortMsg", "LongMsg"}) {
            int n = check_messages(shared_vector_path(std::string("nist-sha/") + f.name + kind + ".rsp"), f, false);
            if (n < 0)
                GTEST_SKIP() << "nist-sha vectors absent";
            checked += n;
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
