// RSA private keys from their factors: p and q set beside e and n, then the CRT numbers dP,
// dQ, qInv and the Montgomery contexts of p and q derived from them.
#include "crypto/rsa/rsa.h"

namespace {

void releaseNumber(VLONG **v, VLONG **queue)
{
    if (*v)
        VLONG_freeVlong(v, queue);
}

void releaseDerived(RSAKey *key, VLONG **queue)
{
    releaseNumber(&key->dP, queue);
    releaseNumber(&key->dQ, queue);
    releaseNumber(&key->qInv, queue);
    if (key->montP)
        VLONG_freeMontgomeryContext(&key->montP, queue);
    if (key->montQ)
        VLONG_freeMontgomeryContext(&key->montQ, queue);
}

// Back to the public key e, n.
void releasePrivate(RSAKey *key, VLONG **queue)
{
    releaseDerived(key, queue);
    releaseNumber(&key->p, queue);
    releaseNumber(&key->q, queue);
    key->privateKey = 0;
}

// *out = e^-1 mod (prime - 1).
MSTATUS crtExponent(const VLONG *e, const VLONG *prime, VLONG **out, VLONG **queue)
{
    VLONG *primeMinusOne = nullptr;
    MSTATUS st = VLONG_makeCopy(prime, &primeMinusOne, queue);
    if (st >= 0)
        st = VLONG_decrement(primeMinusOne);
    if (st >= 0)
        st = VLONG_modularInverse(e, primeMinusOne, out, queue);
    if (primeMinusOne)
        VLONG_freeVlong(&primeMinusOne, queue);
    return st;
}

} // namespace

MSTATUS RSA_setPrivateKey(RSAKey *key, uint32_t exponent, const uint8_t *modulus, uint32_t modulusLength,
                          const uint8_t *p, uint32_t pLength, const uint8_t *q, uint32_t qLength,
                          VLONG **queue)
{
    if (!key)
        return ERR_RSA_NULL_KEY;
    if ((!p && pLength) || (!q && qLength))
        return ERR_NULL_POINTER;
    if (pLength > uint32_t(INT32_MAX) || qLength > uint32_t(INT32_MAX))
        return ERR_BAD_LENGTH;
    if (MSTATUS st = RSA_setPublicKey(key, exponent, modulus, modulusLength, queue); st < 0)
        return st;
    MSTATUS st = VLONG_vlongFromByteString(p, int32_t(pLength), &key->p, queue);
    if (st >= 0)
        st = VLONG_vlongFromByteString(q, int32_t(qLength), &key->q, queue);
    key->privateKey = 1;
    if (st >= 0)
        st = RSA_completePrivateKey(key, queue);
    if (st < 0)
        releasePrivate(key, queue);
    return st < 0 ? st : OK;
}

MSTATUS RSA_completePrivateKey(RSAKey *key, VLONG **queue)
{
    if (!key)
        return ERR_RSA_NULL_KEY;
    if (!key->privateKey)
        return OK;
    if (!key->e || !key->p || !key->q)
        return ERR_RSA_INCOMPLETE_PRIVATE;
    if (VLONG_compareMagnitude(key->p, key->q) < 0) {
        VLONG *smaller = key->p;
        key->p = key->q;
        key->q = smaller;
        releaseDerived(key, queue); // computed for the other order
    }
    MSTATUS st = OK;
    if (!key->dP)
        st = crtExponent(key->e, key->p, &key->dP, queue);
    if (st >= 0 && !key->dQ)
        st = crtExponent(key->e, key->q, &key->dQ, queue);
    if (st >= 0 && !key->qInv)
        st = VLONG_modularInverse(key->q, key->p, &key->qInv, queue);
    if (st >= 0 && !key->montP)
        st = VLONG_createMontgomeryContext(&key->montP, key->p, queue);
    if (st >= 0 && !key->montQ)
        st = VLONG_createMontgomeryContext(&key->montQ, key->q, queue);
    return st < 0 ? st : OK;
}
