// Key readers against keys OpenSSL makes at test time (CR LF line ends and any PEM label are
// in keys_test.cpp): RSA 2048/3072/4096 public keys in every form give one blob (another RSA arc is refused), PKCS#1 private keys complete to OpenSSL's
// CRT numbers (version 2 is refused), EC keys on the five curves convert (a point off its curve
// is refused).
#include "crypto/init.h"
#include "crypto/keys/ec.h"
#include "crypto/rsa/rsa.h"
#include "tests/unit/crypto/key_test_util.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/encoder.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// One RSA key per size for the whole binary (4096-bit generation is slow).
EVP_PKEY *rsaKey(int bits)
{
    static std::map<int, PkeyPtr> keys;
    auto it = keys.find(bits);
    if (it == keys.end())
        it = keys.emplace(bits, PkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(bits)), &EVP_PKEY_free)).first;
    return it->second.get();
}

// structure: "SubjectPublicKeyInfo" or "type-specific" (PKCS#1, or ECPrivateKey with the pair).
Bytes encode(EVP_PKEY *key, int selection, const char *format, const char *structure)
{
    OSSL_ENCODER_CTX *ctx = OSSL_ENCODER_CTX_new_for_pkey(key, selection, format, structure, nullptr);
    unsigned char *data = nullptr;
    size_t length = 0;
    EXPECT_EQ(1, OSSL_ENCODER_to_data(ctx, &data, &length)) << format << " " << structure;
    Bytes out(data, data + length);
    OPENSSL_free(data);
    OSSL_ENCODER_CTX_free(ctx);
    return out;
}

