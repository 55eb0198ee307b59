// Base64 decoding with the table CRYPTO_initLibrary builds (entry = alphabet index + 1, 0 for
// bytes outside the alphabet, '=' included).
#include "crypto/keys/base64.h"

#include "crypto/common/bytes.h"
#include "crypto/init.h"

#include <cstdlib>

namespace {

// The decoded bytes may be key material: every buffer handed out carries its allocated size
// in a hidden prefix, so that BASE64_freeMessage can wipe it without being told the length.
constexpr size_t PREFIX = 8;

uint8_t *allocMessage(uint32_t length)
{
    auto *raw = static_cast<uint8_t *>(std::malloc(PREFIX + length));
    if (!raw)
        return nullptr;
    store_be32(raw, length);
    return raw + PREFIX;
}

} // namespace

MSTATUS BASE64_decode(const uint8_t *text, uint32_t textLength, uint8_t **bytes, uint32_t *byteLength)
{
    if (!text || !bytes || !byteLength)
        return ERR_NULL_POINTER;
    const uint8_t *table = CRYPTO_base64DecodeTable();
    if (!table)
        return ERR_BASE64_NO_TABLE;
    if (textLength < 4 || textLength % 4 != 0)
        return ERR_BASE64_BAD_INPUT;

    uint8_t *out = allocMessage(textLength / 4 * 3);
    if (!out)
        return ERR_MEM_ALLOC;
    uint32_t length = 0;
    for (uint32_t at = 0; at < textLength; at += 4) {
        const uint8_t *group = text + at;
        const bool last = at + 4 == textLength;
        // In the last group "xx==" carries one byte and "xxx=" two; the character after a '='
        // in the third place is not examined.
        uint32_t count = 3;
        if (last && group[2] == '=')
            count = 1;
        else if (last && group[3] == '=')
            count = 2;
        uint32_t bits = 0;
        for (uint32_t i = 0; i < count + 1; ++i) {
            uint8_t entry = table[group[i]];
            if (entry == 0) {
                BASE64_freeMessage(&out);
                return ERR_BASE64_BAD_INPUT;
            }
            bits |= uint32_t(entry - 1) << (18 - 6 * i);
        }
        for (uint32_t i = 0; i < count; ++i)
            out[length++] = uint8_t(bits >> (16 - 8 * i));
    }
    *bytes = out;
    *byteLength = length;
    return OK;
}

MSTATUS BASE64_freeMessage(uint8_t **bytes)
{
    if (!bytes || !*bytes)
        return ERR_NULL_POINTER;
    uint8_t *raw = *bytes - PREFIX;
    *bytes = nullptr;
    secure_wipe(raw, PREFIX + load_be32(raw));
    std::free(raw);
    return OK;
}
