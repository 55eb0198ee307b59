// RSA key records, type-1 unpadding and the DigestInfo check on a fixed 1024-bit key. The
// crafted signatures are made with the key's private exponent through VLONG_modexp, so
// these tests need no oracle and also run on the big-endian target.
#include "crypto/digest/hash.h"
#include "crypto/rsa/rsa.h"
#include "tests/unit/crypto/rsa_test_util.h"
#include "tests/unit/crypto/vector_file.h"
#include "tests/unit/crypto/vlong_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A field of tests/data/rsa1024_kat.txt: a 1024-bit key made by OpenSSL, its private exponent,
// and its signature over SHA-256("abc") ("" when missing, which fails every test using it).
std::string kat(const char *name)
{
    static const auto records = read_vector_file(BM_SOURCE_DIR "/tests/data/rsa1024_kat.txt");
    const std::string *value = records && !records->empty() ? records->front().get(name) : nullptr;
    return value ? *value : "";
}
const std::string KAT_N = kat("N"), KAT_D = kat("D"), KAT_SIGNATURE = kat("Signature"), SHA256_ABC = kat("Digest");
constexpr size_t K = 128;

struct KeyHolder {
    RSAKey *key = nullptr;
    ~KeyHolder()
    {
        if (key)
            RSA_freeKey(&key, nullptr);
    }
};

// The KAT public key, with exponent e.
void makePublicKey(KeyHolder &h, uint32_t e = 65537)
{
    Bytes n = hexBytes(KAT_N);
    ASSERT_EQ(OK, RSA_createKey(&h.key));
    ASSERT_EQ(OK, RSA_setPublicKey(h.key, e, n.data(), uint32_t(n.size()), nullptr));
}

// Raw private operation: block^d mod n as K bytes.
Bytes sign(const Bytes &block)
{
    Vl m, d(vlHex(KAT_D)), n(vlHex(KAT_N)), s;
    EXPECT_EQ(OK, VLONG_vlongFromByteString(block.data(), int32_t(block.size()), m.out(), nullptr));
    EXPECT_EQ(OK, VLONG_modexp(m, d, n, s.out(), nullptr));
    Bytes out(K);
    int32_t size = int32_t(K);
    EXPECT_EQ(OK, VLONG_byteStringFromVlong(s, out.data(), &size));
    return out;
}

TEST(Rsa, KnownSignatureOpensToTheSha256Digest)
{
    KeyHolder h;
    makePublicKey(h);
    Bytes sig = hexBytes(KAT_SIGNATURE);
    uint8_t digest[64];
    std::memset(digest, 0xAA, sizeof(digest));
    uint32_t digestLength = 0;
    int32_t hashId = 0;
    ASSERT_EQ(OK, RSA_verifyDigestInfo(h.key, sig.data(), uint32_t(sig.size()), digest, &digestLength, &hashId));
    EXPECT_EQ(int32_t(HASH_ID_SHA256), hashId);
    ASSERT_EQ(32u, digestLength);
    EXPECT_EQ(SHA256_ABC, bytesHex(digest, 32));
    EXPECT_EQ(std::string(64, '0'), bytesHex(digest + 32, 32)) << "bytes after the digest are cleared";

    // One flipped bit anywhere breaks it.
    sig[K / 2] ^= 0x10;
    EXPECT_NE(OK, RSA_verifyDigestInfo(h.key, sig.data(), uint32_t(sig.size()), digest, &digestLength, &hashId));
}

TEST(Rsa, DigestInfoChecksGiveTheirStatusAndHashId)
{
    const Bytes sha256 = digestOf(32);
    struct Case {
        const char *name;
        Bytes data; // what follows the padding
        MSTATUS status;
        int32_t hashId;        // expected hashId (0: not written)
        uint32_t digestLength; // expected on success
    } cases[] = {
        // SHA-1, SHA-384, SHA-512 and MD5 come with OpenSSL's signatures in rsa_oracle_test,
        // SHA-256 with the known signature above; unknown algorithms, trailing bytes and a
        // digest too long for its algorithm with the crafted blocks below.
        {"SHA-256 without NULL parameters", digestInfo(oid::SHA256, sha256, false), OK, 11, 32},
        {"eight FF, the fewest (seven: the crafted blocks)", digestInfo(oid::SHA256, digestOf(K - 30)),
         ERR_BAD_SIGNATURE_LENGTH, 11, 0},
        {"SHA-1 under its OIW signature id", digestInfo(oid::SHA1_OIW_RSA, digestOf(20)), OK, 5, 20},
        {"SHA-224", digestInfo(oid::SHA224, digestOf(28)), OK, 14, 28},
        {"MD4", digestInfo(oid::MD4, digestOf(16)), OK, 3, 16},
        {"MD2", digestInfo(oid::MD2, digestOf(16)), OK, 2, 16},
        {"SHA-256 with a 20-byte digest", digestInfo(oid::SHA256, digestOf(20)), ERR_BAD_SIGNATURE_LENGTH, 11, 0},
        {"unknown arc under the NIST prefix", digestInfo(oid::NIST_ARC_5, sha256), ERR_ALGORITHM_UNKNOWN, -1, 0},
        {"algorithm not a SEQUENCE", tlv(0x30, cat({tlv(0x04, oid::SHA256), tlv(0x04, sha256)})), ERR_STRUCTURE, 0, 0},
        {"SEQUENCE without an OBJECT IDENTIFIER",
         tlv(0x30, cat({tlv(0x30, {0x05, 0x00}), tlv(0x04, sha256)})), ERR_STRUCTURE, 0, 0},
        {"no digest element", tlv(0x30, tlv(0x30, cat({tlv(0x06, oid::SHA256), {0x05, 0x00}}))), ERR_STRUCTURE, 11, 0},
        {"digest not at the end",
         tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid::SHA256), {0x05, 0x00}})), tlv(0x04, sha256), {0x05, 0x00}})),
         ERR_BAD_SIGNATURE_LENGTH, 11, 0},
        // Forms the lenient reading takes but DER does not: refused after the algorithm is known.
        {"parameters other than NULL",
         tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid::SHA256), tlv(0x80, {1, 2, 3})})), tlv(0x04, sha256)})),
         ERR_STRUCTURE, 11, 0},
        {"two parameters", tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid::SHA256), {0x05, 0x00, 0x05, 0x00}})),
                                          tlv(0x04, sha256)})),
         ERR_STRUCTURE, 11, 0},
        {"digest under a context tag",
         tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid::SHA256), {0x05, 0x00}})), tlv(0x80, sha256)})),
         ERR_STRUCTURE, 11, 0},
        {"long-form outer length", [&] {
             Bytes b = digestInfo(oid::SHA256, sha256);
             b.insert(b.begin() + 1, 0x81);
             return b;
         }(), ERR_STRUCTURE, 11, 0},
    };
    KeyHolder h;
    makePublicKey(h);
    for (const Case &c : cases) {
        Bytes sig = sign(type1Block(K, c.data));
        uint8_t digest[64] = {};
        uint32_t digestLength = 0;
        int32_t hashId = 0;
        MSTATUS st = RSA_verifyDigestInfo(h.key, sig.data(), K, digest, &digestLength, &hashId);
        EXPECT_EQ(c.status, st) << c.name;
        EXPECT_EQ(c.hashId, hashId) << c.name;
        if (c.status == OK) {
            ASSERT_EQ(c.digestLength, digestLength) << c.name;
            EXPECT_EQ(bytesHex(digestOf(c.digestLength).data(), c.digestLength), bytesHex(digest, c.digestLength));
        }
    }
}

