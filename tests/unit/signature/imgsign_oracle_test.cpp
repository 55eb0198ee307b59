// The signature front end and the gate against keys and signatures made by OpenSSL at test
// time. Crafted blocks go through OpenSSL's raw private operation, so every lenient form the
// library's own check lets through reaches the front end as a real signature.
#include "crypto/common/trace.h"
#include "crypto/digest/hash.h"
#include "crypto/init.h"
#include "image/builder.h"
#include "image/format.h"
#include "image/validate.h"
#include "signature/imgsign.h"
#include "signature/key_limits.h"
#include "signature/trusted_keys.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/image_parts.h"
#include "tests/unit/signature/signer.h"

#include <openssl/pem.h>

#include <cstdio>

#include <string>

namespace {

// The development signing key of keys/demo, which the built-in table of test builds holds.
Signer demo_signer()
{
    static PkeyPtr key = [] {
        FILE *f = std::fopen(BM_SOURCE_DIR "/keys/demo/demo-signing-key.NOT-FOR-PRODUCTION.pem", "r");
        EXPECT_NE(nullptr, f);
        PkeyPtr k(f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
        if (f)
            std::fclose(f);
        return k;
    }();
    return {key.get(), encodeKey(key.get(), OSSL_KEYMGMT_SELECT_PUBLIC_KEY, "PEM", "SubjectPublicKeyInfo"), {}, {}, {},
            {}, size_t(EVP_PKEY_get_size(key.get()))};
}

// SHA-256 of the public key blob, built here from OpenSSL's numbers:
// 00000000 00000001 00000001 | 01 00 | len(e) e | len(n) n.
Bytes expected_fingerprint(const Signer &s)
{
    auto number = [](const Bytes &b) {
        uint32_t len = uint32_t(b.size());
        return cat({Bytes{uint8_t(len >> 24), uint8_t(len >> 16), uint8_t(len >> 8), uint8_t(len)}, b});
    };
    return sha256(cat({Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0}, number(bnParam(s.pkey, OSSL_PKEY_PARAM_RSA_E)),
                       number(bnParam(s.pkey, OSSL_PKEY_PARAM_RSA_N))}));
}

MSTATUS verify(const Bytes &digest, const Bytes &signature, const Bytes &key)
{
    return IMGSIGN_verifySignature(digest.data(), int32_t(digest.size()), signature.data(),
                                   uint32_t(signature.size()), key.data(), uint32_t(key.size()));
}

class SignatureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CRYPTO_initLibrary();
        fingerprint_ = expected_fingerprint(signer(0));
        table_ = {reinterpret_cast<const uint8_t(*)[KEY_FINGERPRINT_SIZE]>(fingerprint_.data()), 1, false};
        trusted_keys_override(&table_);
    }
    void TearDown() override { trusted_keys_override(nullptr); }

    Bytes fingerprint_;
    TrustedKeys table_{};
};

const Bytes PAYLOAD = [] {
    Bytes p(5000);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = uint8_t(i * 13 + 5);
    return p;
}();

} // namespace

TEST_F(SignatureTest, EveryKeyFormVerifiesAndHasOneFingerprint)
{
    const Signer s = signer(0);
    const Bytes digest = sha256(PAYLOAD), sig = s.sign(PAYLOAD);
    Bytes crlf;
    for (uint8_t c : s.spki_pem) {
        if (c == '\n')
            crlf.push_back('\r');
        crlf.push_back(c);
    }
    for (const Bytes *key : {&s.spki_pem, &s.spki_der, &s.pkcs1_pem, &s.pkcs1_der, static_cast<const Bytes *>(&crlf),
                             &s.private_pem}) {
        EXPECT_EQ(OK, verify(digest, sig, *key));
        uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
        ASSERT_EQ(OK, trusted_key_fingerprint(key->data(), uint32_t(key->size()), fingerprint));
        EXPECT_EQ(fingerprint_, Bytes(fingerprint, fingerprint + KEY_FINGERPRINT_SIZE));
    }
}

