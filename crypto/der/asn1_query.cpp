// Tree queries used by the key readers and the DigestInfo check.
#include "crypto/der/asn1.h"

#include <cstring>

namespace {

// The content of element through the stream's map; null when the stream does not hold it.
const uint8_t *mapContent(const Asn1Element *element, const ByteStream *stream)
{
    return stream->ops->map(stream->obj, element->contentOffset, element->length);
}

} // namespace

MSTATUS ASN1_checkUniversal(const Asn1Element *element, uint32_t tag)
{
    if (!element)
        return ERR_NULL_POINTER;
    if ((element->classForm & ASN1_CLASS_MASK) != ASN1_CLASS_UNIVERSAL || element->tag != tag)
        return ERR_WRONG_TYPE;
    return OK;
}

MSTATUS ASN1_getChild(const Asn1Element *parent, uint32_t index, const Asn1Element **child)
{
    if (!parent || !child)
        return ERR_NULL_POINTER;
    *child = nullptr;
    if (index == 0)
        return ERR_STRUCTURE;
    const Asn1Element *node = parent->firstChild;
    for (uint32_t i = 1; node && i < index; ++i)
        node = node->nextSibling;
    if (!node)
        return ERR_STRUCTURE;
    *child = node;
    return OK;
}

MSTATUS ASN1_findContextChild(const Asn1Element *parent, uint32_t tag, const Asn1Element **child)
{
    if (!parent || !child)
        return ERR_NULL_POINTER;
    *child = nullptr;
    for (const Asn1Element *node = parent->firstChild; node; node = node->nextSibling) {
        if ((node->classForm & ASN1_CLASS_MASK) == ASN1_CLASS_CONTEXT && node->tag == tag) {
            *child = node;
            break;
        }
    }
    return OK;
}

MSTATUS ASN1_matchOidPrefix(const Asn1Element *element, const ByteStream *stream,
                            const uint8_t *prefix, uint8_t *arc)
{
    if (!element || !stream || !stream->ops || !prefix || !arc)
        return ERR_NULL_POINTER;
    if (ASN1_checkUniversal(element, ASN1_TAG_OID) != OK)
        return ERR_WRONG_TYPE;
    const uint32_t prefixLength = prefix[0];
    if (element->length != prefixLength + 1)
        return ERR_WRONG_TYPE;
    const uint8_t *content = mapContent(element, stream);
    if (!content)
        return ERR_STREAM_RANGE;
    MSTATUS status = ERR_WRONG_TYPE;
    if (std::memcmp(content, prefix + 1, prefixLength) == 0) {
        *arc = content[prefixLength];
        status = OK;
    }
    stream->ops->unmap(stream->obj, content);
    return status;
}

MSTATUS ASN1_checkAlgorithm(const Asn1Element *element, const ByteStream *stream,
                            const uint8_t *oid, bool arcWanted, uint8_t *arc,
                            const Asn1Element **oidElement)
{
    if (!element || !stream || !stream->ops || !oid || (arcWanted && !arc))
        return ERR_NULL_POINTER;
    // AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
    if (ASN1_checkUniversal(element, ASN1_TAG_SEQUENCE) != OK)
        return ERR_STRUCTURE;
    const Asn1Element *id = element->firstChild;
    if (!id || ASN1_checkUniversal(id, ASN1_TAG_OID) != OK)
        return ERR_STRUCTURE;
    const uint32_t oidLength = oid[0];
    if (id->length != oidLength + (arcWanted ? 1u : 0u))
        return ERR_ALGORITHM_UNKNOWN;
    const uint8_t *content = mapContent(id, stream);
    if (!content)
        return ERR_STREAM_RANGE;
    MSTATUS status = ERR_ALGORITHM_UNKNOWN;
    if (std::memcmp(content, oid + 1, oidLength) == 0) {
        if (arcWanted)
            *arc = content[oidLength];
        if (oidElement)
            *oidElement = id;
        status = OK;
    }
    stream->ops->unmap(stream->obj, content);
    return status;
}