TEST(Rsa, CraftedBlocksGiveTheirStatus)
{
    KeyHolder h;
    makePublicKey(h);
    for (const BlockCase &c : blockCases(K)) {
        Bytes sig = sign(c.block);
        uint8_t digest[64];
        uint32_t digestLength = 0;
        int32_t hashId = 0;
        EXPECT_EQ(c.status, RSA_verifyDigestInfo(h.key, sig.data(), K, digest, &digestLength, &hashId)) << c.name;
    }
}

TEST(Rsa, ArgumentAndKeyShapeFailures)
{
    KeyHolder h;
    makePublicKey(h);
    Bytes sig = hexBytes(KAT_SIGNATURE);
    uint8_t digest[64];
    uint32_t len = 0;
    int32_t id = 0;

    // A signature value at or above n is refused before the arithmetic.
    Bytes n = hexBytes(KAT_N);
    EXPECT_EQ(ERR_RSA_SIGNATURE_RANGE, RSA_verifyDigestInfo(h.key, n.data(), K, digest, &len, &id));

    // An exponent of 2^32 or more, a missing exponent, a modulus over 4096 bits.
    Vl wide(vlHex("100000001"));
    VLONG *saved = h.key->e;
    h.key->e = wide;
    EXPECT_EQ(ERR_RSA_BAD_EXPONENT, RSA_verifyDigestInfo(h.key, sig.data(), K, digest, &len, &id));
    h.key->e = nullptr;
    EXPECT_EQ(ERR_RSA_BAD_EXPONENT, RSA_verifyDigestInfo(h.key, sig.data(), K, digest, &len, &id));
    h.key->e = saved;

    KeyHolder big;
    Bytes bigModulus(513, 0xFF);
    bigModulus[0] = 0x01;
    ASSERT_EQ(OK, RSA_createKey(&big.key));
    ASSERT_EQ(OK, RSA_setPublicKey(big.key, 65537, bigModulus.data(), 513, nullptr));
    Bytes bigSig(513, 0x00);
    bigSig[512] = 2;
    EXPECT_EQ(ERR_RSA_MODULUS_TOO_BIG, RSA_verifyDigestInfo(big.key, bigSig.data(), 513, digest, &len, &id));
}

TEST(Rsa, KeyKeepsTheBarrettConstantOfItsModulus)
{
    // A stale or missing constant would open signatures wrongly: a clone verifies with its
    // own copy, a key without one verifies the same, and another modulus replaces it.
    KeyHolder h, copy;
    makePublicKey(h);
    ASSERT_EQ(OK, RSA_cloneKey(&copy.key, h.key, nullptr));
    EXPECT_NE(h.key->mu, copy.key->mu);
    Bytes sig = hexBytes(KAT_SIGNATURE);
    uint8_t digest[64];
    uint32_t len = 0;
    int32_t id = 0;
    ASSERT_EQ(OK, VLONG_freeVlong(&h.key->mu, nullptr));
    for (RSAKey *key : {copy.key, h.key}) {
        ASSERT_EQ(OK, RSA_verifyDigestInfo(key, sig.data(), K, digest, &len, &id));
        EXPECT_EQ(SHA256_ABC, bytesHex(digest, len));
    }
    Bytes n3 = hexBytes("c5");
    ASSERT_EQ(OK, RSA_setPublicKey(h.key, 3, n3.data(), uint32_t(n3.size()), nullptr));
    EXPECT_EQ("14cab88725af6e7", hexOf(h.key->mu)) << "b^2 / 0xc5";
}

} // namespace
