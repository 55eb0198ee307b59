// RSA key records (creation, release, public key, cloning) and the signature check: public
// operation, PKCS#1 v1.5 type-1 unpadding and the DigestInfo parse.
#include "crypto/rsa/rsa.h"

#include "crypto/digest/hash.h"
#include "crypto/der/asn1.h"
#include "crypto/der/stream.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

void releaseNumber(VLONG **v, VLONG **queue)
{
    if (*v)
        VLONG_freeVlong(v, queue);
}

// Releases every number and context of the record (not the lock or the record).
void releaseNumbers(RSAKey *key, VLONG **queue)
{
    for (VLONG **v : {&key->e, &key->n, &key->p, &key->q, &key->dP, &key->dQ, &key->qInv, &key->blind,
                      &key->unblind, &key->mu})
        releaseNumber(v, queue);
    if (key->montP)
        VLONG_freeMontgomeryContext(&key->montP, queue);
    if (key->montQ)
        VLONG_freeMontgomeryContext(&key->montQ, queue);
    key->blindCount = 0;
}

// Copies *source into *out when it is set.
MSTATUS copyNumber(const VLONG *source, VLONG **out, VLONG **queue)
{
    return source ? VLONG_makeCopy(source, out, queue) : OK;
}

} // namespace

MSTATUS RSA_createKey(RSAKey **out)
{
    if (!out)
        return ERR_NULL_POINTER;
    auto *key = static_cast<RSAKey *>(std::calloc(1, sizeof(RSAKey)));
    if (!key)
        return ERR_MEM_ALLOC;
    if (MSTATUS st = PLATFORM_createLock(&key->lock); st < 0) {
        std::free(key);
        return st;
    }
    *out = key;
    return OK;
}

MSTATUS RSA_freeKey(RSAKey **ref, VLONG **queue)
{
    if (!ref || !*ref)
        return ERR_NULL_POINTER;
    RSAKey *key = *ref;
    *ref = nullptr;
    releaseNumbers(key, queue);
    if (key->lock)
        PLATFORM_freeLock(&key->lock);
    std::memset(key, 0, sizeof(*key));
    std::free(key);
    return OK;
}

MSTATUS RSA_setPublicKey(RSAKey *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                         VLONG **queue)
{
    if (!key)
        return ERR_RSA_NULL_KEY;
    if (exponent < 2)
        return ERR_RSA_EXPONENT_TOO_SMALL;
    if (!modulus && modulusLength)
        return ERR_NULL_POINTER;
    if (modulusLength > uint32_t(INT32_MAX))
        return ERR_BAD_LENGTH;
    releaseNumbers(key, queue);
    key->privateKey = 0;
    if (MSTATUS st = VLONG_vlongFromUnsigned(exponent, &key->e, queue); st < 0)
        return st;
    MSTATUS st = VLONG_vlongFromByteString(modulus, int32_t(modulusLength), &key->n, queue);
    // A zero modulus has no Barrett constant; the public operation refuses it anyway.
    if (st >= 0 && key->n->used)
        st = VLONG_barrettMu(&key->mu, key->n, queue);
    if (st < 0) {
        releaseNumbers(key, queue);
        return st;
    }
    return OK;
}

MSTATUS RSA_cloneKey(RSAKey **out, const RSAKey *source, VLONG **queue)
{
    if (!out || !source)
        return ERR_NULL_POINTER;
    if (source->privateKey &&
        (!source->dP || !source->dQ || !source->qInv || !source->montP || !source->montQ))
        return ERR_RSA_INCOMPLETE_PRIVATE;
    RSAKey *copy = nullptr;
    if (MSTATUS st = RSA_createKey(&copy); st < 0)
        return st;
    copy->privateKey = source->privateKey;
    MSTATUS st = copyNumber(source->n, &copy->n, queue);
    if (st >= 0)
        st = copyNumber(source->e, &copy->e, queue);
    if (st >= 0)
        st = copyNumber(source->mu, &copy->mu, queue);
    if (st >= 0 && source->privateKey) {
        const VLONG *from[] = {source->p, source->q, source->dP, source->dQ, source->qInv};
        VLONG **to[] = {&copy->p, &copy->q, &copy->dP, &copy->dQ, &copy->qInv};
        for (size_t i = 0; i < 5 && st >= 0; ++i)
            st = copyNumber(from[i], to[i], queue);
        if (st >= 0)
            st = VLONG_copyMontgomeryContext(&copy->montP, source->montP, queue);
        if (st >= 0)
            st = VLONG_copyMontgomeryContext(&copy->montQ, source->montQ, queue);
    }
    if (st < 0) {
        RSA_freeKey(&copy, queue);
        return st;
    }
    *out = copy;
    return OK;
}

