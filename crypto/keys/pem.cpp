// PEM unwrapping: the base64 characters between the "-----" lines, decoded and read as DER.
#include "crypto/keys/base64.h"
#include "crypto/keys/key_holder.h"

#include "crypto/common/bytes.h"

#include <cstdlib>

namespace {

bool lineEnd(uint8_t c)
{
    return c == '\r' || c == '\n';
}

bool tokenEnd(uint8_t c)
{
    return c == ' ' || lineEnd(c);
}

bool separator(uint8_t c)
{
    return c == ' ' || c == '\t' || lineEnd(c);
}

// Copies the base64 tokens of text into out (at least textLength bytes) and returns how
// many were copied. A token starting with '-' drops its whole line with the line ends after
// it, which removes the BEGIN and END lines whatever their label; any other token runs to
// the next blank or line end.
uint32_t collectBase64(const uint8_t *text, uint32_t textLength, uint8_t *out)
{
    uint32_t length = 0;
    uint32_t at = 0;
    while (at < textLength) {
        while (at < textLength && separator(text[at]))
            ++at;
        if (at == textLength)
            break;
        if (text[at] == '-') {
            while (at < textLength && !lineEnd(text[at]))
                ++at;
            while (at < textLength && lineEnd(text[at]))
                ++at;
            continue;
        }
        while (at < textLength && !tokenEnd(text[at]))
            out[length++] = text[at++];
    }
    return length;
}

// The collected text of a private key is key material too: wiped before it is freed.
struct TextBuffer {
    uint8_t *p;
    uint32_t size;
    ~TextBuffer()
    {
        if (p) {
            secure_wipe(p, size);
            std::free(p);
        }
    }
};

struct DecodedBuffer {
    uint8_t *p = nullptr;
    ~DecodedBuffer()
    {
        if (p)
            BASE64_freeMessage(&p);
    }
};

} // namespace

MSTATUS CA_MGMT_pemToKeyBlob(const uint8_t *text, uint32_t textLength, uint8_t **blob, uint32_t *blobLength)
{
    if (!text || !blob || !blobLength)
        return ERR_NULL_POINTER;
    if (textLength == 0)
        return ERR_MEM_ALLOC;
    TextBuffer base64{static_cast<uint8_t *>(std::malloc(textLength)), textLength};
    if (!base64.p)
        return ERR_MEM_ALLOC;
    const uint32_t base64Length = collectBase64(text, textLength, base64.p);
    DecodedBuffer der;
    uint32_t derLength = 0;
    if (MSTATUS st = BASE64_decode(base64.p, base64Length, &der.p, &derLength); st < 0)
        return st;
    return CA_MGMT_derToKeyBlob(der.p, derLength, blob, blobLength);
}
