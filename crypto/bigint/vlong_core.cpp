// Records, the vlong queue, growth, byte-string conversions, queries, comparisons, shifts.
#include "crypto/bigint/vlong.h"
#include "crypto/bigint/vlong_internal.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t WIPE_UNIT = 0x67;

// Allocates a unit array of `count` units; the old array (if any) is wiped and freed by
// the callers after they have copied what they need.
uint32_t *allocUnits(uint32_t count)
{
    return static_cast<uint32_t *>(std::malloc(size_t(count) * sizeof(uint32_t)));
}

void releaseUnits(uint32_t *units, uint32_t capacity)
{
    if (!units)
        return;
    vlong_wipeUnits(units, capacity);
    std::free(units);
}

} // namespace

void vlong_wipeUnits(uint32_t *units, uint32_t count)
{
    volatile uint32_t *p = units;
    for (uint32_t i = 0; i < count; ++i)
        p[i] = WIPE_UNIT;
}

MSTATUS vlong_reserve(VLONG *a, uint32_t units)
{
    if (units > VLONG_MAX_UNITS)
        return ERR_BAD_LENGTH;
    if (units <= a->capacity)
        return OK;
    uint32_t capacity = units + 3;
    uint32_t *fresh = allocUnits(capacity);
    if (!fresh)
        return ERR_MEM_ALLOC;
    if (a->used)
        std::memcpy(fresh, a->units, size_t(a->used) * sizeof(uint32_t));
    releaseUnits(a->units, a->capacity);
    a->units = fresh;
    a->capacity = capacity;
    return OK;
}

MSTATUS vlong_reserveFresh(VLONG *a, uint32_t units)
{
    if (units > VLONG_MAX_UNITS)
        return ERR_BAD_LENGTH;
    if (units > a->capacity) {
        uint32_t capacity = units + 1;
        uint32_t *fresh = allocUnits(capacity);
        if (!fresh)
            return ERR_MEM_ALLOC;
        releaseUnits(a->units, a->capacity);
        a->units = fresh;
        a->capacity = capacity;
    }
    a->used = 0;
    return OK;
}

void vlong_normalize(VLONG *a)
{
    while (a->used && a->units[a->used - 1] == 0)
        --a->used;
    if (!a->used)
        a->negative = 0;
}

MSTATUS vlong_assignUnits(VLONG *a, const uint32_t *units, uint32_t count)
{
    while (count && units[count - 1] == 0)
        --count;
    if (MSTATUS st = vlong_reserveFresh(a, count); st < 0)
        return st;
    if (count)
        std::memmove(a->units, units, size_t(count) * sizeof(uint32_t));
    a->used = count;
    a->negative = 0;
    return OK;
}

void vlong_swap(VLONG *a, VLONG *b)
{
    VLONG t = *a;
    a->units = b->units;
    a->capacity = b->capacity;
    a->used = b->used;
    a->negative = b->negative;
    b->units = t.units;
    b->capacity = t.capacity;
    b->used = t.used;
    b->negative = t.negative;
}

MSTATUS vlong_copyMagnitude(VLONG *a, const VLONG *b)
{
    if (a == b) {
        a->negative = 0;
        return OK;
    }
    if (MSTATUS st = vlong_reserveFresh(a, b->used); st < 0)
        return st;
    if (b->used)
        std::memcpy(a->units, b->units, size_t(b->used) * sizeof(uint32_t));
    a->used = b->used;
    a->negative = 0;
    return OK;
}

// ---- Creation, release, queue -------------------------------------------------------------

MSTATUS VLONG_allocVlong(VLONG **out, VLONG **queue)
{
    if (!out)
        return ERR_NULL_POINTER;
    if (queue && *queue) {
        VLONG *v = *queue;
        *queue = v->next;
        v->next = nullptr;
        v->used = 0;
        v->negative = 0;
        *out = v;
        return OK;
    }
    auto *v = static_cast<VLONG *>(std::calloc(1, sizeof(VLONG)));
    if (!v)
        return ERR_MEM_ALLOC;
    *out = v;
    return OK;
}

MSTATUS VLONG_freeVlong(VLONG **ref, VLONG **queue)
{
    if (!ref || !*ref)
        return ERR_NULL_POINTER;
    VLONG *v = *ref;
    *ref = nullptr;
    if (queue) {
        v->next = *queue;
        *queue = v;
        return OK;
    }
    releaseUnits(v->units, v->capacity);
    std::memset(v, 0, sizeof(*v));
    std::free(v);
    return OK;
}

