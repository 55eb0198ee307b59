// OpenSSL as the oracle of the host-only tests (*_oracle_test.cpp): RSA keys made at test
// time, their encodings and numbers, PKCS#1 v1.5 signatures and the raw private operation
// that turns any crafted block into a signature.
#pragma once

#include "tests/unit/crypto/rsa_test_util.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

// One RSA key per (bits, e) for the whole test binary (4096-bit generation is slow).
inline EVP_PKEY *opensslRsaKey(int bits, uint32_t e = 65537)
{
    static std::map<std::pair<int, uint32_t>, PkeyPtr> keys;
    auto found = keys.find({bits, e});
    if (found != keys.end())
        return found->second.get();
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr), &EVP_PKEY_CTX_free);
    BIGNUM *exponent = BN_new();
    BN_set_word(exponent, e);
    EVP_PKEY *raw = nullptr;
    EXPECT_EQ(1, EVP_PKEY_keygen_init(ctx.get()));
    EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits));
    EXPECT_EQ(1, EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exponent));
    EXPECT_EQ(1, EVP_PKEY_keygen(ctx.get(), &raw));
    BN_free(exponent);
    return keys.emplace(std::make_pair(bits, e), PkeyPtr(raw, &EVP_PKEY_free)).first->second.get();
}

// selection: OSSL_KEYMGMT_SELECT_PUBLIC_KEY or _KEYPAIR; format "PEM" or "DER"; structure
// "SubjectPublicKeyInfo" or "type-specific" (PKCS#1, or ECPrivateKey with the pair).
inline Bytes encodeKey(const EVP_PKEY *key, int selection, const char *format, const char *structure)
{
    OSSL_ENCODER_CTX *ctx = OSSL_ENCODER_CTX_new_for_pkey(key, selection, format, structure, nullptr);
    unsigned char *data = nullptr;
    size_t length = 0;
    EXPECT_EQ(1, OSSL_ENCODER_to_data(ctx, &data, &length)) << format << " " << structure;
    Bytes out(data, data + length);
    OPENSSL_free(data);
    OSSL_ENCODER_CTX_free(ctx);
    return out;
}

// A number of the key (OSSL_PKEY_PARAM_RSA_N, ...), big-endian without leading zeros.
inline Bytes bnParam(const EVP_PKEY *key, const char *name)
{
    BIGNUM *bn = nullptr;
    EXPECT_EQ(1, EVP_PKEY_get_bn_param(key, name, &bn)) << name;
    Bytes out(size_t(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

// OpenSSL's PKCS#1 v1.5 signature of a digest made with md.
inline Bytes opensslSign(EVP_PKEY *key, const EVP_MD *md, const Bytes &digest)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr), &EVP_PKEY_CTX_free);
    EXPECT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
    EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING));
    EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(ctx.get(), md));
    size_t length = 0;
    EXPECT_EQ(1, EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()));
    Bytes sig(length);
    EXPECT_EQ(1, EVP_PKEY_sign(ctx.get(), sig.data(), &length, digest.data(), digest.size()));
    sig.resize(length);
    return sig;
}

// block^d mod n: a signature whose public opening is exactly the block (modulus length).
inline Bytes rawPrivate(EVP_PKEY *key, const Bytes &block)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr), &EVP_PKEY_CTX_free);
    EXPECT_EQ(1, EVP_PKEY_decrypt_init(ctx.get()));
    EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING));
    size_t length = block.size();
    Bytes out(length);
    EXPECT_EQ(1, EVP_PKEY_decrypt(ctx.get(), out.data(), &length, block.data(), block.size()));
    out.resize(length);
    return out;
}