TEST_F(SignatureTest, OnlyTheCanonicalBlockOfTheDigestPasses)
{
    const Signer s = signer(0);
    const size_t k = s.k;
    const Bytes d = sha256(PAYLOAD);
    const Bytes info = digestInfo(oid::SHA256, d);
    // A DigestInfo whose parameters fill it up to `size` bytes (an OCTET STRING of junk).
    auto padded_info = [&](size_t size) {
        for (size_t junk = 0;; ++junk) {
            Bytes params = tlv(0x04, Bytes(junk, 0x5A));
            Bytes out = tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid::SHA256), params})), tlv(0x04, d)}));
            if (out.size() >= size)
                return out;
        }
    };
    Bytes ber = info; // outer length in the long form: 30 81 31 ...
    ber.insert(ber.begin() + 1, 0x81);
    Bytes bad_pad = type1Block(k, info);
    bad_pad[5] = 0xFE;
    Bytes wrong_separator = type1Block(k, info);
    wrong_separator[k - info.size() - 1] = 0x01;
    Bytes leading_01 = type1Block(k, info);
    leading_01.erase(leading_01.begin());
    leading_01.insert(leading_01.begin() + 1, 0xFF);
    Bytes short_pad = cat({Bytes{0x00, 0x01}, Bytes(7, 0xFF), Bytes{0x00}, padded_info(k - 10)});
    struct Case {
        const char *name;
        Bytes block;
        bool accepted;
    } cases[] = {
        {"NULL parameters", type1Block(k, info), true},
        {"absent parameters", type1Block(k, digestInfo(oid::SHA256, d, false)), true},
        {"BER length", type1Block(k, ber), false},
        {"padding byte FE", bad_pad, false},
        {"separator 01", wrong_separator, false},
        {"block starting 01", leading_01, false},
        {"seven FF bytes", short_pad, false},
        {"SHA-1 DigestInfo", type1Block(k, digestInfo(oid::SHA1, Bytes(d.begin(), d.begin() + 20))), false},
        {"another digest", type1Block(k, digestInfo(oid::SHA256, sha256(d))), false},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(k, c.block.size()) << c.name;
        MSTATUS st = verify(d, s.raw(c.block), s.spki_pem);
        EXPECT_EQ(c.accepted, st == OK) << c.name << ": status " << st;
        EXPECT_LE(st, 0) << c.name;
    }
    EXPECT_EQ(OK, verify(d, s.sign(PAYLOAD), s.spki_pem));
}

