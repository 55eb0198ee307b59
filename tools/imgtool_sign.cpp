// Signing with OpenSSL; verification with the boot manager's own gate and key readers, so
// that `imgtool verify` says what a board would say.
#include "tools/imgtool_sign.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "crypto/init.h"
#include "image/validate.h"
#include "signature/imgsign.h"
#include "signature/trusted_keys.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioFree {
    void operator()(BIO *bio) const { BIO_free(bio); }
};

bool complain(const char *what, const char *path)
{
    std::fprintf(stderr, "imgtool: %s '%s'\n", what, path);
    return false;
}

std::string hex(const uint8_t *bytes, size_t length)
{
    std::string text;
    char pair[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// The public half of the key, as the key record carries it.
bool public_key_bytes(EVP_PKEY *key, bool as_der, Bytes *out)
{
    if (as_der) {
        unsigned char *der = nullptr;
        int length = i2d_PUBKEY(key, &der);
        if (length <= 0)
            return false;
        out->assign(der, der + length);
        OPENSSL_free(der);
        return true;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PUBKEY(bio.get(), key) != 1)
        return false;
    char *data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    out->assign(data, data + length);
    return true;
}

// Fingerprint of a key record's text, or an empty string when the key readers refuse it.
std::string fingerprint_of(const uint8_t *key, uint32_t length)
{
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    if (trusted_key_fingerprint(key, length, fingerprint) != OK)
        return {};
    return hex(fingerprint, sizeof fingerprint);
}

// Fingerprint of a key file an engineer hands the tool: what the boot manager reads itself,
// else any key OpenSSL reads (PKCS#8, for one), through its public half.
bool file_key_fingerprint(const Bytes &key, uint8_t fingerprint[KEY_FINGERPRINT_SIZE])
{
    if (trusted_key_fingerprint(key.data(), uint32_t(key.size()), fingerprint) == OK)
        return true;
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(key.data(), int(key.size())));
    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!pkey) {
        const unsigned char *p = key.data();
        pkey.reset(d2i_AutoPrivateKey(nullptr, &p, long(key.size())));
    }
    Bytes der;
    return pkey && public_key_bytes(pkey.get(), true, &der) &&
           trusted_key_fingerprint(der.data(), uint32_t(der.size()), fingerprint) == OK;
}

} // namespace

bool imgtool_sign_plan(ComponentPlan &plan, const std::vector<uint8_t> &payload, const char *key_path,
                       bool key_as_der)
{
    if (plan.format != 3)
        return complain("signing needs --format 3; not signing with", key_path);
    FILE *file = std::fopen(key_path, "rb");
    if (!file)
        return complain("cannot read signing key", key_path);
    std::unique_ptr<EVP_PKEY, PkeyFree> key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA)
        return complain("not an RSA private key in PEM form:", key_path);

    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    size_t length = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, payload.data(), payload.size()) != 1)
        return complain("OpenSSL cannot sign with", key_path);
    ComponentRecord signature{IMAGE_RECORD_SIGNATURE, Bytes(length)};
    if (EVP_DigestSign(ctx.get(), signature.value.data(), &length, payload.data(), payload.size()) != 1)
        return complain("OpenSSL cannot sign with", key_path);
    signature.value.resize(length);

    ComponentRecord public_key{IMAGE_RECORD_KEY, {}};
    if (!public_key_bytes(key.get(), key_as_der, &public_key.value))
        return complain("cannot write the public key of", key_path);
    plan.records.push_back(std::move(signature));
    plan.records.push_back(std::move(public_key));
    return true;
}

int imgtool_keyhash(int argc, char **argv)
{
    if (argc != 1 || !std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h")) {
        std::puts("usage: imgtool keyhash KEY\n"
                  "Prints the fingerprint of an RSA key (PEM or DER, public or private) as the build\n"
                  "records it for BM_TRUSTED_KEYS: the SHA-256 of its public key blob. (The build\n"
                  "itself reads public keys and PKCS#1 private keys; give it the public key.)");
        return argc == 1 ? 0 : 1;
    }
    Bytes key;
    if (!imgtool_read_file(argv[0], &key) || key.empty())
        return complain("cannot read key", argv[0]), 1;
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    if (!file_key_fingerprint(key, fingerprint))
        return complain("not an RSA key:", argv[0]), 1;
    std::printf("%s  %s\n", hex(fingerprint, sizeof fingerprint).c_str(), argv[0]);
    return 0;
}

