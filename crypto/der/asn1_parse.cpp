// DER parser: builds the element tree of the first element of a stream. It also takes the
// BER forms a lenient reader meets (indefinite lengths on constructed elements, long-form
// lengths, constructed strings). Every length is bounded by its parent before a byte of
// content is touched, the recursion by ASN1_MAX_DEPTH, and every loop advances the stream.
#include "crypto/der/asn1.h"

#include <cstring>
#include <limits>
#include <memory>
#include <span>

namespace {

constexpr int64_t kNoLimit = -1;

struct TreeDeleter {
    void operator()(Asn1Element *root) const { ASN1_freeTree(&root); }
};
using TreeHolder = std::unique_ptr<Asn1Element, TreeDeleter>;

struct Header {
    uint8_t classForm;
    uint32_t tag;
    uint32_t length;
    bool indefinite;
    uint8_t bytes[ASN1_MAX_HEADER];
    uint8_t size;
};

// Identifier and length octets, taken one at a time from next(&byte):
//   identifier: class|form (3 bits) tag (5 bits); tag 31 = up to three further octets,
//               7 bits each, bit 7 set on all but the last;
//   length:     0xxxxxxx short form | 0x80 indefinite | 0x81..0x84 then 1..4 octets.
// A failure inside the further tag octets is -8108, inside the length the source's status.
template <typename NextByte>
MSTATUS decodeHeader(NextByte &&next, Header *h)
{
    *h = Header{};
    uint8_t b = 0;
    MSTATUS status = next(&b);
    if (status != OK)
        return status;
    h->bytes[h->size++] = b;
    h->classForm = b & 0xE0;
    h->tag = b & 0x1F;
    if (h->tag == 0x1F) {
        h->tag = 0;
        for (int further = 0;; ++further) {
            if (further == 3)
                return ERR_DER_BAD_TAG;
            if (next(&b) != OK)
                return ERR_DER_BAD_TAG;
            h->bytes[h->size++] = b;
            h->tag = (h->tag << 7) | (b & 0x7F);
            if (!(b & 0x80))
                break;
        }
    }
    status = next(&b);
    if (status != OK)
        return status;
    h->bytes[h->size++] = b;
    if (b < 0x80) {
        h->length = b;
    } else if (b == 0x80) {
        h->indefinite = true;
    } else {
        int count = b & 0x7F;
        if (count > 4)
            return ERR_DER_LENGTH_TOO_LONG;
        for (int i = 0; i < count; ++i) {
            status = next(&b);
            if (status != OK)
                return status;
            h->bytes[h->size++] = b;
            h->length = (h->length << 8) | b;
        }
    }
    return OK;
}

// Header at the start of bytes (h->size octets); false when there is none.
bool peekHeader(std::span<const uint8_t> bytes, Header *h)
{
    size_t at = 0;
    auto next = [&](uint8_t *b) -> MSTATUS {
        if (at >= bytes.size())
            return ERR_STREAM_RANGE;
        *b = bytes[at++];
        return OK;
    };
    return decodeHeader(next, h) == OK;
}

uint8_t classOf(uint8_t classForm)
{
    return classForm & ASN1_CLASS_MASK;
}

bool universalOrContext(const Header &h)
{
    return classOf(h.classForm) == ASN1_CLASS_UNIVERSAL || classOf(h.classForm) == ASN1_CLASS_CONTEXT;
}

// A BIT STRING that carries DER (a public key): exactly one universal or context SEQUENCE
// filling the content, whose first element is an INTEGER with something after it.
bool bitStringEncapsulates(std::span<const uint8_t> content)
{
    Header seq;
    if (!peekHeader(content, &seq) || !universalOrContext(seq) || !(seq.classForm & ASN1_CONSTRUCTED) ||
        seq.tag != ASN1_TAG_SEQUENCE || seq.indefinite)
        return false;
    if (uint64_t{seq.size} + seq.length != content.size())
        return false;
    Header first;
    if (!peekHeader(content.subspan(seq.size), &first))
        return false;
    if (first.classForm != ASN1_CLASS_UNIVERSAL || first.tag != ASN1_TAG_INTEGER || first.indefinite)
        return false;
    return uint64_t{first.size} + first.length < seq.length;
}

// An OCTET STRING that carries DER: exactly one universal or context element with tag
// number 1 to 49 filling the content.
bool octetStringEncapsulates(std::span<const uint8_t> content)
{
    Header inner;
    if (!peekHeader(content, &inner) || !universalOrContext(inner) || inner.indefinite)
        return false;
    if (inner.tag < 1 || inner.tag > 49)
        return false;
    return uint64_t{inner.size} + inner.length == content.size();
}

// Universal primitive tag numbers that may have no content at all.
bool emptyAllowed(uint32_t tag)
{
    switch (tag) {
    case 0: case 4: case 5: case 7: case 9: case 12: case 16: case 17:
    case 18: case 19: case 20: case 21: case 22:
    case 25: case 26: case 27: case 28: case 30:
        return true;
    default:
        return false;
    }
}

// Universal primitive tag numbers whose content the parser skips.
bool skippedString(uint32_t tag)
{
    return tag == 6 || tag == 7 || tag == 12 || (tag >= 18 && tag <= 28) || tag == 30;
}

MSTATUS element(const ByteStream *s, Asn1Element *parent, int64_t limit, int depth,
                bool *endOfContents);
MSTATUS children(const ByteStream *s, Asn1Element *node, int64_t end, int64_t limit, int depth);
MSTATUS universalPrimitive(const ByteStream *s, Asn1Element *node, int depth);
MSTATUS encapsulated(const ByteStream *s, Asn1Element *node, int depth);

MSTATUS getByte(const ByteStream *s, uint8_t *b)
{
    return s->ops->getByte(s->obj, b);
}

MSTATUS tell(const ByteStream *s, int64_t *position)
{
    int32_t p = 0;
    MSTATUS status = s->ops->tell(s->obj, &p);
    *position = p;
    return status;
}

// Positions past the 32-bit range cannot be in the stream: refuse them as the stream would.
MSTATUS skipTo(const ByteStream *s, int64_t position)
{
    if (position < 0 || position > std::numeric_limits<int32_t>::max())
        return ERR_STREAM_RANGE;
    return s->ops->seek(s->obj, static_cast<int32_t>(position), STREAM_SEEK_SET);
}

MSTATUS readValue(const ByteStream *s, Asn1Element *node, uint32_t count)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b = 0;
        MSTATUS status = getByte(s, &b);
        if (status != OK)
            return status;
        value = (value << 8) | b;
    }
    node->value = value;
    return OK;
}

