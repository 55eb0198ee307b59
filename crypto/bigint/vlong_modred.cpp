// Modular reduction: Barrett multiplication (HAC 14.42) and Montgomery contexts with their
// REDC multiply/square and their byte form.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

// ---- Barrett ---------------------------------------------------------------------------------

namespace {

constexpr int MAX_CORRECTIONS = 3; // subtractions of n that a correct mu can need

} // namespace

MSTATUS VLONG_barrettMu(VLONG **out, const VLONG *n, VLONG **queue)
{
    if (!out || !n)
        return ERR_NULL_POINTER;
    if (n->used == 0)
        return ERR_DIVIDE_BY_ZERO;
    VlongTemp power(queue), mu(queue);
    if (MSTATUS st = power.alloc(); st < 0)
        return st;
    if (MSTATUS st = mu.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_setUnit(power.v, 2 * n->used, 1); st < 0) // b^(2k)
        return st;
    if (MSTATUS st = VLONG_divide(mu.v, power.v, n, nullptr, queue); st < 0)
        return st;
    *out = mu.release();
    return OK;
}

MSTATUS VLONG_barrettMultiply(VLONG *result, const VLONG *a, const VLONG *b, const VLONG *n,
                              const VLONG *mu, VLONG **queue)
{
    if (!result || !a || !b || !n || !mu)
        return ERR_NULL_POINTER;
    if (n->used == 0)
        return ERR_DIVIDE_BY_ZERO;
    const size_t k = n->used;

    VlongTemp x(queue);
    if (MSTATUS st = x.alloc(); st < 0)
        return st;
    uint32_t bits = VLONG_bitLength(a) + VLONG_bitLength(b);
    if (MSTATUS st = VLONG_multiply(x.v, a, b, bits); st < 0)
        return st;

    if (VLONG_compareMagnitude(x.v, n) < 0) {
        vlong_swap(result, x.v);
        return OK;
    }
    if (x.v->used > 2 * k || x.v->used - (k - 1) + mu->used < k + 1) {
        // Operands not reduced below n: the estimate below would be wrong, divide instead.
        return VLONG_divide(x.v, x.v, n, result, queue);
    }

    // q1 = floor(x / b^(k-1)) has at most k + 1 units; q3 = floor(q1 * mu / b^(k+1)) is
    // taken from the columns k-1 and up of the product (the lower columns change q3 by at
    // most one, which the final subtraction loop absorbs).
    const uint32_t *q1 = x.v->units + (k - 1);
    size_t q1n = x.v->used - (k - 1);
    size_t highUnits = q1n + mu->used - (k - 1);
    VlongTemp work(queue);
    if (MSTATUS st = work.alloc(); st < 0)
        return st;
    // work: [q2 high part: highUnits][r2: k+1][r: k+2]
    if (MSTATUS st = vlong_reserveFresh(work.v, uint32_t(highUnits + 2 * k + 3)); st < 0)
        return st;
    uint32_t *q2 = work.v->units;
    uint32_t *r2 = q2 + highUnits;
    uint32_t *r = r2 + (k + 1);
    if (mu->used == k + 1 && mu->units[k] == 1) {
        // mu = b^k + mu' whenever the top bit of n is set (every RSA modulus of a whole number
        // of units): q1 * b^k is then added at column k instead of multiplied as a row.
        units_mulHigh(q2, q1, q1n, mu->units, k, k - 1); // q1n + 1 units
        q2[q1n + 1] = 0;
        q2[q1n + 1] += units_add(q2 + 1, q2 + 1, q1, q1n);
    } else {
        units_mulHigh(q2, q1, q1n, mu->units, mu->used, k - 1);
    }
    const uint32_t *q3 = q2 + 2; // columns k+1 and up
    size_t q3n = highUnits > 2 ? highUnits - 2 : 0;
    while (q3n && q3[q3n - 1] == 0)
        --q3n;

    // r1 = x mod b^(k+1), r2 = q3 * n mod b^(k+1), r = r1 - r2 (mod b^(k+1)).
    std::memset(r, 0, (k + 2) * sizeof(uint32_t));
    std::memcpy(r, x.v->units, (x.v->used < k + 1 ? x.v->used : k + 1) * sizeof(uint32_t));
    if (q3n) {
        units_mulLow(r2, q3, q3n, n->units, k, k + 1);
        units_sub(r, r, r2, k + 1);
    }

    // While r >= n, subtract n (r has k + 1 units, n has k). With the mu of n, q3 is at most
    // three below x / n (two from the method, one from the truncated q2), so three rounds
    // end it; a mu that is not n's could leave r anywhere, so past that bound the remainder
    // is taken by division instead of looping for up to b rounds.
    uint32_t *nu = n->units;
    for (int round = 0; r[k] != 0 || units_compare(r, nu, k) >= 0; ++round) {
        if (round == MAX_CORRECTIONS)
            return VLONG_divide(x.v, x.v, n, result, queue);
        uint32_t borrow = units_sub(r, r, nu, k);
        r[k] -= borrow;
    }
    return vlong_assignUnits(result, r, uint32_t(k));
}

