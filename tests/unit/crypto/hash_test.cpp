// The digest dispatcher: buffer rules of HASH_computeDigest. Known answers: the RFC 1321 suite for MD5 and the FIPS 180-4 examples for SHA-1/224/256/384/512
// (in tests/data, so they run everywhere, also on the target), and the NIST byte-oriented
// and Monte Carlo files when the shared folder is present. (Updates in pieces of every size
// against the one-shot digest: hash_oracle_test.)
#include "crypto/digest/hash.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The buffer past the digest is zeroed; an unsupported id zeroes all of it and leaves the
// length; a null message touches neither. (The digests themselves: the known answers below.)
TEST(HashComputeDigest, BufferAndLengthRules)
{
    const uint8_t empty[1] = {0};
    const struct {
        const uint8_t *data;
        uint32_t id;
        MSTATUS status;
        uint32_t length;
        uint8_t rest; // the bytes past the digest
    } cases[] = {
        {empty, HASH_ID_SHA256, OK, 32, 0x00},  {empty, HASH_ID_MD5, OK, 16, 0x00},
        {empty, HASH_ID_SHA384, OK, 48, 0x00},  {empty, HASH_ID_MD2, ERR_HASH_UNSUPPORTED, 77, 0x00},
        {empty, HASH_ID_MD4, ERR_HASH_UNSUPPORTED, 77, 0x00}, {empty, 6u, ERR_HASH_UNSUPPORTED, 77, 0x00},
        {nullptr, HASH_ID_SHA256, ERR_NULL_POINTER, 77, 0xAA},
    };
    for (const auto &c : cases) {
        uint8_t out[HASH_MAX_DIGEST_SIZE];
        std::memset(out, 0xAA, sizeof out);
        uint32_t len = 77;
        EXPECT_EQ(c.status, HASH_computeDigest(c.data, 0, out, &len, c.id)) << c.id;
        EXPECT_EQ(c.length, len) << c.id;
        for (uint32_t i = c.status == OK ? c.length : 0; i < HASH_MAX_DIGEST_SIZE; ++i)
            ASSERT_EQ(c.rest, out[i]) << "id " << c.id << " byte " << i;
    }
}

// ---- Known answers: FIPS 180-4 examples, RFC 1321, NIST vectors. (The length field's high
// word at 2^29 bytes: hash_oracle_test.)

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
