// VLONG_modexp with a 2048-bit modulus and e = 65537 against OpenSSL's BN_mod_exp and
// mbed TLS's mbedtls_mpi_exp_mod on the same operands.
#include "bench/ratio.h"
#include "crypto/bigint/vlong.h"

#include <benchmark/benchmark.h>
#include <mbedtls/bignum.h>
#include <openssl/bn.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Operands {
    std::vector<uint8_t> n, x, e{0x01, 0x00, 0x01};
    Operands()
    {
        std::mt19937 gen(2048);
        n.resize(256);
        x.resize(256);
        for (auto &b : n)
            b = uint8_t(gen());
        for (auto &b : x)
            b = uint8_t(gen());
        n[0] |= 0x80;
        n[255] |= 1;
        x[0] &= 0x7F; // x < n
    }
};

const Operands &operands()
{
    static const Operands ops;
    return ops;
}

void BM_vlong_modexp(benchmark::State &state)
{
    const Operands &o = operands();
    VLONG *n = nullptr, *x = nullptr, *e = nullptr, *queue = nullptr;
    VLONG_vlongFromByteString(o.n.data(), int32_t(o.n.size()), &n, nullptr);
    VLONG_vlongFromByteString(o.x.data(), int32_t(o.x.size()), &x, nullptr);
    VLONG_vlongFromByteString(o.e.data(), int32_t(o.e.size()), &e, nullptr);
    for (auto _ : state) {
        VLONG *r = nullptr;
        if (VLONG_modexp(x, e, n, &r, &queue) < 0) {
            state.SkipWithError("VLONG_modexp failed");
            break;
        }
        benchmark::DoNotOptimize(r);
        VLONG_freeVlong(&r, &queue);
    }
    VLONG_freeVlongQueue(&queue);
    VLONG_freeVlong(&n, nullptr);
    VLONG_freeVlong(&x, nullptr);
    VLONG_freeVlong(&e, nullptr);
    state.SetItemsProcessed(state.iterations());
}

void BM_openssl_modexp(benchmark::State &state)
{
    const Operands &o = operands();
    BIGNUM *n = BN_bin2bn(o.n.data(), int(o.n.size()), nullptr);
    BIGNUM *x = BN_bin2bn(o.x.data(), int(o.x.size()), nullptr);
    BIGNUM *e = BN_bin2bn(o.e.data(), int(o.e.size()), nullptr);
    BIGNUM *r = BN_new();
    BN_CTX *ctx = BN_CTX_new();
    for (auto _ : state) {
        if (!BN_mod_exp(r, x, e, n, ctx)) {
            state.SkipWithError("BN_mod_exp failed");
            break;
        }
        benchmark::DoNotOptimize(r);
    }
    BN_CTX_free(ctx);
    BN_free(r);
    BN_free(e);
    BN_free(x);
    BN_free(n);
    state.SetItemsProcessed(state.iterations());
}

void BM_mbedtls_modexp(benchmark::State &state)
{
    const Operands &o = operands();
    mbedtls_mpi n, x, e, r;
    for (mbedtls_mpi *m : {&n, &x, &e, &r})
        mbedtls_mpi_init(m);
    mbedtls_mpi_read_binary(&n, o.n.data(), o.n.size());
    mbedtls_mpi_read_binary(&x, o.x.data(), o.x.size());
    mbedtls_mpi_read_binary(&e, o.e.data(), o.e.size());
    for (auto _ : state) {
        if (mbedtls_mpi_exp_mod(&r, &x, &e, &n, nullptr) != 0) {
            state.SkipWithError("mbedtls_mpi_exp_mod failed");
            break;
        }
        benchmark::DoNotOptimize(r);
    }
    for (mbedtls_mpi *m : {&n, &x, &e, &r})
        mbedtls_mpi_free(m);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Best of three repetitions counts: the machine is shared and noise only slows a run.
BENCHMARK(BM_vlong_modexp)->Arg(2048)->Repetitions(3);
BENCHMARK(BM_openssl_modexp)->Arg(2048)->Repetitions(3);
BENCHMARK(BM_mbedtls_modexp)->Arg(2048)->Repetitions(3);

BENCH_RATIO(modexp2048_vs_mbedtls, "BM_vlong_modexp/2048", "BM_mbedtls_modexp/2048");
BENCH_RATIO(modexp2048_vs_openssl, "BM_vlong_modexp/2048", "BM_openssl_modexp/2048");
