// Where imgtool's keys come from: PEM or DER files through OpenSSL's decoders (encrypted ones
// with the pass phrase of --passin, never a prompt unless standard input is a terminal), and
// PKCS#11 tokens through OpenSSL's pkcs11 engine. Every key is held to the limits of the
// keys a board can verify with before it is used.
// The engine interface is deprecated in OpenSSL 3 but is the one the Debian PKCS#11 engine
// offers; this file alone uses it.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "tools/imgtool_sign.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ui.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "signature/key_limits.h"

void PkeyFree::operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }

void EngineRelease::operator()(ENGINE *engine) const
{
    ENGINE_finish(engine);
    ENGINE_free(engine);
}

namespace {

constexpr const char PASSIN_FORMS[] = "pass:TEXT, env:VAR, file:PATH or fd:N";

bool key_fail(const char *where, const char *message)
{
    imgtool_fail("%s: %s", where, message);
    return false;
}

// The first line of an open stream, without its line end.
bool first_line(FILE *stream, std::string *out)
{
    char line[1024];
    if (!stream || !std::fgets(line, sizeof line, stream))
        return false;
    *out = line;
    while (!out->empty() && (out->back() == '\n' || out->back() == '\r'))
        out->pop_back();
    return true;
}

// The pass phrase named by --passin, in OpenSSL's forms.
bool read_passin(const char *form, std::string *out)
{
    const std::string text = form;
    if (text.rfind("pass:", 0) == 0) {
        *out = text.substr(5);
        return true;
    }
    if (text.rfind("env:", 0) == 0) {
        const char *value = std::getenv(text.c_str() + 4);
        if (!value)
            return key_fail("--passin", ("environment variable " + text.substr(4) + " is not set").c_str());
        *out = value;
        return true;
    }
    if (text.rfind("file:", 0) == 0) {
        FILE *file = std::fopen(text.c_str() + 5, "r");
        const bool ok = first_line(file, out);
        if (file)
            std::fclose(file);
        return ok || key_fail("--passin", ("cannot read a line from " + text.substr(5)).c_str());
    }
    if (text.rfind("fd:", 0) == 0) {
        char *end = nullptr;
        const long fd = std::strtol(text.c_str() + 3, &end, 10);
        FILE *stream = *end || end == text.c_str() + 3 ? nullptr : fdopen(int(fd), "r");
        const bool ok = first_line(stream, out);
        if (stream)
            std::fclose(stream);
        return ok || key_fail("--passin", ("cannot read a line from descriptor " + text.substr(3)).c_str());
    }
    return key_fail("--passin", (std::string("'") + form + "' is not " + PASSIN_FORMS).c_str());
}

struct PassPhrase {
    const std::string *text = nullptr; // from --passin
    bool asked = false;                // the key wanted one
};

// OpenSSL asks here for the pass phrase of an encrypted key. Without --passin it prompts
// only on a terminal; in a script the key fails instead.
int pass_phrase_callback(char *buffer, int size, int writing, void *data)
{
    auto *phrase = static_cast<PassPhrase *>(data);
    phrase->asked = true;
    if (phrase->text) {
        const int length = int(std::min<size_t>(phrase->text->size(), size_t(size)));
        std::memcpy(buffer, phrase->text->data(), size_t(length));
        return length;
    }
    if (isatty(STDIN_FILENO))
        return PEM_def_callback(buffer, size, writing, nullptr);
    return -1;
}

// An RSA key from a PEM or DER file: private when `selection` says so, else public or
// private (its public half counts).
bool decode_key_file(const char *path, const SignerOptions &options, int selection, Pkey *out)
{
    Bytes bytes;
    if (!imgtool_read_file(path, &bytes) || bytes.empty())
        return key_fail(path, errno ? std::strerror(errno) : "empty file");
    std::string phrase_text;
    PassPhrase phrase;
    if (options.passin) {
        if (!read_passin(options.passin, &phrase_text))
            return false;
        phrase.text = &phrase_text;
    }
    EVP_PKEY *key = nullptr;
    OSSL_DECODER_CTX *decoder = OSSL_DECODER_CTX_new_for_pkey(&key, nullptr, nullptr, "RSA", selection, nullptr, nullptr);
    const unsigned char *data = bytes.data();
    size_t left = bytes.size();
    const bool decoded = decoder && OSSL_DECODER_CTX_set_pem_password_cb(decoder, pass_phrase_callback, &phrase) &&
                         OSSL_DECODER_from_data(decoder, &data, &left);
    OSSL_DECODER_CTX_free(decoder);
    ERR_clear_error();
    out->reset(decoded ? key : nullptr);
    if (*out)
        return true;
    if (phrase.asked && !phrase.text)
        return key_fail(path, (std::string("the key is encrypted: give its pass phrase with --passin ") + PASSIN_FORMS).c_str());
    if (phrase.asked)
        return key_fail(path, "cannot decrypt the key with the pass phrase of --passin");
    return key_fail(path, selection == EVP_PKEY_KEYPAIR ? "not an RSA private key in PEM or DER form"
                                                        : "not an RSA key in PEM or DER form");
}

// The same key through its DER encoding: a key OpenSSL's own providers hold, whatever held
// it before (an engine, for one).
Pkey public_copy(EVP_PKEY *key)
{
    unsigned char *der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    if (length <= 0)
        return nullptr;
    const unsigned char *p = der;
    Pkey copy(d2i_PUBKEY(nullptr, &p, length));
    OPENSSL_free(der);
    return copy;
}

// The key URI again, asking the token for the public key object.
std::string public_key_uri(const std::string &uri)
{
    const std::string wanted = "type=private";
    const size_t at = uri.find(wanted);
    if (at == std::string::npos)
        return uri;
    return uri.substr(0, at) + "type=public" + uri.substr(at + wanted.size());
}

bool load_token_key(const SignerOptions &options, SigningKey *key)
{
    const char *module = options.pkcs11_module ? options.pkcs11_module : std::getenv("PKCS11_MODULE_PATH");
    if (!module || !*module)
        return key_fail(options.key, "no PKCS#11 module: give --pkcs11-module LIB or set PKCS11_MODULE_PATH");
    std::string pin;
    if (options.passin && !read_passin(options.passin, &pin))
        return false;
    ENGINE_load_builtin_engines();
    ENGINE *engine = ENGINE_by_id("pkcs11");
    if (!engine)
        return key_fail(options.key, "OpenSSL has no pkcs11 engine (Debian package libengine-pkcs11-openssl)");
    if (!ENGINE_ctrl_cmd_string(engine, "MODULE_PATH", module, 0) ||
        (options.passin && !ENGINE_ctrl_cmd_string(engine, "PIN", pin.c_str(), 0)) || !ENGINE_init(engine)) {
        ENGINE_free(engine);
        ERR_clear_error();
        return key_fail(options.key, (std::string("the pkcs11 engine cannot use the module ") + module).c_str());
    }
    key->engine.reset(engine);
    // No PIN prompt in a script: the PIN comes from the URI or --passin there. The engine's
    // own lines about a failed look-up are kept back; the one line below says what failed.
    UI_METHOD *ui = isatty(STDIN_FILENO) ? nullptr : const_cast<UI_METHOD *>(UI_null());
    Pkey token_public;
    const int null = open("/dev/null", O_WRONLY);
    {
        FdRedirect quiet(STDERR_FILENO, null);
        key->private_key.reset(ENGINE_load_private_key(engine, options.key, ui, nullptr));
        token_public.reset(ENGINE_load_public_key(engine, public_key_uri(options.key).c_str(), ui, nullptr));
    }
    if (null >= 0)
        close(null);
    ERR_clear_error();
    if (!key->private_key)
        return key_fail(options.key, "no such private key on the token, or no PIN (pin-value in the URI or --passin)");
    if (!token_public)
        return key_fail(options.key, "the token has no public key object for this key");
    key->public_key = public_copy(token_public.get());
    return key->public_key != nullptr || key_fail(options.key, "the token's public key is not an RSA key");
}

bool within_limits(const char *where, EVP_PKEY *key)
{
    const char *violation = imgtool_key_limit_violation(key);
    return !violation || key_fail(where, violation);
}

} // namespace

