// Helpers shared by the vlong_*.cpp files: unit-array growth, normalisation, temporaries
// released on every path, and the raw multiply/divide kernels over unit arrays. Only the
// big-integer module and its tests include this header.
#pragma once

#include "crypto/bigint/vlong.h"

#include <cstddef>
#include <cstdint>

// Grows a to hold `units` units keeping its value (allocates units + 3).
MSTATUS vlong_reserve(VLONG *a, uint32_t units);
// Grows a to hold `units` units for a result about to be written (allocates units + 1,
// drops the old value: used becomes 0).
MSTATUS vlong_reserveFresh(VLONG *a, uint32_t units);
// Strips zero units from the top and clears the sign of zero.
void vlong_normalize(VLONG *a);
// Sets a to the magnitude in units[0..count) (count may include leading zeros).
MSTATUS vlong_assignUnits(VLONG *a, const uint32_t *units, uint32_t count);
// Exchanges the values (units, capacity, used, sign) of two records.
void vlong_swap(VLONG *a, VLONG *b);
// Sets a = |b| (a may be b).
MSTATUS vlong_copyMagnitude(VLONG *a, const VLONG *b);
// a = |a| mod m.
MSTATUS vlong_reduce(VLONG *a, const VLONG *m, VLONG **queue);
// Overwrites count units with 0x67 in a way the compiler keeps.
void vlong_wipeUnits(uint32_t *units, uint32_t count);

// A temporary released (to its queue) when it goes out of scope.
struct VlongTemp {
    VLONG *v = nullptr;
    VLONG **queue = nullptr;
    explicit VlongTemp(VLONG **q) : queue(q) {}
    VlongTemp(const VlongTemp &) = delete;
    VlongTemp &operator=(const VlongTemp &) = delete;
    ~VlongTemp()
    {
        if (v)
            VLONG_freeVlong(&v, queue);
    }
    MSTATUS alloc() { return VLONG_allocVlong(&v, queue); }
    VLONG *release()
    {
        VLONG *out = v;
        v = nullptr;
        return out;
    }
};

// ---- Raw magnitude kernels (units least significant first) -------------------------------
// r[0..n) = a + b, returns the carry. r may alias a or b.
uint32_t units_add(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t n);
// r[0..n) = a - b, returns the borrow. r may alias a or b.
uint32_t units_sub(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t n);
// Adds c into r[0..n), returns the carry out.
uint32_t units_addCarry(uint32_t *r, size_t n, uint32_t c);
// Compares two n-unit magnitudes.
int units_compare(const uint32_t *a, const uint32_t *b, size_t n);

// Product scanning: r[0..outUnits) = low outUnits units of a[0..an) * b[0..bn).
void units_mulLow(uint32_t *r, const uint32_t *a, size_t an, const uint32_t *b, size_t bn,
                  size_t outUnits);
// r[0..outUnits) = low outUnits units of a[0..n)^2 (cross products doubled).
void units_sqrLow(uint32_t *r, const uint32_t *a, size_t n, size_t outUnits);
// Columns from `firstColumn` up of a * b: r[0..an+bn-firstColumn) = the product's units from
// firstColumn up, with the carries of the lower columns ignored (so the value may be short by
// at most the number of lower columns). Used where only a high part is needed (Barrett).
void units_mulHigh(uint32_t *r, const uint32_t *a, size_t an, const uint32_t *b, size_t bn,
                   size_t firstColumn);
// 8 x 8 units -> 16 units and the 8-unit square, fully unrolled.
void units_mul8(uint32_t *r, const uint32_t *a, const uint32_t *b);
void units_sqr8(uint32_t *r, const uint32_t *a);
// Karatsuba for n a power of two >= 8: r[0..2n) = a * b (or a^2), scratch of 4n units.
void units_karatsuba(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t n, uint32_t *scratch);
void units_karatsubaSquare(uint32_t *r, const uint32_t *a, size_t n, uint32_t *scratch);

// Knuth division of u[0..m+n) by v[0..n) (v[n-1] != 0, n >= 2 or n == 1): q[0..m+1) the
// quotient, u is replaced by the remainder in u[0..n). u must have room for m+n+1 units and
// v is normalised in place (restored before return). Returns the number of add-back
// corrections performed (tests use it to prove the rare step ran).
uint32_t units_divide(uint32_t *q, uint32_t *u, size_t m, uint32_t *v, size_t n);

// The Montgomery sliding-window exponentiation of modexp, callable for any exponent so that
// every window width can be exercised; n must be odd and above 1.
MSTATUS vlong_modexpMontgomery(const VLONG *x, const VLONG *e, const VLONG *n, VLONG **result,
                               VLONG **queue);
// Window width (0 = plain binary) used for an exponent of the given bit length.
uint32_t vlong_windowWidth(uint32_t exponentBits);