// ---- Montgomery ------------------------------------------------------------------------------

namespace {

MontgomeryContext *allocContext()
{
    return static_cast<MontgomeryContext *>(std::calloc(1, sizeof(MontgomeryContext)));
}

// Holds a context until it is handed out; releases a partial one on every failure path.
struct ContextHolder {
    MontgomeryContext *ctx;
    VLONG **queue;
    ~ContextHolder()
    {
        if (ctx)
            VLONG_freeMontgomeryContext(&ctx, queue);
    }
    MontgomeryContext *release()
    {
        MontgomeryContext *c = ctx;
        ctx = nullptr;
        return c;
    }
};

bool isOddAboveOne(const VLONG *n)
{
    return n->used && (n->units[0] & 1) && VLONG_compareUnsigned(n, 1) > 0;
}

} // namespace

MSTATUS VLONG_createMontgomeryContext(MontgomeryContext **out, const VLONG *n, VLONG **queue)
{
    if (!out || !n)
        return ERR_NULL_POINTER;
    if (!isOddAboveOne(n))
        return ERR_BAD_MODULO;
    ContextHolder h{allocContext(), queue};
    if (!h.ctx)
        return ERR_MEM_ALLOC;
    MontgomeryContext *c = h.ctx;
    // R = the smallest power of two not below n; n is odd and above 1, so R > n.
    c->k = VLONG_bitLength(n);
    if (MSTATUS st = VLONG_allocVlong(&c->R, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_setBit(c->R, c->k); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(n, &c->n, queue); st < 0)
        return st;
    c->n->negative = 0;

    VlongTemp rMinusN(queue), nInv(queue);
    if (MSTATUS st = VLONG_newDifference(c->R, c->n, &rMinusN.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_modularInverse(rMinusN.v, c->n, &c->Rinv, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_modularInverse(c->n, c->R, &nInv.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_newDifference(c->R, nInv.v, &c->nPrime, queue); st < 0)
        return st;
    *out = h.release();
    return OK;
}

MSTATUS VLONG_freeMontgomeryContext(MontgomeryContext **ref, VLONG **queue)
{
    if (!ref || !*ref)
        return ERR_NULL_POINTER;
    MontgomeryContext *c = *ref;
    *ref = nullptr;
    for (VLONG **v : {&c->R, &c->Rinv, &c->n, &c->nPrime})
        if (*v)
            VLONG_freeVlong(v, queue);
    std::memset(c, 0, sizeof(*c));
    std::free(c);
    return OK;
}

MSTATUS VLONG_copyMontgomeryContext(MontgomeryContext **out, const MontgomeryContext *source,
                                    VLONG **queue)
{
    if (!out || !source || !source->R || !source->Rinv || !source->n || !source->nPrime)
        return ERR_NULL_POINTER;
    ContextHolder h{allocContext(), queue};
    if (!h.ctx)
        return ERR_MEM_ALLOC;
    h.ctx->k = source->k;
    if (MSTATUS st = VLONG_makeCopy(source->R, &h.ctx->R, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(source->Rinv, &h.ctx->Rinv, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(source->n, &h.ctx->n, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(source->nPrime, &h.ctx->nPrime, queue); st < 0)
        return st;
    *out = h.release();
    return OK;
}

namespace {

// x = REDC(t) = t * R^-1 mod n for t = x*y (or x^2): m = (t * nPrime) mod 2^k,
// x = (t + m*n) / 2^k, minus n when that is not below n.
MSTATUS redc(const MontgomeryContext *ctx, VLONG *x, VLONG *t, VLONG **queue)
{
    VlongTemp m(queue), u(queue);
    if (MSTATUS st = m.alloc(); st < 0)
        return st;
    if (MSTATUS st = u.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_multiply(m.v, t, ctx->nPrime, ctx->k); st < 0)
        return st;
    if (MSTATUS st = VLONG_multiply(u.v, m.v, ctx->n, VLONG_bitLength(m.v) + VLONG_bitLength(ctx->n)); st < 0)
        return st;
    if (MSTATUS st = VLONG_add(u.v, t); st < 0)
        return st;
    if (MSTATUS st = VLONG_shrXvlong(u.v, ctx->k); st < 0)
        return st;
    if (VLONG_compareMagnitude(u.v, ctx->n) >= 0) {
        if (MSTATUS st = VLONG_subtract(u.v, ctx->n); st < 0)
            return st;
    }
    vlong_swap(x, u.v);
    return OK;
}

bool contextComplete(const MontgomeryContext *ctx)
{
    return ctx && ctx->R && ctx->Rinv && ctx->n && ctx->nPrime;
}

} // namespace

MSTATUS VLONG_montgomerySquare(const MontgomeryContext *ctx, VLONG *x, VLONG **queue)
{
    if (!contextComplete(ctx) || !x)
        return ERR_NULL_POINTER;
    VlongTemp t(queue);
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_square(t.v, x, 2 * VLONG_bitLength(x)); st < 0)
        return st;
    return redc(ctx, x, t.v, queue);
}

MSTATUS VLONG_montgomeryMultiply(const MontgomeryContext *ctx, VLONG *x, const VLONG *y, VLONG **queue)
{
    if (!contextComplete(ctx) || !x || !y)
        return ERR_NULL_POINTER;
    VlongTemp t(queue);
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_multiply(t.v, x, y, VLONG_bitLength(x) + VLONG_bitLength(y)); st < 0)
        return st;
    return redc(ctx, x, t.v, queue);
}

// ---- Byte form ---------------------------------------------------------------------------------
// 01 | k (4, BE) | len R (4) | R | len Rinv (4) | Rinv | len n (4) | n | len nPrime (4) | nPrime

namespace {

constexpr uint8_t CONTEXT_FORM_VERSION = 1;

void storeBe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t loadBe32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t byteLength(const VLONG *v)
{
    return (VLONG_bitLength(v) + 7) / 8;
}

} // namespace

MSTATUS VLONG_writeMontgomeryContext(const MontgomeryContext *ctx, uint8_t *buffer, uint32_t *length)
{
    if (!contextComplete(ctx) || !length)
        return ERR_NULL_POINTER;
    const VLONG *parts[] = {ctx->R, ctx->Rinv, ctx->n, ctx->nPrime};
    uint32_t needed = 5;
    for (const VLONG *v : parts)
        needed += 4 + byteLength(v);
    uint32_t size = *length;
    *length = needed;
    if (!buffer)
        return OK;
    if (size < needed)
        return ERR_BUFFER_OVERFLOW;
    buffer[0] = CONTEXT_FORM_VERSION;
    storeBe32(buffer + 1, ctx->k);
    uint8_t *p = buffer + 5;
    for (const VLONG *v : parts) {
        int32_t len = int32_t(byteLength(v));
        storeBe32(p, uint32_t(len));
        if (MSTATUS st = VLONG_byteStringFromVlong(v, p + 4, &len); st < 0)
            return st;
        p += 4 + len;
    }
    return OK;
}

MSTATUS VLONG_readMontgomeryContext(const uint8_t *bytes, uint32_t length, MontgomeryContext **out,
                                    VLONG **queue)
{
    if (!bytes || !out)
        return ERR_NULL_POINTER;
    if (length <= 4)
        return ERR_KEYBLOB_MALFORMED;
    if (bytes[0] != CONTEXT_FORM_VERSION)
        return ERR_KEYBLOB_VERSION;
    ContextHolder h{allocContext(), queue};
    if (!h.ctx)
        return ERR_MEM_ALLOC;
    h.ctx->k = loadBe32(bytes + 1);
    uint32_t pos = 5;
    for (VLONG **v : {&h.ctx->R, &h.ctx->Rinv, &h.ctx->n, &h.ctx->nPrime}) {
        if (length - pos < 4)
            return ERR_KEYBLOB_MALFORMED;
        uint32_t len = loadBe32(bytes + pos);
        pos += 4;
        if (len > length - pos)
            return ERR_KEYBLOB_MALFORMED;
        if (MSTATUS st = VLONG_vlongFromByteString(bytes + pos, int32_t(len), v, queue); st < 0)
            return st == ERR_BAD_LENGTH ? ERR_KEYBLOB_MALFORMED : st;
        pos += len;
    }
    // The numbers must fit together: R = 2^k, n odd above 1 and below R, Rinv and nPrime
    // reduced. A mangled form would otherwise give wrong results or huge shifts later.
    const MontgomeryContext *c = h.ctx;
    if (VLONG_isZero(c->R) || !isOddAboveOne(c->n) || VLONG_bitLength(c->R) != c->k + 1 || VLONG_bitLength(c->n) > c->k ||
        VLONG_compareMagnitude(c->Rinv, c->n) >= 0 || VLONG_compareMagnitude(c->nPrime, c->R) >= 0)
        return ERR_KEYBLOB_MALFORMED;
    for (uint32_t i = 0; i + 1 < c->R->used; ++i)
        if (c->R->units[i])
            return ERR_KEYBLOB_MALFORMED;
    if (c->R->units[c->R->used - 1] & (c->R->units[c->R->used - 1] - 1))
        return ERR_KEYBLOB_MALFORMED;
    *out = h.release();
    return OK;
}
