// Fuzz target of the DER parser: any input, parsed from a memory stream. Besides the
// sanitizers' checks it stops on a broken tree (an element outside its parent or the
// input, a tree deeper than the limit), a status the parser does not document, a tree
// returned on failure, and on queries that misbehave on whatever tree was built.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "crypto/der/asn1.h"
#include "crypto/der/stream.h"

namespace {

void fail(const char *what)
{
    std::fprintf(stderr, "asn1_parse_fuzz: %s\n", what);
    std::abort();
}

bool documentedFailure(MSTATUS status)
{
    switch (status) {
    case ERR_DER_EMPTY:
    case ERR_DER_UNSUPPORTED_TYPE:
    case ERR_DER_PAST_PARENT:
    case ERR_DER_LENGTH_INVALID:
    case ERR_DER_LENGTH_TOO_LONG:
    case ERR_DER_BAD_TAG:
    case ERR_DER_TOO_DEEP:
    case ERR_STREAM_RANGE:
    case ERR_MEM_ALLOC:
        return true;
    default:
        return false;
    }
}

const uint8_t kRsaPrefix[] = {8, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};
const uint8_t kCurvePrefix[] = {7, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01};

// Start and end (exclusive) of an element's encoding; end is -1 for an indefinite length.
int64_t elementStart(const Asn1Element *e)
{
    int64_t start = int64_t{e->contentOffset} - e->headerLength;
    if (e->tag == ASN1_TAG_BIT_STRING && (e->classForm & 0xE0) == 0)
        start -= 1; // the unused-bits octet is not counted in length or header
    return start;
}

void checkNode(const Asn1Element *e, const ByteStream *s, size_t size, int depth)
{
    if (depth > ASN1_MAX_DEPTH && e->firstChild)
        fail("children nested deeper than the limit");
    if (e->headerLength < 2 || e->headerLength > ASN1_MAX_HEADER)
        fail("header length out of range");
    if (e->indefinite && (e->length != 0 || !(e->classForm & ASN1_CONSTRUCTED)))
        fail("indefinite element with a length or without children");
    if (e->encapsulates && (e->tag != ASN1_TAG_BIT_STRING && e->tag != ASN1_TAG_OCTET_STRING))
        fail("encapsulation on something other than a string");
    if (elementStart(e) < 0 || int64_t{e->contentOffset} + e->length > static_cast<int64_t>(size))
        fail("element outside the input");
    if (!s->ops->map(s->obj, e->contentOffset, e->length))
        fail("content of a parsed element cannot be mapped");

    const int64_t end = int64_t{e->contentOffset} + e->length;
    const Asn1Element *last = nullptr;
    uint32_t count = 0;
    for (const Asn1Element *c = e->firstChild; c; c = c->nextSibling) {
        if (c->parent != e)
            fail("child with a wrong parent link");
        if (elementStart(c) < (last ? int64_t{last->contentOffset} + last->length : e->contentOffset))
            fail("children overlap or start before their parent's content");
        if (!e->indefinite && int64_t{c->contentOffset} + c->length > end)
            fail("child runs past its parent");
        checkNode(c, s, size, depth + 1);
        last = c;
        ++count;
    }
    if (last != e->lastChild)
        fail("last-child link wrong");

    // Queries must answer consistently on any tree.
    const Asn1Element *found = nullptr;
    if (ASN1_getChild(e, count + 1, &found) != ERR_STRUCTURE || found)
        fail("getChild past the last child");
    if (count && (ASN1_getChild(e, count, &found) != OK || found != last))
        fail("getChild of the last child");
    if (ASN1_findContextChild(e, 0, &found) != OK)
        fail("findContextChild");
    uint8_t arc = 0;
    MSTATUS status = ASN1_matchOidPrefix(e, s, kCurvePrefix, &arc);
    if (status != OK && status != ERR_WRONG_TYPE)
        fail("matchOidPrefix status");
    status = ASN1_checkAlgorithm(e, s, kRsaPrefix, true, &arc, &found);
    if (status != OK && status != ERR_STRUCTURE && status != ERR_ALGORITHM_UNKNOWN)
        fail("checkAlgorithm status");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemStream mem;
    ByteStream stream;
    if (MEMSTREAM_init(&stream, &mem, data, static_cast<uint32_t>(size)) != OK)
        return 0;
    Asn1Element *root = reinterpret_cast<Asn1Element *>(&mem); // must be overwritten
    MSTATUS status = ASN1_parse(&stream, &root);
    if (status != OK) {
        if (root)
            fail("tree returned with a failure");
        if (!documentedFailure(status))
            fail("undocumented status");
        return 0;
    }
    if (!root || !root->firstChild || root->firstChild->nextSibling || root->headerLength != 0)
        fail("root must hold exactly the top-level element");
    checkNode(root->firstChild, &stream, size, 1);
    if (ASN1_freeTree(&root) != OK || root)
        fail("freeTree");
    return 0;
}
