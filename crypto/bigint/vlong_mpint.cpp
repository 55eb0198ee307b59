// Length-prefixed signed integers: 4-byte big-endian length, then big-endian two's complement.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

uint32_t loadBe32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void storeBe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Two's complement of bytes[0..len) in place: invert and add one.
void negateBytes(uint8_t *bytes, uint32_t len)
{
    unsigned carry = 1;
    for (uint32_t i = len; i-- > 0;) {
        unsigned v = unsigned(uint8_t(~bytes[i])) + carry;
        bytes[i] = uint8_t(v);
        carry = v >> 8;
    }
}

struct WipedBuffer {
    uint8_t *p = nullptr;
    uint32_t size = 0;
    ~WipedBuffer()
    {
        if (p) {
            volatile uint8_t *v = p;
            for (uint32_t i = 0; i < size; ++i)
                v[i] = 0;
            std::free(p);
        }
    }
};

} // namespace

MSTATUS VLONG_newFromMpint(const uint8_t *bytes, uint32_t available, VLONG **out, uint32_t *consumed,
                           VLONG **queue)
{
    if (!bytes || !out || !consumed)
        return ERR_NULL_POINTER;
    if (available < 4)
        return ERR_BAD_LENGTH;
    int32_t len = int32_t(loadBe32(bytes));
    if (len < 0 || uint32_t(len) > available - 4)
        return ERR_BAD_LENGTH;
    const uint8_t *content = bytes + 4;
    bool negative = len > 0 && content[0] >= 0x80;

    VlongTemp v(queue);
    if (!negative) {
        if (MSTATUS st = VLONG_vlongFromByteString(content, len, &v.v, queue); st < 0)
            return st;
    } else {
        // The magnitude is 2^(8L) - content, computed within L bytes: content 80 00 .. 00
        // gives 80 00 .. 00, the most negative value of its length.
        WipedBuffer copy{static_cast<uint8_t *>(std::malloc(uint32_t(len))), uint32_t(len)};
        if (!copy.p)
            return ERR_MEM_ALLOC;
        std::memcpy(copy.p, content, uint32_t(len));
        negateBytes(copy.p, uint32_t(len));
        if (MSTATUS st = VLONG_vlongFromByteString(copy.p, len, &v.v, queue); st < 0)
            return st;
        v.v->negative = 1;
    }
    *consumed = uint32_t(len) + 4;
    *out = v.release();
    return OK;
}

MSTATUS VLONG_mpintFromVlong(const VLONG *value, uint8_t **bytesOut, uint32_t *lengthOut)
{
    if (!value || !bytesOut || !lengthOut)
        return ERR_NULL_POINTER;
    int32_t magnitudeLength = 0;
    VLONG_byteStringFromVlong(value, nullptr, &magnitudeLength);
    uint32_t m = uint32_t(magnitudeLength);
    bool negative = value->negative && value->used;

    // Magnitude (or its two's complement) goes after a 4-byte length and one spare byte.
    WipedBuffer work{static_cast<uint8_t *>(std::malloc(m + 5)), m + 5};
    if (!work.p)
        return ERR_MEM_ALLOC;
    uint8_t *digits = work.p + 5;
    if (MSTATUS st = VLONG_byteStringFromVlong(value, digits, &magnitudeLength); st < 0)
        return st;
    bool prefix = false;
    if (m && !negative) {
        prefix = digits[0] & 0x80; // keep the sign bit clear
    } else if (m) {
        negateBytes(digits, m);
        // A sign byte is needed when the complement reads as non-negative; -2^(8m-1)
        // (complement 80 00 ..) needs none.
        prefix = !(digits[0] & 0x80);
    }
    uint32_t contentLength = m + (prefix ? 1 : 0);
    uint8_t *content = digits - (prefix ? 1 : 0);
    if (prefix)
        content[0] = negative ? 0xFF : 0x00;

    auto *out = static_cast<uint8_t *>(std::malloc(contentLength + 4));
    if (!out)
        return ERR_MEM_ALLOC;
    storeBe32(out, contentLength);
    std::memcpy(out + 4, content, contentLength);
    *bytesOut = out;
    *lengthOut = contentLength + 4;
    return OK;
}
