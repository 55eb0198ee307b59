// DER parser: statuses of malformed input, the decoded fields of each element kind (tables in
// tests/data/asn1_cases.txt), BER indefinite lengths, the nesting limit, the encapsulation of
// BIT/OCTET STRINGs, and the algorithm check the key readers and the DigestInfo check use.
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "tests/unit/crypto/asn1_test_helpers.h"
#include "tests/unit/crypto/vector_file.h"

namespace {

using namespace asn1test;

std::vector<VectorRecord> cases(const char *section)
{
    return data_section("asn1_cases.txt", section);
}

uint32_t number(const VectorRecord &r, const char *name)
{
    return uint32_t(std::stoul(*r.get(name), nullptr, 0));
}

MSTATUS statusNamed(const std::string &name)
{
#define BM_STATUS(s) {#s, s}
    static const std::map<std::string, MSTATUS> names = {
        BM_STATUS(OK), BM_STATUS(ERR_DER_EMPTY), BM_STATUS(ERR_DER_UNSUPPORTED_TYPE), BM_STATUS(ERR_DER_PAST_PARENT),
        BM_STATUS(ERR_DER_LENGTH_INVALID), BM_STATUS(ERR_DER_LENGTH_TOO_LONG), BM_STATUS(ERR_DER_BAD_TAG),
        BM_STATUS(ERR_STREAM_RANGE)};
#undef BM_STATUS
    auto found = names.find(name);
    EXPECT_NE(names.end(), found) << name;
    return found == names.end() ? OK : found->second;
}

TEST(Asn1Parse, StatusOfEachMalformedInput)
{
    for (const VectorRecord &c : cases("status")) {
        const std::string &what = *c.get("What");
        const MSTATUS status = statusNamed(*c.get("Status"));
        auto p = parseHex(*c.get("Der"));
        EXPECT_EQ(status, p->status) << what;
        if (status == OK)
            EXPECT_NE(nullptr, p->top()) << what;
        else
            EXPECT_EQ(nullptr, p->root) << what; // nothing is returned on failure
    }
}

// Which universal primitives may be empty: 0, 4, 5, 7, 9, 12, 16, 17, 18-22, 25-28, 30.
TEST(Asn1Parse, ZeroLengthUniversalPrimitives)
{
    const std::vector<uint32_t> allowed = {0, 4, 5, 7, 9, 12, 16, 17, 18, 19, 20, 21, 22,
                                           25, 26, 27, 28, 30};
    for (uint32_t tag = 0; tag <= 30; ++tag) {
        auto p = parseBytes({static_cast<uint8_t>(tag), 0x00});
        bool ok = std::find(allowed.begin(), allowed.end(), tag) != allowed.end();
        EXPECT_EQ(ok ? OK : ERR_DER_EMPTY, p->status) << "tag " << tag;
    }
}

// Only the first element is parsed; the bytes after it are not read.
TEST(Asn1Parse, TrailingBytesAreNotRead)
{
    auto p = parseHex("30 03 02 01 05 FF FF FF");
    ASSERT_EQ(OK, p->status);
    EXPECT_EQ(nullptr, p->top()->nextSibling);
    EXPECT_EQ(5, p->position());
}

TEST(Asn1Parse, DecodedFieldsOfEachElementKind)
{
    for (const VectorRecord &c : cases("fields")) {
        const std::string &what = *c.get("What");
        auto p = parseHex(*c.get("Der"));
        ASSERT_EQ(OK, p->status) << what;
        const Asn1Element *e = p->top();
        EXPECT_EQ(number(c, "ClassForm"), e->classForm) << what;
        EXPECT_EQ(number(c, "Tag"), e->tag) << what;
        EXPECT_EQ(number(c, "Length"), e->length) << what;
        EXPECT_EQ(number(c, "Value"), e->value) << what;
        EXPECT_EQ(int32_t(number(c, "ContentOffset")), e->contentOffset) << what;
        EXPECT_EQ(number(c, "HeaderLength"), e->headerLength) << what;
        std::vector<uint8_t> bytes = hexBytes(*c.get("Der"));
        EXPECT_TRUE(std::equal(e->header, e->header + e->headerLength, bytes.begin())) << what;
        EXPECT_EQ(0, e->indefinite) << what;
        EXPECT_EQ(p->root, e->parent) << what;
    }
}

TEST(Asn1Parse, IndefiniteLengthKeepsTerminatorAsLastChild)
{
    auto p = parseHex("30 80 02 01 05 30 80 05 00 00 00 00 00 EE");
    ASSERT_EQ(OK, p->status);
    const Asn1Element *top = p->top();
    EXPECT_EQ(1, top->indefinite);
    EXPECT_EQ(0u, top->length);
    ASSERT_EQ(3, childCount(top));
    const Asn1Element *inner = top->firstChild->nextSibling;
    EXPECT_EQ(1, inner->indefinite);
    ASSERT_EQ(2, childCount(inner));
    EXPECT_EQ(0u, inner->lastChild->tag);
    EXPECT_EQ(0x00, inner->lastChild->header[0]);
    EXPECT_EQ(0u, top->lastChild->tag);
    EXPECT_EQ(13, p->position()); // the byte after the outer terminator is not read
}

// Forty levels of elements with children, of definite or indefinite length; a primitive may
// sit inside the fortieth.
TEST(Asn1Parse, NestingLimitIsFortyLevels)
{
    const struct {
        int sequences;
        bool indefinite;
        std::vector<uint8_t> innermost;
        MSTATUS status;
    } cases[] = {
        {40, false, {}, OK},
        {41, false, {}, ERR_DER_TOO_DEEP},
        {40, false, hexBytes("02 01 05"), OK},
        {41, false, hexBytes("02 01 05"), ERR_DER_TOO_DEEP},
        {40, false, hexBytes("A0 80 00 00"), ERR_DER_TOO_DEEP}, // constructed, even without content
        {40, true, {}, OK},
        {41, true, {}, ERR_DER_TOO_DEEP},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> der = c.innermost;
        for (int i = 0; i < c.sequences; ++i)
            der = c.indefinite ? cat({{0x30, 0x80}, der, {0x00, 0x00}}) : tlv(0x30, der);
        auto p = parseBytes(der);
        EXPECT_EQ(c.status, p->status) << c.sequences << " levels, indefinite " << c.indefinite;
    }
}

TEST(Asn1Parse, EncapsulationTest)
{
    for (const VectorRecord &c : cases("encapsulation")) {
        const std::string &what = *c.get("What");
        const int encapsulates = int(number(c, "Encapsulates"));
        auto p = parseHex(*c.get("Der"));
        ASSERT_EQ(OK, p->status) << what;
        const Asn1Element *e = p->top();
        EXPECT_EQ(encapsulates, e->encapsulates) << what;
        EXPECT_EQ(encapsulates, childCount(e)) << what;
        // Either way the string ends where its length says.
        EXPECT_EQ(static_cast<int32_t>(hexBytes(*c.get("Der")).size()), p->position()) << what;
    }
}

// A string of strings, each holding the next: encapsulation stops at the nesting limit and
// the deepest string stays plain, instead of failing or recursing further.
TEST(Asn1Parse, DeeplyEncapsulatedStringsStayWithinTheLimit)
{
    std::vector<uint8_t> der = hexBytes("02 01 05");
    for (int i = 0; i < 100; ++i)
        der = tlv(0x04, der);
    auto p = parseBytes(der);
    ASSERT_EQ(OK, p->status);
    EXPECT_EQ(ASN1_MAX_DEPTH + 1, treeDepth(p->root));
    const Asn1Element *e = p->top();
    for (int level = 1; level <= ASN1_MAX_DEPTH; ++level, e = e->firstChild)
        ASSERT_EQ(1, e->encapsulates) << level;
    EXPECT_EQ(0, e->encapsulates);
    EXPECT_EQ(nullptr, e->firstChild);
}

// An encapsulation that fails deep inside must not leave half a subtree behind.
TEST(Asn1Parse, FailedEncapsulationReleasesItsChildren)
{
    // BIT STRING { SEQUENCE { INTEGER, SEQUENCE { OCTET STRING, REAL 1 byte } } }
    auto p = parseHex("30 11 03 0F 00 30 0C 02 01 05 30 07 04 02 37 E4 09 01 00");
    ASSERT_EQ(OK, p->status);
    const Asn1Element *bits = p->top()->firstChild;
    EXPECT_EQ(0, bits->encapsulates);
    EXPECT_EQ(nullptr, bits->firstChild);
    EXPECT_EQ(nullptr, bits->lastChild);
}

// ---- The algorithm check the key readers and the DigestInfo check use: the edges of its
// prefix and exact matching (the accepted forms and the structural refusals are reached
// through the readers in keys_test, keys_oracle_test and rsa_test).

// Identifiers as the queries take them: a length byte, then the content octets.
const uint8_t kRsaPrefix[] = {8, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01}; // 1.2.840.113549.1.1
const uint8_t kEcPublicKey[] = {7, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};   // 1.2.840.10045.2.1
const uint8_t kSha256Prefix[] = {8, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02};
const uint8_t kSha1[] = {5, 0x2B, 0x0E, 0x03, 0x02, 0x1A};

// SubjectPublicKeyInfo { AlgorithmIdentifier { rsaEncryption, NULL }, BIT STRING { RSAPublicKey } }
const char *kRsaSpki = "30 1C"
                       " 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00"
                       " 03 0B 00 30 08 02 03 00 C3 55 02 01 03";
// SubjectPublicKeyInfo { AlgorithmIdentifier { id-ecPublicKey, secp384r1 }, BIT STRING point }
const char *kEcSpki = "30 1A 30 10 06 07 2A 86 48 CE 3D 02 01 06 05 2B 81 04 00 22"
                      " 03 06 00 04 01 02 03 04";
// DigestInfo { AlgorithmIdentifier { sha256, NULL }, OCTET STRING digest (4 bytes here) }
const char *kDigestInfo = "30 15 30 0D 06 09 60 86 48 01 65 03 04 02 01 05 00 04 04 DE AD BE EF";

TEST(Asn1Query, CheckAlgorithm)
{
    auto rsa = parseHex(kRsaSpki);
    auto ec = parseHex(kEcSpki);
    auto di = parseHex(kDigestInfo);
    ASSERT_EQ(OK, rsa->status);
    ASSERT_EQ(OK, ec->status);
    ASSERT_EQ(OK, di->status);
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
        {"id-ecPublicKey exactly", ec->top()->firstChild, &ec->stream, kEcPublicKey, false, OK, 0},
        {"sha256 by prefix", di->top()->firstChild, &di->stream, kSha256Prefix, true, OK, 1},
        {"prefix without the arc", rsa->top()->firstChild, &rsa->stream, kRsaPrefix, false,
         ERR_ALGORITHM_UNKNOWN, 0},
        {"exact identifier plus arc", ec->top()->firstChild, &ec->stream, kEcPublicKey, true,
         ERR_ALGORITHM_UNKNOWN, 0},
        {"same length, other bytes", di->top()->firstChild, &di->stream, kRsaPrefix, true,
         ERR_ALGORITHM_UNKNOWN, 0},
        {"shorter identifier", di->top()->firstChild, &di->stream, kSha1, false, ERR_ALGORITHM_UNKNOWN, 0},
    };
    for (const Case &c : cases) {
        uint8_t arc = 0xEE;
        const Asn1Element *oidElement = nullptr;
        EXPECT_EQ(c.status, ASN1_checkAlgorithm(c.e, c.s, c.oid, c.arcWanted, &arc, &oidElement)) << c.what;
        EXPECT_EQ(c.status == OK && c.arcWanted ? c.arc : 0xEE, arc) << c.what;
        EXPECT_EQ(c.status == OK ? c.e->firstChild : nullptr, oidElement) << c.what;
    }
}

} // namespace
