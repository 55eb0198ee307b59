// Key readers on fixed bytes, so that they also run on the big-endian target: base64, PEM and
// DER of one RSA key to its exact blob, the P-256 generator as an EC key, a certificate,
// malformed blobs. Keys made by OpenSSL: keys_oracle_test.cpp; copies of keys: key_blob_fuzz.
#include "crypto/init.h"
#include "crypto/keys/base64.h"
#include "crypto/keys/der_key_internal.h"
#include "crypto/keys/ec.h"
#include "crypto/rsa/rsa.h"
#include "tests/unit/crypto/key_test_util.h"
#include "tests/unit/crypto/vlong_test_util.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

// Runs first: the table is missing until the library is initialised.
TEST(Base64, DecodesRfc4648AndRefusesEverythingElse)
{
    uint8_t *bytes = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(ERR_BASE64_NO_TABLE, BASE64_decode(reinterpret_cast<const uint8_t *>("QQ=="), 4, &bytes, &length));
    ASSERT_GE(CRYPTO_initLibrary(), 0);
    const struct {
        std::string text;
        MSTATUS status;
        std::string hex = "";
    } cases[] = {
        {"QQ==", OK, "41"}, {"QUI=", OK, "4142"}, {"QUJDRA==", OK, "41424344"}, {"//8+", OK, "ffff3e"},
        {"QQ=x", OK, "41"}, // the 4th character is not examined
        {"QUJ", ERR_BASE64_BAD_INPUT}, {"", ERR_BASE64_BAD_INPUT}, {"QQ==QUJD", ERR_BASE64_BAD_INPUT},
        {"Q===", ERR_BASE64_BAD_INPUT}, {"QU-D", ERR_BASE64_BAD_INPUT},
    };
    for (const auto &c : cases) {
        MSTATUS st = BASE64_decode(reinterpret_cast<const uint8_t *>(c.text.data()), uint32_t(c.text.size()), &bytes,
                                   &length);
        EXPECT_EQ(c.status, st) << c.text;
        if (st == OK) {
            EXPECT_EQ(c.hex, bytesHex(bytes, length)) << c.text;
            EXPECT_EQ(OK, BASE64_freeMessage(&bytes));
            EXPECT_EQ(nullptr, bytes);
        }
    }
}

const char *const N512 = "a792a9266c80499502ecd4a276c5fbfb11730128b36ac3e85e2e2490826e33ac"
                         "0b364f22c9159ded2733c69e9198ab6b2837f89d0fb2387f078ed55f74025377";

