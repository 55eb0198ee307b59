// Modular exponentiation: Barrett square-and-multiply for short exponents or even moduli,
// the Montgomery sliding-window method for long exponents with an odd modulus.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <initializer_list>

namespace {

// Exponents of more units than this take the Montgomery path (odd moduli only).
constexpr uint32_t BARRETT_MAX_EXPONENT_UNITS = 13;
constexpr uint32_t MAX_WINDOW = 6;

// base = |x| mod n as a new value.
MSTATUS reducedCopy(const VLONG *x, const VLONG *n, VLONG **out, VLONG **queue)
{
    if (VLONG_compareMagnitude(x, n) < 0) {
        MSTATUS st = VLONG_makeCopy(x, out, queue);
        if (st >= 0)
            (*out)->negative = 0;
        return st;
    }
    VlongTemp r(queue);
    if (MSTATUS st = VLONG_makeCopy(x, &r.v, queue); st < 0)
        return st;
    if (MSTATUS st = vlong_reduce(r.v, n, queue); st < 0)
        return st;
    *out = r.release();
    return OK;
}

// Right-to-left binary method with Barrett multiplication; mu is that of n.
MSTATUS modexpBarrett(const VLONG *x, const VLONG *e, const VLONG *n, const VLONG *mu, VLONG **result,
                      VLONG **queue)
{
    VlongTemp acc(queue), base(queue), spare(queue);
    if (MSTATUS st = VLONG_vlongFromUnsigned(1, &acc.v, queue); st < 0)
        return st;
    // A base at or above n would let the products pass b^(2k), outside what Barrett handles.
    if (MSTATUS st = reducedCopy(x, n, &base.v, queue); st < 0)
        return st;
    if (MSTATUS st = spare.alloc(); st < 0)
        return st;
    // Room for a full residue up front, so that results written into these records do not
    // reallocate on the way.
    for (VLONG *v : {acc.v, base.v, spare.v})
        if (MSTATUS st = vlong_reserve(v, n->used); st < 0)
            return st;
    uint32_t bits = VLONG_bitLength(e);
    for (uint32_t i = 0; i < bits; ++i) {
        if (VLONG_testBit(e, i)) {
            if (MSTATUS st = VLONG_barrettMultiply(spare.v, acc.v, base.v, n, mu, queue); st < 0)
                return st;
            vlong_swap(acc.v, spare.v);
        }
        if (i + 1 < bits) {
            if (MSTATUS st = VLONG_barrettMultiply(spare.v, base.v, base.v, n, mu, queue); st < 0)
                return st;
            vlong_swap(base.v, spare.v);
        }
    }
    *result = acc.release();
    return OK;
}

// The trivial cases shared by both entry points: 1 when an answer is already set (x or e
// zero), 0 to go on, a negative status for bad arguments.
MSTATUS trivialModexp(const VLONG *x, const VLONG *e, const VLONG *n, VLONG **result, VLONG **queue)
{
    if (!x || !e || !n || !result)
        return ERR_NULL_POINTER;
    if (n->used == 0)
        return ERR_BAD_MODULO;
    if (x->used == 0) {
        MSTATUS st = VLONG_allocVlong(result, queue);
        return st < 0 ? st : 1;
    }
    if (e->used == 0) {
        MSTATUS st = VLONG_vlongFromUnsigned(1, result, queue);
        return st < 0 ? st : 1;
    }
    return 0;
}

// Owns a Montgomery context for the length of one exponentiation.
struct ContextGuard {
    MontgomeryContext *ctx = nullptr;
    VLONG **queue;
    ~ContextGuard()
    {
        if (ctx)
            VLONG_freeMontgomeryContext(&ctx, queue);
    }
};

// The table of odd powers x, x^3, x^5 ... in Montgomery form.
struct PowerTable {
    VLONG *entry[1u << (MAX_WINDOW - 1)] = {};
    VLONG **queue;
    explicit PowerTable(VLONG **q) : queue(q) {}
    ~PowerTable()
    {
        for (VLONG *&v : entry)
            if (v)
                VLONG_freeVlong(&v, queue);
    }
};

} // namespace

uint32_t vlong_windowWidth(uint32_t exponentBits)
{
    if (exponentBits >= 672)
        return 6;
    if (exponentBits >= 240)
        return 5;
    if (exponentBits >= 80)
        return 4;
    if (exponentBits >= 24)
        return 3;
    return 0;
}

