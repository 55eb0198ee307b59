// Division (Knuth's Algorithm D), remainder, quotient, gcd and the modular inverse.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <cstring>
#include <initializer_list>

uint32_t units_divide(uint32_t *q, uint32_t *u, size_t m, uint32_t *v, size_t n)
{
    if (n == 1) {
        uint64_t rem = 0;
        for (size_t i = m + 1; i-- > 0;) {
            uint64_t cur = (rem << 32) | u[i];
            q[i] = uint32_t(cur / v[0]);
            rem = cur % v[0];
        }
        u[0] = uint32_t(rem);
        return 0;
    }

    // Normalise: shift divisor and dividend left until the divisor's top bit is set.
    unsigned s = unsigned(__builtin_clz(v[n - 1]));
    if (s) {
        for (size_t i = n - 1; i > 0; --i)
            v[i] = (v[i] << s) | (v[i - 1] >> (32 - s));
        v[0] <<= s;
        u[m + n] = u[m + n - 1] >> (32 - s);
        for (size_t i = m + n - 1; i > 0; --i)
            u[i] = (u[i] << s) | (u[i - 1] >> (32 - s));
        u[0] <<= s;
    } else {
        u[m + n] = 0;
    }

    const uint64_t b = uint64_t(1) << 32;
    const uint64_t vTop = v[n - 1], vNext = v[n - 2];
    uint32_t addBacks = 0;
    for (size_t j = m + 1; j-- > 0;) {
        // Estimate from the top two remainder units and the top divisor unit (all ones
        // when the top units are equal), refined with the next divisor unit.
        uint64_t top2 = (uint64_t(u[j + n]) << 32) | u[j + n - 1];
        uint64_t qhat, rhat;
        if (u[j + n] >= vTop) {
            qhat = b - 1;
            rhat = top2 - qhat * vTop;
        } else {
            qhat = top2 / vTop;
            rhat = top2 % vTop;
        }
        while (rhat < b && qhat * vNext > ((rhat << 32) | u[j + n - 2])) {
            --qhat;
            rhat += vTop;
        }

        // Multiply back and subtract: u[j..j+n] -= qhat * v. The borrow of each unit joins
        // the product carry as the amount still to take from the next unit; it stays below
        // b because qhat * v[i] + carry <= (b - 1)^2 + (b - 1).
        uint64_t carry = 0;
        uint32_t *uj = u + j;
        size_t i = 0;
        for (; i + 2 <= n; i += 2) {
            uint64_t p0 = qhat * v[i] + carry;
            uint32_t low0 = uint32_t(p0), unit0 = uj[i];
            uj[i] = unit0 - low0;
            uint64_t p1 = qhat * v[i + 1] + (p0 >> 32) + (unit0 < low0);
            uint32_t low1 = uint32_t(p1), unit1 = uj[i + 1];
            uj[i + 1] = unit1 - low1;
            carry = (p1 >> 32) + (unit1 < low1);
        }
        if (i < n) {
            uint64_t p = qhat * v[i] + carry;
            uint32_t low = uint32_t(p), unit = uj[i];
            uj[i] = unit - low;
            carry = (p >> 32) + (unit < low);
        }
        uint32_t top = u[j + n];
        u[j + n] = uint32_t(top - carry);
        bool negative = uint64_t(top) < carry;
        if (negative) {
            // The estimate was one too large: add the divisor back.
            --qhat;
            ++addBacks;
            u[j + n] += units_add(u + j, u + j, v, n);
        }
        q[j] = uint32_t(qhat);
    }

    // Undo the normalisation of remainder and divisor.
    if (s) {
        for (size_t i = 0; i < n; ++i)
            u[i] = (u[i] >> s) | (u[i + 1] << (32 - s));
        for (size_t i = 0; i + 1 < n; ++i)
            v[i] = (v[i] >> s) | (v[i + 1] << (32 - s));
        v[n - 1] >>= s;
    }
    return addBacks;
}

