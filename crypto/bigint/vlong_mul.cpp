// Multiplication and squaring: the unrolled 8-unit kernels, Karatsuba for equal power-of-two
// sizes, and the product-scanning schoolbook method that can stop at a bit count.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Column accumulators of the product-scanning loops: sums of 32 x 32 -> 64-bit products. A
// column holds at most 2 * 8192 products (doubled cross products included), so no sum below
// overflows. Both forms cost one add with carry per accumulator word; which form a compiler
// turns into plain add-with-carry instructions differs:
//
// AccCarry keeps a 64-bit low word and a 32-bit word counting its overflows (three words,
// three registers); x86 compilers take the overflow test of the 64-bit sum from the carry
// flag, and three accumulator registers leave room for the pointers on a 32-bit x86.
struct AccCarry {
    uint64_t lo = 0;
    uint32_t hi = 0;
    inline void add(uint64_t p)
    {
        lo += p;
        hi += lo < p;
    }
    inline void mac(uint32_t a, uint32_t b) { add(uint64_t(a) * b); }
    inline void mac2(uint32_t a, uint32_t b)
    {
        uint64_t p = uint64_t(a) * b;
        add(p);
        add(p);
    }
    inline void addTwice(const AccCarry &o)
    {
        add(o.lo);
        add(o.lo);
        hi += 2 * o.hi;
    }
    inline uint32_t take()
    {
        uint32_t r = uint32_t(lo);
        lo = (lo >> 32) | (uint64_t(hi) << 32);
        hi = 0;
        return r;
    }
};

// AccHalves sums the low and the high halves of the products apart, each in 64 bits: adding
// a 32-bit value to a 64-bit sum is an add and an add of the carry on any 32-bit machine,
// where the 64-bit comparison of AccCarry becomes compare-and-branch code (GCC on 32-bit
// PowerPC, the board).
struct AccHalves {
    uint64_t low = 0, high = 0;
    inline void mac(uint32_t a, uint32_t b)
    {
        uint64_t p = uint64_t(a) * b;
        low += uint32_t(p);
        high += p >> 32;
    }
    inline void mac2(uint32_t a, uint32_t b)
    {
        mac(a, b);
        mac(a, b);
    }
    inline void addTwice(const AccHalves &o)
    {
        low += 2 * o.low;
        high += 2 * o.high;
    }
    inline uint32_t take()
    {
        uint32_t r = uint32_t(low);
        low = (low >> 32) + uint32_t(high);
        high >>= 32;
        return r;
    }
};

#if defined(__powerpc__)
using Acc = AccHalves;
#else
using Acc = AccCarry;
#endif

constexpr size_t KERNEL_UNITS = 8;
constexpr size_t KARATSUBA_MIN_UNITS = 16;
// Karatsuba scratch (4n units) lives on the stack up to this many units.
constexpr size_t STACK_SCRATCH_UNITS = 512;

bool isPowerOfTwo(size_t n)
{
    return n && (n & (n - 1)) == 0;
}

bool sameValue(const VLONG *a, const VLONG *b)
{
    return a == b ||
           (a->used == b->used && a->used && std::memcmp(a->units, b->units, size_t(a->used) * sizeof(uint32_t)) == 0);
}

// Scratch area for one Karatsuba call: on the stack when small, else on the heap. It holds
// differences and partial products of the operands, so it is cleared before it goes.
struct Scratch {
    uint32_t local[STACK_SCRATCH_UNITS];
    std::unique_ptr<uint32_t[], decltype(&std::free)> heap{nullptr, &std::free};
    uint32_t *area = nullptr;
    size_t size = 0;
    uint32_t *get(size_t units)
    {
        if (units <= STACK_SCRATCH_UNITS) {
            area = local;
        } else {
            heap.reset(static_cast<uint32_t *>(std::malloc(units * sizeof(uint32_t))));
            area = heap.get();
        }
        size = area ? units : 0;
        return area;
    }
    ~Scratch()
    {
        if (!area)
            return;
        std::memset(area, 0, size * sizeof(uint32_t));
        // Keeps the compiler from dropping the clearing of memory that is about to die.
        __asm__ __volatile__("" : : "r"(area) : "memory");
    }
};

} // namespace

// ---- Kernels -----------------------------------------------------------------------------

