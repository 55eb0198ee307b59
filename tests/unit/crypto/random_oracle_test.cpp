// Oracle for the random source (host only): the entropy pool's output against a straight-line
// model of its stirring built on OpenSSL's SHA-1 compression, which pins down every position
// and constant of the stir (and the bare compression SHA1_G it uses).
#define OPENSSL_SUPPRESS_DEPRECATED // SHA1_Transform is the bare compression we need
#include "crypto/random/entropy.h"

#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// The pool as a model: stub clock 0, stub date all zero, no noise.
struct PoolModel {
    uint8_t m[64] = {};
    uint8_t b[48] = {};
    uint32_t r = 48;
    uint32_t p = 0;
    bool stirred = false;

    void g_into(uint32_t at)
    {
        SHA_CTX c;
        SHA1_Init(&c);
        SHA1_Transform(&c, m);
        const uint32_t h[5] = {c.h0, c.h1, c.h2, c.h3, c.h4};
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 4; ++j)
                m[at + 4 * i + j] = static_cast<uint8_t>(h[i] >> (24 - 8 * j));
    }
    void rehash()
    {
        g_into(0);
        g_into(20);
        g_into(40);
    }
    void stir_time()
    {
        m[47] ^= 30; // date year 0 raised by 30; the clock and other date bytes are 0
        for (int i = 0; i < 48; ++i)
            m[(4 + i) % 48] ^= static_cast<uint8_t>(0x67 + i);
        rehash();
    }
    void stir_output()
    {
        for (int i = 0; i < 48; ++i)
            b[i] ^= m[i];
        rehash();
        r = 0;
    }
    void add_bit(uint32_t bit)
    {
        p = (p + 1) % 384;
        if (bit & 1)
            m[p / 8] ^= static_cast<uint8_t>(1 << (p % 8));
    }
    void take(uint8_t *out, uint32_t n)
    {
        if (!stirred) {
            stir_time();
            stir_output();
            stirred = true;
        }
        for (uint32_t i = 0; i < n; ++i) {
            if (r == 48) {
                stir_time();
                stir_output();
            }
            out[i] = b[r];
            b[r++] = 0;
        }
    }
};

TEST(EntropyPoolOracle, OutputMatchesTheStirModel)
{
    std::mt19937 rng(31);
    for (int scenario = 0; scenario < 20; ++scenario) {
        EntropyPool pool{};
        PoolModel model;
        for (int step = 0; step < 12; ++step) {
            uint32_t bits = rng() % 500;
            for (uint32_t i = 0; i < bits; ++i) {
                uint32_t bit = rng(); // only its lowest bit counts
                ASSERT_EQ(ENTROPY_addBit(&pool, bit), OK);
                model.add_bit(bit);
            }
            uint32_t n = rng() % 120;
            std::vector<uint8_t> ours(n + 1), expect(n + 1);
            ASSERT_EQ(ENTROPY_takeBytes(&pool, ours.data(), n), OK);
            model.take(expect.data(), n);
            ASSERT_EQ(bytesHex(ours), bytesHex(expect)) << "scenario " << scenario << " step " << step;
        }
        PLATFORM_freeLock(&pool.lock);
        PLATFORM_freeLock(&pool.auxLock);
    }
}

} // namespace