MSTATUS VLONG_divide(VLONG *quotient, const VLONG *dividend, const VLONG *divisor,
                     VLONG *remainder, VLONG **queue)
{
    if (!quotient || !dividend || !divisor || quotient == remainder)
        return ERR_NULL_POINTER;
    if (divisor->used == 0)
        return ERR_DIVIDE_BY_ZERO;
    if (VLONG_compareMagnitude(dividend, divisor) < 0) {
        if (remainder && remainder != dividend) {
            if (MSTATUS st = vlong_copyMagnitude(remainder, dividend); st < 0)
                return st;
        } else if (remainder) {
            remainder->negative = 0;
        }
        VLONG_clear(quotient);
        return OK;
    }

    size_t n = divisor->used, m = dividend->used - divisor->used;
    // Work on private copies so that the outputs may alias the inputs.
    VlongTemp u(queue), v(queue), q(queue);
    if (MSTATUS st = u.alloc(); st < 0)
        return st;
    if (MSTATUS st = v.alloc(); st < 0)
        return st;
    if (MSTATUS st = q.alloc(); st < 0)
        return st;
    if (MSTATUS st = vlong_reserveFresh(u.v, uint32_t(m + n + 1)); st < 0)
        return st;
    if (MSTATUS st = vlong_reserveFresh(v.v, uint32_t(n)); st < 0)
        return st;
    if (MSTATUS st = vlong_reserveFresh(q.v, uint32_t(m + 1)); st < 0)
        return st;
    std::memcpy(u.v->units, dividend->units, (m + n) * sizeof(uint32_t));
    u.v->units[m + n] = 0;
    std::memcpy(v.v->units, divisor->units, n * sizeof(uint32_t));

    units_divide(q.v->units, u.v->units, m, v.v->units, n);

    q.v->used = uint32_t(m + 1);
    vlong_normalize(q.v);
    u.v->used = uint32_t(n);
    vlong_normalize(u.v);
    vlong_swap(quotient, q.v);
    quotient->negative = 0;
    if (remainder) {
        vlong_swap(remainder, u.v);
        remainder->negative = 0;
    }
    return OK;
}

MSTATUS vlong_reduce(VLONG *a, const VLONG *m, VLONG **queue)
{
    VlongTemp q(queue);
    if (MSTATUS st = q.alloc(); st < 0)
        return st;
    return VLONG_divide(q.v, a, m, a, queue);
}

MSTATUS VLONG_mod(const VLONG *a, const VLONG *m, VLONG **out, VLONG **queue)
{
    if (!a || !m || !out)
        return ERR_NULL_POINTER;
    VlongTemp q(queue), r(queue);
    if (MSTATUS st = q.alloc(); st < 0)
        return st;
    if (MSTATUS st = r.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_divide(q.v, a, m, r.v, queue); st < 0)
        return st;
    r.v->negative = (a->negative && r.v->used) ? 1 : 0;
    *out = r.release();
    return OK;
}

MSTATUS VLONG_quotient(const VLONG *a, const VLONG *m, VLONG **out, VLONG **queue)
{
    if (!a || !m || !out)
        return ERR_NULL_POINTER;
    VlongTemp q(queue);
    if (MSTATUS st = q.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_divide(q.v, a, m, nullptr, queue); st < 0)
        return st;
    bool neg = (a->negative && a->used) != (m->negative && m->used);
    q.v->negative = (neg && q.v->used) ? 1 : 0;
    *out = q.release();
    return OK;
}