MSTATUS RSA_getModulusLength(const RSAKey *key, int32_t *length)
{
    if (!key || !length || !key->n)
        return ERR_NULL_POINTER;
    return VLONG_byteStringFromVlong(key->n, nullptr, length);
}

// ---- Public operation and unpadding -------------------------------------------------------

namespace {

constexpr uint32_t MIN_SEPARATOR_POSITION = 10; // 00 01 and at least eight FF bytes

// Owns a vlong for one call, released to the queue.
struct Number {
    VLONG *v = nullptr;
    VLONG **queue;
    ~Number()
    {
        if (v)
            VLONG_freeVlong(&v, queue);
    }
};

} // namespace

MSTATUS RSA_publicBlock(const RSAKey *key, const uint8_t *signature, uint8_t *block, VLONG **queue)
{
    if (!key)
        return ERR_RSA_NULL_KEY;
    if (!signature || !block)
        return ERR_NULL_POINTER;
    int32_t modulusLength = 0;
    if (MSTATUS st = RSA_getModulusLength(key, &modulusLength); st < 0)
        return st;
    uint32_t k = uint32_t(modulusLength);
    if (k > RSA_MAX_MODULUS_BYTES)
        return ERR_RSA_MODULUS_TOO_BIG;
    if (!key->e || key->e->used > 1)
        return ERR_RSA_BAD_EXPONENT;

    Number s{nullptr, queue}, m{nullptr, queue};
    if (MSTATUS st = VLONG_vlongFromByteString(signature, int32_t(k), &s.v, queue); st < 0)
        return st;
    // A signature representative must lie below n; s + n would otherwise verify as s.
    // (A zero modulus is left to the exponentiation, which refuses it.)
    if (key->n->used && VLONG_compareMagnitude(s.v, key->n) >= 0)
        return ERR_RSA_SIGNATURE_RANGE;
    MSTATUS st = key->mu ? VLONG_modexpBarrett(s.v, key->e, key->n, key->mu, &m.v, queue)
                         : VLONG_modexp(s.v, key->e, key->n, &m.v, queue);
    if (st < 0)
        return st;
    int32_t size = int32_t(k);
    return VLONG_byteStringFromVlong(m.v, block, &size);
}

MSTATUS RSA_decryptSignatureBlock(const RSAKey *key, const uint8_t *signature, uint8_t *block,
                                  uint32_t *blockLength, VLONG **queue)
{
    if (key && !blockLength)
        return ERR_NULL_POINTER;
    if (MSTATUS st = RSA_publicBlock(key, signature, block, queue); st < 0)
        return st;
    int32_t modulusLength = 0;
    RSA_getModulusLength(key, &modulusLength);
    uint32_t k = uint32_t(modulusLength);

    // Block type 1: 00 01 FF .. FF 00 || data, or 01 ?? FF .. FF 00 || data.
    bool typeOne = (k > 1 && block[0] == 0x00 && block[1] == 0x01) || (k > 0 && block[0] == 0x01);
    if (!typeOne || k <= 2 || block[2] != 0xFF)
        return ERR_RSA_BAD_PADDING;
    uint32_t separator = k;
    for (uint32_t i = 3; i < k; ++i) {
        if (block[i] == 0x00) {
            separator = i;
            break;
        }
        if (block[i] != 0xFF)
            return ERR_RSA_BAD_PADDING;
    }
    if (separator < MIN_SEPARATOR_POSITION)
        return ERR_RSA_BAD_PADDING;
    uint32_t length = separator + 1 < k ? k - separator - 1 : 0;
    std::memmove(block, block + separator + 1, length);
    *blockLength = length;
    return OK;
}

// ---- DigestInfo ------------------------------------------------------------------------------