int imgtool_verify(int argc, char **argv)
{
    const char *file = nullptr;
    std::vector<std::array<uint8_t, KEY_FINGERPRINT_SIZE>> trusted;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::puts("usage: imgtool verify FILE [--trusted KEY]...\n"
                      "Runs the boot manager's signature gate on every component of a component,\n"
                      "package, slot file or partition dump and prints its verdict line for each.\n"
                      "Without --trusted the keys built into this tool (BM_TRUSTED_KEYS) are trusted.\n"
                      "Exits 0 only when every component passes.");
            return 0;
        }
        if (!std::strcmp(argv[i], "--trusted")) {
            Bytes key;
            std::array<uint8_t, KEY_FINGERPRINT_SIZE> fingerprint{};
            if (i + 1 >= argc || !imgtool_read_file(argv[i + 1], &key) || !file_key_fingerprint(key, fingerprint.data()))
                return complain("--trusted needs a readable RSA key:", i + 1 < argc ? argv[i + 1] : ""), 1;
            trusted.push_back(fingerprint);
            ++i;
        } else if (!file) {
            file = argv[i];
        } else {
            return complain("unexpected argument", argv[i]), 1;
        }
    }
    if (!file)
        return complain("verify needs a file (see --help)", ""), 1;
    Bytes data;
    if (!imgtool_read_file(file, &data))
        return complain("cannot read", file), 1;

    TrustedKeys table{nullptr, 0, false};
    if (!trusted.empty()) {
        table.fingerprints = reinterpret_cast<const uint8_t(*)[KEY_FINGERPRINT_SIZE]>(trusted.data());
        table.count = trusted.size();
        trusted_keys_override(&table);
    }

    bool all_pass = true;
    size_t index = 0;
    uint64_t offset = 0;
    while (data.size() - offset >= IMAGE_PROBE_SIZE) {
        const uint8_t *p = data.data() + offset;
        image_layout layout = image_get_layout(p);
        if (image_check_layout(layout, p, data.size() - offset) != IMAGE_LAYOUT_OK) {
            // Erased flash after the last component of a partition dump is not a failure.
            bool erased = true;
            for (uint64_t i = offset; i < data.size() && erased; ++i)
                erased = data[i] == 0xFF;
            if (!erased) {
                std::printf("component %zu at offset 0x%llX: corrupt header\n", index,
                            static_cast<unsigned long long>(offset));
                all_pass = false;
            }
            break;
        }
        const char *name = image_type_name(layout.type);
        std::printf("component %zu at offset 0x%llX (%s):", index, static_cast<unsigned long long>(offset),
                    name ? name : "unknown type");
        std::fflush(stdout);
        all_pass &= image_check_signature(p, layout.total) == 1;
        offset += layout.total;
        ++index;
    }
    trusted_keys_override(nullptr);
    if (index == 0) {
        std::printf("%s: no component\n", file);
        return 1;
    }
    return all_pass ? 0 : 1;
}

void imgtool_print_signature(const uint8_t *component, const image_layout &layout)
{
    image_record signature{}, key{};
    if (layout.format != 3 || !image_find_signature_records(component, layout, &signature, &key) ||
        !signature.value || !key.value)
        return;
    CRYPTO_initLibrary();
    std::string fingerprint = fingerprint_of(key.value, key.value_length);
    uint8_t digest[32];
    uint32_t digest_length = 0;
    bool good = IMGSIGN_computeSHA256(component + layout.header_len, layout.payload_len, digest, &digest_length) == OK &&
                IMGSIGN_verifySignature(digest, int32_t(digest_length), signature.value, signature.value_length,
                                        key.value, key.value_length) == OK;
    uint8_t raw[KEY_FINGERPRINT_SIZE];
    bool trusted = trusted_key_fingerprint(key.value, key.value_length, raw) == OK &&
                   (trusted_keys().accept_any_key || trusted_keys_contain(trusted_keys(), raw));
    std::printf("  signed by key %s (%s), signature %s\n", fingerprint.empty() ? "(unreadable)" : fingerprint.c_str(),
                trusted ? "trusted" : "not trusted", good ? "verifies" : "does NOT verify");
}
