// Digest, key conversion and signature check of a signed image payload, with their level-4
// traces.
#include "signature/imgsign.h"

#include <cstring>

#include "crypto/bigint/vlong.h"
#include "crypto/common/trace.h"
#include "crypto/digest/hash.h"
#include "crypto/rsa/rsa.h"

namespace {

constexpr uint32_t TRACE_LEVEL = 4;
constexpr uint32_t SHA256_SIZE = 32;
constexpr uint32_t MIN_PADDING = 8; // FF bytes between 00 01 and the 00 separator

void trace_status(MSTATUS status)
{
    DEBUG_CONSOLE_putString(TRACE_LEVEL, "status = ");
    DEBUG_CONSOLE_putInt(TRACE_LEVEL, status);
    DEBUG_CONSOLE_putLine(TRACE_LEVEL, "");
}

// Releases the holder's key when it goes out of scope.
struct HeldKey {
    KeyHolder holder{};
    HeldKey() { CA_MGMT_initKey(&holder); }
    ~HeldKey() { CA_MGMT_freeKey(&holder); }
    HeldKey(const HeldKey &) = delete;
    HeldKey &operator=(const HeldKey &) = delete;
};

struct HeldBlob {
    uint8_t *bytes = nullptr;
    uint32_t length = 0;
    ~HeldBlob()
    {
        if (bytes)
            CA_MGMT_freeKeyBlob(&bytes, length);
    }
};

// DER DigestInfo of SHA-256 up to the digest: SEQUENCE { SEQUENCE { OID 2.16.840.1.101.3.4.2.1,
// NULL }, OCTET STRING (32) }, and the same with the parameters absent.
constexpr uint8_t DIGEST_INFO_SHA256_NULL[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                               0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t DIGEST_INFO_SHA256_ABSENT[] = {0x30, 0x2F, 0x30, 0x0B, 0x06, 0x09, 0x60, 0x86, 0x48,
                                                 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x04, 0x20};

// True when block (k bytes) is exactly 00 01 FF..FF 00 || prefix || digest with at least
// eight FF bytes.
bool is_encoding(const uint8_t *block, uint32_t k, const uint8_t *prefix, uint32_t prefixLength,
                 const uint8_t *digest)
{
    const uint32_t tail = prefixLength + SHA256_SIZE;
    if (k < 3 + MIN_PADDING + tail)
        return false;
    const uint32_t separator = k - tail - 1;
    if (block[0] != 0x00 || block[1] != 0x01 || block[separator] != 0x00)
        return false;
    for (uint32_t i = 2; i < separator; ++i)
        if (block[i] != 0xFF)
            return false;
    return std::memcmp(block + separator + 1, prefix, prefixLength) == 0 &&
           std::memcmp(block + separator + 1 + prefixLength, digest, SHA256_SIZE) == 0;
}

// Encode, then compare: the opened signature must be the one canonical PKCS#1 v1.5 block of
// this SHA-256 digest (either accepted form of the AlgorithmIdentifier). The lenient check
// before it accepts forms that a forger with a small exponent can fill freely.
MSTATUS check_canonical_block(const RSAKey *key, const uint8_t *signature, const uint8_t *digest,
                              int32_t digestLength)
{
    if (digestLength != int32_t(SHA256_SIZE))
        return ERR_SIGNATURE_NOT_CANONICAL;
    int32_t k = 0;
    if (MSTATUS st = RSA_getModulusLength(key, &k); st < 0)
        return st;
    uint8_t block[RSA_MAX_MODULUS_BYTES];
    if (k <= 0 || uint32_t(k) > sizeof block)
        return ERR_SIGNATURE_NOT_CANONICAL;
    VLONG *queue = nullptr;
    MSTATUS st = RSA_publicBlock(key, signature, block, &queue);
    VLONG_freeVlongQueue(&queue);
    if (st < 0)
        return st;
    bool canonical =
        is_encoding(block, uint32_t(k), DIGEST_INFO_SHA256_NULL, sizeof DIGEST_INFO_SHA256_NULL, digest) ||
        is_encoding(block, uint32_t(k), DIGEST_INFO_SHA256_ABSENT, sizeof DIGEST_INFO_SHA256_ABSENT, digest);
    return canonical ? MSTATUS{OK} : MSTATUS{ERR_SIGNATURE_NOT_CANONICAL};
}

void trace_number(const char *label, const uint8_t *bytes, int32_t length)
{
    DEBUG_CONSOLE_putString(TRACE_LEVEL, label);
    IMGSIGN_traceBytes(bytes, length);
}

} // namespace

void IMGSIGN_traceBytes(const uint8_t *bytes, int32_t length)
{
    DEBUG_CONSOLE_putString(TRACE_LEVEL, "length = ");
    DEBUG_CONSOLE_putInt(TRACE_LEVEL, length);
    DEBUG_CONSOLE_putLine(TRACE_LEVEL, "");
    if (!bytes || length <= 0)
        return;
    for (int32_t i = 0; i < length; ++i) {
        DEBUG_CONSOLE_putHexByte(TRACE_LEVEL, bytes[i]);
        DEBUG_CONSOLE_putString(TRACE_LEVEL, " ");
        if ((i + 1) % 16 == 0)
            DEBUG_CONSOLE_putLine(TRACE_LEVEL, "");
    }
    if (length % 16 != 0)
        DEBUG_CONSOLE_putLine(TRACE_LEVEL, "");
}

void IMGSIGN_traceKey(const KeyHolder *key)
{
    if ((debug_console_mask & TRACE_LEVEL) != TRACE_LEVEL || !key || key->type != KEY_TYPE_RSA || !key->key)
        return;
    const RSAKey *rsa = static_cast<const RSAKey *>(key->key);
    uint8_t exponent[1024], modulus[1024];
    int32_t exponentLength = 0, modulusLength = 0;
    bool ok = VLONG_byteStringFromVlong(rsa->e, nullptr, &exponentLength) >= 0 &&
              exponentLength <= int32_t(sizeof exponent) &&
              VLONG_byteStringFromVlong(rsa->e, exponent, &exponentLength) >= 0 &&
              VLONG_byteStringFromVlong(rsa->n, nullptr, &modulusLength) >= 0 &&
              modulusLength <= int32_t(sizeof modulus) &&
              VLONG_byteStringFromVlong(rsa->n, modulus, &modulusLength) >= 0;
    if (!ok) {
        DEBUG_CONSOLE_putString(TRACE_LEVEL, "Call VLONG_byteStringFromVlong failed\n");
        return;
    }
    DEBUG_CONSOLE_putString(TRACE_LEVEL, "key type = ");
    DEBUG_CONSOLE_putInt(TRACE_LEVEL, int32_t(key->type));
    DEBUG_CONSOLE_putString(TRACE_LEVEL, ", private key = ");
    DEBUG_CONSOLE_putInt(TRACE_LEVEL, int32_t(rsa->privateKey));
    DEBUG_CONSOLE_putLine(TRACE_LEVEL, "");
    trace_number("Modulus: ", modulus, modulusLength);
    trace_number("Exponent: ", exponent, exponentLength);
}

MSTATUS IMGSIGN_computeSHA256(const uint8_t *data, uint32_t dataLength, uint8_t *digest, uint32_t *digestLength)
{
    if (!data || !digest || !digestLength)
        return ERR_NULL_POINTER;
    *digestLength = 0;
    uint8_t buffer[HASH_MAX_DIGEST_SIZE];
    uint32_t produced = 0;
    MSTATUS status = HASH_computeDigest(data, dataLength, buffer, &produced, HASH_ID_SHA256);
    if (status >= 0) {
        *digestLength = produced;
        if (produced > 0)
            std::memcpy(digest, buffer, produced);
    }
    DEBUG_CONSOLE_putString(TRACE_LEVEL, "IMGSIGN_computeSHA256: ");
    if (status == OK) {
        IMGSIGN_traceBytes(digest, int32_t(*digestLength));
        return OK;
    }
    trace_status(status);
    return status;
}

MSTATUS CA_MGMT_convertPublicKey(const uint8_t *keyData, uint32_t keyDataLength, KeyHolder *key)
{
    DEBUG_CONSOLE_putString(TRACE_LEVEL, "CA_MGMT_convertPublicKey: ");
    MSTATUS status = ERR_NULL_POINTER;
    HeldBlob blob;
    if (keyData) {
        // A failed PEM reading is not reported: the same text is then tried as DER.
        status = CA_MGMT_pemToKeyBlob(keyData, keyDataLength, &blob.bytes, &blob.length);
        if (status < 0)
            status = CA_MGMT_derToKeyBlob(keyData, keyDataLength, &blob.bytes, &blob.length);
    }
    if (status >= 0) {
        HeldKey temporary;
        status = CA_MGMT_keyBlobToKey(blob.bytes, blob.length, &temporary.holder);
        if (status >= 0) {
            IMGSIGN_traceKey(&temporary.holder);
            if (key)
                status = CA_MGMT_copyKey(key, &temporary.holder);
        }
    }
    if (status < 0)
        trace_status(status);
    return status;
}

MSTATUS IMGSIGN_verifySignature(const uint8_t *digest, int32_t digestLength, const uint8_t *signature,
                                uint32_t signatureLength, const uint8_t *keyData, uint32_t keyDataLength)
{
    if (!digest || !signature || !keyData)
        return ERR_NULL_POINTER;
    HeldKey key;
    MSTATUS status = CA_MGMT_convertPublicKey(keyData, keyDataLength, &key.holder);
    uint8_t found[HASH_MAX_DIGEST_SIZE] = {};
    if (status >= 0 && key.holder.type != KEY_TYPE_RSA)
        status = ERR_SIGNATURE_KEY_NOT_RSA; // an EC key converts, but cannot check this signature
    if (status >= 0) {
        const RSAKey *rsa = static_cast<const RSAKey *>(key.holder.key);
        uint32_t foundLength = 0;
        int32_t hashId = -1;
        status = RSA_verifyDigestInfo(rsa, signature, signatureLength, found, &foundLength, &hashId);
        // Only length and bytes decide here; the canonical block check pins the algorithm.
        if (status == OK && (digestLength < 0 || uint32_t(digestLength) != foundLength ||
                             std::memcmp(digest, found, foundLength) != 0))
            status = ERR_SIGNATURE_MISMATCH;
        if (status == OK)
            status = check_canonical_block(rsa, signature, digest, digestLength);
        if (status == OK) {
            DEBUG_CONSOLE_putString(TRACE_LEVEL, "IMGSIGN_verifySignature: ");
            DEBUG_CONSOLE_putString(TRACE_LEVEL, "signature ");
            IMGSIGN_traceBytes(signature, int32_t(signatureLength));
            DEBUG_CONSOLE_putString(TRACE_LEVEL, "decrypted signature ");
            IMGSIGN_traceBytes(found, int32_t(foundLength));
            return OK;
        }
    }
    DEBUG_CONSOLE_putString(TRACE_LEVEL, "IMGSIGN_verifySignature: ");
    trace_status(status);
    return status;
}
