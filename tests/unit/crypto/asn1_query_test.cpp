// Tree queries on the structures the key readers and the DigestInfo check meet:
// SubjectPublicKeyInfo of RSA and EC keys, an ECPrivateKey and a DigestInfo. (How the readers
// walk them is tested through the readers themselves: keys_test, rsa_test.)
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>

#include "tests/unit/crypto/asn1_test_helpers.h"

namespace {

using namespace asn1test;

// Identifiers as the queries take them: a length byte, then the content octets.
const uint8_t kRsaPrefix[] = {8, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01}; // 1.2.840.113549.1.1
const uint8_t kEcPublicKey[] = {7, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};   // 1.2.840.10045.2.1
const uint8_t kPrimeCurves[] = {7, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01};   // 1.2.840.10045.3.1
const uint8_t kSecgCurves[] = {4, 0x2B, 0x81, 0x04, 0x00};                        // 1.3.132.0
const uint8_t kSha256Prefix[] = {8, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02};
const uint8_t kSha1[] = {5, 0x2B, 0x0E, 0x03, 0x02, 0x1A};

// SubjectPublicKeyInfo { AlgorithmIdentifier { rsaEncryption, NULL }, BIT STRING { RSAPublicKey } }
const char *kRsaSpki = "30 1C"
                       " 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00"
                       " 03 0B 00 30 08 02 03 00 C3 55 02 01 03";
// SubjectPublicKeyInfo { AlgorithmIdentifier { id-ecPublicKey, secp384r1 }, BIT STRING point }
const char *kEcSpki = "30 1A 30 10 06 07 2A 86 48 CE 3D 02 01 06 05 2B 81 04 00 22"
                      " 03 06 00 04 01 02 03 04";
// ECPrivateKey { 1, OCTET STRING k, [0] { prime256v1 }, [1] { BIT STRING point } }
const char *kEcPrivate = "30 1B 02 01 01 04 02 AB CD A0 0A 06 08 2A 86 48 CE 3D 03 01 07"
                         " A1 06 03 04 00 04 01 02";
// DigestInfo { AlgorithmIdentifier { sha256, NULL }, OCTET STRING digest (4 bytes here) }
const char *kDigestInfo = "30 15 30 0D 06 09 60 86 48 01 65 03 04 02 01 05 00 04 04 DE AD BE EF";

const Asn1Element *child(const Asn1Element *parent, uint32_t index)
{
    const Asn1Element *c = nullptr;
    EXPECT_EQ(OK, ASN1_getChild(parent, index, &c));
    return c;
}

TEST(Asn1Query, CheckUniversal)
{
    auto p = parseHex("30 09 02 01 05 82 01 00 9F 22 00");
    ASSERT_EQ(OK, p->status);
    const Asn1Element *seq = p->top();
    struct Case {
        const Asn1Element *e;
        uint32_t tag;
        MSTATUS status;
    };
    const Case cases[] = {
        {seq, ASN1_TAG_SEQUENCE, OK},
        {seq, ASN1_TAG_SET, ERR_WRONG_TYPE},
        {child(seq, 1), ASN1_TAG_INTEGER, OK},
        {child(seq, 1), ASN1_TAG_OCTET_STRING, ERR_WRONG_TYPE},
        {child(seq, 2), 2, ERR_WRONG_TYPE},  // context [2], not a universal INTEGER
        {child(seq, 3), 34, ERR_WRONG_TYPE}, // context high tag 34
        {nullptr, 2, ERR_NULL_POINTER},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.status, ASN1_checkUniversal(c.e, c.tag)) << c.tag;
}

TEST(Asn1Query, GetChildCountsFromOne)
{
    auto p = parseHex(kEcPrivate);
    ASSERT_EQ(OK, p->status);
    const Asn1Element *top = p->top();
    const Asn1Element *c = reinterpret_cast<const Asn1Element *>(1);
    EXPECT_EQ(ERR_STRUCTURE, ASN1_getChild(top, 0, &c));
    EXPECT_EQ(nullptr, c);
    EXPECT_EQ(top->firstChild, child(top, 1));
    EXPECT_EQ(4u, child(top, 2)->tag);
    EXPECT_EQ(top->lastChild, child(top, 4));
    EXPECT_EQ(ERR_STRUCTURE, ASN1_getChild(top, 5, &c));
    EXPECT_EQ(ERR_STRUCTURE, ASN1_getChild(child(top, 1), 1, &c)); // INTEGER has no children
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_getChild(nullptr, 1, &c));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_getChild(top, 1, nullptr));
}

TEST(Asn1Query, FindContextChild)
{
    auto p = parseHex(kEcPrivate);
    ASSERT_EQ(OK, p->status);
    const Asn1Element *top = p->top();
    const Asn1Element *c = nullptr;
    EXPECT_EQ(OK, ASN1_findContextChild(top, 0, &c));
    EXPECT_EQ(child(top, 3), c);
    EXPECT_EQ(OK, ASN1_findContextChild(top, 1, &c));
    EXPECT_EQ(child(top, 4), c);
    // Universal INTEGER and OCTET STRING have tag numbers 2 and 4 but are not context class.
    for (uint32_t tag : {2u, 4u, 5u}) {
        EXPECT_EQ(OK, ASN1_findContextChild(top, tag, &c));
        EXPECT_EQ(nullptr, c) << tag;
    }
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_findContextChild(nullptr, 0, &c));
}

