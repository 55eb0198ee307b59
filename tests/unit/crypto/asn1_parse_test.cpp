// DER parser: statuses of malformed input, the decoded fields of each element kind, BER
// indefinite lengths, the nesting limit and the encapsulation of BIT/OCTET STRINGs.
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/unit/crypto/asn1_test_helpers.h"

namespace {

using namespace asn1test;

struct StatusCase {
    const char *what;
    const char *der;
    MSTATUS status;
};

// Every status reachable from malformed input, and the forms right beside each edge.
const StatusCase kStatusCases[] = {
    {"empty input", "", ERR_DER_EMPTY},
    {"INTEGER of length 0", "02 00", ERR_DER_EMPTY},
    {"NULL of length 0", "05 00", OK},
    {"BIT STRING of length 0", "03 00", ERR_DER_EMPTY},
    {"BIT STRING, unused bits but no bits", "03 01 01", ERR_DER_EMPTY},
    {"BIT STRING, no unused bits and no bits", "03 01 00", OK},
    {"application primitive of length 0", "40 00", ERR_DER_EMPTY},
    {"private primitive of length 0", "C0 00", ERR_DER_EMPTY},
    {"application constructed of length 0", "60 00", ERR_DER_EMPTY},
    {"context primitive of length 0", "80 00", OK},
    {"context constructed of length 0", "A0 00", OK},
    {"application constructed, indefinite", "60 80 00 00", OK},
    {"EXTERNAL is not supported", "08 01 00", ERR_DER_UNSUPPORTED_TYPE},
    {"REAL with content is not supported", "09 01 00", ERR_DER_UNSUPPORTED_TYPE},
    {"primitive SEQUENCE with content", "10 01 00", ERR_DER_UNSUPPORTED_TYPE},
    {"CHARACTER STRING", "1D 01 00", ERR_DER_UNSUPPORTED_TYPE},
    {"universal high tag number", "1F 20 01 00", ERR_DER_UNSUPPORTED_TYPE},
    {"SEQUENCE running past its parent", "30 04 30 05 02 01 01 00 00", ERR_DER_PAST_PARENT},
    {"INTEGER running past its SEQUENCE", "30 03 02 02 01 00", ERR_DER_PAST_PARENT},
    {"input ends where a child is expected", "30 05 04 02 37 E4", ERR_DER_PAST_PARENT},
    {"4-octet length past the parent", "30 06 04 84 FF FF FF FF", ERR_DER_PAST_PARENT},
    {"four length octets", "04 84 00 00 00 01 AA", OK},
    {"length 0x85 and five octets", "04 85 00 00 00 00 01 AA", ERR_DER_LENGTH_TOO_LONG},
    {"reserved length octet 0xFF", "04 FF 00", ERR_DER_LENGTH_TOO_LONG},
    {"high tag number, three further octets", "9F 81 81 01 00", OK},
    {"high tag number, four further octets", "9F 81 81 81 01 00", ERR_DER_BAD_TAG},
    {"input ends inside the high tag number", "9F 81", ERR_DER_BAD_TAG},
    {"input ends after the identifier", "30", ERR_STREAM_RANGE},
    {"input ends inside the length octets", "04 82 01", ERR_STREAM_RANGE},
    {"input ends inside the content", "02 02 01", ERR_STREAM_RANGE},
    {"skipped content past the input", "04 84 FF FF FF FF 00", ERR_STREAM_RANGE},
    {"largest length, skipped OID", "06 84 7F FF FF FF 00", ERR_STREAM_RANGE},
    {"BOOLEAN of two bytes", "01 02 00 00", ERR_DER_LENGTH_INVALID},
    {"NULL with content", "05 01 00", ERR_DER_LENGTH_INVALID},
    {"primitive with indefinite length", "04 80 01 00 00", ERR_DER_LENGTH_INVALID},
    {"indefinite SEQUENCE, no terminator", "30 80 02 01 05", ERR_DER_PAST_PARENT},
    {"indefinite SEQUENCE, terminator past the parent", "30 05 30 80 02 01 05 00 00",
     ERR_DER_PAST_PARENT},
    {"terminator with content", "30 80 00 01 00", ERR_DER_LENGTH_INVALID},
};

TEST(Asn1Parse, StatusOfEachMalformedInput)
{
    for (const StatusCase &c : kStatusCases) {
        auto p = parseHex(c.der);
        EXPECT_EQ(c.status, p->status) << c.what;
        if (c.status == OK)
            EXPECT_NE(nullptr, p->top()) << c.what;
        else
            EXPECT_EQ(nullptr, p->root) << c.what; // nothing is returned on failure
    }
}

TEST(Asn1Parse, NullArguments)
{
    MemStream mem{};
    ByteStream s{};
    MEMSTREAM_init(&s, &mem, nullptr, 0);
    Asn1Element *root = reinterpret_cast<Asn1Element *>(1);
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_parse(nullptr, &root));
    EXPECT_EQ(nullptr, root);
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_parse(&s, nullptr));
    ByteStream noOps{&mem, nullptr};
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_parse(&noOps, &root));
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

