// CRC-32/JAMCRC of image components: the reflected CRC-32 (polynomial 0xEDB88320) with the
// register handed in and out unchanged, no final inversion.
//
// Long buffers are read as blocks of LANES words of WORD bytes (three of 16 bytes; four of 8
// on PowerPC), word k of every block belonging to lane k. Each lane keeps one 32-bit
// register, whose contribution is moved ahead by one whole block per step through one table
// per byte of the word: every byte costs one extraction (or a byte load), one table load and
// one xor, and a whole word shares one lane register, so the lanes fit the registers of a
// 32-bit x86. The lane register joins the first 32-bit word of its bytes; the other words go
// to their tables directly, so no 64-bit arithmetic is needed. The lanes do not depend on
// one another, so the processor overlaps their look-ups instead of waiting on one chain.
// After the last full block, each lane's register is exactly what lands on its word of that
// block, so that block is folded in byte by byte. Words are assembled byte by byte, so the
// result is the same on big- and little-endian machines.
#include "image/format.h"

#include <array>

namespace {

constexpr uint32_t POLY = 0xEDB88320u;
#if defined(__powerpc__)
// With 32 registers every table gets a base register of its own (see image_crc32), and
// 8-byte words keep the eight bases and the lanes in registers together.
constexpr size_t LANES = 4;
constexpr size_t WORD = 8;
constexpr bool OWN_TABLE_BASES = true;
#else
constexpr size_t LANES = 3;
constexpr size_t WORD = 16;
constexpr bool OWN_TABLE_BASES = false;
#endif
constexpr size_t BLOCK = LANES * WORD;

using Table = std::array<uint32_t, 256>;

constexpr Table make_byte_table()
{
    Table t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ POLY : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr Table BYTE = make_byte_table(); // one byte into the register

// Byte b of a lane's word moved ahead to the same word of the next block: it is followed by
// WORD - 1 - b bytes of its own word and the other lanes' WORD * (LANES - 1) bytes, all zero
// as far as this lane is concerned. Each table is the next one moved ahead by one more zero
// byte. One array, so that a machine with few registers reaches every table from one base
// register.
constexpr std::array<Table, WORD> make_lane_tables()
{
    std::array<Table, WORD> t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = BYTE[i];
        for (size_t z = 0; z < WORD * (LANES - 1); z++)
            c = (c >> 8) ^ BYTE[c & 0xFF];
        for (size_t b = WORD; b-- > 0;) {
            t[b][i] = c;
            c = (c >> 8) ^ BYTE[c & 0xFF];
        }
    }
    return t;
}

constexpr std::array<Table, WORD> LANE = make_lane_tables();

inline uint32_t load_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint32_t crc_bytes(uint32_t crc, const uint8_t *p, size_t n)
{
    while (n--)
        crc = (crc >> 8) ^ BYTE[(crc ^ *p++) & 0xFF];
    return crc;
}

// One lane's step: its register plus the WORD bytes at p, moved ahead by one block. The
// register joins the first 32-bit word; the other words' bytes go straight to their tables.
template <typename Tables>
inline uint32_t lane_step(uint32_t crc, const uint8_t *p, const Tables &t)
{
    uint32_t r = 0;
#pragma GCC unroll 4
    for (size_t j = 0; j < WORD / 4; j++) {
        uint32_t v = load_le32(p + 4 * j) ^ (j == 0 ? crc : 0);
        r ^= (t[4 * j][v & 0xFF] ^ t[4 * j + 1][(v >> 8) & 0xFF]) ^
             (t[4 * j + 2][(v >> 16) & 0xFF] ^ t[4 * j + 3][v >> 24]);
    }
    return r;
}

// The lanes over length >= 2 * BLOCK bytes; t[b] is the table of byte b of a word.
template <typename Tables>
uint32_t crc_lanes(uint32_t crc, const uint8_t *data, size_t length, const Tables &t)
{
    uint32_t lane[LANES] = {crc};
    const size_t blocks = length / BLOCK;
    const uint8_t *p = data;
    for (const uint8_t *last = data + (blocks - 1) * BLOCK; p != last; p += BLOCK) {
#pragma GCC unroll 8
        for (size_t k = 0; k < LANES; k++)
            lane[k] = lane_step(lane[k], p + WORD * k, t);
    }
    // The last full block with every lane's register added to its word.
    uint32_t result = 0;
    for (size_t k = 0; k < LANES; k++) {
        uint32_t v = result ^ lane[k] ^ load_le32(p + WORD * k);
        for (int b = 0; b < 4; b++)
            v = (v >> 8) ^ BYTE[v & 0xFF];
        result = crc_bytes(v, p + WORD * k + 4, WORD - 4);
    }
    p += BLOCK;
    return crc_bytes(result, p, length - blocks * BLOCK);
}

} // namespace

uint32_t image_crc32(const uint8_t *data, size_t length, uint32_t crc)
{
    if (length < 2 * BLOCK)
        return crc_bytes(crc, data, length);
    if constexpr (!OWN_TABLE_BASES)
        return crc_lanes(crc, data, length, LANE);
    // GCC reaches tables of one array from one base register plus a constant, which costs an
    // add per look-up on a machine without base+index+displacement addressing (PowerPC).
    // Addresses read through a volatile are unknown to it, so each table keeps its own base
    // register and a look-up is one indexed load. Machines with few registers (x86) keep the
    // single base, which their addressing takes for free.
    const uint32_t *t[WORD];
    for (size_t b = 0; b < WORD; b++) {
        const uint32_t *volatile opaque = LANE[b].data();
        t[b] = opaque;
    }
    return crc_lanes(crc, data, length, t);
}

uint32_t image_component_crc(const uint8_t *component, uint32_t total)
{
    return image_crc32(component + 4, total - 4, 0xFFFFFFFFu);
}
