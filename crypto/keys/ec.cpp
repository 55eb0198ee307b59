// EC keys on the NIST prime curves: the curve table (FIPS 186 parameters p and b; a = -3 on
// every curve), the curve-equation check on VLONG arithmetic and the EC key record.
#include "crypto/keys/ec.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Big-endian bytes of a hex literal, converted at compile time.
template <size_t N>
consteval std::array<uint8_t, N> hex(const char (&digits)[2 * N + 1])
{
    auto nibble = [](char c) -> uint8_t {
        if (c >= '0' && c <= '9')
            return uint8_t(c - '0');
        if (c >= 'A' && c <= 'F')
            return uint8_t(c - 'A' + 10);
        std::abort(); // not a constant expression: a bad digit stops the build
    };
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < N; ++i)
        out[i] = uint8_t(nibble(digits[2 * i]) << 4 | nibble(digits[2 * i + 1]));
    return out;
}

constexpr auto P192_P = hex<24>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFFFFFFFFFF");
constexpr auto P192_B = hex<24>("64210519E59C80E70FA7E9AB72243049FEB8DEECC146B9B1");
constexpr auto P224_P = hex<28>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF000000000000000000000001");
constexpr auto P224_B = hex<28>("B4050A850C04B3ABF54132565044B0B7D7BFD8BA270B39432355FFB4");
constexpr auto P256_P = hex<32>("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
constexpr auto P256_B = hex<32>("5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B");
constexpr auto P384_P = hex<48>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFE"
                                "FFFFFFFF0000000000000000FFFFFFFF");
constexpr auto P384_B = hex<48>("B3312FA7E23EE7E4988E056BE3F82D19181D9C6EFE8141120314088F5013875A"
                                "C656398D8A2ED19D2A85C8EDD3EC2AEF");
constexpr auto P521_P = hex<66>("01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
                                "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
constexpr auto P521_B = hex<66>("0051953EB9618E1C9A1F929A21A0B68540EEA2DA725B99B315F3B8B489918EF1"
                                "09E156193951EC7E937B1652C0BD3BB1BF073573DF883D2C34F1EF451FD46B503F00");

struct Curve {
    uint8_t id;
    uint32_t fieldLength; // bytes of p, of each point coordinate and of the scalar
    const uint8_t *p;
    const uint8_t *b;
};

constexpr Curve CURVES[] = {
    {EC_CURVE_P192, 24, P192_P.data(), P192_B.data()}, {EC_CURVE_P224, 28, P224_P.data(), P224_B.data()},
    {EC_CURVE_P256, 32, P256_P.data(), P256_B.data()}, {EC_CURVE_P384, 48, P384_P.data(), P384_B.data()},
    {EC_CURVE_P521, 66, P521_P.data(), P521_B.data()},
};

const Curve *findCurve(uint8_t id)
{
    for (const Curve &c : CURVES)
        if (c.id == id)
            return &c;
    return nullptr;
}

// Point encodings (SEC 1): 04 uncompressed; 06 and 07 hybrid, naming the parity of y.
constexpr uint8_t POINT_UNCOMPRESSED = 0x04;
constexpr uint8_t POINT_HYBRID_EVEN = 0x06;
constexpr uint8_t POINT_HYBRID_ODD = 0x07;

// A number of one computation, released to its queue.
struct Num {
    VLONG *v = nullptr;
    VLONG **queue;
    explicit Num(VLONG **q) : queue(q) {}
    Num(const Num &) = delete;
    Num &operator=(const Num &) = delete;
    ~Num()
    {
        if (v)
            VLONG_freeVlong(&v, queue);
    }
};

struct Queue {
    VLONG *head = nullptr;
    ~Queue() { VLONG_freeVlongQueue(&head); }
};

// out = a * b mod p.
MSTATUS mulMod(const VLONG *a, const VLONG *b, const VLONG *p, VLONG **out, VLONG **queue)
{
    Num product(queue);
    if (MSTATUS st = VLONG_allocVlong(&product.v, queue); st < 0)
        return st;
    if (MSTATUS st = VLONG_multiply(product.v, a, b, VLONG_bitLength(a) + VLONG_bitLength(b)); st < 0)
        return st;
    return VLONG_mod(product.v, p, out, queue);
}

// y^2 = x^3 - 3x + b over GF(p), x and y below p. The right side is formed as
// x^3 + 3(p - x) + b, which stays non-negative.
MSTATUS checkOnCurve(const Curve &curve, const VLONG *x, const VLONG *y, VLONG **queue)
{
    Num p(queue), b(queue), left(queue), square(queue), right(queue), pMinusX(queue);
    MSTATUS st = VLONG_vlongFromByteString(curve.p, int32_t(curve.fieldLength), &p.v, queue);
    if (st >= 0)
        st = VLONG_vlongFromByteString(curve.b, int32_t(curve.fieldLength), &b.v, queue);
    if (st < 0)
        return st;
    if (VLONG_compareMagnitude(x, p.v) >= 0 || VLONG_compareMagnitude(y, p.v) >= 0)
        return ERR_WRONG_TYPE; // a coordinate that is not a field element
    if ((st = mulMod(y, y, p.v, &left.v, queue)) < 0 || (st = mulMod(x, x, p.v, &square.v, queue)) < 0 ||
        (st = mulMod(square.v, x, p.v, &right.v, queue)) < 0 ||
        (st = VLONG_newDifference(p.v, x, &pMinusX.v, queue)) < 0)
        return st;
    for (int i = 0; i < 3 && st >= 0; ++i)
        st = VLONG_add(right.v, pMinusX.v);
    if (st >= 0)
        st = VLONG_add(right.v, b.v);
    Num reduced(queue);
    if (st >= 0)
        st = VLONG_mod(right.v, p.v, &reduced.v, queue);
    if (st < 0)
        return st;
    return VLONG_compareSigned(left.v, reduced.v) == 0 ? OK : ERR_WRONG_TYPE;
}

// The private scalar: a field element other than zero. Leading zero bytes are dropped first,
// so that no length beyond the field's is ever turned into a number.
MSTATUS readScalar(const Curve &curve, const uint8_t *scalar, uint32_t length, VLONG **out, VLONG **queue)
{
    while (length && *scalar == 0) {
        ++scalar;
        --length;
    }
    if (length == 0 || length > curve.fieldLength)
        return ERR_EC_KEY_STRUCTURE;
    Num k(queue), p(queue);
    MSTATUS st = VLONG_vlongFromByteString(scalar, int32_t(length), &k.v, queue);
    if (st >= 0)
        st = VLONG_vlongFromByteString(curve.p, int32_t(curve.fieldLength), &p.v, queue);
    if (st < 0)
        return st;
    if (VLONG_compareMagnitude(k.v, p.v) >= 0)
        return ERR_EC_KEY_STRUCTURE;
    *out = k.v;
    k.v = nullptr;
    return OK;
}

struct KeyDeleter {
    void operator()(ECKey *key) const { EC_freeKey(&key); }
};
using KeyPtr = std::unique_ptr<ECKey, KeyDeleter>;

KeyPtr newKey()
{
    return KeyPtr(static_cast<ECKey *>(std::calloc(1, sizeof(ECKey))));
}

} // namespace

