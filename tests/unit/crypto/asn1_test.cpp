// DER parser, element tree and tree queries: statuses of malformed input, the decoded fields
// of each element kind (tables in tests/data/asn1_cases.txt), BER indefinite lengths, the
// nesting limit, the encapsulation of BIT/OCTET STRINGs, tree links and releases, and the
// queries the key readers and the DigestInfo check use.
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "tests/unit/crypto/asn1_test_helpers.h"
#include "tests/unit/crypto/vector_file.h"

namespace {

using namespace asn1test;

// The tables of tests/data/asn1_cases.txt, by section.
std::vector<VectorRecord> cases(const char *section)
{
    auto records = read_vector_file(BM_SOURCE_DIR "/tests/data/asn1_cases.txt");
    EXPECT_TRUE(records) << "tests/data/asn1_cases.txt";
    std::vector<VectorRecord> out;
    for (const VectorRecord &r : records.value_or(std::vector<VectorRecord>{}))
        if (r.in_section(section))
            out.push_back(r);
    EXPECT_FALSE(out.empty()) << section;
    return out;
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

// ---- Element tree: link refusals, release order and release of trees of any depth.

std::vector<uint32_t> g_released;

void recordRelease(Asn1Element *e)
{
    EXPECT_EQ(nullptr, e->firstChild); // children are gone before the hook runs
    g_released.push_back(e->tag);
}

Asn1Element *make(uint32_t tag)
{
    Asn1Element *e = nullptr;
    EXPECT_EQ(OK, ASN1_createElement(&e));
    e->tag = tag;
    e->releaseHook = recordRelease;
    return e;
}

// Appends keep their order; each refused link or release must leave the tree as it was.
TEST(Asn1Tree, LinksAndReleasesThatAreRefused)
{
    Asn1Element *root = make(100);
    Asn1Element *a = make(1), *b = make(2), *grandchild = make(11);
    ASSERT_EQ(OK, ASN1_appendChild(root, a));
    ASSERT_EQ(OK, ASN1_appendChild(root, b));
    ASSERT_EQ(OK, ASN1_appendChild(a, grandchild));

    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(b, a));          // a has a parent (and a sibling)
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(a, grandchild)); // already linked
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(grandchild, root)); // root below its grandchild
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(root, root));
    Asn1Element *linked = a;
    EXPECT_EQ(ERR_TREE_LINK, ASN1_releaseElement(&linked));    // still has a parent
    EXPECT_EQ(a, linked);
    linked = grandchild;
    EXPECT_EQ(ERR_TREE_LINK, ASN1_releaseElement(&linked));

    // A node with a sibling but no parent (unlinked by hand) is refused too.
    Asn1Element *loose = make(7), *other = make(8);
    loose->nextSibling = other;
    EXPECT_EQ(ERR_TREE_LINK, ASN1_appendChild(root, loose));
    EXPECT_EQ(ERR_TREE_LINK, ASN1_releaseElement(&loose));
    loose->nextSibling = nullptr;

    EXPECT_EQ(a, root->firstChild);
    EXPECT_EQ(b, a->nextSibling);
    EXPECT_EQ(nullptr, b->nextSibling);
    EXPECT_EQ(b, root->lastChild);
    EXPECT_EQ(root, b->parent);
    EXPECT_EQ(grandchild, a->firstChild);

    g_released.clear();
    EXPECT_EQ(OK, ASN1_freeTree(&root));
    EXPECT_EQ((std::vector<uint32_t>{11, 1, 2, 100}), g_released); // children first, in order
    EXPECT_EQ(nullptr, root);
    EXPECT_EQ(OK, ASN1_releaseElement(&loose));
    EXPECT_EQ(OK, ASN1_releaseElement(&other));
}

TEST(Asn1Tree, NullArguments)
{
    Asn1Element *e = make(1);
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_createElement(nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_appendChild(nullptr, e));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_appendChild(e, nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_releaseElement(nullptr));
    EXPECT_EQ(ERR_NULL_POINTER, ASN1_freeTree(nullptr));
    Asn1Element *none = nullptr;
    EXPECT_EQ(OK, ASN1_freeTree(&none));
    EXPECT_EQ(OK, ASN1_releaseElement(&e));
}

// Release must not recurse per level: 200000 levels, linked field by field (the link
// call walks up to refuse cycles, which would make building this chain quadratic).
TEST(Asn1Tree, ReleasesVeryDeepTrees)
{
    Asn1Element *root = make(0);
    Asn1Element *at = root;
    for (int i = 0; i < 200000; ++i) {
        Asn1Element *child = make(1);
        child->parent = at;
        at->firstChild = at->lastChild = child;
        at = child;
    }
    ASSERT_EQ(OK, ASN1_appendChild(at, make(2)));
    ASSERT_EQ(OK, ASN1_appendChild(at, make(3)));
    g_released.clear();
    EXPECT_EQ(OK, ASN1_freeTree(&root));
    ASSERT_EQ(200003u, g_released.size());
    EXPECT_EQ(2u, g_released[0]);
    EXPECT_EQ(3u, g_released[1]);
    EXPECT_EQ(0u, g_released.back());
}

// ---- Tree queries on the structures the key readers and the DigestInfo check meet:
// SubjectPublicKeyInfo of RSA and EC keys, an ECPrivateKey and a DigestInfo. (How the readers
// walk them is tested through the readers themselves: keys_test, rsa_test.)


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
