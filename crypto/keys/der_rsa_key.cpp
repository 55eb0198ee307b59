// The RSA reading of a DER key:
//   RSAPrivateKey        SEQUENCE { version, n, e, d, p, q, ... }        (PKCS#1)
//   SubjectPublicKeyInfo SEQUENCE { SEQUENCE { rsaEncryption, .. }, BIT STRING { RSAPublicKey } }
//   RSAPublicKey         SEQUENCE { n, e }                               (PKCS#1)
#include "crypto/keys/der_key_internal.h"

#include "crypto/rsa/rsa.h"

#include <memory>

namespace {

// 1.2.840.113549.1.1, the PKCS#1 arc; its arc 1 is rsaEncryption.
constexpr uint8_t OID_PKCS1[] = {8, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};
constexpr uint8_t ARC_RSA_ENCRYPTION = 1;
constexpr uint32_t MAX_EXPONENT_BYTES = 4;

struct KeyDeleter {
    void operator()(RSAKey *key) const { RSA_freeKey(&key, nullptr); }
};
using KeyPtr = std::unique_ptr<RSAKey, KeyDeleter>;

bool isInteger(const Asn1Element *element)
{
    return element && ASN1_checkUniversal(element, ASN1_TAG_INTEGER) == OK;
}

// A byte string of the tree: the content of an element.
struct Bytes {
    const uint8_t *data = nullptr;
    uint32_t length = 0;
};

MSTATUS contentOf(const DerTree &tree, const Asn1Element *element, Bytes *out)
{
    out->length = element->length;
    out->data = tree.content(element);
    return out->data || out->length == 0 ? OK : ERR_STREAM_RANGE;
}

// Hands the finished key to the holder.
MSTATUS give(KeyPtr key, KeyHolder *holder)
{
    holder->type = KEY_TYPE_RSA;
    holder->key = key.release();
    return OK;
}

MSTATUS newKey(KeyPtr *key)
{
    RSAKey *raw = nullptr;
    MSTATUS st = RSA_createKey(&raw);
    key->reset(raw);
    return st;
}

// Drops the leading zero bytes of an INTEGER's content.
Bytes magnitude(Bytes b)
{
    while (b.length && b.data[0] == 0) {
        ++b.data;
        --b.length;
    }
    return b;
}

// RSAPrivateKey: version 0 or 1, then n, e (at most 4 bytes), d, p, q; d and anything after
// q are not used. Completing the key costs modular inversions quadratic in the length of the
// numbers, so a key record must not make them longer than any usable key: n, p and q of more
// than 512 bytes are refused like a long modulus, before any arithmetic.
MSTATUS readPrivateKey(const DerTree &tree, const Asn1Element *top, KeyHolder *holder)
{
    const Asn1Element *child[6] = {};
    for (uint32_t i = 0; i < 6; ++i)
        ASN1_getChild(top, i + 1, &child[i]);
    if (!isInteger(child[0]) || !isInteger(child[1]))
        return ERR_RSA_KEY_DER;
    if (child[0]->length > MAX_EXPONENT_BYTES || child[0]->value > 1)
        return ERR_RSA_PRIVATE_VERSION;
    // Only the numbers that are used must be INTEGERs; d may be anything.
    if (!isInteger(child[2]) || child[2]->length > MAX_EXPONENT_BYTES || !child[3] || !isInteger(child[4]) ||
        !isInteger(child[5]))
        return ERR_RSA_KEY_DER;
    Bytes n, p, q;
    MSTATUS st = contentOf(tree, child[1], &n);
    if (st >= 0)
        st = contentOf(tree, child[4], &p);
    if (st >= 0)
        st = contentOf(tree, child[5], &q);
    if (st >= 0 && (magnitude(n).length > RSA_MAX_MODULUS_BYTES || magnitude(p).length > RSA_MAX_MODULUS_BYTES ||
                    magnitude(q).length > RSA_MAX_MODULUS_BYTES))
        st = ERR_RSA_MODULUS_TOO_LONG;
    KeyPtr key;
    if (st >= 0)
        st = newKey(&key);
    if (st >= 0)
        st = RSA_setPrivateKey(key.get(), child[2]->value, n.data, n.length, p.data, p.length, q.data, q.length,
                               nullptr);
    return st < 0 ? st : give(std::move(key), holder);
}

// The public key "n, e" as the two INTEGER children of sequence; -7703 when they are not.
MSTATUS readPublicNumbers(const DerTree &tree, const Asn1Element *sequence, MSTATUS wrongShape,
                          MSTATUS longExponent, Bytes *n, uint32_t *e)
{
    const Asn1Element *modulus = nullptr, *exponent = nullptr;
    ASN1_getChild(sequence, 1, &modulus);
    ASN1_getChild(sequence, 2, &exponent);
    if (!isInteger(modulus) || !isInteger(exponent))
        return wrongShape;
    if (exponent->length > MAX_EXPONENT_BYTES)
        return longExponent;
    *e = exponent->value;
    return contentOf(tree, modulus, n);
}

MSTATUS makePublicKey(uint32_t e, const Bytes &n, KeyHolder *holder)
{
    KeyPtr key;
    MSTATUS st = newKey(&key);
    if (st >= 0)
        st = RSA_setPublicKey(key.get(), e, n.data, n.length, nullptr);
    return st < 0 ? st : give(std::move(key), holder);
}

// SubjectPublicKeyInfo with rsaEncryption: the BIT STRING must carry the RSAPublicKey.
MSTATUS readSubjectPublicKeyInfo(const DerTree &tree, const Asn1Element *top, KeyHolder *holder)
{
    const Asn1Element *algorithm = top->firstChild;
    const Asn1Element *bits = algorithm->nextSibling;
    uint8_t arc = 0;
    if (MSTATUS st = ASN1_checkAlgorithm(algorithm, &tree.stream, OID_PKCS1, true, &arc, nullptr); st < 0)
        return st;
    if (arc != ARC_RSA_ENCRYPTION)
        return ERR_ALGORITHM_UNKNOWN;
    if (ASN1_checkUniversal(bits, ASN1_TAG_BIT_STRING) != OK || !bits->encapsulates ||
        ASN1_checkUniversal(bits->firstChild, ASN1_TAG_SEQUENCE) != OK)
        return ERR_STRUCTURE;
    Bytes n;
    uint32_t e = 0;
    if (MSTATUS st = readPublicNumbers(tree, bits->firstChild, ERR_STRUCTURE, ERR_RSA_EXPONENT_TOO_LONG, &n, &e);
        st < 0)
        return st;
    n = magnitude(n);
    if (n.length > RSA_MAX_MODULUS_BYTES)
        return ERR_RSA_MODULUS_TOO_LONG;
    return makePublicKey(e, n, holder);
}

} // namespace

MSTATUS derkey_readRsa(const uint8_t *der, uint32_t length, KeyHolder *holder)
{
    DerTree tree;
    if (MSTATUS st = tree.parse(der, length); st < 0)
        return st;
    const Asn1Element *top = tree.top();
    if (ASN1_checkUniversal(top, ASN1_TAG_SEQUENCE) != OK)
        return ERR_RSA_KEY_DER;
    const uint32_t children = derkey_childCount(top);
    if (children >= 3)
        return readPrivateKey(tree, top, holder);
    if (children != 2)
        return ERR_RSA_KEY_DER;
    if (readSubjectPublicKeyInfo(tree, top, holder) == OK)
        return OK;
    Bytes n;
    uint32_t e = 0;
    if (MSTATUS st = readPublicNumbers(tree, top, ERR_RSA_KEY_DER, ERR_RSA_KEY_DER, &n, &e); st < 0)
        return st;
    return makePublicKey(e, n, holder);
}