// Parses one element at the current position as the last child of parent. limit is the
// end of the nearest definite-length ancestor (kNoLimit at the top). *endOfContents tells
// an indefinite-length parent that the element was its 00 00 terminator.
MSTATUS element(const ByteStream *s, Asn1Element *parent, int64_t limit, int depth,
                bool *endOfContents)
{
    *endOfContents = false;
    int64_t start = 0;
    MSTATUS status = tell(s, &start);
    if (status != OK)
        return status;
    Header h;
    status = decodeHeader([s](uint8_t *b) { return getByte(s, b); }, &h);
    if (status != OK)
        return status;

    Asn1Element *node = nullptr;
    status = ASN1_createElement(&node);
    if (status != OK)
        return status;
    // Linked at once: from here on the node is released with the tree on any failure.
    (void)ASN1_appendChild(parent, node);
    node->classForm = h.classForm;
    node->tag = h.tag;
    node->length = h.indefinite ? 0 : h.length;
    node->indefinite = h.indefinite ? 1 : 0;
    node->headerLength = h.size;
    std::memcpy(node->header, h.bytes, h.size);
    const int64_t contentStart = start + h.size;
    if (contentStart > std::numeric_limits<int32_t>::max())
        return ERR_STREAM_RANGE;
    node->contentOffset = static_cast<int32_t>(contentStart);

    const int64_t end = contentStart + h.length;
    if (!h.indefinite && limit != kNoLimit && end > limit)
        return ERR_DER_PAST_PARENT;
    const bool constructed = (h.classForm & ASN1_CONSTRUCTED) != 0;
    const uint8_t cls = classOf(h.classForm);

    if (h.indefinite && !constructed)
        return ERR_DER_LENGTH_INVALID; // a primitive has no terminator to find its end by
    if (constructed && depth > ASN1_MAX_DEPTH)
        return ERR_DER_TOO_DEEP;
    if (h.bytes[0] == 0x00) { // end-of-contents: universal, primitive, tag 0
        if (h.length != 0)
            return ERR_DER_LENGTH_INVALID;
        *endOfContents = true;
        return OK;
    }
    if (cls != ASN1_CLASS_UNIVERSAL && !h.indefinite && h.length == 0 && cls != ASN1_CLASS_CONTEXT)
        return ERR_DER_EMPTY;
    if (constructed)
        return children(s, node, h.indefinite ? kNoLimit : end, h.indefinite ? limit : end, depth + 1);
    if (cls != ASN1_CLASS_UNIVERSAL)
        return skipTo(s, end);
    return universalPrimitive(s, node, depth);
}

