#include "crypto/digest/hash.h"

#include "crypto/digest/md5.h"
#include "crypto/digest/sha1.h"
#include "crypto/digest/sha256.h"
#include "crypto/digest/sha512.h"

#include <cstring>

namespace {

// Adapters from the typed per-algorithm operations to the type-erased suite row.
template <typename Ctx, MSTATUS (*Alloc)(Ctx **)>
MSTATUS alloc_erased(void **ctxOut)
{
    if (!ctxOut)
        return ERR_NULL_POINTER;
    Ctx *ctx = nullptr;
    MSTATUS status = Alloc(&ctx);
    *ctxOut = ctx;
    return status;
}

template <typename Ctx, MSTATUS (*Free)(Ctx **)>
MSTATUS free_erased(void **ctxRef)
{
    if (!ctxRef)
        return ERR_NULL_POINTER;
    Ctx *ctx = static_cast<Ctx *>(*ctxRef);
    MSTATUS status = Free(&ctx);
    *ctxRef = ctx;
    return status;
}

template <typename Ctx, MSTATUS (*Init)(Ctx *)>
MSTATUS init_erased(void *ctx)
{
    return Init(static_cast<Ctx *>(ctx));
}

template <typename Ctx, MSTATUS (*Update)(Ctx *, const uint8_t *, uint32_t)>
MSTATUS update_erased(void *ctx, const uint8_t *data, uint32_t length)
{
    return Update(static_cast<Ctx *>(ctx), data, length);
}

template <typename Ctx, MSTATUS (*Final)(Ctx *, uint8_t *)>
MSTATUS final_erased(void *ctx, uint8_t *digest)
{
    return Final(static_cast<Ctx *>(ctx), digest);
}

template <typename Ctx, MSTATUS (*Alloc)(Ctx **), MSTATUS (*Free)(Ctx **), MSTATUS (*Init)(Ctx *),
          MSTATUS (*Update)(Ctx *, const uint8_t *, uint32_t), MSTATUS (*Final)(Ctx *, uint8_t *)>
constexpr HashSuite make_suite(uint32_t digestSize, uint32_t blockSize)
{
    return {digestSize,
            blockSize,
            alloc_erased<Ctx, Alloc>,
            free_erased<Ctx, Free>,
            init_erased<Ctx, Init>,
            update_erased<Ctx, Update>,
            final_erased<Ctx, Final>};
}

constexpr HashSuite SUITES[] = {
    make_suite<MD5Ctx, MD5_allocDigest, MD5_freeDigest, MD5_initDigest, MD5_updateDigest,
               MD5_finalDigest>(MD5_DIGEST_SIZE, MD5_BLOCK_SIZE),
    make_suite<SHA1Ctx, SHA1_allocDigest, SHA1_freeDigest, SHA1_initDigest, SHA1_updateDigest,
               SHA1_finalDigest>(SHA1_DIGEST_SIZE, SHA1_BLOCK_SIZE),
    make_suite<SHA256Ctx, SHA256_allocDigest, SHA256_freeDigest, SHA256_initDigest,
               SHA256_updateDigest, SHA256_finalDigest>(SHA256_DIGEST_SIZE, SHA256_BLOCK_SIZE),
    make_suite<SHA512Ctx, SHA512_allocDigest, SHA512_freeDigest, SHA384_initDigest,
               SHA512_updateDigest, SHA384_finalDigest>(SHA384_DIGEST_SIZE, SHA512_BLOCK_SIZE),
    make_suite<SHA512Ctx, SHA512_allocDigest, SHA512_freeDigest, SHA512_initDigest,
               SHA512_updateDigest, SHA512_finalDigest>(SHA512_DIGEST_SIZE, SHA512_BLOCK_SIZE),
    make_suite<SHA256Ctx, SHA256_allocDigest, SHA256_freeDigest, SHA224_initDigest,
               SHA256_updateDigest, SHA224_finalDigest>(SHA224_DIGEST_SIZE, SHA256_BLOCK_SIZE),
};

struct Algorithm {
    uint32_t id;
    const HashSuite *suite;
    MSTATUS (*oneShot)(const uint8_t *, uint32_t, uint8_t *);
};

constexpr Algorithm ALGORITHMS[] = {
    {HASH_ID_MD5, &SUITES[0], MD5_completeDigest},
    {HASH_ID_SHA1, &SUITES[1], SHA1_completeDigest},
    {HASH_ID_SHA256, &SUITES[2], SHA256_completeDigest},
    {HASH_ID_SHA384, &SUITES[3], SHA384_completeDigest},
    {HASH_ID_SHA512, &SUITES[4], SHA512_completeDigest},
    {HASH_ID_SHA224, &SUITES[5], SHA224_completeDigest},
};

const Algorithm *find_algorithm(uint32_t hashId)
{
    for (const Algorithm &a : ALGORITHMS)
        if (a.id == hashId)
            return &a;
    return nullptr;
}

} // namespace

MSTATUS HASH_getSuite(uint32_t hashId, const HashSuite **suite)
{
    if (!suite)
        return ERR_NULL_POINTER;
    const Algorithm *a = find_algorithm(hashId);
    if (!a)
        return ERR_HASH_SUITE_UNKNOWN;
    *suite = a->suite;
    return OK;
}

MSTATUS HASH_computeDigest(const uint8_t *data, uint32_t length, uint8_t *digest,
                           uint32_t *digestLength, uint32_t hashId)
{
    if (!data || !digest || !digestLength)
        return ERR_NULL_POINTER;
    std::memset(digest, 0, HASH_MAX_DIGEST_SIZE);
    const Algorithm *a = find_algorithm(hashId);
    if (!a)
        return ERR_HASH_UNSUPPORTED;
    MSTATUS status = a->oneShot(data, length, digest);
    *digestLength = a->suite->digestSize;
    return status;
}
