// Shared by the DER key readers (der_keys.cpp, der_rsa_key.cpp, der_ec_key.cpp): the parsed
// tree of one reading with the stream it reads through, and the two readings themselves.
#pragma once

#include "crypto/der/asn1.h"
#include "crypto/der/stream.h"
#include "crypto/keys/key_holder.h"

#include <cstdint>

// One reading's element tree over a memory stream of the caller's DER bytes; the tree is
// released with the record.
struct DerTree {
    MemStream mem{};
    ByteStream stream{};
    Asn1Element *root = nullptr;

    DerTree() = default;
    DerTree(const DerTree &) = delete;
    DerTree &operator=(const DerTree &) = delete;
    ~DerTree()
    {
        if (root)
            ASN1_freeTree(&root);
    }

    // Parses der; the parser's status on failure.
    MSTATUS parse(const uint8_t *der, uint32_t length)
    {
        if (MSTATUS st = MEMSTREAM_init(&stream, &mem, der, length); st < 0)
            return st;
        return ASN1_parse(&stream, &root);
    }
    const Asn1Element *top() const { return root->firstChild; }
    // The element's content bytes (they live in the caller's buffer); null when not there.
    const uint8_t *content(const Asn1Element *element) const
    {
        return stream.ops->map(stream.obj, element->contentOffset, element->length);
    }
};

// Number of children of element.
inline uint32_t derkey_childCount(const Asn1Element *element)
{
    uint32_t count = 0;
    for (const Asn1Element *child = element->firstChild; child; child = child->nextSibling)
        ++count;
    return count;
}

// The first reading: a PKCS#1 RSAPrivateKey or RSAPublicKey, or a SubjectPublicKeyInfo of an
// RSA key, into the empty holder. -7703 (structure), -7704 (private key version), -7621 (a
// private key's n, p or q, or a SubjectPublicKeyInfo's modulus, longer than 512 bytes),
// -7603, -7604, -7605 (SubjectPublicKeyInfo), or the parser's status.
MSTATUS derkey_readRsa(const uint8_t *der, uint32_t length, KeyHolder *holder);

// The second reading: a SubjectPublicKeyInfo of an EC key or an ECPrivateKey on a named
// curve, into the empty holder. -9802 to -9805, the statuses of EC_setKey and of the tree
// queries, or the parser's status.
MSTATUS derkey_readEc(const uint8_t *der, uint32_t length, KeyHolder *holder);