TEST(Asn1Parse, TrailingBytesAreNotRead)
{
    auto p = parseHex("30 03 02 01 05 FF FF FF");
    ASSERT_EQ(OK, p->status);
    const Asn1Element *top = p->top();
    EXPECT_EQ(nullptr, top->nextSibling);
    EXPECT_EQ(5u, top->headerLength + top->length);
    EXPECT_EQ(5, p->position());
    // The root is a node without header holding only the top-level element.
    EXPECT_EQ(0, p->root->headerLength);
    EXPECT_EQ(1, childCount(p->root));
}

struct FieldCase {
    const char *what;
    const char *der;
    uint8_t classForm;
    uint32_t tag;
    uint32_t length;
    uint32_t value;
    int32_t contentOffset;
    uint8_t headerLength;
};

TEST(Asn1Parse, DecodedFieldsOfEachElementKind)
{
    const FieldCase cases[] = {
        {"INTEGER of 4 bytes", "02 04 81 02 03 04", 0x00, 2, 4, 0x81020304u, 2, 2},
        {"INTEGER of 1 byte", "02 01 80", 0x00, 2, 1, 0x80, 2, 2},
        {"INTEGER of 5 bytes has no value", "02 05 00 FF FF FF FF", 0x00, 2, 5, 0, 2, 2},
        {"ENUMERATED", "0A 02 01 00", 0x00, 10, 2, 0x100, 2, 2},
        {"BOOLEAN", "01 01 FF", 0x00, 1, 1, 0xFF, 2, 2},
        {"BIT STRING: unused bits, length and offset", "03 03 07 AA 80", 0x00, 3, 2, 7, 3, 2},
        {"OCTET STRING, long-form length", "04 81 02 37 E4", 0x00, 4, 2, 0, 3, 3},
        {"OID", "06 03 2B 0E 03", 0x00, 6, 3, 0, 2, 2},
        {"context primitive, high tag", "9F 81 81 01 01 AA", 0x80, 16513, 1, 0, 5, 5},
        {"context constructed, high tag", "BF 21 00", 0xA0, 33, 0, 0, 3, 3},
        {"private primitive", "C5 01 00", 0xC0, 5, 1, 0, 2, 2},
        {"SET", "31 02 05 00", 0x20, 17, 2, 0, 2, 2},
    };
    for (const FieldCase &c : cases) {
        auto p = parseHex(c.der);
        ASSERT_EQ(OK, p->status) << c.what;
        const Asn1Element *e = p->top();
        EXPECT_EQ(c.classForm, e->classForm) << c.what;
        EXPECT_EQ(c.tag, e->tag) << c.what;
        EXPECT_EQ(c.length, e->length) << c.what;
        EXPECT_EQ(c.value, e->value) << c.what;
        EXPECT_EQ(c.contentOffset, e->contentOffset) << c.what;
        EXPECT_EQ(c.headerLength, e->headerLength) << c.what;
        std::vector<uint8_t> bytes = hexBytes(c.der);
        EXPECT_TRUE(std::equal(e->header, e->header + e->headerLength, bytes.begin())) << c.what;
        EXPECT_EQ(0, e->indefinite) << c.what;
        EXPECT_EQ(p->root, e->parent) << c.what;
    }
}

