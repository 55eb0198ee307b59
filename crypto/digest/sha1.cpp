#include "crypto/digest/sha1.h"

#include "crypto/common/bytes.h"
#include "crypto/digest/digest_block.h"

#include <bit>
#include <new>

namespace {

constexpr uint32_t SHA1_IV[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

void sha1_blocks(uint32_t state[5], const uint8_t *data, uint32_t nblocks)
{
    for (; nblocks > 0; --nblocks, data += SHA1_BLOCK_SIZE) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = load_be32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t wt;
            if (t < 16) {
                wt = w[t];
            } else {
                // Schedule kept as a rolling 16-word window.
                wt = std::rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
                w[t & 15] = wt;
            }
            uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5a827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ed9eba1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8f1bbcdc;
            } else {
                f = b ^ c ^ d;
                k = 0xca62c1d6;
            }
            uint32_t tmp = std::rotl(a, 5) + f + e + k + wt;
            e = d;
            d = c;
            c = std::rotl(b, 30);
            b = a;
            a = tmp;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        secure_wipe(w, sizeof w);
    }
}

} // namespace

MSTATUS SHA1_allocDigest(SHA1Ctx **ctxOut)
{
    return digest_alloc(ctxOut);
}

MSTATUS SHA1_freeDigest(SHA1Ctx **ctxRef)
{
    return digest_free(ctxRef);
}

MSTATUS SHA1_initDigest(SHA1Ctx *ctx)
{
    if (!ctx)
        return ERR_NULL_POINTER;
    for (int i = 0; i < 5; ++i)
        ctx->state[i] = SHA1_IV[i];
    ctx->bytesHigh = ctx->bytesLow = 0;
    ctx->held = 0;
    return OK;
}

MSTATUS SHA1_updateDigest(SHA1Ctx *ctx, const uint8_t *data, uint32_t length)
{
    return digest_update(ctx, &SHA1Ctx::block, data, length,
                         [ctx](const uint8_t *p, uint32_t n) { sha1_blocks(ctx->state, p, n); });
}

MSTATUS SHA1_finalDigest(SHA1Ctx *ctx, uint8_t *digest)
{
    if (!ctx || !digest)
        return ERR_NULL_POINTER;
    auto process = [ctx](const uint8_t *p, uint32_t n) { sha1_blocks(ctx->state, p, n); };
    digest_pad(ctx->block, ctx->held, 8, process);
    // Byte count to bit count: the 64-bit length field is (high:low) << 3.
    store_be32(ctx->block + 56, (ctx->bytesHigh << 3) | (ctx->bytesLow >> 29));
    store_be32(ctx->block + 60, ctx->bytesLow << 3);
    process(ctx->block, 1);
    for (int i = 0; i < 5; ++i)
        store_be32(digest + 4 * i, ctx->state[i]);
    return OK;
}

MSTATUS SHA1_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest)
{
    return digest_one_shot(SHA1_initDigest, SHA1_updateDigest, SHA1_finalDigest, data, length, digest);
}

MSTATUS SHA1_G(const uint8_t *block, uint8_t *out)
{
    if (!block || !out)
        return ERR_NULL_POINTER;
    uint32_t state[5];
    for (int i = 0; i < 5; ++i)
        state[i] = SHA1_IV[i];
    sha1_blocks(state, block, 1);
    for (int i = 0; i < 5; ++i)
        store_be32(out + 4 * i, state[i]);
    secure_wipe(state, sizeof state);
    return OK;
}