MSTATUS VLONG_freeVlongQueue(VLONG **queueHead)
{
    if (!queueHead)
        return ERR_NULL_POINTER;
    while (*queueHead) {
        VLONG *v = *queueHead;
        *queueHead = v->next;
        VLONG_freeVlong(&v, nullptr);
    }
    return OK;
}

// ---- Conversions ----------------------------------------------------------------------------

MSTATUS VLONG_vlongFromUnsigned(uint32_t value, VLONG **out, VLONG **queue)
{
    if (!out)
        return ERR_NULL_POINTER;
    VlongTemp t(queue);
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = VLONG_setUnit(t.v, 0, value); st < 0)
        return st;
    *out = t.release();
    return OK;
}

MSTATUS VLONG_vlongFromByteString(const uint8_t *bytes, int32_t length, VLONG **out, VLONG **queue)
{
    if (!out || (!bytes && length > 0))
        return ERR_NULL_POINTER;
    if (length < 0)
        return ERR_BAD_LENGTH;
    // Leading zero bytes do not count against the unit limit.
    while (length > 0 && bytes[0] == 0) {
        ++bytes;
        --length;
    }
    uint32_t units = (uint32_t(length) + 3) / 4;
    VlongTemp t(queue);
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = vlong_reserveFresh(t.v, units); st < 0)
        return st;
    if (units)
        std::memset(t.v->units, 0, size_t(units) * sizeof(uint32_t));
    for (int32_t i = 0; i < length; ++i) {
        uint32_t pos = uint32_t(length - 1 - i); // byte position from the least significant end
        t.v->units[pos / 4] |= uint32_t(bytes[i]) << (8 * (pos % 4));
    }
    t.v->used = units;
    vlong_normalize(t.v);
    *out = t.release();
    return OK;
}

MSTATUS VLONG_byteStringFromVlong(const VLONG *value, uint8_t *buffer, int32_t *length)
{
    if (!value || !length)
        return ERR_NULL_POINTER;
    uint32_t minimal = (VLONG_bitLength(value) + 7) / 8;
    if (!buffer) {
        *length = int32_t(minimal);
        return OK;
    }
    if (*length < 0 || minimal > uint32_t(*length))
        return ERR_BUFFER_OVERFLOW;
    uint32_t size = uint32_t(*length);
    uint32_t pad = size - minimal;
    std::memset(buffer, 0, pad);
    for (uint32_t i = 0; i < minimal; ++i) {
        uint32_t pos = minimal - 1 - i;
        buffer[pad + i] = uint8_t(value->units[pos / 4] >> (8 * (pos % 4)));
    }
    return OK;
}

MSTATUS VLONG_makeCopy(const VLONG *source, VLONG **out, VLONG **queue)
{
    if (!source || !out)
        return ERR_NULL_POINTER;
    VlongTemp t(queue);
    if (MSTATUS st = t.alloc(); st < 0)
        return st;
    if (MSTATUS st = vlong_copyMagnitude(t.v, source); st < 0)
        return st;
    t.v->negative = source->used ? source->negative : 0;
    *out = t.release();
    return OK;
}

// ---- Queries and small operations -------------------------------------------------------------

uint32_t VLONG_bitLength(const VLONG *a)
{
    if (!a || !a->used)
        return 0;
    uint32_t top = a->units[a->used - 1];
    return 32 * (a->used - 1) + (32 - uint32_t(__builtin_clz(top)));
}

bool VLONG_isZero(const VLONG *a)
{
    return !a || a->used == 0;
}

uint32_t VLONG_getUnit(const VLONG *a, uint32_t index)
{
    return (a && index < a->used) ? a->units[index] : 0;
}

bool VLONG_testBit(const VLONG *a, uint32_t bit)
{
    return (VLONG_getUnit(a, bit / 32) >> (bit % 32)) & 1;
}

