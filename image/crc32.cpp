// CRC-32/JAMCRC of image components: the reflected CRC-32 (polynomial 0xEDB88320) with the
// register handed in and out unchanged, no final inversion.
//
// Long buffers are read as blocks of eight 32-bit little-endian words, word k of every block
// belonging to lane k. Each lane keeps its own register, whose contribution is moved ahead by
// one whole block (32 bytes) per step through four tables, one per byte of the word. The
// eight lanes do not depend on one another, so the processor overlaps their table look-ups
// instead of waiting on one chain, and with 32-bit words the loop suits machines with few
// registers as well as the board. After the last full block, each lane's register is exactly
// what lands on its word of that block, so that block is folded in byte by byte. Words are
// assembled byte by byte, so the result is the same on big- and little-endian machines.
//
// Buffers are taken 64 KiB at a time, and each chunk is first read one byte per 32 (plain
// independent loads), so that its cache lines come from memory together rather than one
// after another at the pace of the lanes; the lanes then run from the cache. On a machine
// with few registers the lanes live partly on the stack, and without this first pass they
// stall on memory whenever the buffer is larger than the cache.
#include "image/format.h"

#include <array>

namespace {

constexpr uint32_t POLY = 0xEDB88320u;
constexpr size_t LANES = 8;
constexpr size_t BLOCK = LANES * 4;
constexpr size_t CHUNK = 64 * 1024;
constexpr size_t LINE = 32; // the smallest cache line of the machines it runs on

using Table = std::array<uint32_t, 256>;

struct Tables {
    Table byte;                  // one byte into the register
    std::array<Table, 4> lane;   // byte b of a lane's word, moved ahead to the same word of the next block
};

constexpr Tables make_tables()
{
    Tables t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ POLY : c >> 1;
        t.byte[i] = c;
    }
    // Byte b of a word is followed by 3 - b bytes of its own word and the other lanes'
    // 4 * (LANES - 1) bytes, all zero as far as this lane is concerned.
    for (size_t b = 0; b < 4; b++) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = t.byte[i];
            for (size_t z = 0; z < 3 - b + 4 * (LANES - 1); z++)
                c = (c >> 8) ^ t.byte[c & 0xFF];
            t.lane[b][i] = c;
        }
    }
    return t;
}

constexpr Tables T = make_tables();

inline uint32_t load_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint32_t crc_bytes(uint32_t crc, const uint8_t *p, size_t n)
{
    const uint32_t *byte = T.byte.data();
    while (n--)
        crc = (crc >> 8) ^ byte[(crc ^ *p++) & 0xFF];
    return crc;
}

// The lanes over one chunk (any length; below two blocks byte by byte).
uint32_t crc_lanes(uint32_t crc, const uint8_t *data, size_t length)
{
    if (length < 2 * BLOCK)
        return crc_bytes(crc, data, length);

    // Separate table pointers let a machine with many registers keep one base per table.
    const uint32_t *t0 = T.lane[0].data(), *t1 = T.lane[1].data();
    const uint32_t *t2 = T.lane[2].data(), *t3 = T.lane[3].data();
    uint32_t lane[LANES] = {crc};
    const size_t blocks = length / BLOCK;
    const uint8_t *p = data;
    for (const uint8_t *last = data + (blocks - 1) * BLOCK; p != last; p += BLOCK) {
#pragma GCC unroll 8
        for (size_t k = 0; k < LANES; k++) {
            uint32_t v = lane[k] ^ load_le32(p + 4 * k);
            lane[k] = t0[v & 0xFF] ^ t1[(v >> 8) & 0xFF] ^ t2[(v >> 16) & 0xFF] ^ t3[v >> 24];
        }
    }
    // The last full block with every lane's register added to its word.
    uint32_t result = 0;
    for (size_t k = 0; k < LANES; k++) {
        uint32_t v = result ^ lane[k] ^ load_le32(p + 4 * k);
        for (int b = 0; b < 4; b++)
            v = (v >> 8) ^ T.byte[v & 0xFF];
        result = v;
    }
    p += BLOCK;
    return crc_bytes(result, p, length - blocks * BLOCK);
}

// Reads one byte of every line of the chunk; volatile, so that the loads are made.
void touch_lines(const uint8_t *data, size_t length)
{
    for (size_t i = 0; i < length; i += LINE)
        (void)*static_cast<const volatile uint8_t *>(data + i);
}

} // namespace

uint32_t image_crc32(const uint8_t *data, size_t length, uint32_t crc)
{
    while (length > 0) {
        size_t take = length < CHUNK ? length : CHUNK;
        touch_lines(data, take);
        crc = crc_lanes(crc, data, take);
        data += take;
        length -= take;
    }
    return crc;
}

uint32_t image_component_crc(const uint8_t *component, uint32_t total)
{
    return image_crc32(component + 4, total - 4, 0xFFFFFFFFu);
}
