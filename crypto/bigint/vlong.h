// Arbitrary-precision integers (VLONG): sign and magnitude over 32-bit units, the vlong
// queue that recycles temporaries, arithmetic, division, Barrett and Montgomery reduction
// and modular exponentiation. Relies only on the C library allocator; called by RSA and
// by the key readers.
#pragma once

#include "crypto/common/status.h"

#include <cstdint>

// One integer. units[0] is the least significant unit; the top used unit is never zero.
struct VLONG {
    uint32_t *units;   // may be null when capacity is 0
    uint32_t capacity; // units allocated
    uint32_t used;     // significant units; 0 is the value zero
    uint32_t negative; // 1 for a negative value; a negative zero compares as zero
    VLONG *next;       // link while parked in a vlong queue
};

inline constexpr uint32_t VLONG_MAX_UNITS = 8192;

// Montgomery reduction constants of an odd modulus n: R = 2^k is the smallest power of two
// not below n, Rinv = R^-1 mod n, nPrime = -n^-1 mod R.
struct MontgomeryContext {
    uint32_t k;
    VLONG *R;
    VLONG *Rinv;
    VLONG *n;
    VLONG *nPrime;
};

// ---- Creation, release, queue ----------------------------------------------------------
// A queue is a caller-held head pointer (starting null) to released records. Every `queue`
// argument may be null: records are then allocated and freed directly.

// New zero value, taken from the queue when it is not empty.
MSTATUS VLONG_allocVlong(VLONG **out, VLONG **queue);
// With a queue the record is parked on it; without, every unit is overwritten with 0x67
// and the memory freed. *ref becomes null. -6001 when ref or *ref is null.
MSTATUS VLONG_freeVlong(VLONG **ref, VLONG **queue);
// Wipes and frees every parked record; the head becomes null.
MSTATUS VLONG_freeVlongQueue(VLONG **queueHead);

// ---- Conversions -----------------------------------------------------------------------
MSTATUS VLONG_vlongFromUnsigned(uint32_t value, VLONG **out, VLONG **queue);
// Non-negative value of a big-endian byte string; -6003 for a negative length.
MSTATUS VLONG_vlongFromByteString(const uint8_t *bytes, int32_t length, VLONG **out, VLONG **queue);
// Null buffer: *length = minimal byte length (0 for zero). Otherwise *length is the buffer
// size; the value is written right-aligned with leading zero bytes; -6007 (buffer untouched)
// when it does not fit. The sign is ignored.
MSTATUS VLONG_byteStringFromVlong(const VLONG *value, uint8_t *buffer, int32_t *length);
MSTATUS VLONG_makeCopy(const VLONG *source, VLONG **out, VLONG **queue);

// Length-prefixed signed integer: 4-byte big-endian length L, then L bytes of big-endian
// two's complement. *consumed = L + 4. -6003 when fewer than 4 bytes are available or L
// runs past them. Content 80 00 .. 00 reads as -2^(8L-1).
MSTATUS VLONG_newFromMpint(const uint8_t *bytes, uint32_t available, VLONG **out,
                           uint32_t *consumed, VLONG **queue = nullptr);
// Writes the minimal length-prefixed form into a new malloc'ed buffer (release with free):
// a 00 (FF) sign byte only where the top bit would otherwise read wrong, so -2^(8L-1) is
// written as 80 00 .. 00 and reads back the same. -6101 when memory is exhausted.
MSTATUS VLONG_mpintFromVlong(const VLONG *value, uint8_t **bytesOut, uint32_t *lengthOut);

// ---- Queries and small operations --------------------------------------------------------
uint32_t VLONG_bitLength(const VLONG *a);
bool VLONG_isZero(const VLONG *a);
uint32_t VLONG_getUnit(const VLONG *a, uint32_t index);
bool VLONG_testBit(const VLONG *a, uint32_t bit);
MSTATUS VLONG_setUnit(VLONG *a, uint32_t index, uint32_t value);
MSTATUS VLONG_setBit(VLONG *a, uint32_t bit);
MSTATUS VLONG_clear(VLONG *a);

// Comparisons return 1, 0 or -1.
int VLONG_compareMagnitude(const VLONG *a, const VLONG *b);
int VLONG_compareSigned(const VLONG *a, const VLONG *b);
// -1 for any value with the negative flag set, else by magnitude against v.
int VLONG_compareUnsigned(const VLONG *a, uint32_t v);

// In-place shifts of the magnitude.
MSTATUS VLONG_shlXvlong(VLONG *a, uint32_t bits);
MSTATUS VLONG_shlVlong(VLONG *a);
MSTATUS VLONG_shrXvlong(VLONG *a, uint32_t bits);
MSTATUS VLONG_shrVlong(VLONG *a);

