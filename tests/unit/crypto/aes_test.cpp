// AES encryption known answers: the FIPS 197 examples for all three key sizes (in
// tests/data), and the NIST AESAVS AES-256 files (known-answer, multi-block and Monte Carlo) when
// the shared folder is present.
#include "crypto/random/aes.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string encrypt_hex(const std::vector<uint8_t> &key, const std::vector<uint8_t> &plain)
{
    AesKey k;
    if (AES_expandKey(&k, key.data(), static_cast<uint32_t>(key.size())) != OK)
        return "bad key";
    std::vector<uint8_t> out = plain; // encrypted in place (the oracle test uses two buffers)
    for (size_t at = 0; at + 16 <= out.size(); at += 16)
        if (AES_encryptBlock(&k, out.data() + at, out.data() + at) != OK)
            return "failed";
    return bytesHex(out);
}

TEST(AesInterface, BadKeyLengthsAreRejected)
{
    uint8_t key[33] = {};
    AesKey k;
    for (uint32_t len : {0u, 15u, 17u, 20u, 33u}) {
        std::memset(&k, 0x5A, sizeof k);
        EXPECT_EQ(AES_expandKey(&k, key, len), ERR_BAD_LENGTH) << len;
        uint8_t block[16] = {};
        EXPECT_NE(AES_encryptBlock(&k, block, block), OK) << "unexpanded key used, length " << len;
    }
}

// Every ENCRYPT record of a file, block by block; -1 when the file is absent.
int check_file(const std::string &path)
{
    auto records = read_vector_file(path);
    if (!records)
        return -1;
    int checked = 0;
    for (const VectorRecord &r : *records) {
        const std::string *key = r.get("KEY"), *pt = r.get("PLAINTEXT"), *ct = r.get("CIPHERTEXT");
        if (!r.in_section("ENCRYPT") || !key || !pt || !ct)
            continue;
        EXPECT_EQ(encrypt_hex(hexBytes(*key), hexBytes(*pt)), *ct) << path << " " << *r.get("COUNT");
        ++checked;
    }
    return checked;
}

TEST(AesKnownAnswers, Fips197Examples)
{
    EXPECT_EQ(check_file(BM_SOURCE_DIR "/tests/data/fips197_examples.rsp"), 4);
}

// Known-answer and multi-block files: every ENCRYPT record, block by block.
TEST(AesNistVectors, KnownAnswerAndMultiBlockFiles)
{
    int checked = 0;
    for (const char *file : {"ECBGFSbox256.rsp", "ECBKeySbox256.rsp", "ECBVarKey256.rsp",
                             "ECBVarTxt256.rsp", "ECBMMT256.rsp", "fips197_C3_aes256.txt"}) {
        int n = check_file(shared_vector_path(std::string("aes/") + file));
        if (n < 0)
            GTEST_SKIP() << "aes vectors absent";
        checked += n;
    }
    EXPECT_EQ(checked, 5 + 16 + 256 + 128 + 10 + 1);
}

// Monte Carlo records: CIPHERTEXT is PLAINTEXT encrypted 1000 times under KEY. Under
// emulation on the target only the first records run.
TEST(AesNistVectors, MonteCarloRecords)
{
    auto records = read_vector_file(shared_vector_path("aes/ECBMCT256.rsp"));
    if (!records)
        GTEST_SKIP() << "aes vectors absent";
#if defined(__powerpc__)
    const int limit = 10;
#else
    const int limit = 100;
#endif
    int checked = 0;
    for (const VectorRecord &r : *records) {
        const std::string *key = r.get("KEY"), *pt = r.get("PLAINTEXT"), *ct = r.get("CIPHERTEXT");
        if (!r.in_section("ENCRYPT") || !key || !pt || !ct || checked == limit)
            continue;
        auto k = hexBytes(*key);
        auto block = hexBytes(*pt);
        AesKey expanded;
        ASSERT_EQ(AES_expandKey(&expanded, k.data(), 32), OK);
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(AES_encryptBlock(&expanded, block.data(), block.data()), OK);
        EXPECT_EQ(bytesHex(block), *ct) << "COUNT " << *r.get("COUNT");
        ++checked;
    }
    EXPECT_EQ(checked, limit);
}

} // namespace
