// Block buffering shared by the digest updates: tops up the partial block, hands whole
// blocks straight from the input to the compression function and keeps the tail. Used by
// md5.cpp, sha1.cpp, sha256.cpp and sha512.cpp only.
#pragma once

#include <cstdint>
#include <cstring>

// process(data, nblocks) compresses nblocks consecutive blocks of size B.
template <uint32_t B, typename Process>
void digest_absorb(uint8_t (&block)[B], int32_t &held, const uint8_t *data, uint32_t length,
                   Process process)
{
    if (held > 0) {
        uint32_t room = B - static_cast<uint32_t>(held);
        uint32_t take = length < room ? length : room;
        std::memcpy(block + held, data, take);
        held += static_cast<int32_t>(take);
        data += take;
        length -= take;
        if (static_cast<uint32_t>(held) < B)
            return;
        process(block, 1u);
        held = 0;
    }
    if (length >= B) {
        process(data, length / B);
        data += length - length % B;
        length %= B;
    }
    if (length > 0) {
        std::memcpy(block, data, length);
        held = static_cast<int32_t>(length);
    }
}

// Appends 0x80 and zeros up to B - lengthField bytes, compressing an extra block when the
// length field no longer fits. The caller then writes the length and compresses once more.
template <uint32_t B, typename Process>
void digest_pad(uint8_t (&block)[B], int32_t &held, uint32_t lengthField, Process process)
{
    uint32_t n = static_cast<uint32_t>(held);
    block[n++] = 0x80;
    if (n > B - lengthField) {
        std::memset(block + n, 0, B - n);
        process(block, 1u);
        n = 0;
    }
    std::memset(block + n, 0, B - lengthField - n);
    held = 0;
}