namespace {

// Algorithm identifiers a DigestInfo may name, tried in this order. Identifiers are a length
// byte followed by the content octets.
struct DigestAlgorithm {
    uint8_t oid[10];
    bool prefix; // the identifier is oid followed by one arc byte
};

constexpr uint8_t OID_RSADSI_DIGEST[] = {7, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02};       // 1.2.840.113549.2
constexpr uint8_t OID_NIST_HASH[] = {8, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02};     // 2.16.840.1.101.3.4.2
constexpr uint8_t OID_SHA1[] = {5, 0x2B, 0x0E, 0x03, 0x02, 0x1A};                            // 1.3.14.3.2.26
constexpr uint8_t OID_SHA1_WITH_RSA_OIW[] = {5, 0x2B, 0x0E, 0x03, 0x02, 0x1D};               // 1.3.14.3.2.29

struct Row {
    const uint8_t *oid;
    bool arcWanted;
};
constexpr Row DIGEST_ROWS[] = {
    {OID_RSADSI_DIGEST, true},
    {OID_NIST_HASH, true},
    {OID_SHA1, false},
    {OID_SHA1_WITH_RSA_OIW, false},
};

struct HashOfArc {
    uint8_t arc;
    int32_t hashId;
    uint32_t digestLength;
};
constexpr HashOfArc RSADSI_ARCS[] = {
    {2, int32_t(HASH_ID_MD2), 16}, {4, int32_t(HASH_ID_MD4), 16}, {5, int32_t(HASH_ID_MD5), 16}};
constexpr HashOfArc NIST_ARCS[] = {{1, int32_t(HASH_ID_SHA256), 32},
                                   {2, int32_t(HASH_ID_SHA384), 48},
                                   {3, int32_t(HASH_ID_SHA512), 64},
                                   {4, int32_t(HASH_ID_SHA224), 28}};

// Hash id and digest length named by row `row` with last arc `arc`; -1 and 0 when unknown.
HashOfArc hashOf(size_t row, uint8_t arc)
{
    if (row == 0) {
        for (const HashOfArc &h : RSADSI_ARCS)
            if (h.arc == arc)
                return h;
    } else if (row == 1) {
        for (const HashOfArc &h : NIST_ARCS)
            if (h.arc == arc)
                return h;
    } else {
        return {0, int32_t(HASH_ID_SHA1), 20};
    }
    return {arc, -1, 0};
}

// Identifies the digest algorithm of the AlgorithmIdentifier `algorithm`.
MSTATUS identifyAlgorithm(const Asn1Element *algorithm, const ByteStream *stream, HashOfArc *found)
{
    MSTATUS st = ERR_ALGORITHM_UNKNOWN;
    for (size_t row = 0; row < sizeof(DIGEST_ROWS) / sizeof(DIGEST_ROWS[0]); ++row) {
        uint8_t arc = 0;
        st = ASN1_checkAlgorithm(algorithm, stream, DIGEST_ROWS[row].oid, DIGEST_ROWS[row].arcWanted, &arc,
                                 nullptr);
        if (st == OK) {
            *found = hashOf(row, arc);
            return OK;
        }
        if (st != ERR_ALGORITHM_UNKNOWN)
            return st; // not a SEQUENCE holding an OBJECT IDENTIFIER
    }
    return st;
}

struct TreeHolder {
    Asn1Element *root = nullptr;
    ~TreeHolder()
    {
        if (root)
            ASN1_freeTree(&root);
    }
};

struct QueueHolder {
    VLONG *head = nullptr;
    ~QueueHolder() { VLONG_freeVlongQueue(&head); }
};

struct BlockHolder {
    uint8_t *p = nullptr;
    ~BlockHolder() { std::free(p); }
};

// The DER of a DigestInfo with this identifier and digest length, up to the digest bytes:
//   30 L1 30 L2 06 Loid <oid> [05 00] 04 Ld
// Every length is below 128 (identifiers of at most 9 bytes, digests of at most 64), so each
// is one octet. Returns the prefix length.
uint32_t canonicalPrefix(const uint8_t *oid, uint32_t oidLength, uint32_t digestLength, bool withNull,
                         uint8_t *out)
{
    const uint32_t algorithmLength = 2 + oidLength + (withNull ? 2 : 0);
    const uint32_t contentLength = 2 + algorithmLength + 2 + digestLength;
    uint32_t at = 0;
    out[at++] = 0x30;
    out[at++] = uint8_t(contentLength);
    out[at++] = 0x30;
    out[at++] = uint8_t(algorithmLength);
    out[at++] = 0x06;
    out[at++] = uint8_t(oidLength);
    std::memcpy(out + at, oid, oidLength);
    at += oidLength;
    if (withNull) {
        out[at++] = 0x05;
        out[at++] = 0x00;
    }
    out[at++] = 0x04;
    out[at++] = uint8_t(digestLength);
    return at;
}

// The lenient reading above leaves room for bytes nobody checks (parameters of any length,
// any tag on the digest, long-form lengths), which a cube root can fill for an e = 3 key. So
// the DigestInfo is re-encoded in DER, with absent or NULL parameters, and must equal the
// data byte for byte.
bool isCanonical(const uint8_t *data, uint32_t length, const uint8_t *oid, uint32_t oidLength,
                 uint32_t digestLength)
{
    constexpr uint32_t MAX_OID = 9;
    if (oidLength > MAX_OID || digestLength > RSA_DIGEST_BUFFER)
        return false;
    uint8_t expect[10 + MAX_OID];
    for (bool withNull : {true, false}) {
        const uint32_t prefix = canonicalPrefix(oid, oidLength, digestLength, withNull, expect);
        if (prefix + digestLength == length && std::memcmp(expect, data, prefix) == 0)
            return true;
    }
    return false;
}

// Parses "SEQUENCE { AlgorithmIdentifier, OCTET STRING digest }" filling data[0..length)
// exactly, in DER, and copies the digest out.
MSTATUS parseDigestInfo(const uint8_t *data, uint32_t length, uint8_t *digest, uint32_t *digestLength,
                        int32_t *hashId)
{
    ByteStream stream{};
    MemStream mem{};
    if (MSTATUS st = MEMSTREAM_init(&stream, &mem, data, length); st < 0)
        return st;
    TreeHolder tree;
    if (MSTATUS st = ASN1_parse(&stream, &tree.root); st < 0)
        return st;

    const Asn1Element *top = tree.root->firstChild;
    if (!top || uint64_t(top->headerLength) + top->length != length || !top->firstChild)
        return ERR_STRUCTURE;
    HashOfArc hash{};
    if (MSTATUS st = identifyAlgorithm(top->firstChild, &stream, &hash); st < 0)
        return st;
    *hashId = hash.hashId;
    // An arc under a known prefix that names no digest this library knows is refused, not
    // passed on as a success with an empty digest.
    if (hash.hashId < 0)
        return ERR_ALGORITHM_UNKNOWN;

    const Asn1Element *digestElement = nullptr;
    if (MSTATUS st = ASN1_getChild(top, 2, &digestElement); st < 0)
        return st;
    if (digestElement->length != hash.digestLength || digestElement->contentOffset < 0 ||
        uint64_t(digestElement->contentOffset) + digestElement->length != length)
        return ERR_BAD_SIGNATURE_LENGTH;
    const Asn1Element *oid = top->firstChild->firstChild;
    const uint8_t *oidContent = stream.ops->map(stream.obj, oid->contentOffset, oid->length);
    if (!oidContent)
        return ERR_STRUCTURE;
    const bool canonical = isCanonical(data, length, oidContent, oid->length, hash.digestLength);
    stream.ops->unmap(stream.obj, oidContent);
    if (!canonical)
        return ERR_STRUCTURE;
    const uint8_t *content = stream.ops->map(stream.obj, digestElement->contentOffset, digestElement->length);
    if (!content)
        return ERR_BAD_SIGNATURE_LENGTH;
    std::memset(digest, 0, RSA_DIGEST_BUFFER);
    std::memcpy(digest, content, hash.digestLength);
    stream.ops->unmap(stream.obj, content);
    *digestLength = hash.digestLength;
    return OK;
}

} // namespace

MSTATUS RSA_verifyDigestInfo(const RSAKey *key, const uint8_t *signature, uint32_t signatureLength,
                             uint8_t *digest, uint32_t *digestLength, int32_t *hashId)
{
    if (!signature || !digest || !key || !hashId || !digestLength)
        return ERR_NULL_POINTER;
    int32_t k = 0;
    if (MSTATUS st = RSA_getModulusLength(key, &k); st < 0)
        return st;
    if (signatureLength != uint32_t(k))
        return ERR_BAD_SIGNATURE_LENGTH;
    if (k == 0)
        return ERR_MEM_ALLOC;
    BlockHolder block;
    block.p = static_cast<uint8_t *>(std::malloc(uint32_t(k)));
    if (!block.p)
        return ERR_MEM_ALLOC;
    QueueHolder queue;
    uint32_t dataLength = 0;
    if (MSTATUS st = RSA_decryptSignatureBlock(key, signature, block.p, &dataLength, &queue.head); st < 0)
        return st;
    return parseDigestInfo(block.p, dataLength, digest, digestLength, hashId);
}