void units_mul8(uint32_t *r, const uint32_t *a, const uint32_t *b)
{
    Acc acc;
#pragma GCC unroll 16
    for (size_t k = 0; k < 2 * KERNEL_UNITS - 1; ++k) {
#pragma GCC unroll 8
        for (size_t i = 0; i < KERNEL_UNITS; ++i) {
            if (i <= k && k - i < KERNEL_UNITS)
                acc.mac(a[i], b[k - i]);
        }
        r[k] = acc.take();
    }
    r[2 * KERNEL_UNITS - 1] = acc.take();
}

void units_sqr8(uint32_t *r, const uint32_t *a)
{
    Acc acc;
#pragma GCC unroll 16
    for (size_t k = 0; k < 2 * KERNEL_UNITS - 1; ++k) {
        // cross products a[i] * a[k - i], i < k - i, summed once and added twice
        Acc cross;
#pragma GCC unroll 8
        for (size_t i = 0; i < KERNEL_UNITS; ++i) {
            size_t j = k - i;
            if (i <= k && j < KERNEL_UNITS && i < j)
                cross.mac(a[i], a[j]);
        }
        acc.addTwice(cross);
        if (k % 2 == 0)
            acc.mac(a[k / 2], a[k / 2]);
        r[k] = acc.take();
    }
    r[2 * KERNEL_UNITS - 1] = acc.take();
}

namespace {

// Adds a[i] * b[k - i] for `count` consecutive i: pa = a + i0, pb = b + (k - i0). The loop
// keeps nothing live but the two pointers and the accumulator (its bound stays in memory),
// so that with the two registers a 32 x 32-bit multiplication needs it fits the seven of a
// 32-bit x86.
inline void macColumn(Acc &acc, const uint32_t *pa, const uint32_t *pb, size_t count)
{
    const uint32_t *end = pa + count;
    for (const uint32_t *end4 = pa + (count & ~size_t(3)); pa != end4; pa += 4, pb -= 4) {
        acc.mac(pa[0], pb[0]);
        acc.mac(pa[1], pb[-1]);
        acc.mac(pa[2], pb[-2]);
        acc.mac(pa[3], pb[-3]);
    }
    for (; pa != end; ++pa, --pb)
        acc.mac(*pa, *pb);
}

// Column k of a * b: the products a[i] * b[k - i] with i0 <= i <= i1.
inline void macProductColumn(Acc &acc, const uint32_t *a, size_t an, const uint32_t *b, size_t bn, size_t k)
{
    size_t i0 = k >= bn ? k - bn + 1 : 0;
    size_t i1 = k < an ? k : an - 1;
    if (i0 <= i1)
        macColumn(acc, a + i0, b + (k - i0), i1 - i0 + 1);
}

} // namespace

void units_mulLow(uint32_t *r, const uint32_t *a, size_t an, const uint32_t *b, size_t bn,
                  size_t outUnits)
{
    Acc acc;
    for (size_t k = 0; k < outUnits; ++k) {
        macProductColumn(acc, a, an, b, bn, k);
        r[k] = acc.take();
    }
}

void units_mulHigh(uint32_t *r, const uint32_t *a, size_t an, const uint32_t *b, size_t bn,
                   size_t firstColumn)
{
    Acc acc;
    size_t columns = an + bn;
    for (size_t k = firstColumn; k < columns; ++k) {
        macProductColumn(acc, a, an, b, bn, k);
        r[k - firstColumn] = acc.take();
    }
}

void units_sqrLow(uint32_t *r, const uint32_t *a, size_t n, size_t outUnits)
{
    Acc acc;
    for (size_t k = 0; k < outUnits; ++k) {
        // cross products a[i] * a[k - i] with i < k - i, summed once and added twice
        size_t i0 = k >= n ? k - n + 1 : 0;
        size_t iEnd = (k + 1) / 2; // first i with 2i >= k
        if (i0 < iEnd) {
            Acc cross;
            macColumn(cross, a + i0, a + (k - i0), iEnd - i0);
            acc.addTwice(cross);
        }
        if (k % 2 == 0 && k / 2 < n)
            acc.mac(a[k / 2], a[k / 2]);
        r[k] = acc.take();
    }
}

// ---- Karatsuba ----------------------------------------------------------------------------

