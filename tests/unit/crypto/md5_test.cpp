// MD5 known answers: the RFC 1321 suite written in here and, when present, the shared
// vector files in both of their formats.
#include "crypto/digest/hash.h"
#include "crypto/digest/md5.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string md5_hex(const std::string &message)
{
    uint8_t out[MD5_DIGEST_SIZE];
    if (MD5_completeDigest(reinterpret_cast<const uint8_t *>(message.data()),
                           static_cast<uint32_t>(message.size()), out) != OK)
        return "failed";
    return bytesHex(out, sizeof out);
}

TEST(Md5KnownAnswers, Rfc1321Suite)
{
    const std::pair<std::string, const char *> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[message, digest] : suite)
        EXPECT_EQ(md5_hex(message), digest) << '"' << message << '"';
}

// The shared RFC 1321 suite in both of its formats: CAVP-style records and the
// 'MD5 ("<text>") = <hex>' lines.
TEST(Md5Vectors, SharedFilesInBothFormats)
{
    auto records = read_vector_file(shared_vector_path("md5/rfc-1321.txt"));
    std::ifstream strings(shared_vector_path("md5/rfc1321_A5_test_suite.txt"));
    if (!records || !strings)
        GTEST_SKIP() << "md5 vectors absent";
    int checked = 0;
    for (const VectorRecord &r : *records) {
        const std::string *len = r.get("Len"), *msg = r.get("Msg"), *md = r.get("MD");
        if (!len || !msg || !md)
            continue;
        std::vector<uint8_t> m = hexBytes(*msg);
        m.resize(std::stoul(*len) / 8);
        uint8_t out[HASH_MAX_DIGEST_SIZE];
        uint32_t out_len = 0;
        ASSERT_EQ(HASH_computeDigest(m.data(), static_cast<uint32_t>(m.size()), out, &out_len,
                                     HASH_ID_MD5),
                  OK);
        EXPECT_EQ(bytesHex(out, out_len), *md) << "Len " << *len;
        ++checked;
    }
    for (std::string line; std::getline(strings, line);) {
        size_t open = line.find("(\""), close = line.rfind("\")"), eq = line.rfind("= ");
        if (line.empty() || line[0] == '#' || open == std::string::npos ||
            close == std::string::npos || eq == std::string::npos)
            continue;
        std::string text = line.substr(open + 2, close - open - 2);
        EXPECT_EQ(md5_hex(text), vector_trim(line.substr(eq + 2))) << text;
        ++checked;
    }
    EXPECT_EQ(checked, 14);
}

} // namespace
