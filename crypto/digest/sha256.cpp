#include "crypto/digest/sha256.h"

#include "crypto/common/bytes.h"
#include "crypto/digest/digest_block.h"

#include <bit>
#include <new>

namespace {

constexpr uint32_t SHA256_IV[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr uint32_t SHA224_IV[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                   0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};

constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The rotations nest (a rotation of an xor is the xor of the rotations), so each function
// keeps one temporary instead of three: a machine with few registers spills less.
inline uint32_t big_sigma0(uint32_t x) { return std::rotr(std::rotr(std::rotr(x, 9) ^ x, 11) ^ x, 2); }
inline uint32_t big_sigma1(uint32_t x) { return std::rotr(std::rotr(std::rotr(x, 14) ^ x, 5) ^ x, 6); }
inline uint32_t small_sigma0(uint32_t x) { return std::rotr(std::rotr(x, 11) ^ x, 7) ^ (x >> 3); }
inline uint32_t small_sigma1(uint32_t x) { return std::rotr(std::rotr(x, 2) ^ x, 17) ^ (x >> 10); }

// One round. The eight working variables are never shuffled: each round names them in a
// rotated order instead, so only d and h are written. Ch is ((f ^ g) & e) ^ g; Maj is
// ((a ^ b) & (b ^ c)) ^ b, where b ^ c is the a ^ b of the round before (carried in bc), so
// Maj costs three operations.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, ab, bc, wi, k)                              \
    do {                                                                                 \
        uint32_t t1 = h + big_sigma1(e) + (((f ^ g) & e) ^ g) + (k) + (wi);              \
        ab = a ^ b;                                                                      \
        d += t1;                                                                         \
        h = t1 + big_sigma0(a) + ((ab & bc) ^ b);                                        \
    } while (0)

// Rounds 0..15 use the message words as loaded.
#define SHA256_R0(i, a, b, c, d, e, f, g, h, ab, bc) \
    SHA256_ROUND(a, b, c, d, e, f, g, h, ab, bc, w[i] = load_be32(data + 4 * (i)), K[i])

// Rounds 16..63 extend the schedule in place: w[i & 15] becomes W[i] (rolling window).
#define SHA256_R(i, a, b, c, d, e, f, g, h, ab, bc)                                             \
    SHA256_ROUND(a, b, c, d, e, f, g, h, ab, bc,                                               \
                 w[(i) & 15] += small_sigma1(w[((i) - 2) & 15]) + w[((i) - 7) & 15] +          \
                                small_sigma0(w[((i) - 15) & 15]),                              \
                 K[i])

#define SHA256_EIGHT(R, i)                            \
    R((i) + 0, a, b, c, d, e, f, g, h, x, y);         \
    R((i) + 1, h, a, b, c, d, e, f, g, y, x);         \
    R((i) + 2, g, h, a, b, c, d, e, f, x, y);         \
    R((i) + 3, f, g, h, a, b, c, d, e, y, x);         \
    R((i) + 4, e, f, g, h, a, b, c, d, x, y);         \
    R((i) + 5, d, e, f, g, h, a, b, c, y, x);         \
    R((i) + 6, c, d, e, f, g, h, a, b, x, y);         \
    R((i) + 7, b, c, d, e, f, g, h, a, y, x)

// Compresses nblocks consecutive 64-byte blocks straight from data, with the working
// variables in locals across blocks.
void sha256_blocks(uint32_t state[8], const uint8_t *data, uint32_t nblocks)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t w[16];
    for (; nblocks > 0; --nblocks, data += SHA256_BLOCK_SIZE) {
        uint32_t x, y = b ^ c;
        SHA256_EIGHT(SHA256_R0, 0);
        SHA256_EIGHT(SHA256_R0, 8);
        SHA256_EIGHT(SHA256_R, 16);
        SHA256_EIGHT(SHA256_R, 24);
        SHA256_EIGHT(SHA256_R, 32);
        SHA256_EIGHT(SHA256_R, 40);
        SHA256_EIGHT(SHA256_R, 48);
        SHA256_EIGHT(SHA256_R, 56);
        a = state[0] += a;
        b = state[1] += b;
        c = state[2] += c;
        d = state[3] += d;
        e = state[4] += e;
        f = state[5] += f;
        g = state[6] += g;
        h = state[7] += h;
    }
    secure_wipe(w, sizeof w);
}

#undef SHA256_EIGHT
#undef SHA256_R
#undef SHA256_R0
#undef SHA256_ROUND

void sha256_process(SHA256Ctx *ctx, const uint8_t *p, uint32_t n)
{
    sha256_blocks(ctx->state, p, n);
}

MSTATUS sha256_init_with(SHA256Ctx *ctx, const uint32_t (&iv)[8])
{
    if (!ctx)
        return ERR_NULL_POINTER;
    for (int i = 0; i < 8; ++i)
        ctx->state[i] = iv[i];
    ctx->bytesHigh = ctx->bytesLow = 0;
    ctx->held = 0;
    return OK;
}

// Pads, compresses the last block(s) and writes the first outLen bytes of the state.
MSTATUS sha256_finish(SHA256Ctx *ctx, uint8_t *digest, uint32_t outLen)
{
    if (!ctx || !digest)
        return ERR_NULL_POINTER;
    auto process = [ctx](const uint8_t *p, uint32_t n) { sha256_process(ctx, p, n); };
    digest_pad(ctx->block, ctx->held, 8, process);
    store_be32(ctx->block + 56, (ctx->bytesHigh << 3) | (ctx->bytesLow >> 29));
    store_be32(ctx->block + 60, ctx->bytesLow << 3);
    process(ctx->block, 1);
    for (uint32_t i = 0; i < outLen / 4; ++i)
        store_be32(digest + 4 * i, ctx->state[i]);
    return OK;
}

} // namespace

MSTATUS SHA256_allocDigest(SHA256Ctx **ctxOut)
{
    return digest_alloc(ctxOut);
}

MSTATUS SHA256_freeDigest(SHA256Ctx **ctxRef)
{
    return digest_free(ctxRef);
}

MSTATUS SHA256_initDigest(SHA256Ctx *ctx) { return sha256_init_with(ctx, SHA256_IV); }

MSTATUS SHA224_initDigest(SHA256Ctx *ctx) { return sha256_init_with(ctx, SHA224_IV); }

MSTATUS SHA256_updateDigest(SHA256Ctx *ctx, const uint8_t *data, uint32_t length)
{
    return digest_update(ctx, &SHA256Ctx::block, data, length,
                         [ctx](const uint8_t *p, uint32_t n) { sha256_process(ctx, p, n); });
}

MSTATUS SHA256_finalDigest(SHA256Ctx *ctx, uint8_t *digest)
{
    return sha256_finish(ctx, digest, SHA256_DIGEST_SIZE);
}

MSTATUS SHA224_finalDigest(SHA256Ctx *ctx, uint8_t *digest)
{
    return sha256_finish(ctx, digest, SHA224_DIGEST_SIZE);
}

MSTATUS SHA256_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest)
{
    return digest_one_shot(SHA256_initDigest, SHA256_updateDigest, SHA256_finalDigest, data, length, digest);
}

MSTATUS SHA224_completeDigest(const uint8_t *data, uint32_t length, uint8_t *digest)
{
    return digest_one_shot(SHA224_initDigest, SHA256_updateDigest, SHA224_finalDigest, data, length, digest);
}