MSTATUS VLONG_setUnit(VLONG *a, uint32_t index, uint32_t value)
{
    if (!a)
        return ERR_NULL_POINTER;
    if (index >= a->used) {
        if (value == 0)
            return OK;
        if (index >= VLONG_MAX_UNITS)
            return ERR_BAD_LENGTH;
        if (MSTATUS st = vlong_reserve(a, index + 1); st < 0)
            return st;
        std::memset(a->units + a->used, 0, size_t(index + 1 - a->used) * sizeof(uint32_t));
        a->used = index + 1;
    }
    a->units[index] = value;
    vlong_normalize(a);
    return OK;
}

MSTATUS VLONG_setBit(VLONG *a, uint32_t bit)
{
    if (!a)
        return ERR_NULL_POINTER;
    return VLONG_setUnit(a, bit / 32, VLONG_getUnit(a, bit / 32) | (1u << (bit % 32)));
}

MSTATUS VLONG_clear(VLONG *a)
{
    if (!a)
        return ERR_NULL_POINTER;
    a->used = 0;
    a->negative = 0;
    return OK;
}

// ---- Comparisons -------------------------------------------------------------------------------

int units_compare(const uint32_t *a, const uint32_t *b, size_t n)
{
    for (size_t i = n; i-- > 0;) {
        if (a[i] != b[i])
            return a[i] > b[i] ? 1 : -1;
    }
    return 0;
}

int VLONG_compareMagnitude(const VLONG *a, const VLONG *b)
{
    if (a->used != b->used)
        return a->used > b->used ? 1 : -1;
    return units_compare(a->units, b->units, a->used);
}

int VLONG_compareSigned(const VLONG *a, const VLONG *b)
{
    bool aNeg = a->negative && a->used;
    bool bNeg = b->negative && b->used;
    if (aNeg != bNeg)
        return aNeg ? -1 : 1;
    int m = VLONG_compareMagnitude(a, b);
    return aNeg ? -m : m;
}

int VLONG_compareUnsigned(const VLONG *a, uint32_t v)
{
    if (a->negative)
        return -1;
    if (a->used > 1)
        return 1;
    uint32_t x = a->used ? a->units[0] : 0;
    return x == v ? 0 : (x > v ? 1 : -1);
}

// ---- Shifts --------------------------------------------------------------------------------------

MSTATUS VLONG_shlXvlong(VLONG *a, uint32_t bits)
{
    if (!a)
        return ERR_NULL_POINTER;
    if (!a->used || !bits)
        return OK;
    uint32_t unitShift = bits / 32, bitShift = bits % 32;
    bool spill = bitShift && (a->units[a->used - 1] >> (32 - bitShift)) != 0;
    uint64_t needed = uint64_t(a->used) + unitShift + (spill ? 1 : 0);
    if (needed > VLONG_MAX_UNITS)
        return ERR_BAD_LENGTH;
    uint32_t newUsed = uint32_t(needed);
    if (MSTATUS st = vlong_reserve(a, newUsed); st < 0)
        return st;
    uint32_t *u = a->units;
    uint32_t n = a->used;
    if (newUsed > n + unitShift)
        u[n + unitShift] = bitShift ? u[n - 1] >> (32 - bitShift) : 0;
    for (uint32_t i = n; i-- > 0;) {
        uint32_t lower = (bitShift && i) ? u[i - 1] >> (32 - bitShift) : 0;
        u[i + unitShift] = (u[i] << bitShift) | lower;
    }
    std::memset(u, 0, size_t(unitShift) * sizeof(uint32_t));
    a->used = newUsed;
    vlong_normalize(a);
    return OK;
}

MSTATUS VLONG_shlVlong(VLONG *a)
{
    return VLONG_shlXvlong(a, 1);
}

MSTATUS VLONG_shrXvlong(VLONG *a, uint32_t bits)
{
    if (!a)
        return ERR_NULL_POINTER;
    uint32_t unitShift = bits / 32, bitShift = bits % 32;
    if (unitShift >= a->used) {
        a->used = 0;
        a->negative = 0;
        return OK;
    }
    uint32_t *u = a->units;
    uint32_t n = a->used - unitShift;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t upper = (bitShift && i + 1 < n) ? u[i + unitShift + 1] << (32 - bitShift) : 0;
        u[i] = (u[i + unitShift] >> bitShift) | upper;
    }
    a->used = n;
    vlong_normalize(a);
    return OK;
}

MSTATUS VLONG_shrVlong(VLONG *a)
{
    return VLONG_shrXvlong(a, 1);
}