TEST(KeyBlob, FixedRsaKeyInPemAndDerGivesItsBlob)
{
    ASSERT_GE(CRYPTO_initLibrary(), 0);
    const Bytes n = hexBytes(N512), e{0x01, 0x00, 0x01};
    const Bytes der = tlv(0x30, cat({tlv(0x02, cat({{0x00}, n})), tlv(0x02, e)}));
    const Bytes blob = rsaPublicBlob(e, n);
    const std::string base64[] = {"MEgCQQCnkqkmbIBJlQLs1KJ2xfv7EXMBKLNqw+heLiSQgm4zrAs2TyLJFZ3tJzPG",
                                  "npGYq2soN/idD7I4fweO1V90AlN3AgMBAAE="};
    const std::string lf = "-----BEGIN RSA PUBLIC KEY-----\n" + base64[0] + "\n" + base64[1] +
                           "\n-----END RSA PUBLIC KEY-----\n";
    const std::string crlf = "  -----BEGIN ANY LABEL-----\r\n\t" + base64[0] + "\r\n" + base64[1] +
                             " \r\n-----END ANY LABEL-----";
    EXPECT_EQ(blob, derToBlob(der).blob);
    EXPECT_EQ(blob, pemToBlob(lf).blob);
    EXPECT_EQ(blob, pemToBlob(crlf).blob);
    EXPECT_EQ(ERR_BASE64_BAD_INPUT, pemToBlob("-----BEGIN-----\n" + base64[0].substr(1) + "\n").status);
    // A certificate is not a bare key: its first child is no INTEGER, and the first child of
    // that is no OBJECT IDENTIFIER.
    std::ifstream file(BM_SOURCE_DIR "/fuzz/corpus/asn1_parse/x509_cert.der", std::ios::binary);
    const Bytes certificate{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GT(certificate.size(), 300u);
    EXPECT_EQ(ERR_STRUCTURE, derToBlob(certificate).status);
}

// Completing a private key costs time quadratic in its numbers: a key record with numbers
// beyond any usable key is refused before the arithmetic (the EC reading then reports -9804).
TEST(KeyBlob, PrivateKeyNumbersBeyondFiveHundredTwelveBytesAreRefused)
{
    const Bytes big = cat({{0x00}, Bytes(513, 0xC3)}), n = cat({{0x00}, hexBytes(N512)});
    auto privateKey = [](const Bytes &modulus, const Bytes &factor) {
        return tlv(0x30, cat({tlv(0x02, {0x00}), tlv(0x02, modulus), tlv(0x02, {0x03}), tlv(0x02, {0x01}),
                              tlv(0x02, factor), tlv(0x02, {0x05})}));
    };
    for (const Bytes &der : {privateKey(big, {0x07}), privateKey(n, big)}) {
        HeldKey key;
        EXPECT_EQ(ERR_RSA_MODULUS_TOO_LONG, derkey_readRsa(der.data(), uint32_t(der.size()), &key.h));
        EXPECT_EQ(ERR_EC_KEY_VERSION, derToBlob(der).status);
    }
}

TEST(KeyBlob, MalformedBlobsGiveTheirStatus)
{
    const Bytes good = rsaPublicBlob({0x03}, hexBytes(N512));
    auto with = [&](size_t at, uint8_t byte) {
        Bytes b = good;
        b[at] = byte;
        return b;
    };
    const Bytes p256Header = cat({be32(0), be32(1), be32(KEY_TYPE_EC), be32(EC_CURVE_P256)});
    const struct {
        const char *name;
        Bytes blob;
        MSTATUS status;
    } cases[] = {
        {"eleven bytes", Bytes(good.begin(), good.begin() + 11), ERR_KEYBLOB_MALFORMED},
        {"version 2", with(7, 2), ERR_KEYBLOB_VERSION},
        {"type 3 (DSA)", with(11, KEY_TYPE_DSA), ERR_KEYBLOB_TYPE},
        {"RSA body version 2", with(12, 2), ERR_KEYBLOB_VERSION},
        {"private flag 2", with(13, 2), ERR_KEYBLOB_MALFORMED},
        {"modulus past the end", Bytes(good.begin(), good.end() - 1), ERR_KEYBLOB_MALFORMED},
        {"private key without its numbers", with(13, 1), ERR_KEYBLOB_MALFORMED},
        {"exponent 1", with(18, 1), ERR_RSA_EXPONENT_TOO_SMALL},
        {"EC point past the end", cat({p256Header, be32(65), Bytes(64, 4)}), ERR_KEYBLOB_MALFORMED},
    };
    for (const auto &c : cases) {
        HeldKey key;
        EXPECT_EQ(c.status, CA_MGMT_keyBlobToKey(c.blob.data(), uint32_t(c.blob.size()), &key.h)) << c.name;
        EXPECT_EQ(KEY_TYPE_EMPTY, key.h.type) << c.name;
    }
}

const char *const P256_GX = "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296";
const char *const P256_GY = "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5"; // odd

TEST(EcKey, GeneratorOfP256AndPointsBesideIt)
{
    const Bytes gx = hexBytes(P256_GX), gy = hexBytes(P256_GY);
    const Bytes g = cat({{0x04}, gx, gy});
    Bytes gyPlusOne = gy;
    gyPlusOne.back() += 1;
    const struct {
        const char *name;
        uint8_t curve;
        Bytes point;
        Bytes scalar; // empty: public key
        MSTATUS status;
    } cases[] = {
        {"generator", EC_CURVE_P256, g, {}, OK},
        {"generator with scalar 1", EC_CURVE_P256, g, {0x00, 0x01}, OK},
        {"hybrid form naming odd y", EC_CURVE_P256, cat({{0x07}, gx, gy}), {}, OK},
        {"hybrid form naming even y", EC_CURVE_P256, cat({{0x06}, gx, gy}), {}, ERR_EC_POINT_FORMAT},
        {"y + 1", EC_CURVE_P256, cat({{0x04}, gx, gyPlusOne}), {}, ERR_WRONG_TYPE},
        {"one byte short", EC_CURVE_P256, Bytes(g.begin(), g.end() - 1), {}, ERR_EC_POINT_LENGTH},
        {"curve id 2", 2, g, {}, ERR_EC_CURVE_UNSUPPORTED},
        {"zero scalar", EC_CURVE_P256, g, {0x00}, ERR_EC_KEY_STRUCTURE},
    };
    for (const auto &c : cases) {
        HeldKey key;
        const uint8_t *scalar = c.scalar.empty() ? nullptr : c.scalar.data();
        ASSERT_EQ(c.status, EC_setKey(&key.h, c.curve, c.point.data(), uint32_t(c.point.size()), scalar,
                                      uint32_t(c.scalar.size())))
            << c.name;
        if (c.status != OK)
            continue;
        ASSERT_EQ(KEY_TYPE_EC, key.h.type);
        const Bytes k = c.scalar.empty() ? Bytes(32, 0) : cat({Bytes(31, 0), {0x01}});
        EXPECT_EQ(ecBlob(EC_CURVE_P256, g, k), blobOf(key.h)) << c.name;
        EXPECT_EQ(scalar ? 1u : 0u, key.as<ECKey>()->privateKey) << c.name;
    }
    // DER: the named curve is taken only under its own arc (1.3.132.0.7 is not P-256).
    const Bytes ecPublicKey{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
    auto spki = [&](const Bytes &curve) {
        return tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, ecPublicKey), tlv(0x06, curve)})), tlv(0x03, cat({{0x00}, g}))}));
    };
    EXPECT_EQ(ecBlob(EC_CURVE_P256, g, Bytes(32, 0)), derToBlob(spki({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07})).blob);
    EXPECT_EQ(ERR_EC_CURVE_UNSUPPORTED, derToBlob(spki({0x2B, 0x81, 0x04, 0x00, 0x07})).status);
}

} // namespace