TEST(Asn1Parse, ChildrenInOrderAndPrimitivesSkipped)
{
    auto p = parseHex("30 0B 81 01 AA 05 00 02 01 07 0C 01 41");
    ASSERT_EQ(OK, p->status);
    const Asn1Element *top = p->top();
    ASSERT_EQ(4, childCount(top));
    const Asn1Element *c = top->firstChild;
    EXPECT_EQ(0x80, c->classForm);
    EXPECT_EQ(1u, c->tag);
    c = c->nextSibling;
    EXPECT_EQ(5u, c->tag);
    c = c->nextSibling;
    EXPECT_EQ(7u, c->value);
    c = c->nextSibling;
    EXPECT_EQ(12u, c->tag);
    EXPECT_EQ(12, c->contentOffset);
    EXPECT_EQ(top->lastChild, c);
    EXPECT_EQ(13, p->position());
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

TEST(Asn1Parse, IndefiniteElementInsideDefiniteParent)
{
    auto p = parseHex("30 09 A0 80 02 01 05 00 00 05 00");
    ASSERT_EQ(OK, p->status);
    ASSERT_EQ(2, childCount(p->top()));
    EXPECT_EQ(5u, p->top()->lastChild->tag);
}

// A terminator in a definite-length SEQUENCE is an ordinary empty element there.
TEST(Asn1Parse, TerminatorInDefiniteParentDoesNotEndIt)
{
    auto p = parseHex("30 04 00 00 05 00");
    ASSERT_EQ(OK, p->status);
    EXPECT_EQ(2, childCount(p->top()));
}

// Forty levels of elements with children; a primitive may sit inside the fortieth.
TEST(Asn1Parse, NestingLimitIsFortyLevels)
{
    struct Case {
        int sequences;
        std::vector<uint8_t> innermost;
        MSTATUS status;
    };
    const Case cases[] = {
        {40, {}, OK},
        {41, {}, ERR_DER_TOO_DEEP},
        {40, hexBytes("02 01 05"), OK},
        {41, hexBytes("02 01 05"), ERR_DER_TOO_DEEP},
        {40, hexBytes("A0 80 00 00"), ERR_DER_TOO_DEEP}, // constructed, even without content
        {400, {}, ERR_DER_TOO_DEEP},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> der = c.innermost;
        for (int i = 0; i < c.sequences; ++i)
            der = tlv(0x30, der);
        auto p = parseBytes(der);
        EXPECT_EQ(c.status, p->status) << c.sequences << " levels";
        if (p->status == OK) {
            EXPECT_LE(treeDepth(p->root), ASN1_MAX_DEPTH + 1);
        }
    }
}

TEST(Asn1Parse, NestingLimitAppliesToIndefiniteLengths)
{
    for (int levels : {40, 41, 5000}) {
        std::vector<uint8_t> der;
        for (int i = 0; i < levels; ++i)
            der.insert(der.end(), {0x30, 0x80});
        for (int i = 0; i < levels; ++i)
            der.insert(der.end(), {0x00, 0x00});
        auto p = parseBytes(der);
        EXPECT_EQ(levels <= ASN1_MAX_DEPTH ? OK : ERR_DER_TOO_DEEP, p->status) << levels;
    }
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
const char *kRsaPublicKey = "30 07 02 02 00 C3 02 01 03";

TEST(Asn1Parse, BitStringHoldingRsaPublicKeyEncapsulates)
{
    auto p = parseBytes(tlv(0x03, hexBytes(std::string("00") + kRsaPublicKey)));
    ASSERT_EQ(OK, p->status);
    const Asn1Element *bits = p->top();
    EXPECT_EQ(1, bits->encapsulates);
    EXPECT_EQ(9u, bits->length);
    EXPECT_EQ(3, bits->contentOffset);
    ASSERT_EQ(1, childCount(bits));
    const Asn1Element *seq = bits->firstChild;
    EXPECT_EQ(16u, seq->tag);
    EXPECT_EQ(3, seq->contentOffset - seq->headerLength);
    ASSERT_EQ(2, childCount(seq));
    EXPECT_EQ(0xC3u, seq->firstChild->value);
    EXPECT_EQ(7, seq->firstChild->contentOffset);
    EXPECT_EQ(3u, seq->lastChild->value);
    EXPECT_EQ(12, p->position());
}

struct EncapsulationCase {
    const char *what;
    const char *der;
    bool encapsulates;
};

TEST(Asn1Parse, EncapsulationTest)
{
    const EncapsulationCase cases[] = {
        {"context SEQUENCE in BIT STRING", "03 0A 00 B0 07 02 02 00 C3 02 01 03", true},
        {"unused bits are not looked at", "03 0A 03 30 07 02 02 00 C3 02 01 03", true},
        {"SEQUENCE plus one byte", "03 0B 00 30 07 02 02 00 C3 02 01 03 00", false},
        {"SEQUENCE short of the content", "03 09 00 30 07 02 02 00 C3 02 01", false},
        {"first element not an INTEGER", "03 0A 00 30 07 04 02 00 C3 02 01 03", false},
        {"INTEGER fills the SEQUENCE", "03 06 00 30 03 02 01 05", false},
        {"SET instead of SEQUENCE", "03 0A 00 31 07 02 02 00 C3 02 01 03", false},
        {"primitive tag 16", "03 0A 00 10 07 02 02 00 C3 02 01 03", false},
        {"application SEQUENCE", "03 0A 00 70 07 02 02 00 C3 02 01 03", false},
        {"indefinite SEQUENCE", "03 0B 00 30 80 02 01 05 02 01 03 00 00", false},
        {"looks like DER, nested parse fails", "03 0A 00 30 07 02 02 00 C3 08 01 03", false},
        {"INTEGER in OCTET STRING", "04 03 02 01 05", true},
        {"SEQUENCE in OCTET STRING", "04 05 30 03 02 01 05", true},
        {"context tag 49 in OCTET STRING", "04 03 9F 31 00", true},
        {"context tag 50 in OCTET STRING", "04 03 9F 32 00", false},
        {"tag 0 in OCTET STRING", "04 02 00 00", false},
        {"application element in OCTET STRING", "04 03 41 01 00", false},
        {"element plus one byte in OCTET STRING", "04 04 02 01 05 00", false},
        {"nested parse fails in OCTET STRING", "04 02 02 00", false},
        {"too long length in OCTET STRING", "04 07 04 85 00 00 00 00 00", false},
        {"empty OCTET STRING", "04 00", false},
    };
    for (const EncapsulationCase &c : cases) {
        auto p = parseHex(c.der);
        ASSERT_EQ(OK, p->status) << c.what;
        const Asn1Element *e = p->top();
        EXPECT_EQ(c.encapsulates ? 1 : 0, e->encapsulates) << c.what;
        EXPECT_EQ(c.encapsulates ? 1 : 0, childCount(e)) << c.what;
        // Either way the string ends where its length says.
        EXPECT_EQ(static_cast<int32_t>(hexBytes(c.der).size()), p->position()) << c.what;
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

// Long child lists: appending must not walk the list (the parse would go quadratic).
TEST(Asn1Parse, ManyChildren)
{
    std::vector<uint8_t> content;
    for (int i = 0; i < 30000; ++i)
        content.insert(content.end(), {0x05, 0x00});
    auto p = parseBytes(tlv(0x30, content));
    ASSERT_EQ(OK, p->status);
    EXPECT_EQ(30000, childCount(p->top()));
}

} // namespace
