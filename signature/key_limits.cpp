#include "signature/key_limits.h"

#include <cstring>
#include <vector>

#include "crypto/init.h"
#include "crypto/keys/base64.h"
#include "crypto/keys/der_key_internal.h"

namespace {

// Number of significant bits of a big-endian magnitude.
unsigned bit_length(std::span<const uint8_t> number)
{
    size_t i = 0;
    while (i < number.size() && number[i] == 0)
        ++i;
    if (i == number.size())
        return 0;
    unsigned bits = unsigned(number.size() - i - 1) * 8;
    for (uint8_t top = number[i]; top != 0; top >>= 1)
        ++bits;
    return bits;
}

// The DER bytes of a key file: PEM's base64 between its "-----" lines decoded, else the
// file itself.
std::vector<uint8_t> der_of(const uint8_t *data, uint32_t length)
{
    static constexpr char PEM_START[] = "-----BEGIN";
    if (length < sizeof PEM_START - 1 || std::memcmp(data, PEM_START, sizeof PEM_START - 1) != 0)
        return std::vector<uint8_t>(data, data + length);
    std::vector<uint8_t> base64;
    for (uint32_t at = 0; at < length;) {
        uint32_t end = at;
        while (end < length && data[end] != '\n')
            ++end;
        if (data[at] != '-')
            for (uint32_t i = at; i < end; ++i)
                if (data[i] != '\r' && data[i] != ' ' && data[i] != '\t')
                    base64.push_back(data[i]);
        at = end + 1;
    }
    uint8_t *der = nullptr;
    uint32_t der_length = 0;
    CRYPTO_initLibrary(); // the decoding table
    if (base64.empty() || BASE64_decode(base64.data(), uint32_t(base64.size()), &der, &der_length) < 0)
        return {};
    std::vector<uint8_t> out(der, der + der_length);
    BASE64_freeMessage(&der);
    return out;
}

bool is_integer(const Asn1Element *element)
{
    return element && ASN1_checkUniversal(element, ASN1_TAG_INTEGER) == OK;
}

const Asn1Element *child(const Asn1Element *parent, uint32_t index)
{
    const Asn1Element *found = nullptr;
    return parent && ASN1_getChild(parent, index, &found) == OK ? found : nullptr;
}

} // namespace

const char *signing_key_limit_violation(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent)
{
    unsigned bits = bit_length(modulus);
    if (bits < SIGNING_KEY_MIN_BITS || bits > SIGNING_KEY_MAX_BITS)
        return "the RSA modulus must have 2048 to 4096 bits";
    if ((modulus.back() & 1) == 0)
        return "the RSA modulus must be odd";
    unsigned exponent_bits = bit_length(exponent);
    if (exponent_bits == 0 || exponent_bits > SIGNING_KEY_MAX_EXPONENT_BITS)
        return "the RSA public exponent must have 1 to 32 bits";
    return nullptr;
}

const char *signing_key_data_violation(const uint8_t *keyData, uint32_t keyDataLength)
{
    if (!keyData)
        return nullptr;
    std::vector<uint8_t> der = der_of(keyData, keyDataLength);
    DerTree tree;
    if (der.empty() || tree.parse(der.data(), uint32_t(der.size())) < 0 || !tree.root)
        return nullptr;
    const Asn1Element *top = tree.top();
    if (!top || ASN1_checkUniversal(top, ASN1_TAG_SEQUENCE) != OK)
        return nullptr;
    // SubjectPublicKeyInfo: SEQUENCE { algorithm, BIT STRING { RSAPublicKey } }.
    const Asn1Element *bits = child(top, 2);
    if (bits && ASN1_checkUniversal(bits, ASN1_TAG_BIT_STRING) == OK && bits->encapsulates)
        top = bits->firstChild;
    // RSAPublicKey { n, e }; RSAPrivateKey { version, n, e, ... }.
    const Asn1Element *n = child(top, 1), *e = child(top, 2);
    if (is_integer(child(top, 3))) {
        n = e;
        e = child(top, 3);
    }
    if (!is_integer(n) || !is_integer(e))
        return nullptr;
    const uint8_t *n_bytes = tree.content(n), *e_bytes = tree.content(e);
    if (!n_bytes || !e_bytes || n->length == 0 || e->length == 0)
        return nullptr;
    return signing_key_limit_violation({n_bytes, n->length}, {e_bytes, e->length});
}