MSTATUS VLONG_gcd(const VLONG *a, const VLONG *b, VLONG **out, VLONG **queue)
{
    if (!a || !b || !out)
        return ERR_NULL_POINTER;
    VlongTemp x(queue), y(queue), q(queue);
    if (MSTATUS st = VLONG_makeCopy(a, &x.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(b, &y.v, queue); st < 0)
        return st;
    if (MSTATUS st = q.alloc(); st < 0)
        return st;
    x.v->negative = y.v->negative = 0;
    // gcd(x, y) = gcd(y, x mod y) until y is zero.
    while (y.v->used) {
        if (MSTATUS st = VLONG_divide(q.v, x.v, y.v, x.v, queue); st < 0)
            return st;
        vlong_swap(x.v, y.v);
    }
    *out = x.release();
    return OK;
}

namespace {

// v = v / 2 for a signed even value.
MSTATUS halve(VLONG *v)
{
    return VLONG_shrXvlong(v, 1);
}

bool isEven(const VLONG *v)
{
    return !VLONG_testBit(v, 0);
}

} // namespace

// Binary extended Euclid (HAC 14.61) on x = a mod m and y = m: keeps A*x + B*y = u and
// C*x + D*y = v while halving even values and subtracting the smaller from the larger.
// When v ends at 1, C is the inverse of x.
MSTATUS VLONG_modularInverse(const VLONG *a, const VLONG *m, VLONG **out, VLONG **queue)
{
    if (!a || !m || !out)
        return ERR_NULL_POINTER;
    if (m->used == 0)
        return ERR_DIVIDE_BY_ZERO;
    VlongTemp x(queue), y(queue), u(queue), v(queue), A(queue), B(queue), C(queue), D(queue);
    if (MSTATUS st = VLONG_mod(a, m, &x.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(m, &y.v, queue); st < 0)
        return st;
    y.v->negative = 0;
    if (x.v->negative) { // bring a negative remainder into [0, m)
        x.v->negative = 1;
        if (MSTATUS st = VLONG_add(x.v, y.v); st < 0)
            return st;
    }
    if (VLONG_compareUnsigned(y.v, 1) == 0) { // everything is congruent mod 1
        VLONG_clear(x.v);
        *out = x.release();
        return OK;
    }
    if (x.v->used == 0 || (isEven(x.v) && isEven(y.v)))
        return ERR_NO_INVERSE;

    for (VlongTemp *t : {&A, &B, &C, &D})
        if (MSTATUS st = t->alloc(); st < 0)
            return st;
    if (MSTATUS st = VLONG_makeCopy(x.v, &u.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_makeCopy(y.v, &v.v, queue); st < 0)
        return st;
    VLONG_setUnit(A.v, 0, 1);
    VLONG_setUnit(D.v, 0, 1);

    // Halves w (with its coefficient pair P, Q) while it is even, keeping P*x + Q*y = w.
    auto reduce = [&](VLONG *w, VLONG *P, VLONG *Q) -> MSTATUS {
        while (w->used && isEven(w)) {
            if (MSTATUS st = halve(w); st < 0)
                return st;
            if (!isEven(P) || !isEven(Q)) {
                if (MSTATUS st = VLONG_add(P, y.v); st < 0)
                    return st;
                if (MSTATUS st = VLONG_subtract(Q, x.v); st < 0)
                    return st;
            }
            if (MSTATUS st = halve(P); st < 0)
                return st;
            if (MSTATUS st = halve(Q); st < 0)
                return st;
        }
        return OK;
    };

    while (u.v->used) {
        if (MSTATUS st = reduce(u.v, A.v, B.v); st < 0)
            return st;
        if (MSTATUS st = reduce(v.v, C.v, D.v); st < 0)
            return st;
        MSTATUS st;
        if (VLONG_compareMagnitude(u.v, v.v) >= 0) {
            if ((st = VLONG_subtract(u.v, v.v)) < 0 || (st = VLONG_subtract(A.v, C.v)) < 0 ||
                (st = VLONG_subtract(B.v, D.v)) < 0)
                return st;
        } else {
            if ((st = VLONG_subtract(v.v, u.v)) < 0 || (st = VLONG_subtract(C.v, A.v)) < 0 ||
                (st = VLONG_subtract(D.v, B.v)) < 0)
                return st;
        }
    }
    if (VLONG_compareUnsigned(v.v, 1) != 0)
        return ERR_NO_INVERSE;

    // C may lie outside [0, m): reduce it.
    VlongTemp r(queue);
    if (MSTATUS st = VLONG_mod(C.v, y.v, &r.v, queue); st < 0)
        return st;
    if (r.v->negative) {
        if (MSTATUS st = VLONG_add(r.v, y.v); st < 0)
            return st;
    }
    *out = r.release();
    return OK;
}