namespace {

// Adds a signed carry into r[from..to); the total is known to fit, so it dies out.
void propagate(uint32_t *r, size_t from, size_t to, int64_t carry)
{
    for (size_t i = from; carry != 0 && i < to; ++i) {
        carry += r[i];
        r[i] = uint32_t(carry);
        carry >>= 32;
    }
}

// Karatsuba combination in one pass. r[0..4h) holds lo = L0|L1 and hi = H0|H1 (h units
// each); the product is lo + b^h * (lo + hi + SIGN * mid) + b^(2h) * hi, that is with
// T = L1 + H0: units h.. get T + L0 + SIGN * mid_lo, units 2h.. get T + H1 + SIGN * mid_hi,
// units 3h.. keep H1, each with the carries of the part below. Unit i of every quarter is
// read and written in step i only, so the work can be done in place. SIGN is a template
// argument so that the loop carries no test of it.
template <int SIGN>
void combineMiddle(uint32_t *__restrict r, size_t h, const uint32_t *__restrict mid)
{
    uint32_t *l0 = r, *l1 = r + h, *h0 = r + 2 * h, *h1 = r + 3 * h;
    const uint32_t *m0 = mid, *m1 = mid + h;
    uint64_t carryT = 0;
    int64_t carryA = 0, carryB = 0;
    for (size_t i = 0; i < h; ++i) {
        carryT += uint64_t(l1[i]) + h0[i];
        int64_t t = int64_t(uint32_t(carryT));
        carryT >>= 32;
        int64_t a = t + l0[i] + carryA;
        int64_t b = t + h1[i] + carryB;
        if constexpr (SIGN > 0) {
            a += m0[i];
            b += m1[i];
        } else if constexpr (SIGN < 0) {
            a -= m0[i];
            b -= m1[i];
        }
        l1[i] = uint32_t(a);
        h0[i] = uint32_t(b);
        carryA = a >> 32;
        carryB = b >> 32;
    }
    // T's own carry belongs to both sums, at units 2h and 3h.
    propagate(r, 2 * h, 4 * h, carryA + int64_t(carryT));
    propagate(r, 3 * h, 4 * h, carryB + int64_t(carryT));
}

void combineMiddle(uint32_t *r, size_t h, const uint32_t *mid, int sign)
{
    if (sign > 0)
        combineMiddle<1>(r, h, mid);
    else if (sign < 0)
        combineMiddle<-1>(r, h, mid);
    else
        combineMiddle<0>(r, h, mid);
}

// t = |x - y| over h units; returns the sign of x - y.
int absDifference(uint32_t *t, const uint32_t *x, const uint32_t *y, size_t h)
{
    int c = units_compare(x, y, h);
    if (c >= 0)
        units_sub(t, x, y, h);
    else
        units_sub(t, y, x, h);
    return c;
}

} // namespace

void units_karatsuba(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t n, uint32_t *t)
{
    if (n == KERNEL_UNITS) {
        units_mul8(r, a, b);
        return;
    }
    size_t h = n / 2;
    units_karatsuba(r, a, b, h, t);             // lo = a_lo * b_lo in r[0..n)
    units_karatsuba(r + n, a + h, b + h, h, t); // hi = a_hi * b_hi in r[n..2n)

    // t[0..h) = |a_lo - a_hi|, t[h..n) = |b_hi - b_lo|; their product, added or subtracted
    // by the signs, turns lo + hi into the middle term a_lo*b_hi + a_hi*b_lo.
    int ca = absDifference(t, a, a + h, h);
    int cb = absDifference(t + h, b + h, b, h);
    int sign = ca * cb; // zero when a half pair is equal: no middle product
    if (sign)
        units_karatsuba(t + n, t, t + h, h, t + 2 * n);
    combineMiddle(r, h, t + n, sign);
}

namespace {

// The Karatsuba square for a size known at compile time (the RSA sizes): the combination
// and difference loops then have constant bounds, and the compiler unrolls the small ones.
template <size_t N>
void karatsubaSquareFixed(uint32_t *r, const uint32_t *a, uint32_t *t)
{
    if constexpr (N == KERNEL_UNITS) {
        units_sqr8(r, a);
    } else {
        constexpr size_t H = N / 2;
        karatsubaSquareFixed<H>(r, a, t);
        karatsubaSquareFixed<H>(r + N, a + H, t);
        // middle term 2*a_lo*a_hi = lo + hi - (a_lo - a_hi)^2
        int ca = absDifference(t, a, a + H, H);
        if (ca != 0) {
            karatsubaSquareFixed<H>(t + N, t, t + 2 * N);
            combineMiddle<-1>(r, H, t + N);
        } else {
            combineMiddle<0>(r, H, t + N);
        }
    }
}

} // namespace

