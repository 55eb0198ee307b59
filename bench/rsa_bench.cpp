// RSA PKCS#1 v1.5 verification with e = 65537, 2048 and 4096 bits, end to end through
// RSA_verifyDigestInfo (plus the digest comparison its caller makes) against OpenSSL's RSA
// verify and mbed TLS's mbedtls_rsa_pkcs1_verify. Keys are made by OpenSSL once, the digest
// is precomputed and every key is set up outside the timed loop.
#include "bench/ratio.h"
#include "crypto/rsa/rsa.h"

#include <benchmark/benchmark.h>
#include <mbedtls/rsa.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <map>
#include <vector>

namespace {

struct SignedDigest {
    EVP_PKEY *pkey = nullptr;
    std::vector<uint8_t> n, digest, signature;
};

// A key of `bits` bits with e = 65537 and its signature over a SHA-256 digest.
const SignedDigest &fixture(int bits)
{
    static std::map<int, SignedDigest> cache;
    SignedDigest &f = cache[bits];
    if (f.pkey)
        return f;
    EVP_PKEY_CTX *gen = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
    EVP_PKEY_keygen_init(gen);
    EVP_PKEY_CTX_set_rsa_keygen_bits(gen, bits);
    EVP_PKEY_keygen(gen, &f.pkey);
    EVP_PKEY_CTX_free(gen);
    BIGNUM *n = nullptr;
    EVP_PKEY_get_bn_param(f.pkey, "n", &n);
    f.n.resize(size_t(BN_num_bytes(n)));
    BN_bn2bin(n, f.n.data());
    BN_free(n);

    const char message[] = "image payload";
    f.digest.resize(32);
    unsigned len = 0;
    EVP_Digest(message, sizeof(message), f.digest.data(), &len, EVP_sha256(), nullptr);
    EVP_PKEY_CTX *sign = EVP_PKEY_CTX_new(f.pkey, nullptr);
    EVP_PKEY_sign_init(sign);
    EVP_PKEY_CTX_set_rsa_padding(sign, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(sign, EVP_sha256());
    size_t sigLen = 0;
    EVP_PKEY_sign(sign, nullptr, &sigLen, f.digest.data(), f.digest.size());
    f.signature.resize(sigLen);
    EVP_PKEY_sign(sign, f.signature.data(), &sigLen, f.digest.data(), f.digest.size());
    EVP_PKEY_CTX_free(sign);
    return f;
}

void BM_rsa_verify(benchmark::State &state)
{
    const SignedDigest &f = fixture(int(state.range(0)));
    RSAKey *key = nullptr;
    RSA_createKey(&key);
    RSA_setPublicKey(key, 65537, f.n.data(), uint32_t(f.n.size()), nullptr);
    for (auto _ : state) {
        uint8_t digest[64];
        uint32_t digestLength = 0;
        int32_t hashId = 0;
        MSTATUS st = RSA_verifyDigestInfo(key, f.signature.data(), uint32_t(f.signature.size()), digest,
                                          &digestLength, &hashId);
        if (st != OK || digestLength != f.digest.size() || std::memcmp(digest, f.digest.data(), digestLength)) {
            state.SkipWithError("signature did not verify");
            break;
        }
    }
    RSA_freeKey(&key, nullptr);
    state.SetItemsProcessed(state.iterations());
}

void BM_openssl_verify(benchmark::State &state)
{
    const SignedDigest &f = fixture(int(state.range(0)));
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(f.pkey, nullptr);
    EVP_PKEY_verify_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
    for (auto _ : state) {
        if (EVP_PKEY_verify(ctx, f.signature.data(), f.signature.size(), f.digest.data(), f.digest.size()) != 1) {
            state.SkipWithError("EVP_PKEY_verify failed");
            break;
        }
    }
    EVP_PKEY_CTX_free(ctx);
    state.SetItemsProcessed(state.iterations());
}

void BM_mbedtls_verify(benchmark::State &state)
{
    const SignedDigest &f = fixture(int(state.range(0)));
    mbedtls_rsa_context rsa;
    mbedtls_rsa_init(&rsa, MBEDTLS_RSA_PKCS_V15, 0);
    const uint8_t e[] = {0x01, 0x00, 0x01};
    mbedtls_rsa_import_raw(&rsa, f.n.data(), f.n.size(), nullptr, 0, nullptr, 0, nullptr, 0, e, sizeof(e));
    mbedtls_rsa_complete(&rsa);
    for (auto _ : state) {
        if (mbedtls_rsa_pkcs1_verify(&rsa, nullptr, nullptr, MBEDTLS_RSA_PUBLIC, MBEDTLS_MD_SHA256,
                                     uint32_t(f.digest.size()), f.digest.data(), f.signature.data()) != 0) {
            state.SkipWithError("mbedtls_rsa_pkcs1_verify failed");
            break;
        }
    }
    mbedtls_rsa_free(&rsa);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Best of three repetitions counts: the machine is shared and noise only slows a run.
BENCHMARK(BM_rsa_verify)->Arg(2048)->Arg(4096)->Repetitions(3);
BENCHMARK(BM_openssl_verify)->Arg(2048)->Arg(4096)->Repetitions(3);
BENCHMARK(BM_mbedtls_verify)->Arg(2048)->Arg(4096)->Repetitions(3);

BENCH_RATIO(rsa2048_verify_vs_mbedtls, "BM_rsa_verify/2048", "BM_mbedtls_verify/2048");
BENCH_RATIO(rsa2048_verify_vs_openssl, "BM_rsa_verify/2048", "BM_openssl_verify/2048");
BENCH_RATIO(rsa4096_verify_vs_mbedtls, "BM_rsa_verify/4096", "BM_mbedtls_verify/4096");
BENCH_RATIO(rsa4096_verify_vs_openssl, "BM_rsa_verify/4096", "BM_openssl_verify/4096");
