// Signed addition and subtraction, built on magnitude add/subtract of unit arrays.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <cstring>

// Both loops take two units per step as one 64-bit word (composed explicitly, so the
// byte order of the machine does not matter): half as many steps in the carry chain.
uint32_t units_add(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t n)
{
    uint64_t carry = 0;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) { // two units a step: half the loop overhead
        carry += uint64_t(a[i]) + b[i];
        r[i] = uint32_t(carry);
        carry = (carry >> 32) + a[i + 1] + b[i + 1];
        r[i + 1] = uint32_t(carry);
        carry >>= 32;
    }
    if (i < n) {
        carry += uint64_t(a[i]) + b[i];
        r[i] = uint32_t(carry);
        carry >>= 32;
    }
    return uint32_t(carry);
}

uint32_t units_sub(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t n)
{
    uint64_t borrow = 0;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) { // two units a step: half the loop overhead
        uint64_t d = uint64_t(a[i]) - b[i] - borrow;
        r[i] = uint32_t(d);
        d = uint64_t(a[i + 1]) - b[i + 1] - (d >> 63);
        r[i + 1] = uint32_t(d);
        borrow = d >> 63;
    }
    if (i < n) {
        uint64_t d = uint64_t(a[i]) - b[i] - borrow;
        r[i] = uint32_t(d);
        borrow = d >> 63;
    }
    return uint32_t(borrow);
}

uint32_t units_addCarry(uint32_t *r, size_t n, uint32_t c)
{
    for (size_t i = 0; i < n && c; ++i) {
        r[i] += c;
        c = r[i] < c ? 1 : 0;
    }
    return c;
}

namespace {

// |a| = |a| + |b|; the sign of a is kept.
MSTATUS addMagnitude(VLONG *a, const VLONG *b)
{
    uint32_t n = a->used > b->used ? a->used : b->used;
    // Room for a carry unit, except at the unit limit where a carry is an overflow.
    if (MSTATUS st = vlong_reserve(a, n < VLONG_MAX_UNITS ? n + 1 : n); st < 0)
        return st;
    uint32_t *ra = a->units;
    const uint32_t *rb = b->units; // read after a grew: b may be a
    if (n > a->used)
        std::memset(ra + a->used, 0, size_t(n - a->used) * sizeof(uint32_t));
    uint32_t carry = units_add(ra, ra, rb, b->used);
    carry = units_addCarry(ra + b->used, n - b->used, carry);
    a->used = n;
    if (carry) {
        if (n >= VLONG_MAX_UNITS)
            return ERR_BAD_LENGTH;
        ra[n] = carry;
        a->used = n + 1;
    }
    return OK;
}

// |a| = ||a| - |b||; the sign flips when |b| > |a|.
MSTATUS subtractMagnitude(VLONG *a, const VLONG *b)
{
    if (a == b) {
        a->used = 0;
        a->negative = 0;
        return OK;
    }
    if (VLONG_compareMagnitude(a, b) >= 0) {
        uint32_t borrow = units_sub(a->units, a->units, b->units, b->used);
        for (uint32_t i = b->used; i < a->used && borrow; ++i) {
            borrow = a->units[i] == 0 ? 1 : 0;
            --a->units[i];
        }
    } else {
        if (MSTATUS st = vlong_reserve(a, b->used); st < 0)
            return st;
        std::memset(a->units + a->used, 0, size_t(b->used - a->used) * sizeof(uint32_t));
        units_sub(a->units, b->units, a->units, b->used);
        a->used = b->used;
        a->negative ^= 1;
    }
    vlong_normalize(a);
    return OK;
}

MSTATUS addSigned(VLONG *a, const VLONG *b, bool negateB)
{
    if (!a || !b)
        return ERR_NULL_POINTER;
    bool aNeg = a->negative && a->used;
    bool bNeg = (b->negative && b->used) != negateB;
    a->negative = aNeg;
    MSTATUS st = (aNeg == bNeg) ? addMagnitude(a, b) : subtractMagnitude(a, b);
    vlong_normalize(a);
    return st;
}

} // namespace

MSTATUS VLONG_add(VLONG *a, const VLONG *b)
{
    return addSigned(a, b, false);
}

MSTATUS VLONG_subtract(VLONG *a, const VLONG *b)
{
    if (a == b) {
        a->used = 0;
        a->negative = 0;
        return OK;
    }
    return addSigned(a, b, true);
}

MSTATUS VLONG_newDifference(const VLONG *a, const VLONG *b, VLONG **out, VLONG **queue)
{
    if (!a || !b || !out)
        return ERR_NULL_POINTER;
    VlongTemp t(queue);
    if (MSTATUS st = VLONG_makeCopy(a, &t.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_subtract(t.v, b); st < 0)
        return st;
    *out = t.release();
    return OK;
}

MSTATUS VLONG_addUnsigned(VLONG *a, uint32_t v)
{
    if (!a)
        return ERR_NULL_POINTER;
    uint32_t unit = v;
    VLONG small{&unit, 1, v ? 1u : 0u, 0, nullptr};
    return VLONG_add(a, &small);
}

MSTATUS VLONG_increment(VLONG *a)
{
    return VLONG_addUnsigned(a, 1);
}

MSTATUS VLONG_decrement(VLONG *a)
{
    if (!a)
        return ERR_NULL_POINTER;
    uint32_t unit = 1;
    VLONG one{&unit, 1, 1, 0, nullptr};
    return VLONG_subtract(a, &one);
}
