#include "crypto/digest/md5.h"

#include "crypto/common/bytes.h"
#include "crypto/digest/digest_block.h"

#include <bit>
#include <new>

namespace {

constexpr uint32_t MD5_IV[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// T[i] = floor(2^32 * |sin(i + 1)|), RFC 1321 section 3.4.
constexpr uint32_t T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int SHIFT[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void md5_blocks(uint32_t state[4], const uint8_t *data, uint32_t nblocks)
{
    for (; nblocks > 0; --nblocks, data += MD5_BLOCK_SIZE) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = load_le32(data + 4 * i); // MD5 reads its words little-endian
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int k;
            switch (i / 16) {
            case 0: f = (b & c) | (~b & d); k = i; break;
            case 1: f = (d & b) | (~d & c); k = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
            }
            uint32_t t = d;
            d = c;
            c = b;
            b = b + std::rotl(a + f + x[k] + T[i], SHIFT[i / 16][i % 4]);
            a = t;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        secure_wipe(x, sizeof x);
    }
}

} // namespace

MSTATUS MD5_allocDigest(MD5Ctx **ctxOut)
{
    return digest_alloc(ctxOut);
}

MSTATUS MD5_freeDigest(MD5Ctx **ctxRef)
{
    return digest_free(ctxRef);
}

MSTATUS MD5_initDigest(MD5Ctx *ctx)
{
    if (!ctx)
        return ERR_NULL_POINTER;
    for (int i = 0; i < 4; ++i)
        ctx->state[i] = MD5_IV[i];
    ctx->bitsHigh = ctx->bitsLow = 0;
    ctx->held = 0;
    return OK;
}

MSTATUS MD5_updateDigest(MD5Ctx *ctx, const uint8_t *data, uint32_t length)
{
    if (!ctx || !data)
        return ERR_NULL_POINTER;
    uint32_t low = ctx->bitsLow + (length << 3);
    ctx->bitsHigh += (length >> 29) + (low < ctx->bitsLow ? 1 : 0);
    ctx->bitsLow = low;
    digest_absorb(ctx->block, ctx->held, data, length,
                  [ctx](const uint8_t *p, uint32_t n) { md5_blocks(ctx->state, p, n); });
    return OK;
}

MSTATUS MD5_finalDigest(MD5Ctx *ctx, uint8_t *digest)
{
    if (!ctx || !digest)
        return ERR_NULL_POINTER;
    auto process = [ctx](const uint8_t *p, uint32_t n) { md5_blocks(ctx->state, p, n); };
    digest_pad(ctx->block, ctx->held, 8, process);
    store_le32(ctx->block + 56, ctx->bitsLow);
    store_le32(ctx->block + 60, ctx->bitsHigh);
    process(ctx->block, 1);
    for (int i = 0; i < 4; ++i)
        store_le32(digest + 4 * i, ctx->state[i]);
    return OK;
}

MSTATUS MD5_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest)
{
    return digest_one_shot(MD5_initDigest, MD5_updateDigest, MD5_finalDigest, data, length, digest);
}
