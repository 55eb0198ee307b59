// RSA_verifyDigestInfo against keys and signatures made by OpenSSL at test time: 2048, 3072
// and 4096-bit keys with e = 65537 and e = 3. Valid signatures come from OpenSSL's own
// PKCS#1 v1.5 signing; crafted blocks are turned into signatures with OpenSSL's raw private
// operation (no padding).
#include "crypto/digest/hash.h"
#include "crypto/rsa/rsa.h"
#include "tests/unit/crypto/openssl_util.h"

#include <algorithm>

namespace {

struct TestKey {
    EVP_PKEY *pkey;
    Bytes n;
    uint32_t e;
};

TestKey testKey(int bits, uint32_t e)
{
    EVP_PKEY *key = opensslRsaKey(bits, e);
    return {key, bnParam(key, OSSL_PKEY_PARAM_RSA_N), e};
}

struct Result {
    MSTATUS status;
    int32_t hashId = 0;
    uint32_t digestLength = 0;
    Bytes digest;
};

Result verify(const TestKey &k, const Bytes &sig)
{
    RSAKey *key = nullptr;
    EXPECT_EQ(OK, RSA_createKey(&key));
    EXPECT_EQ(OK, RSA_setPublicKey(key, k.e, k.n.data(), uint32_t(k.n.size()), nullptr));
    Result r;
    uint8_t digest[64];
    r.status = RSA_verifyDigestInfo(key, sig.data(), uint32_t(sig.size()), digest, &r.digestLength, &r.hashId);
    if (r.status == OK)
        r.digest.assign(digest, digest + r.digestLength);
    RSA_freeKey(&key, nullptr);
    return r;
}

class RsaOracle : public ::testing::TestWithParam<std::pair<int, uint32_t>> {};

TEST_P(RsaOracle, OpenSslSignaturesOpenToTheirDigestAndHashId)
{
    const TestKey k = testKey(GetParam().first, GetParam().second);
    struct Case {
        const EVP_MD *md;
        int32_t hashId;
    } cases[] = {{EVP_sha256(), 11}, {EVP_sha1(), 5}, {EVP_sha384(), 12}, {EVP_sha512(), 13}, {EVP_md5(), 4}};
    const Bytes message{'i', 'm', 'a', 'g', 'e'};
    for (const Case &c : cases) {
        Bytes digest(size_t(EVP_MD_get_size(c.md)));
        unsigned len = 0;
        ASSERT_EQ(1, EVP_Digest(message.data(), message.size(), digest.data(), &len, c.md, nullptr));
        Bytes sig = opensslSign(k.pkey, c.md, digest);
        Result r = verify(k, sig);
        ASSERT_EQ(OK, r.status) << EVP_MD_get0_name(c.md);
        EXPECT_EQ(c.hashId, r.hashId);
        EXPECT_EQ(digest, r.digest) << EVP_MD_get0_name(c.md);

        // The same signature with its last byte changed no longer opens.
        sig.back() ^= 1;
        EXPECT_NE(OK, verify(k, sig).status);
    }
}

TEST_P(RsaOracle, CraftedBlocksGiveTheirStatus)
{
    const TestKey k = testKey(GetParam().first, GetParam().second);
    const size_t K = k.n.size();
    for (const BlockCase &c : blockCases(K)) {
        ASSERT_EQ(K, c.block.size()) << c.name;
        Result r = verify(k, rawPrivate(k.pkey, c.block));
        EXPECT_EQ(c.status, r.status) << c.name << ", " << GetParam().first << " bits, e = " << GetParam().second;
        if (c.status == OK) {
            EXPECT_EQ(digestOf(32), r.digest) << c.name;
        }
    }
    const Bytes standard = type1Block(K, digestInfo(oid::SHA256, digestOf(32)));
    // Lengths one short and one long are refused before any arithmetic.
    Bytes sig = rawPrivate(k.pkey, standard);
    Bytes shorter(sig.begin() + 1, sig.end()), longer = cat({{0x00}, sig});
    EXPECT_EQ(ERR_BAD_SIGNATURE_LENGTH, verify(k, shorter).status);
    EXPECT_EQ(ERR_BAD_SIGNATURE_LENGTH, verify(k, longer).status);
}

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

// Bleichenbacher's e = 3 forgery on a DigestInfo whose AlgorithmIdentifier carries `free`
// bytes of parameters: 00 01 FF*8 00 30 L 30 L OID 80 L <free> 04 20 <digest>. The top bytes
// come from the integer cube root, the 34 bottom bytes from the cube root modulo 2^272 (Hensel
// lifting; the digest is odd), and the cross terms land in the free bytes. *block gets the
// cube (below n: no modular reduction) of the returned signature, checked to be that block.
Bytes forgeSignature(size_t k, size_t free, const Bytes &digest, Bytes *block)
{
    const Bytes suffix = tlv(0x04, digest);
    const Bytes info = tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid::SHA256), tlv(0x80, Bytes(free))})), suffix}));
    const Bytes prefix = cat({{0x00, 0x01}, Bytes(8, 0xFF), {0x00}, Bytes(info.begin(), info.end() - long(free + 34))});
    EXPECT_EQ(k, 11 + info.size());
    BN_CTX *ctx = BN_CTX_new();
    auto bn = [](const Bytes &b) { return BnPtr(BN_bin2bn(b.data(), int(b.size()), nullptr), &BN_free); };
    BnPtr target = bn(cat({prefix, Bytes(k - prefix.size())})), low = bn(suffix), root = bn({}), lowRoot = bn({0x01}),
          c = bn({});
    auto cube = [&](const BIGNUM *x) { BN_sqr(c.get(), x, ctx), BN_mul(c.get(), c.get(), x, ctx); };
    for (int bit = BN_num_bits(target.get()) / 3 + 1; bit >= 0; --bit) { // root = floor(cbrt(target))
        BN_set_bit(root.get(), bit);
        if (cube(root.get()), BN_cmp(c.get(), target.get()) > 0)
            BN_clear_bit(root.get(), bit);
    }
    const int lowBits = int(8 * suffix.size());
    for (int bit = 1; bit < lowBits; ++bit)
        if (cube(lowRoot.get()), BN_sub(c.get(), c.get(), low.get()), BN_is_bit_set(c.get(), bit))
            BN_set_bit(lowRoot.get(), bit);
    // Round the root up past its low bits, then put the low root in their place.
    BN_rshift(root.get(), root.get(), lowBits);
    BN_add_word(root.get(), 1);
    BN_lshift(root.get(), root.get(), lowBits);
    BN_add(root.get(), root.get(), lowRoot.get());
    cube(root.get());
    block->assign(k, 0);
    Bytes sig(k);
    EXPECT_EQ(int(k), BN_bn2binpad(c.get(), block->data(), int(k)));
    BN_bn2binpad(root.get(), sig.data(), int(k));
    BN_CTX_free(ctx);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), block->begin())) << "top bytes of the cube";
    EXPECT_TRUE(std::equal(suffix.begin(), suffix.end(), block->end() - 34)) << "bottom bytes of the cube";
    return sig;
}

TEST(RsaOracleForgery, ExponentThreeCubeRootThroughLongParametersIsRefused)
{
    Bytes digest = digestOf(32);
    digest.back() |= 1;
    for (auto [bits, free] : {std::pair{2048, 191u}, std::pair{4096, 444u}}) {
        const TestKey k = testKey(bits, 3);
        Bytes block;
        const Bytes sig = forgeSignature(k.n.size(), free, digest, &block);
        EXPECT_EQ(ERR_STRUCTURE, verify(k, sig).status) << bits << " bits";
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, RsaOracle,
                         ::testing::Values(std::pair{2048, 65537u}, std::pair{3072, 65537u}, std::pair{4096, 65537u},
                                           std::pair{2048, 3u}, std::pair{3072, 3u}, std::pair{4096, 3u}),
                         [](const auto &info) {
                             return std::to_string(info.param.first) + "_e" + std::to_string(info.param.second);
                         });

} // namespace
