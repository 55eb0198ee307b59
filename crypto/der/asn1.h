// The DER element tree: one node per element, built by ASN1_parse from a ByteStream, with
// the link and release rules of the tree and the queries the key readers and the
// DigestInfo check use. Nodes hold offsets into the stream, never bytes, so content is
// read through the stream (map/unmap) while its buffer lives. Callers: the DER key
// readers (CA_MGMT_derToKeyBlob) and RSA_verifyDigestInfo.
#pragma once

#include <cstdint>

#include "crypto/common/status.h"
#include "crypto/der/stream.h"

// Identifier octet, bits 7..5: class and the constructed bit.
enum : uint8_t {
    ASN1_CLASS_UNIVERSAL = 0x00,
    ASN1_CLASS_APPLICATION = 0x40,
    ASN1_CLASS_CONTEXT = 0x80,
    ASN1_CLASS_PRIVATE = 0xC0,
    ASN1_CLASS_MASK = 0xC0,
    ASN1_CONSTRUCTED = 0x20,
};

// Universal tag numbers the library looks at.
enum : uint32_t {
    ASN1_TAG_EOC = 0,
    ASN1_TAG_BOOLEAN = 1,
    ASN1_TAG_INTEGER = 2,
    ASN1_TAG_BIT_STRING = 3,
    ASN1_TAG_OCTET_STRING = 4,
    ASN1_TAG_NULL = 5,
    ASN1_TAG_OID = 6,
    ASN1_TAG_ENUMERATED = 10,
    ASN1_TAG_SEQUENCE = 16,
    ASN1_TAG_SET = 17,
};

// Nesting limit: an element with children (constructed, or a string parsed into children)
// may sit at most 40 levels below the root, so a primitive may sit at level 41.
constexpr int ASN1_MAX_DEPTH = 40;
constexpr int ASN1_MAX_HEADER = 9;      // identifier (1 + 3) and length (1 + 4) octets

struct Asn1Element {
    Asn1Element *parent;
    Asn1Element *firstChild;
    Asn1Element *lastChild;             // end of the child list, so appending is O(1)
    Asn1Element *nextSibling;
    void (*releaseHook)(Asn1Element *element); // run on release; none for parsed elements
    uint8_t classForm;                  // ASN1_CLASS_* | ASN1_CONSTRUCTED
    uint32_t tag;                       // tag number, low-tag or high-tag-number form
    uint32_t length;                    // content bytes; a BIT STRING without its unused-bits octet
    uint8_t indefinite;                 // 1 when the length octet was 0x80 (length then 0)
    uint8_t headerLength;               // identifier and length octets
    uint8_t header[ASN1_MAX_HEADER];    // a copy of those octets
    uint8_t encapsulates;               // 1 when a BIT/OCTET STRING's content was parsed into children
    uint32_t value;                     // INTEGER/ENUMERATED up to 4 bytes, BOOLEAN byte, BIT STRING unused bits
    int32_t contentOffset;              // stream position of the first content byte
};

// Tree building. A node is allocated zeroed (-6101 when memory is exhausted).
MSTATUS ASN1_createElement(Asn1Element **element);

// Appends child as the last child of parent. A child that already has a parent or a next
// sibling, or that is parent itself or one of its ancestors, is refused with -8001.
MSTATUS ASN1_appendChild(Asn1Element *parent, Asn1Element *child);

// Releases a node that has neither parent nor next sibling (else -8001): its children
// first, then its release hook, then the node. *element becomes null. A null *element is
// nothing to release.
MSTATUS ASN1_releaseElement(Asn1Element **element);

// Parses the first element of the stream (and everything inside it) into a new tree:
// *root is a header-less node whose only child is that element. Bytes after the element
// are not read. On failure nothing is returned (*root is null) and no node is left over.
MSTATUS ASN1_parse(const ByteStream *stream, Asn1Element **root);

// Releases a tree made by ASN1_parse; *root becomes null.
MSTATUS ASN1_freeTree(Asn1Element **root);

// 0 when element is of universal class with that tag number, -6011 otherwise.
MSTATUS ASN1_checkUniversal(const Asn1Element *element, uint32_t tag);

// The index-th child of parent, counting from 1; -7603 when there is no such child.
MSTATUS ASN1_getChild(const Asn1Element *parent, uint32_t index, const Asn1Element **child);

// The first context-class child with that tag number, or null; 0 either way.
MSTATUS ASN1_findContextChild(const Asn1Element *parent, uint32_t tag, const Asn1Element **child);

// Object identifiers given to the two operations below are a length byte followed by
// that many content octets of the identifier.

// element must be a universal OBJECT IDENTIFIER whose content is the prefix followed by
// exactly one more byte, returned in *arc; -6011 otherwise.
MSTATUS ASN1_matchOidPrefix(const Asn1Element *element, const ByteStream *stream,
                            const uint8_t *prefix, uint8_t *arc);

// element must be a universal SEQUENCE whose first child is a universal OBJECT IDENTIFIER
// (else -7603) with the content oid, followed by one arc byte when arcWanted (length or
// byte mismatch: -7604). On success *arc holds that byte (when wanted) and *oidElement,
// when given, the identifier's element; its next sibling is the algorithm's parameters.
MSTATUS ASN1_checkAlgorithm(const Asn1Element *element, const ByteStream *stream,
                            const uint8_t *oid, bool arcWanted, uint8_t *arc,
                            const Asn1Element **oidElement);
