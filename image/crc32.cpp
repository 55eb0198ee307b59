// CRC-32/JAMCRC of image components: the reflected CRC-32 (polynomial 0xEDB88320) with the
// register handed in and out unchanged, no final inversion.
//
// Large buffers are cut into four equal streams that advance together, eight bytes per
// stream per step (slice-by-8 tables). The streams do not depend on one another, so the
// processor overlaps their table look-ups instead of waiting on one long chain; the four
// partial results are then joined with the CRC shift operator (multiplication by
// x^(8n) modulo the polynomial). Words are assembled byte by byte, so the result is the
// same on big- and little-endian machines.
#include "image/format.h"

#include <array>

namespace {

constexpr uint32_t POLY = 0xEDB88320u;
constexpr size_t STREAMS = 4;
constexpr size_t STREAM_MIN = 1024; // below 4 KiB the join costs more than it saves

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables make_tables()
{
    Tables t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ POLY : c >> 1;
        t[0][i] = c;
    }
    for (size_t k = 1; k < 8; k++)
        for (uint32_t i = 0; i < 256; i++)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constexpr Tables T = make_tables();

inline uint32_t load_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline uint64_t load_le64(const uint8_t *p)
{
    return uint64_t{load_le32(p)} | (uint64_t{load_le32(p + 4)} << 32);
}

// Advances the register over eight bytes (one 64-bit load, eight table look-ups).
inline uint32_t step8(uint32_t crc, const uint8_t *p)
{
    const uint64_t word = load_le64(p);
    uint32_t one = crc ^ static_cast<uint32_t>(word);
    uint32_t two = static_cast<uint32_t>(word >> 32);
    return T[7][one & 0xFF] ^ T[6][(one >> 8) & 0xFF] ^ T[5][(one >> 16) & 0xFF] ^ T[4][one >> 24] ^
           T[3][two & 0xFF] ^ T[2][(two >> 8) & 0xFF] ^ T[1][(two >> 16) & 0xFF] ^ T[0][two >> 24];
}

uint32_t crc_bytes(uint32_t crc, const uint8_t *p, size_t n)
{
    while (n >= 8) {
        crc = step8(crc, p);
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = (crc >> 8) ^ T[0][(crc ^ *p++) & 0xFF];
    return crc;
}

// a * b modulo the polynomial, in the reflected representation (bit 31 is x^0).
uint32_t multmodp(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m)
            product ^= b;
        b = (b & 1) ? (b >> 1) ^ POLY : b >> 1;
    }
    return product;
}

// x^(2^k) modulo the polynomial, for k = 0..31.
std::array<uint32_t, 32> make_powers()
{
    std::array<uint32_t, 32> powers{};
    uint32_t p = 1u << 30; // x^1
    for (auto &entry : powers) {
        entry = p;
        p = multmodp(p, p);
    }
    return powers;
}

// Moves a register forward over `bytes` zero bytes: multiplies it by x^(8 * bytes).
uint32_t crc_shift(uint32_t crc, uint64_t bytes)
{
    static const std::array<uint32_t, 32> powers = make_powers();
    uint32_t factor = 1u << 31; // x^0
    for (unsigned k = 3; bytes != 0; bytes >>= 1, k++)
        if (bytes & 1)
            factor = multmodp(powers[k & 31], factor);
    return multmodp(factor, crc);
}

} // namespace

uint32_t image_crc32(const uint8_t *data, size_t length, uint32_t crc)
{
    if (length < STREAMS * STREAM_MIN)
        return crc_bytes(crc, data, length);

    const size_t stride = (length / STREAMS) & ~size_t{7};
    const uint8_t *p0 = data;
    const uint8_t *p1 = data + stride;
    const uint8_t *p2 = data + 2 * stride;
    const uint8_t *p3 = data + 3 * stride;
    // The first stream carries the caller's register; the others start from zero and are
    // joined afterwards, which is exact because the CRC register update is linear.
    uint32_t c0 = crc, c1 = 0, c2 = 0, c3 = 0;
    for (size_t done = 0; done < stride; done += 8) {
        c0 = step8(c0, p0 + done);
        c1 = step8(c1, p1 + done);
        c2 = step8(c2, p2 + done);
        c3 = step8(c3, p3 + done);
    }
    const size_t last = length - 3 * stride;
    c3 = crc_bytes(c3, p3 + stride, last - stride);
    uint32_t result = crc_shift(c0, stride) ^ c1;
    result = crc_shift(result, stride) ^ c2;
    return crc_shift(result, last) ^ c3;
}

uint32_t image_component_crc(const uint8_t *component, uint32_t total)
{
    return image_crc32(component + 4, total - 4, 0xFFFFFFFFu);
}