// Children of a constructed element. end is its own end, or kNoLimit when its length is
// indefinite: then children run up to and including an end-of-contents element.
MSTATUS children(const ByteStream *s, Asn1Element *node, int64_t end, int64_t limit, int depth)
{
    for (;;) {
        int64_t position = 0;
        MSTATUS status = tell(s, &position);
        if (status != OK)
            return status;
        if (end != kNoLimit && position >= end)
            return OK;
        if (limit != kNoLimit && position >= limit)
            return ERR_DER_PAST_PARENT; // the terminator is missing before the enclosing end
        bool atEndOfInput = false;
        status = s->ops->atEnd(s->obj, &atEndOfInput);
        if (status != OK)
            return status;
        if (atEndOfInput)
            return ERR_DER_PAST_PARENT;
        bool endOfContents = false;
        status = element(s, node, limit, depth, &endOfContents);
        if (status != OK)
            return status;
        if (endOfContents && end == kNoLimit)
            return OK;
    }
}

MSTATUS universalPrimitive(const ByteStream *s, Asn1Element *node, int depth)
{
    const int64_t end = int64_t{node->contentOffset} + node->length;
    if (node->length == 0)
        return emptyAllowed(node->tag) ? OK : ERR_DER_EMPTY;
    switch (node->tag) {
    case ASN1_TAG_EOC:
    case ASN1_TAG_NULL:
        return ERR_DER_LENGTH_INVALID; // content where none may be
    case ASN1_TAG_BOOLEAN:
        if (node->length != 1)
            return ERR_DER_LENGTH_INVALID;
        return readValue(s, node, 1);
    case ASN1_TAG_INTEGER:
    case ASN1_TAG_ENUMERATED:
        if (node->length > 4)
            return skipTo(s, end);
        return readValue(s, node, node->length);
    case ASN1_TAG_BIT_STRING: {
        MSTATUS status = readValue(s, node, 1);
        if (status != OK)
            return status;
        node->length -= 1;
        node->contentOffset += 1;
        if (node->length == 0 && node->value != 0)
            return ERR_DER_EMPTY; // unused bits announced in no bits at all
        return encapsulated(s, node, depth);
    }
    case ASN1_TAG_OCTET_STRING:
        return encapsulated(s, node, depth);
    default:
        if (skippedString(node->tag))
            return skipTo(s, end);
        return ERR_DER_UNSUPPORTED_TYPE;
    }
}

// A BIT or OCTET STRING whose content is one DER element gets that element as its child.
// A content that only looked like DER is released again and skipped as a plain string.
MSTATUS encapsulated(const ByteStream *s, Asn1Element *node, int depth)
{
    const int64_t start = node->contentOffset;
    const int64_t end = start + node->length;
    if (node->length == 0)
        return OK;
    if (depth > ASN1_MAX_DEPTH)
        return skipTo(s, end); // its children would nest one level too deep
    const uint8_t *content = s->ops->map(s->obj, node->contentOffset, node->length);
    if (!content)
        return skipTo(s, end); // not all there: the skip reports the stream's status
    std::span<const uint8_t> bytes(content, node->length);
    bool carries = node->tag == ASN1_TAG_BIT_STRING ? bitStringEncapsulates(bytes)
                                                    : octetStringEncapsulates(bytes);
    s->ops->unmap(s->obj, content);
    if (!carries)
        return skipTo(s, end);

    node->encapsulates = 1;
    bool endOfContents = false;
    MSTATUS status = element(s, node, end, depth + 1, &endOfContents);
    if (status == ERR_MEM_ALLOC)
        return status;
    int64_t position = 0;
    if (status == OK)
        status = tell(s, &position);
    if (status == OK && position == end && !endOfContents)
        return OK;
    Asn1Element *child = node->firstChild;
    node->firstChild = node->lastChild = nullptr;
    if (child) {
        child->parent = nullptr;
        ASN1_releaseElement(&child);
    }
    node->encapsulates = 0;
    return skipTo(s, end);
}

} // namespace

MSTATUS ASN1_parse(const ByteStream *stream, Asn1Element **root)
{
    if (!root)
        return ERR_NULL_POINTER;
    *root = nullptr;
    if (!stream || !stream->ops)
        return ERR_NULL_POINTER;
    bool end = false;
    MSTATUS status = stream->ops->atEnd(stream->obj, &end);
    if (status != OK)
        return status;
    if (end)
        return ERR_DER_EMPTY;

    Asn1Element *top = nullptr;
    status = ASN1_createElement(&top);
    if (status != OK)
        return status;
    TreeHolder tree(top);
    bool endOfContents = false;
    status = element(stream, tree.get(), kNoLimit, 1, &endOfContents);
    if (status != OK)
        return status;
    *root = tree.release();
    return OK;
}