uint32_t EC_fieldLength(uint8_t curveId)
{
    const Curve *curve = findCurve(curveId);
    return curve ? curve->fieldLength : 0;
}

MSTATUS EC_setKey(KeyHolder *holder, uint8_t curveId, const uint8_t *point, uint32_t pointLength,
                  const uint8_t *scalar, uint32_t scalarLength)
{
    if (!holder || !point)
        return ERR_NULL_POINTER;
    const Curve *curve = findCurve(curveId);
    if (!curve)
        return ERR_EC_CURVE_UNSUPPORTED;
    const uint32_t length = curve->fieldLength;
    if (pointLength != 2 * length + 1)
        return ERR_EC_POINT_LENGTH;
    if (point[0] != POINT_UNCOMPRESSED && point[0] != POINT_HYBRID_EVEN && point[0] != POINT_HYBRID_ODD)
        return ERR_EC_POINT_FORMAT;

    KeyPtr key = newKey();
    if (!key)
        return ERR_MEM_ALLOC;
    key->curveId = curveId;
    Queue queue;
    MSTATUS st = VLONG_vlongFromByteString(point + 1, int32_t(length), &key->x, &queue.head);
    if (st >= 0)
        st = VLONG_vlongFromByteString(point + 1 + length, int32_t(length), &key->y, &queue.head);
    if (st < 0)
        return st;
    // A hybrid point repeats the parity of y in its first byte; the two must agree.
    if (point[0] != POINT_UNCOMPRESSED && VLONG_testBit(key->y, 0) != (point[0] == POINT_HYBRID_ODD))
        return ERR_EC_POINT_FORMAT;
    if (st = checkOnCurve(*curve, key->x, key->y, &queue.head); st < 0)
        return st;
    if (scalar) {
        st = readScalar(*curve, scalar, scalarLength, &key->k, &queue.head);
        key->privateKey = 1;
    } else {
        st = VLONG_allocVlong(&key->k, &queue.head);
    }
    if (st < 0)
        return st;
    if (st = CA_MGMT_freeKey(holder); st < 0)
        return st;
    holder->type = KEY_TYPE_EC;
    holder->key = key.release();
    return OK;
}

MSTATUS EC_freeKey(ECKey **ref)
{
    if (!ref || !*ref)
        return ERR_NULL_POINTER;
    ECKey *key = *ref;
    *ref = nullptr;
    for (VLONG **v : {&key->x, &key->y, &key->k})
        if (*v)
            VLONG_freeVlong(v, nullptr);
    std::memset(key, 0, sizeof(*key));
    std::free(key);
    return OK;
}

MSTATUS EC_cloneKey(ECKey **out, const ECKey *source)
{
    if (!out || !source || !source->x || !source->y || !source->k)
        return ERR_NULL_POINTER;
    KeyPtr copy = newKey();
    if (!copy)
        return ERR_MEM_ALLOC;
    copy->privateKey = source->privateKey;
    copy->curveId = source->curveId;
    MSTATUS st = VLONG_makeCopy(source->x, &copy->x, nullptr);
    if (st >= 0)
        st = VLONG_makeCopy(source->y, &copy->y, nullptr);
    if (st >= 0)
        st = VLONG_makeCopy(source->k, &copy->k, nullptr);
    if (st < 0)
        return st;
    *out = copy.release();
    return OK;
}