int imgtool_signer_option(int argc, char **argv, int *i, SignerOptions *options)
{
    const std::string arg = argv[*i];
    if (arg != "--passin" && arg != "--pkcs11-module" && arg != "--key-record")
        return 0;
    if (*i + 1 >= argc) {
        imgtool_fail("%s needs a value", arg.c_str());
        return -1;
    }
    const char *value = argv[++*i];
    if (arg == "--passin") {
        options->passin = value;
    } else if (arg == "--pkcs11-module") {
        options->pkcs11_module = value;
    } else if (std::strcmp(value, "pem") && std::strcmp(value, "der")) {
        imgtool_fail("key record form '%s' is not pem or der", value);
        return -1;
    } else {
        options->key_as_der = !std::strcmp(value, "der");
    }
    return 1;
}

const char *imgtool_key_limit_violation(EVP_PKEY *key)
{
    BIGNUM *n = nullptr, *e = nullptr;
    const char *violation = "not an RSA key";
    if (EVP_PKEY_is_a(key, "RSA") && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) &&
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e)) {
        Bytes modulus(size_t(BN_num_bytes(n)) + 1), exponent(size_t(BN_num_bytes(e)) + 1);
        BN_bn2binpad(n, modulus.data(), int(modulus.size()));
        BN_bn2binpad(e, exponent.data(), int(exponent.size()));
        violation = signing_key_limit_violation(modulus, exponent);
    }
    BN_free(n);
    BN_free(e);
    ERR_clear_error();
    return violation;
}

bool imgtool_load_signing_key(const SignerOptions &options, SigningKey *key)
{
    if (!std::strncmp(options.key, "pkcs11:", 7)) {
        if (!load_token_key(options, key))
            return false;
    } else {
        if (!decode_key_file(options.key, options, EVP_PKEY_KEYPAIR, &key->private_key))
            return false;
        key->public_key = public_copy(key->private_key.get());
    }
    return within_limits(options.key, key->public_key.get());
}

bool imgtool_load_public_key(const char *path, const SignerOptions &options, Pkey *key)
{
    Pkey any;
    if (!decode_key_file(path, options, 0, &any))
        return false;
    *key = public_copy(any.get());
    return (*key || key_fail(path, "not an RSA key")) && within_limits(path, key->get());
}

bool imgtool_key_record(EVP_PKEY *public_key, bool as_der, Bytes *out)
{
    if (as_der) {
        unsigned char *der = nullptr;
        const int length = i2d_PUBKEY(public_key, &der);
        if (length <= 0)
            return false;
        out->assign(der, der + length);
        OPENSSL_free(der);
        return true;
    }
    BIO *bio = BIO_new(BIO_s_mem());
    bool ok = bio && PEM_write_bio_PUBKEY(bio, public_key) == 1;
    if (ok) {
        char *data = nullptr;
        const long length = BIO_get_mem_data(bio, &data);
        out->assign(data, data + length);
    }
    BIO_free(bio);
    return ok;
}