MSTATUS vlong_modexpMontgomery(const VLONG *x, const VLONG *e, const VLONG *n, VLONG **result,
                               VLONG **queue)
{
    if (!x || !e || !n || !result)
        return ERR_NULL_POINTER;
    ContextGuard guard{nullptr, queue};
    if (MSTATUS st = VLONG_createMontgomeryContext(&guard.ctx, n, queue); st < 0)
        return st;
    const MontgomeryContext *ctx = guard.ctx;

    // xm = x * R mod n
    VlongTemp xm(queue), acc(queue), t(queue);
    if (MSTATUS st = reducedCopy(x, n, &xm.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_shlXvlong(xm.v, ctx->k); st < 0)
        return st;
    if (MSTATUS st = vlong_reduce(xm.v, n, queue); st < 0)
        return st;
    // acc = R mod n = R - n (n < R < 2n), the Montgomery form of 1
    if (MSTATUS st = VLONG_newDifference(ctx->R, ctx->n, &acc.v, queue); st < 0)
        return st;

    uint32_t bits = VLONG_bitLength(e);
    uint32_t w = vlong_windowWidth(bits);
    if (w == 0) {
        for (uint32_t i = 0; i < bits; ++i) {
            if (VLONG_testBit(e, i)) {
                if (MSTATUS st = VLONG_montgomeryMultiply(ctx, acc.v, xm.v, queue); st < 0)
                    return st;
            }
            if (i + 1 < bits) {
                if (MSTATUS st = VLONG_montgomerySquare(ctx, xm.v, queue); st < 0)
                    return st;
            }
        }
    } else {
        PowerTable table(queue);
        uint32_t entries = 1u << (w - 1);
        VlongTemp square(queue);
        if (MSTATUS st = VLONG_makeCopy(xm.v, &square.v, queue); st < 0)
            return st;
        if (MSTATUS st = VLONG_montgomerySquare(ctx, square.v, queue); st < 0)
            return st;
        if (MSTATUS st = VLONG_makeCopy(xm.v, &table.entry[0], queue); st < 0)
            return st;
        for (uint32_t i = 1; i < entries; ++i) {
            if (MSTATUS st = VLONG_makeCopy(table.entry[i - 1], &table.entry[i], queue); st < 0)
                return st;
            if (MSTATUS st = VLONG_montgomeryMultiply(ctx, table.entry[i], square.v, queue); st < 0)
                return st;
        }
        // Scan from the top bit: a 0 bit is one square; at a 1 bit take the longest window of
        // at most w bits that ends in a 1 bit, square once per window bit, multiply once.
        int64_t i = int64_t(bits) - 1;
        while (i >= 0) {
            if (!VLONG_testBit(e, uint32_t(i))) {
                if (MSTATUS st = VLONG_montgomerySquare(ctx, acc.v, queue); st < 0)
                    return st;
                --i;
                continue;
            }
            int64_t j = i - int64_t(w) + 1;
            if (j < 0)
                j = 0;
            while (!VLONG_testBit(e, uint32_t(j)))
                ++j;
            uint32_t value = 0;
            for (int64_t b = i; b >= j; --b) {
                value = (value << 1) | (VLONG_testBit(e, uint32_t(b)) ? 1 : 0);
                if (MSTATUS st = VLONG_montgomerySquare(ctx, acc.v, queue); st < 0)
                    return st;
            }
            if (MSTATUS st = VLONG_montgomeryMultiply(ctx, acc.v, table.entry[value >> 1], queue); st < 0)
                return st;
            i = j - 1;
        }
    }

    // Leave Montgomery form: acc * Rinv mod n.
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_multiply(t.v, acc.v, ctx->Rinv, VLONG_bitLength(acc.v) + VLONG_bitLength(ctx->Rinv)); st < 0)
        return st;
    if (MSTATUS st = vlong_reduce(t.v, n, queue); st < 0)
        return st;
    vlong_swap(acc.v, t.v);
    *result = acc.release();
    return OK;
}

MSTATUS VLONG_modexp(const VLONG *x, const VLONG *e, const VLONG *n, VLONG **result, VLONG **queue)
{
    if (MSTATUS st = trivialModexp(x, e, n, result, queue); st != 0)
        return st < 0 ? st : OK;
    bool oddAboveOne = (n->units[0] & 1) && VLONG_compareUnsigned(n, 1) > 0;
    if (oddAboveOne && e->used > BARRETT_MAX_EXPONENT_UNITS)
        return vlong_modexpMontgomery(x, e, n, result, queue);
    VlongTemp mu(queue);
    if (MSTATUS st = VLONG_barrettMu(&mu.v, n, queue); st < 0)
        return st;
    return modexpBarrett(x, e, n, mu.v, result, queue);
}

MSTATUS VLONG_modexpBarrett(const VLONG *x, const VLONG *e, const VLONG *n, const VLONG *mu,
                            VLONG **result, VLONG **queue)
{
    if (!mu)
        return ERR_NULL_POINTER;
    if (MSTATUS st = trivialModexp(x, e, n, result, queue); st != 0)
        return st < 0 ? st : OK;
    return modexpBarrett(x, e, n, mu, result, queue);
}
