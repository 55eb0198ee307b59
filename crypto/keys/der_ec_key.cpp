// The EC reading of a DER key:
//   SubjectPublicKeyInfo SEQUENCE { SEQUENCE { id-ecPublicKey, namedCurve OID }, BIT STRING point }
//   ECPrivateKey         SEQUENCE { INTEGER 1, OCTET STRING k, [0] { namedCurve OID },
//                                   [1] { BIT STRING point } }
#include "crypto/keys/der_key_internal.h"

#include "crypto/keys/ec.h"

namespace {

constexpr uint8_t OID_EC_PUBLIC_KEY[] = {7, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01}; // 1.2.840.10045.2.1
constexpr uint32_t EC_PRIVATE_KEY_VERSION = 1;

// The two arcs that hold the curves of the table, each with the curve ids found under it.
// A curve id is only the last arc, so it is taken only under its own arc:
// 1.3.132.0.1 is not P-192.
struct CurveArc {
    uint8_t prefix[9];
    uint8_t ids[3];
};
constexpr CurveArc CURVE_ARCS[] = {
    {{7, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01}, {EC_CURVE_P192, EC_CURVE_P256, 0}}, // 1.2.840.10045.3.1
    {{4, 0x2B, 0x81, 0x04, 0x00}, {EC_CURVE_P224, EC_CURVE_P384, EC_CURVE_P521}},       // 1.3.132.0
};

// The curve id of a named-curve OBJECT IDENTIFIER. The status of the last prefix tried when
// neither matches (-6011, or -6001 for a missing element); -9802 for a curve outside the table.
MSTATUS namedCurve(const DerTree &tree, const Asn1Element *oid, uint8_t *curveId)
{
    MSTATUS st = ERR_WRONG_TYPE;
    for (const CurveArc &arc : CURVE_ARCS) {
        uint8_t id = 0;
        st = oid ? ASN1_matchOidPrefix(oid, &tree.stream, arc.prefix, &id) : ERR_WRONG_TYPE;
        if (st != OK)
            continue;
        for (uint8_t known : arc.ids)
            if (known != 0 && known == id) {
                *curveId = id;
                return OK;
            }
        return ERR_EC_CURVE_UNSUPPORTED;
    }
    return st;
}

// The point carried by a BIT STRING of whole bytes.
MSTATUS pointOf(const DerTree &tree, const Asn1Element *bits, const uint8_t **point, uint32_t *length)
{
    if (bits->value != 0)
        return ERR_EC_POINT_FORMAT;
    *length = bits->length;
    *point = tree.content(bits);
    return *point || *length == 0 ? OK : ERR_STREAM_RANGE;
}

MSTATUS readSubjectPublicKeyInfo(const DerTree &tree, const Asn1Element *top, KeyHolder *holder)
{
    const Asn1Element *algorithm = top->firstChild;
    const Asn1Element *oid = nullptr;
    if (MSTATUS st = ASN1_checkAlgorithm(algorithm, &tree.stream, OID_EC_PUBLIC_KEY, false, nullptr, &oid); st < 0)
        return st;
    uint8_t curveId = 0;
    if (MSTATUS st = namedCurve(tree, oid->nextSibling, &curveId); st < 0)
        return st;
    const Asn1Element *bits = algorithm->nextSibling;
    if (!bits || ASN1_checkUniversal(bits, ASN1_TAG_BIT_STRING) != OK)
        return ERR_STRUCTURE;
    const uint8_t *point = nullptr;
    uint32_t pointLength = 0;
    if (MSTATUS st = pointOf(tree, bits, &point, &pointLength); st < 0)
        return st;
    return EC_setKey(holder, curveId, point, pointLength, nullptr, 0);
}

MSTATUS readPrivateKey(const DerTree &tree, const Asn1Element *top, KeyHolder *holder)
{
    const Asn1Element *version = top->firstChild;
    if (version->length > 4 || version->value != EC_PRIVATE_KEY_VERSION)
        return ERR_EC_KEY_VERSION;
    const Asn1Element *scalar = version->nextSibling;
    if (!scalar || ASN1_checkUniversal(scalar, ASN1_TAG_OCTET_STRING) != OK)
        return ERR_EC_KEY_STRUCTURE;
    const Asn1Element *parameters = nullptr, *publicKey = nullptr;
    ASN1_findContextChild(top, 0, &parameters);
    ASN1_findContextChild(top, 1, &publicKey);
    if (!parameters)
        return ERR_EC_KEY_MISSING;
    uint8_t curveId = 0;
    if (namedCurve(tree, parameters->firstChild, &curveId) != OK)
        return ERR_EC_CURVE_UNSUPPORTED;
    if (!publicKey)
        return ERR_EC_KEY_MISSING;
    const Asn1Element *bits = publicKey->firstChild;
    if (!bits || ASN1_checkUniversal(bits, ASN1_TAG_BIT_STRING) != OK)
        return ERR_EC_KEY_STRUCTURE;
    const uint8_t *point = nullptr;
    uint32_t pointLength = 0;
    if (MSTATUS st = pointOf(tree, bits, &point, &pointLength); st < 0)
        return st;
    const uint8_t *k = tree.content(scalar);
    if (!k && scalar->length)
        return ERR_STREAM_RANGE;
    // An empty OCTET STRING still names a scalar: EC_setKey refuses it as zero.
    static const uint8_t NO_BYTES[1] = {0};
    return EC_setKey(holder, curveId, point, pointLength, k ? k : NO_BYTES, scalar->length);
}

} // namespace

MSTATUS derkey_readEc(const uint8_t *der, uint32_t length, KeyHolder *holder)
{
    DerTree tree;
    if (MSTATUS st = tree.parse(der, length); st < 0)
        return st;
    const Asn1Element *top = tree.top();
    if (ASN1_checkUniversal(top, ASN1_TAG_SEQUENCE) != OK || !top->firstChild)
        return ERR_EC_KEY_STRUCTURE;
    if (ASN1_checkUniversal(top->firstChild, ASN1_TAG_SEQUENCE) == OK)
        return readSubjectPublicKeyInfo(tree, top, holder);
    if (ASN1_checkUniversal(top->firstChild, ASN1_TAG_INTEGER) == OK)
        return readPrivateKey(tree, top, holder);
    return ERR_EC_KEY_STRUCTURE;
}