TEST(Asn1Query, MatchOidPrefix)
{
    auto priv = parseHex(kEcPrivate);
    auto spki = parseHex(kEcSpki);
    ASSERT_EQ(OK, priv->status);
    ASSERT_EQ(OK, spki->status);
    const Asn1Element *privCurve = child(priv->top(), 3)->firstChild;
    const Asn1Element *spkiCurve = child(child(spki->top(), 1), 2);
    const Asn1Element *algorithm = child(child(spki->top(), 1), 1);
    struct Case {
        const char *what;
        const Asn1Element *e;
        const ByteStream *s;
        const uint8_t *prefix;
        MSTATUS status;
        uint8_t arc;
    };
    const Case cases[] = {
        {"prime256v1", privCurve, &priv->stream, kPrimeCurves, OK, 7},
        {"secp384r1", spkiCurve, &spki->stream, kSecgCurves, OK, 0x22},
        {"other prefix", spkiCurve, &spki->stream, kPrimeCurves, ERR_WRONG_TYPE, 0},
        {"prefix plus two arcs", algorithm, &spki->stream, kSecgCurves, ERR_WRONG_TYPE, 0},
        {"the whole identifier, no arc left", algorithm, &spki->stream, kEcPublicKey, ERR_WRONG_TYPE, 0},
        {"not an identifier", priv->top()->firstChild, &priv->stream, kPrimeCurves, ERR_WRONG_TYPE, 0},
        {"context class", child(priv->top(), 3), &priv->stream, kPrimeCurves, ERR_WRONG_TYPE, 0},
    };
    for (const Case &c : cases) {
        uint8_t arc = 0xEE;
        EXPECT_EQ(c.status, ASN1_matchOidPrefix(c.e, c.s, c.prefix, &arc)) << c.what;
        EXPECT_EQ(c.status == OK ? c.arc : 0xEE, arc) << c.what;
    }
    uint8_t arc = 0;
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_matchOidPrefix(nullptr, &priv->stream, kPrimeCurves, &arc));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_matchOidPrefix(privCurve, nullptr, kPrimeCurves, &arc));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_matchOidPrefix(privCurve, &priv->stream, nullptr, &arc));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_matchOidPrefix(privCurve, &priv->stream, kPrimeCurves, nullptr));
}

TEST(Asn1Query, CheckAlgorithm)
{
    auto rsa = parseHex(kRsaSpki);
    auto ec = parseHex(kEcSpki);
    auto di = parseHex(kDigestInfo);
    auto priv = parseHex(kEcPrivate);
    ASSERT_EQ(OK, rsa->status);
    ASSERT_EQ(OK, ec->status);
    ASSERT_EQ(OK, di->status);
    ASSERT_EQ(OK, priv->status);
    auto noChild = parseHex("30 00");
    auto notOid = parseHex("30 03 02 01 05");
    struct Case {
        const char *what;
        const Asn1Element *e;
        const ByteStream *s;
        const uint8_t *oid;
        bool arcWanted;
        MSTATUS status;
        uint8_t arc;
    };
    const Case cases[] = {
        {"rsaEncryption by prefix", rsa->top()->firstChild, &rsa->stream, kRsaPrefix, true, OK, 1},
        {"id-ecPublicKey exactly", ec->top()->firstChild, &ec->stream, kEcPublicKey, false, OK, 0},
        {"sha256 by prefix", di->top()->firstChild, &di->stream, kSha256Prefix, true, OK, 1},
        {"prefix without the arc", rsa->top()->firstChild, &rsa->stream, kRsaPrefix, false,
         ERR_ALGORITHM_UNKNOWN, 0},
        {"exact identifier plus arc", ec->top()->firstChild, &ec->stream, kEcPublicKey, true,
         ERR_ALGORITHM_UNKNOWN, 0},
        {"same length, other bytes", di->top()->firstChild, &di->stream, kRsaPrefix, true,
         ERR_ALGORITHM_UNKNOWN, 0},
        {"shorter identifier", di->top()->firstChild, &di->stream, kSha1, false, ERR_ALGORITHM_UNKNOWN, 0},
        {"not a SEQUENCE", rsa->top()->lastChild, &rsa->stream, kRsaPrefix, true, ERR_STRUCTURE, 0},
        {"context [0] holding the identifier", child(priv->top(), 3), &priv->stream, kPrimeCurves,
         true, ERR_STRUCTURE, 0},
        {"SEQUENCE without children", noChild->top(), &noChild->stream, kSha1, false, ERR_STRUCTURE, 0},
        {"first child not an identifier", notOid->top(), &notOid->stream, kSha1, false, ERR_STRUCTURE, 0},
    };
    for (const Case &c : cases) {
        uint8_t arc = 0xEE;
        const Asn1Element *oidElement = nullptr;
        EXPECT_EQ(c.status, ASN1_checkAlgorithm(c.e, c.s, c.oid, c.arcWanted, &arc, &oidElement)) << c.what;
        EXPECT_EQ(c.status == OK && c.arcWanted ? c.arc : 0xEE, arc) << c.what;
        EXPECT_EQ(c.status == OK ? c.e->firstChild : nullptr, oidElement) << c.what;
    }
    const Asn1Element *oid = nullptr;
    EXPECT_EQ(ERR_NULL_POINTER,
              ASN1_checkAlgorithm(rsa->top()->firstChild, &rsa->stream, kRsaPrefix, true, nullptr, &oid));
}

} // namespace