void units_karatsubaSquare(uint32_t *r, const uint32_t *a, size_t n, uint32_t *t)
{
    switch (n) {
    case 16:
        return karatsubaSquareFixed<16>(r, a, t);
    case 32:
        return karatsubaSquareFixed<32>(r, a, t);
    case 64:
        return karatsubaSquareFixed<64>(r, a, t);
    case 128:
        return karatsubaSquareFixed<128>(r, a, t);
    default:
        break;
    }
    if (n == KERNEL_UNITS) {
        units_sqr8(r, a);
        return;
    }
    size_t h = n / 2;
    units_karatsubaSquare(r, a, h, t);
    units_karatsubaSquare(r + n, a + h, h, t);

    // middle term 2*a_lo*a_hi = lo + hi - (a_lo - a_hi)^2
    int ca = absDifference(t, a, a + h, h);
    if (ca != 0) {
        units_karatsubaSquare(t + n, t, h, t + 2 * n);
        combineMiddle<-1>(r, h, t + n);
    } else {
        combineMiddle<0>(r, h, t + n);
    }
}

// ---- Entry points ----------------------------------------------------------------------------

namespace {

// a * b, or a^2 when b is null; the common strategy of multiply and square.
MSTATUS multiplyOrSquare(VLONG *result, const VLONG *a, const VLONG *b, uint32_t bits)
{
    bool square = b == nullptr || sameValue(a, b);
    const VLONG *bb = b ? b : a;
    if (a->used == 0 || bb->used == 0 || bits == 0) {
        result->used = 0;
        result->negative = 0;
        return OK;
    }
    size_t an = a->used, bn = bb->used;
    uint64_t full = uint64_t(VLONG_bitLength(a)) + VLONG_bitLength(bb);
    uint64_t outUnits = (uint64_t(bits) + 31) / 32;
    if (outUnits > an + bn)
        outUnits = an + bn;

    if (bits == full && an == bn && (an == KERNEL_UNITS || (isPowerOfTwo(an) && an >= KARATSUBA_MIN_UNITS))) {
        if (MSTATUS st = vlong_reserveFresh(result, uint32_t(2 * an)); st < 0)
            return st;
        if (an == KERNEL_UNITS) {
            if (square)
                units_sqr8(result->units, a->units);
            else
                units_mul8(result->units, a->units, bb->units);
        } else {
            Scratch scratch;
            uint32_t *t = scratch.get(4 * an);
            if (!t)
                return ERR_MEM_ALLOC;
            if (square)
                units_karatsubaSquare(result->units, a->units, an, t);
            else
                units_karatsuba(result->units, a->units, bb->units, an, t);
        }
        result->used = uint32_t(2 * an);
    } else {
        if (outUnits > VLONG_MAX_UNITS)
            return ERR_BAD_LENGTH;
        if (MSTATUS st = vlong_reserveFresh(result, uint32_t(outUnits)); st < 0)
            return st;
        if (square)
            units_sqrLow(result->units, a->units, an, outUnits);
        else
            units_mulLow(result->units, a->units, an, bb->units, bn, outUnits);
        // Clear the bits of the top unit above `bits`.
        if (bits % 32 && outUnits == (uint64_t(bits) + 31) / 32)
            result->units[outUnits - 1] &= (1u << (bits % 32)) - 1;
        result->used = uint32_t(outUnits);
    }
    result->negative = 0;
    vlong_normalize(result);
    return OK;
}

} // namespace

namespace {

// Runs the product into a temporary when the result is also an operand (its units are
// replaced before the operands are read), then moves it into place.
MSTATUS multiplyAliased(VLONG *result, const VLONG *a, const VLONG *b, uint32_t bits)
{
    VlongTemp t(nullptr);
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = multiplyOrSquare(t.v, a, b, bits); st < 0)
        return st;
    vlong_swap(result, t.v);
    return OK;
}

} // namespace

MSTATUS VLONG_multiply(VLONG *result, const VLONG *a, const VLONG *b, uint32_t bits)
{
    if (!result || !a || !b)
        return ERR_NULL_POINTER;
    if (result == a || result == b)
        return multiplyAliased(result, a, b, bits);
    return multiplyOrSquare(result, a, b, bits);
}

MSTATUS VLONG_square(VLONG *result, const VLONG *a, uint32_t bits)
{
    if (!result || !a)
        return ERR_NULL_POINTER;
    if (result == a)
        return multiplyAliased(result, a, nullptr, bits);
    return multiplyOrSquare(result, a, nullptr, bits);
}