Bytes bnParam(EVP_PKEY *key, const char *name)
{
    BIGNUM *bn = nullptr;
    EXPECT_EQ(1, EVP_PKEY_get_bn_param(key, name, &bn)) << name;
    Bytes out(size_t(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

// A DER INTEGER of a non-negative big-endian number.
Bytes derInteger(const Bytes &n)
{
    return tlv(0x02, n.empty() || n[0] & 0x80 ? cat({{0x00}, n}) : n);
}

constexpr int PUBLIC = OSSL_KEYMGMT_SELECT_PUBLIC_KEY;
constexpr int PAIR = OSSL_KEYMGMT_SELECT_KEYPAIR;

TEST(KeysOracle, RsaPublicKeysInEveryFormGiveOneBlob)
{
    ASSERT_GE(CRYPTO_initLibrary(), 0);
    for (int bits : {2048, 3072, 4096}) {
        EVP_PKEY *key = rsaKey(bits);
        const Bytes n = bnParam(key, OSSL_PKEY_PARAM_RSA_N), e = bnParam(key, OSSL_PKEY_PARAM_RSA_E);
        const Bytes blob = rsaPublicBlob(e, n);
        ASSERT_EQ(12 + 10 + e.size() + size_t(bits / 8), blob.size()) << "modulus without its 00 byte";
        for (const char *structure : {"SubjectPublicKeyInfo", "type-specific"}) {
            const Bytes pem = encode(key, PUBLIC, "PEM", structure);
            EXPECT_EQ(0u, std::string(pem.begin(), pem.end())
                              .find(structure[0] == 'S' ? "-----BEGIN PUBLIC KEY-----" : "-----BEGIN RSA PUBLIC KEY-----"));
            EXPECT_EQ(blob, toBlob(true, pem).blob) << bits << " " << structure;
            EXPECT_EQ(blob, derToBlob(encode(key, PUBLIC, "DER", structure)).blob) << bits << " " << structure;
        }
        // rsaEncryption 1.2.840.113549.1.1.1 turned into arc 10 of the same branch.
        Bytes arcTen = encode(key, PUBLIC, "DER", "SubjectPublicKeyInfo");
        const Bytes rsaEncryption{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
        auto at = std::search(arcTen.begin(), arcTen.end(), rsaEncryption.begin(), rsaEncryption.end());
        ASSERT_NE(arcTen.end(), at);
        at[8] = 0x0A;
        EXPECT_EQ(ERR_ALGORITHM_UNKNOWN, derToBlob(arcTen).status);
    }
}

TEST(KeysOracle, RsaPrivateKeysCompleteToOpenSslsNumbers)
{
    for (int bits : {2048, 3072, 4096}) {
        EVP_PKEY *key = rsaKey(bits);
        Bytes der = encode(key, PAIR, "DER", "type-specific");
        const Converted converted = derToBlob(der);
        ASSERT_EQ(OK, converted.status) << bits;
        HeldKey read;
        ASSERT_EQ(OK, CA_MGMT_keyBlobToKey(converted.blob.data(), uint32_t(converted.blob.size()), &read.h));
        const RSAKey *rsa = read.as<RSAKey>();
        ASSERT_EQ(1u, rsa->privateKey);
        const char *names[] = {OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2,
                               OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                               OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
        const VLONG *ours[] = {rsa->p, rsa->q, rsa->dP, rsa->dQ, rsa->qInv};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(bnParam(key, names[i]), numberBytes(ours[i])) << bits << " " << names[i];
        EXPECT_EQ(converted.blob, blobOf(read.h));

        // The factors given the other way round are put back in order: the same blob.
        const Bytes p = bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR1), q = bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
        const Bytes swapped = tlv(0x30, cat({derInteger({0x00}), derInteger(bnParam(key, OSSL_PKEY_PARAM_RSA_N)),
                                             derInteger(bnParam(key, OSSL_PKEY_PARAM_RSA_E)), derInteger({0x01}),
                                             derInteger(q), derInteger(p)}));
        EXPECT_EQ(converted.blob, derToBlob(swapped).blob) << bits;

        // RSAPrivateKey starts 30 82 LL LL 02 01 00: version 2 fails both readings.
        ASSERT_EQ(0x00, der[6]);
        der[6] = 0x02;
        EXPECT_EQ(ERR_EC_KEY_VERSION, derToBlob(der).status);
    }
}

TEST(KeysOracle, EcKeysOnAllFiveCurves)
{
    ASSERT_GE(CRYPTO_initLibrary(), 0);
    const struct {
        const char *name;
        uint8_t id;
    } curves[] = {{"P-192", EC_CURVE_P192}, {"P-224", EC_CURVE_P224}, {"P-256", EC_CURVE_P256},
                  {"P-384", EC_CURVE_P384}, {"P-521", EC_CURVE_P521}};
    for (const auto &curve : curves) {
        PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve.name), &EVP_PKEY_free);
        ASSERT_NE(nullptr, key) << curve.name;
        const size_t length = EC_fieldLength(curve.id);
        Bytes k = bnParam(key.get(), OSSL_PKEY_PARAM_PRIV_KEY);
        k.insert(k.begin(), length - k.size(), 0);
        const Bytes spki = encode(key.get(), PUBLIC, "DER", "SubjectPublicKeyInfo");
        const Bytes point(spki.end() - long(2 * length + 1), spki.end()); // the BIT STRING ends it
        ASSERT_EQ(0x04, point[0]);
        const Bytes publicBlob = ecBlob(curve.id, point, Bytes(length, 0));
        EXPECT_EQ(publicBlob, derToBlob(spki).blob) << curve.name;
        EXPECT_EQ(publicBlob, toBlob(true, encode(key.get(), PUBLIC, "PEM", "SubjectPublicKeyInfo")).blob);
        const Bytes privateBlob = ecBlob(curve.id, point, k);
        EXPECT_EQ(privateBlob, derToBlob(encode(key.get(), PAIR, "DER", "type-specific")).blob) << curve.name;

        for (const Bytes *blob : {&publicBlob, &privateBlob}) {
            HeldKey read;
            ASSERT_EQ(OK, CA_MGMT_keyBlobToKey(blob->data(), uint32_t(blob->size()), &read.h));
            EXPECT_EQ(blob == &privateBlob ? 1u : 0u, read.as<ECKey>()->privateKey) << curve.name;
            EXPECT_EQ(*blob, blobOf(read.h));
        }
        Bytes offCurve = spki;
        offCurve.back() ^= 0x01;
        EXPECT_EQ(ERR_WRONG_TYPE, derToBlob(offCurve).status) << curve.name;
    }
}

} // namespace
