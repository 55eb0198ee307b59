// What the digests share: block buffering (top up the partial block, hand whole blocks
// straight from the input to the compression function, keep the tail), padding, and the
// context life cycle (allocation, wiped release, one-shot). Used by md5.cpp, sha1.cpp,
// sha256.cpp and sha512.cpp only.
#pragma once

#include "crypto/common/bytes.h"
#include "crypto/common/status.h"

#include <cstdint>
#include <cstring>
#include <new>

template <typename Ctx>
MSTATUS digest_alloc(Ctx **ctxOut)
{
    if (!ctxOut)
        return ERR_NULL_POINTER;
    *ctxOut = new (std::nothrow) Ctx;
    return *ctxOut ? OK : ERR_MEM_ALLOC;
}

// Wipes the context before it is freed and clears the caller's reference.
template <typename Ctx>
MSTATUS digest_free(Ctx **ctxRef)
{
    if (!ctxRef || !*ctxRef)
        return ERR_NULL_POINTER;
    secure_wipe(*ctxRef, sizeof(Ctx));
    delete *ctxRef;
    *ctxRef = nullptr;
    return OK;
}

// Counts the bytes (with carry into the high word) and absorbs them; SHA-1 and SHA-2 keep
// the message length in bytes as a high and a low word.
template <typename Ctx, uint32_t B, typename Process>
MSTATUS digest_update(Ctx *ctx, uint8_t (Ctx::*block)[B], const uint8_t *data, uint32_t length, Process process)
{
    if (!ctx || !data)
        return ERR_NULL_POINTER;
    ctx->bytesLow += length;
    if (ctx->bytesLow < length)
        ++ctx->bytesHigh;
    digest_absorb(ctx->*block, ctx->held, data, length, process);
    return OK;
}

// init, one update, final on a local context that is wiped before returning.
template <typename Ctx>
MSTATUS digest_one_shot(MSTATUS (*init)(Ctx *), MSTATUS (*update)(Ctx *, const uint8_t *, uint32_t),
                        MSTATUS (*final)(Ctx *, uint8_t *), const uint8_t *data, uint32_t length,
                        uint8_t *digest)
{
    Ctx ctx;
    MSTATUS status = init(&ctx);
    if (status == OK)
        status = update(&ctx, data, length);
    if (status == OK)
        status = final(&ctx, digest);
    secure_wipe(&ctx, sizeof ctx);
    return status;
}

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