// ---- Addition ------------------------------------------------------------------------------
MSTATUS VLONG_add(VLONG *a, const VLONG *b);      // a = a + b, signed (b may be a)
MSTATUS VLONG_subtract(VLONG *a, const VLONG *b); // a = a - b, signed (b may be a)
MSTATUS VLONG_newDifference(const VLONG *a, const VLONG *b, VLONG **out, VLONG **queue);
MSTATUS VLONG_addUnsigned(VLONG *a, uint32_t v); // signed a + v
MSTATUS VLONG_increment(VLONG *a);
MSTATUS VLONG_decrement(VLONG *a);

// ---- Multiplication ------------------------------------------------------------------------
// result = |a| * |b| mod 2^bits, non-negative. result may be a or b (the product is then
// formed in a temporary first).
MSTATUS VLONG_multiply(VLONG *result, const VLONG *a, const VLONG *b, uint32_t bits);
MSTATUS VLONG_square(VLONG *result, const VLONG *a, uint32_t bits);

// ---- Division --------------------------------------------------------------------------------
// Quotient and non-negative remainder of the magnitudes. quotient is required, remainder
// may be null; either may be the same record as dividend or divisor, but not the same as
// each other (-6001). -6002 for a zero divisor.
MSTATUS VLONG_divide(VLONG *quotient, const VLONG *dividend, const VLONG *divisor,
                     VLONG *remainder, VLONG **queue);
// New remainder of a / m carrying the sign of a.
MSTATUS VLONG_mod(const VLONG *a, const VLONG *m, VLONG **out, VLONG **queue);
// New quotient of a / m, sign(a) xor sign(m).
MSTATUS VLONG_quotient(const VLONG *a, const VLONG *m, VLONG **out, VLONG **queue);
// New gcd of the magnitudes (gcd(0, 0) = 0).
MSTATUS VLONG_gcd(const VLONG *a, const VLONG *b, VLONG **out, VLONG **queue);
// New a^-1 mod m in [0, m). -6002 for m = 0; ERR_NO_INVERSE (-6005) when gcd(a, m) != 1,
// in which case nothing is returned. Modulo 1 every value is 0, so the result is 0.
MSTATUS VLONG_modularInverse(const VLONG *a, const VLONG *m, VLONG **out, VLONG **queue);

// ---- Modular reduction -----------------------------------------------------------------------
// mu = floor(b^(2k) / n), k = used units of n.
MSTATUS VLONG_barrettMu(VLONG **out, const VLONG *n, VLONG **queue);
// result = a * b mod n (magnitudes); mu must be VLONG_barrettMu of n. result may be a or
// b. Operands of any size are accepted: products at or above b^(2k) are reduced by division.
MSTATUS VLONG_barrettMultiply(VLONG *result, const VLONG *a, const VLONG *b, const VLONG *n,
                              const VLONG *mu, VLONG **queue);

// Context of an odd modulus above 1; -6004 for a zero, even or unit modulus.
MSTATUS VLONG_createMontgomeryContext(MontgomeryContext **out, const VLONG *n, VLONG **queue);
MSTATUS VLONG_freeMontgomeryContext(MontgomeryContext **ref, VLONG **queue);
MSTATUS VLONG_copyMontgomeryContext(MontgomeryContext **out, const MontgomeryContext *source,
                                    VLONG **queue);
// x = REDC(x^2) and x = REDC(x * y), in place. x (and y) must be below n.
MSTATUS VLONG_montgomerySquare(const MontgomeryContext *ctx, VLONG *x, VLONG **queue = nullptr);
MSTATUS VLONG_montgomeryMultiply(const MontgomeryContext *ctx, VLONG *x, const VLONG *y,
                                 VLONG **queue = nullptr);
// Byte form: version 1, k (4 bytes BE), then R, Rinv, n, nPrime each as a 4-byte BE length
// and magnitude bytes. *length: buffer size in, needed size out; null buffer only measures;
// -6007 when the buffer is shorter.
MSTATUS VLONG_writeMontgomeryContext(const MontgomeryContext *ctx, uint8_t *buffer, uint32_t *length);
// -7402 for a short or overrunning form (or one whose numbers do not fit together),
// -7404 for a version other than 1.
MSTATUS VLONG_readMontgomeryContext(const uint8_t *bytes, uint32_t length, MontgomeryContext **out,
                                    VLONG **queue);

// ---- Exponentiation ----------------------------------------------------------------------
// New x^e mod n (magnitudes). Barrett square-and-multiply for exponents of up to 13 units or
// an even n, Montgomery sliding window otherwise. -6004 for n = 0.
MSTATUS VLONG_modexp(const VLONG *x, const VLONG *e, const VLONG *n, VLONG **result, VLONG **queue);
// The Barrett square-and-multiply of VLONG_modexp (whatever the exponent length) with the
// caller's mu, which must be VLONG_barrettMu of n: callers that exponentiate many times
// with one modulus (RSA keys) compute it once. Same results and statuses as VLONG_modexp,
// and -6001 for a null mu.
MSTATUS VLONG_modexpBarrett(const VLONG *x, const VLONG *e, const VLONG *n, const VLONG *mu,
                            VLONG **result, VLONG **queue);
