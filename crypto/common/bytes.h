// Byte-order helpers and secure wiping shared by the digests, the block cipher and the
// random generator. Multi-byte fields are assembled by value (bytes shifted into place, or
// a word copied and swapped by the machine's byte order), so the result is the same on the
// big-endian target and on little-endian hosts; nothing here casts a buffer to a word array.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The word is copied whole and its bytes reversed on little-endian machines: compilers make
// one load (and one swap) of it. Assembled from single bytes it is the same value, but
// inside long expressions (the digests' rounds) a compiler may spread the byte assembly into
// the arithmetic and load every byte on its own.
inline uint32_t load_be32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little)
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

inline uint64_t load_be64(const uint8_t *p)
{
    return (uint64_t{load_be32(p)} << 32) | load_be32(p + 4);
}

inline uint32_t load_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void store_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void store_be64(uint8_t *p, uint64_t v)
{
    store_be32(p, static_cast<uint32_t>(v >> 32));
    store_be32(p + 4, static_cast<uint32_t>(v));
}

inline void store_le32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Overwrites n bytes with zeros through a volatile pointer, so the compiler cannot drop the
// stores as dead even when the memory is released right after.
inline void secure_wipe(void *p, size_t n)
{
    volatile uint8_t *v = static_cast<volatile uint8_t *>(p);
    while (n--)
        *v++ = 0;
}