TEST_F(SignatureTest, FailuresGiveTheirStatus)
{
    const Signer s = signer(0);
    Bytes d = sha256(PAYLOAD);
    Bytes sig = s.sign(PAYLOAD);
    Bytes other = d;
    other[31] ^= 1;
    EXPECT_EQ(ERR_SIGNATURE_MISMATCH, verify(other, sig, s.spki_pem));

    // An EC key converts but cannot check an RSA signature.
    PkeyPtr ec(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
    const Bytes ec_key = encodeKey(ec.get(), OSSL_KEYMGMT_SELECT_PUBLIC_KEY, "DER", "SubjectPublicKeyInfo");
    EXPECT_EQ(OK, CA_MGMT_convertPublicKey(ec_key.data(), uint32_t(ec_key.size()), nullptr));
    EXPECT_EQ(ERR_SIGNATURE_KEY_NOT_RSA, verify(d, sig, ec_key));
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    EXPECT_EQ(ERR_SIGNATURE_KEY_NOT_RSA, trusted_key_fingerprint(ec_key.data(), uint32_t(ec_key.size()), fingerprint));
}

namespace {

std::string gate_line(const Bytes &component)
{
    StdoutCapture out;
    int accepted = image_check_signature(component.data(), uint32_t(component.size()));
    std::string line = out.take();
    return (accepted ? "accepted " : "rejected ") + line;
}

} // namespace

TEST_F(SignatureTest, GateTakesSignaturesOfTrustedKeysOnly)
{
    const Signer trusted = signer(0), stranger = signer(1);
    const std::string verified = "accepted \tImage signature verified\n";
    Bytes good = signed_image(trusted, KERNEL, 0x01000000, PAYLOAD, false);
    EXPECT_EQ(verified, gate_line(good));

    Bytes tampered = good;
    tampered.back() ^= 1;
    EXPECT_EQ("rejected \tImage rejected\n", gate_line(tampered));

    // A signature that verifies with a key the component brings along is not enough: the
    // whole fingerprint must be in the table (the demo key's, altered in its first or last byte,
    // does not let the demo key in), unless the table was built to take any key.
    const Signer demo = demo_signer();
    Bytes demo_fp(KEY_FINGERPRINT_SIZE);
    ASSERT_EQ(OK, trusted_key_fingerprint(demo.spki_pem.data(), uint32_t(demo.spki_pem.size()), demo_fp.data()));
    Bytes first = demo_fp, last = demo_fp;
    first[0] ^= 1;
    last[KEY_FINGERPRINT_SIZE - 1] ^= 1;
    const std::string untrusted = "rejected \tImage rejected: key not trusted\n";
    const struct {
        const char *what;
        const Signer &signer;
        std::vector<Bytes> fingerprints;
        bool any;
        const std::string &line;
    } rows[] = {
        {"stranger, trusted table", stranger, {fingerprint_}, false, untrusted},
        {"stranger, any key", stranger, {}, true, verified},
        {"demo key in second row", demo, {fingerprint_, demo_fp}, false, verified},
        {"demo fingerprint, last byte changed", demo, {last}, false, untrusted},
        {"demo fingerprint, first byte changed", demo, {first}, false, untrusted},
        {"empty table", demo, {}, false, untrusted},
    };
    for (const auto &row : rows) {
        Bytes flat;
        for (const Bytes &f : row.fingerprints)
            flat.insert(flat.end(), f.begin(), f.end());
        const TrustedKeys table{reinterpret_cast<const uint8_t(*)[KEY_FINGERPRINT_SIZE]>(flat.data()),
                                row.fingerprints.size(), row.any};
        trusted_keys_override(&table);
        EXPECT_EQ(row.line, gate_line(signed_image(row.signer, KERNEL, 1, PAYLOAD, false))) << row.what;
    }
}

// A trusted key file is judged by its own numbers, so the limit is named even where the key
// readers would refuse the key first (a modulus past 512 bytes, an exponent past 4 bytes).
TEST(SigningKeyLimits, KeyFilesAreJudgedByTheirOwnNumbers)
{
    auto integer = [](Bytes magnitude) {
        if (magnitude[0] & 0x80)
            magnitude.insert(magnitude.begin(), 0);
        return tlv(0x02, magnitude);
    };
    auto modulus = [](unsigned bits, bool odd) {
        Bytes n((bits + 7) / 8, 0x5A);
        n[0] = uint8_t(1u << ((bits - 1) % 8));
        n.back() = odd ? 0x5B : 0x5A;
        return n;
    };
    auto public_key = [&](const Bytes &n, const Bytes &e) { return tlv(0x30, cat({integer(n), integer(e)})); };
    auto private_key = [&](const Bytes &n, const Bytes &e) {
        return tlv(0x30, cat({integer({0}), integer(n), integer(e), integer({7}), integer({3}), integer({5})}));
    };
    const Bytes F4 = {1, 0, 1};
    const char *SIZE = "the RSA modulus must have 2048 to 4096 bits";
    const char *ODD = "the RSA modulus must be odd";
    const char *EXPONENT = "the RSA public exponent must have 1 to 32 bits";
    struct Case {
        const char *name;
        Bytes key;
        const char *violation;
    } cases[] = {
        {"2048 bits", public_key(modulus(2048, true), F4), nullptr},
        {"4096 bits, 32-bit exponent", public_key(modulus(4096, true), {0xFF, 0xFF, 0xFF, 0xFF}), nullptr},
        {"2047 bits", public_key(modulus(2047, true), F4), SIZE},
        {"4097 bits", public_key(modulus(4097, true), F4), SIZE},
        {"8192-bit private key", private_key(modulus(8192, true), F4), SIZE},
        {"even modulus", public_key(modulus(3072, false), F4), ODD},
        {"33-bit exponent", private_key(modulus(2048, true), {1, 0, 0, 0, 1}), EXPONENT},
        {"zero exponent", public_key(modulus(2048, true), {0}), EXPONENT},
        {"SubjectPublicKeyInfo PEM", signer(0).spki_pem, nullptr},
        {"1024-bit SubjectPublicKeyInfo DER", encodeKey(opensslRsaKey(1024), OSSL_KEYMGMT_SELECT_PUBLIC_KEY, "DER",
                                                        "SubjectPublicKeyInfo"), SIZE},
        {"1024-bit private key PEM", encodeKey(opensslRsaKey(1024), OSSL_KEYMGMT_SELECT_KEYPAIR, "PEM",
                                               "type-specific"), SIZE},
        {"not a key", Bytes{'n', 'o'}, nullptr},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(c.violation, signing_key_data_violation(c.key.data(), uint32_t(c.key.size()))) << c.name;
}
