// Fuzz target: RSA_verifyDigestInfo with a fixed 512-bit key. An input whose first byte is
// even is taken as the type-1 block itself and turned into a signature with the key's
// private exponent, so the fuzzer steers the unpadding and the DigestInfo parse directly;
// an odd first byte passes the rest on as the raw signature (any length).
#include "crypto/rsa/rsa.h"
#include "crypto/bigint/vlong.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const uint8_t MODULUS[64] = {
    0xa7, 0x92, 0xa9, 0x26, 0x6c, 0x80, 0x49, 0x95, 0x02, 0xec, 0xd4, 0xa2, 0x76, 0xc5, 0xfb, 0xfb,
    0x11, 0x73, 0x01, 0x28, 0xb3, 0x6a, 0xc3, 0xe8, 0x5e, 0x2e, 0x24, 0x90, 0x82, 0x6e, 0x33, 0xac,
    0x0b, 0x36, 0x4f, 0x22, 0xc9, 0x15, 0x9d, 0xed, 0x27, 0x33, 0xc6, 0x9e, 0x91, 0x98, 0xab, 0x6b,
    0x28, 0x37, 0xf8, 0x9d, 0x0f, 0xb2, 0x38, 0x7f, 0x07, 0x8e, 0xd5, 0x5f, 0x74, 0x02, 0x53, 0x77};
const uint8_t PRIVATE_EXPONENT[64] = {
    0x4e, 0x87, 0xdb, 0xbf, 0x87, 0x0f, 0xa3, 0xec, 0x32, 0x5f, 0xbc, 0xd2, 0x9a, 0x68, 0xf4, 0x4a,
    0xd8, 0x05, 0x96, 0x60, 0x75, 0x9c, 0xae, 0x4c, 0xe2, 0x7e, 0x2b, 0x62, 0x91, 0xcd, 0x85, 0x66,
    0xf3, 0xc9, 0xb3, 0x32, 0x5e, 0xc3, 0x3b, 0xa7, 0x3f, 0xc2, 0xb6, 0x9c, 0xc9, 0x84, 0x7f, 0x01,
    0x58, 0x57, 0xde, 0x9c, 0x1c, 0x8a, 0x42, 0x8f, 0xfb, 0xb5, 0xec, 0x8c, 0x33, 0x89, 0x05, 0x51};
constexpr size_t K = sizeof(MODULUS);

struct Fixture {
    RSAKey *key = nullptr;
    VLONG *n = nullptr, *d = nullptr;
    Fixture()
    {
        RSA_createKey(&key);
        RSA_setPublicKey(key, 65537, MODULUS, K, nullptr);
        VLONG_vlongFromByteString(MODULUS, K, &n, nullptr);
        VLONG_vlongFromByteString(PRIVATE_EXPONENT, K, &d, nullptr);
    }
};

// block^d mod n as K bytes; false when the block is not below n.
bool signBlock(const Fixture &f, const uint8_t *block, std::vector<uint8_t> &sig)
{
    VLONG *m = nullptr, *s = nullptr, *queue = nullptr;
    bool ok = VLONG_vlongFromByteString(block, K, &m, &queue) == OK && VLONG_compareMagnitude(m, f.n) < 0 &&
              VLONG_modexp(m, f.d, f.n, &s, &queue) == OK;
    if (ok) {
        int32_t size = K;
        ok = VLONG_byteStringFromVlong(s, sig.data(), &size) == OK;
    }
    if (m)
        VLONG_freeVlong(&m, &queue);
    if (s)
        VLONG_freeVlong(&s, &queue);
    VLONG_freeVlongQueue(&queue);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Fixture fixture;
    if (size < 1)
        return 0;
    std::vector<uint8_t> sig;
    if (data[0] % 2 == 0) {
        uint8_t block[K] = {};
        std::memcpy(block, data + 1, size - 1 < K ? size - 1 : K);
        sig.resize(K);
        if (!signBlock(fixture, block, sig))
            return 0;
    } else {
        sig.assign(data + 1, data + size);
    }
    uint8_t digest[64];
    uint32_t digestLength = 0;
    int32_t hashId = 0;
    MSTATUS st = RSA_verifyDigestInfo(fixture.key, sig.data(), uint32_t(sig.size()), digest, &digestLength, &hashId);
    if (st == OK && (digestLength == 0 || digestLength > 64 || hashId < 0))
        __builtin_trap(); // a success must name a known hash and a real digest
    return 0;
}
