#include "crypto/random/random.h"

#include "crypto/common/bytes.h"
#include "crypto/random/entropy.h"
#include "crypto/init.h"

#include <new>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char *DEFAULT_DEVICE = "/dev/urandom";
const char *g_devicePath = DEFAULT_DEVICE;

constexpr uint32_t AES256_KEY = 32;
constexpr uint32_t AES_BLOCK = 16;
constexpr uint32_t SEED_BYTES = AES256_KEY + AES_BLOCK;

struct FdHolder {
    int fd;
    ~FdHolder()
    {
        if (fd >= 0)
            close(fd);
    }
};

MSTATUS reseed_from_pool(RandomContext *ctx)
{
    uint8_t seed[SEED_BYTES];
    MSTATUS status = ENTROPY_takeBytes(&g_entropyPool, seed, SEED_BYTES);
    if (status == OK)
        status = CTR_DRBG_reseed(&ctx->drbg, seed, SEED_BYTES, nullptr, 0);
    secure_wipe(seed, sizeof seed);
    return status;
}

} // namespace

MSTATUS RANDOM_createContext(RandomContext **out, uint32_t kind)
{
    if (!out)
        return ERR_NULL_POINTER;
    if (kind != 0 && kind != 3)
        return ERR_RANDOM_KIND_UNKNOWN;
    uint8_t seed[SEED_BYTES];
    MSTATUS status = ENTROPY_takeBytes(&g_entropyPool, seed, SEED_BYTES);
    if (status != OK) {
        secure_wipe(seed, sizeof seed);
        return status;
    }
    RandomContext *ctx = new (std::nothrow) RandomContext{};
    if (!ctx) {
        secure_wipe(seed, sizeof seed);
        return ERR_MEM_ALLOC;
    }
    ctx->kind = RANDOM_KIND_CTR_DRBG;
    status = CTR_DRBG_instantiate(&ctx->drbg, AES_BLOCK, AES256_KEY, seed, SEED_BYTES, nullptr, 0);
    secure_wipe(seed, sizeof seed);
    if (status != OK) {
        RANDOM_freeContext(&ctx);
        return status;
    }
    ctx->entropyBitCount = 0;
    *out = ctx;
    return OK;
}

MSTATUS RANDOM_freeContext(RandomContext **ctxRef)
{
    if (!ctxRef || !*ctxRef)
        return ERR_NULL_POINTER;
    secure_wipe(*ctxRef, sizeof(RandomContext));
    delete *ctxRef;
    *ctxRef = nullptr;
    return OK;
}

MSTATUS RANDOM_addEntropyBit(RandomContext *ctx, uint32_t bit)
{
    if (!ctx || ctx->kind != RANDOM_KIND_CTR_DRBG)
        return ERR_NULL_POINTER;
    MSTATUS status = ENTROPY_addBit(&g_entropyPool, bit);
    if (status != OK)
        return status;
    if (++ctx->entropyBitCount < RANDOM_RESEED_BITS)
        return OK;
    ctx->entropyBitCount = 0;
    return reseed_from_pool(ctx);
}

MSTATUS RANDOM_generate(RandomContext *ctx, uint8_t *out, uint32_t length)
{
    if (!ctx || !out || ctx->kind != RANDOM_KIND_CTR_DRBG)
        return ERR_NULL_POINTER;
    return CTR_DRBG_generate(&ctx->drbg, out, length, nullptr, 0);
}

MSTATUS RANDOM_seedFromDevice()
{
    FdHolder dev{open(g_devicePath, O_RDONLY)};
    if (dev.fd < 1)
        return ERR_RANDOM_DEVICE_OPEN;
    MSTATUS status = OK;
    for (int word = 0; word < 8 && status == OK; ++word) {
        uint8_t bytes[4];
        if (read(dev.fd, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes))
            return ERR_RANDOM_DEVICE_READ;
        uint32_t value = load_be32(bytes);
        for (int i = 0; i < 32 && status == OK; ++i)
            status = RANDOM_addEntropyBit(g_randomContext, (value >> i) & 1);
        secure_wipe(bytes, sizeof bytes);
    }
    if (status != OK)
        return status;
    // 256 bits alone would reach the generator only at the reseed 128 bits later, and until
    // then its output would be the same in every process (the clock and date are zeros on
    // this platform): reseed now, so the first output depends on the device.
    g_randomContext->entropyBitCount = 0;
    return reseed_from_pool(g_randomContext);
}

void RANDOM_setDevicePathForTest(const char *path)
{
    g_devicePath = path ? path : DEFAULT_DEVICE;
}
