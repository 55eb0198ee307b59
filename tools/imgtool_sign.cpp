// The signature records of a component and the commands that make them: the values to sign,
// signing with a key (file or token), the one assembly routine, and `digest` and `attach`
// for signers outside the tool.
#include "tools/imgtool_sign.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/auth_header.h"
#include "image/bytes.h"

namespace {

struct CtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

// A context for RSA PKCS#1 v1.5 with a SHA-256 DigestInfo, as `openssl pkeyutl -pkeyopt
// digest:sha256` signs and verifies.
PkeyCtx pkcs1_context(EVP_PKEY *key, bool signing)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || (signing ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_verify_init(ctx.get())) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1)
        return nullptr;
    return ctx;
}

bool sign_digest(EVP_PKEY *key, const Digest &digest, Bytes *signature)
{
    PkeyCtx ctx = pkcs1_context(key, true);
    size_t length = 0;
    if (!ctx || EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) != 1)
        return false;
    signature->resize(length);
    if (EVP_PKEY_sign(ctx.get(), signature->data(), &length, digest.data(), digest.size()) != 1)
        return false;
    signature->resize(length);
    return true;
}

bool verifies(EVP_PKEY *public_key, const Digest &digest, const Bytes &signature)
{
    PkeyCtx ctx = pkcs1_context(public_key, false);
    const bool good = ctx && EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest.data(),
                                             digest.size()) == 1;
    ERR_clear_error();
    return good;
}

bool is_signature_record(uint16_t type)
{
    return type == IMAGE_RECORD_SIGNATURE || type == IMAGE_RECORD_KEY || type == IMAGE_RECORD_AUTH_HEADER;
}

// The statement of record 5 for this plan and payload.
std::array<uint8_t, IMAGE_AUTH_STATEMENT_SIZE> statement_of(const ComponentPlan &plan, const Bytes &payload)
{
    std::array<uint8_t, IMAGE_AUTH_STATEMENT_SIZE> statement{};
    const Digest payload_digest = imgtool_sha256(payload.data(), payload.size());
    image_auth_statement(plan.type, plan.id, uint32_t(payload.size()), payload_digest.data(), statement.data());
    return statement;
}

// ---- digest and attach ----

// An unsigned (or signed) format-3 component read back into the plan that made it: the
// records other than 3, 4 and 5 are kept, and *padding receives the size of the padding
// records (type 0, no value) of its header.
bool plan_from_component(const char *path, const Bytes &file, ComponentPlan *plan, Bytes *payload,
                         uint32_t *padding)
{
    const Walk walk = imgtool_walk(file);
    if (walk.components.size() != 1 || walk.end != WalkEnd::Complete)
        return imgtool_fail("'%s' is not one whole component", path), false;
    const image_layout &layout = walk.components[0].layout;
    if (layout.format != 3)
        return imgtool_fail("'%s' is format %u; signatures need format 3", path, layout.format), false;
    const image_header header = image_read_header(file.data());
    plan->type = layout.type;
    plan->id = header.id;
    plan->format = 3;
    plan->format2_flag = (header.magic & IMAGE_FORMAT2_FLAG) != 0;
    *padding = 0;
    image_walk_records(file.data(), layout, [&](const image_record &r) {
        if (r.type == 0 && r.value_length == 0)
            *padding += r.length;
        else if (!is_signature_record(r.type))
            plan->records.push_back({r.type, Bytes(r.value, r.value + r.value_length)});
    });
    payload->assign(file.begin() + layout.header_len, file.begin() + layout.total);
    return true;
}

struct ExternalRequest {
    const char *file = nullptr;
    const char *out = nullptr;
    const char *key_path = nullptr;
    SignerOptions signer;
    std::vector<std::pair<std::string, std::string>> signatures; // LABEL, FILE
};

int parse_external(int argc, char **argv, bool attaching, ExternalRequest *request)
{
    for (int i = 0; i < argc; i++) {
        const int taken = imgtool_signer_option(argc, argv, &i, &request->signer);
        if (taken < 0)
            return 1;
        if (taken > 0)
            continue;
        const std::string arg = argv[i];
        const bool wants_value = arg == "--key" || (attaching && (arg == "--signature" || arg == "-o"));
        if (wants_value && i + 1 >= argc)
            return imgtool_fail("%s needs a value", arg.c_str());
        if (arg == "--key") {
            request->key_path = argv[++i];
        } else if (wants_value && arg == "-o") {
            request->out = argv[++i];
        } else if (wants_value) {
            const std::string value = argv[++i];
            const size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0)
                return imgtool_fail("signature '%s' is not LABEL=FILE", value.c_str());
            request->signatures.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (arg.size() > 1 && arg[0] == '-') {
            return imgtool_fail("unknown option '%s'", arg.c_str());
        } else if (request->file) {
            return imgtool_fail("one component file only ('%s')", arg.c_str());
        } else {
            request->file = argv[i];
        }
    }
    if (!request->file || !request->key_path || (attaching && !request->out))
        return imgtool_fail(attaching ? "attach needs FILE, --key PUB.pem, the signatures and -o OUT (see --help)"
                                      : "digest needs FILE and --key PUB.pem (see --help)");
    return 0;
}

// The signature files of an attach request, in the order of the needs.
bool signatures_for(const ExternalRequest &request, const std::vector<SignatureNeed> &needs, std::vector<Bytes> *out)
{
    for (const auto &[label, path] : request.signatures)
        if (std::none_of(needs.begin(), needs.end(), [&](const SignatureNeed &n) { return label == n.label; }))
            return imgtool_fail("no signature is labelled '%s' (digest prints the labels)", label.c_str()), false;
    for (const SignatureNeed &need : needs) {
        auto given = std::find_if(request.signatures.begin(), request.signatures.end(),
                                  [&](const auto &s) { return s.first == need.label; });
        if (given == request.signatures.end())
            return imgtool_fail("missing --signature %s=FILE", need.label), false;
        out->emplace_back();
        if (!imgtool_read_file(given->second.c_str(), &out->back()))
            return imgtool_fail("cannot read '%s': %s", given->second.c_str(), std::strerror(errno)), false;
    }
    return true;
}

// What digest and attach both start from: their options, the component read back into its
// plan and payload, and the public key.
struct ExternalJob {
    ExternalRequest request;
    ComponentPlan plan;
    Bytes payload;
    uint32_t padding = 0;
    Pkey key;
};

bool prepare_external(int argc, char **argv, bool attaching, ExternalJob *job)
{
    if (parse_external(argc, argv, attaching, &job->request) != 0)
        return false;
    Bytes file;
    if (!imgtool_read_file(job->request.file, &file))
        return imgtool_fail("cannot read '%s': %s", job->request.file, std::strerror(errno)), false;
    return plan_from_component(job->request.file, file, &job->plan, &job->payload, &job->padding) &&
           imgtool_load_public_key(job->request.key_path, job->request.signer, &job->key);
}

} // namespace

Digest imgtool_sha256(const uint8_t *data, size_t size)
{
    Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::vector<SignatureNeed> imgtool_signature_needs(const ComponentPlan &plan, const Bytes &payload)
{
    const auto statement = statement_of(plan, payload);
    return {{"payload", imgtool_sha256(payload.data(), payload.size())},
            {"header", imgtool_sha256(statement.data(), statement.size())}};
}

bool imgtool_add_signature_records(ComponentPlan &plan, const Bytes &payload, EVP_PKEY *public_key,
                                   bool key_as_der, const std::vector<Bytes> &signatures)
{
    const std::vector<SignatureNeed> needs = imgtool_signature_needs(plan, payload);
    if (signatures.size() != needs.size())
        return imgtool_fail("%zu signatures given, %zu needed", signatures.size(), needs.size()), false;
    for (size_t i = 0; i < needs.size(); ++i)
        if (!verifies(public_key, needs[i].digest, signatures[i]))
            return imgtool_fail("the %s signature does not verify with the key", needs[i].label), false;
    Bytes key_record;
    if (!imgtool_key_record(public_key, key_as_der, &key_record))
        return imgtool_fail("cannot encode the public key"), false;
    const auto statement = statement_of(plan, payload);
    Bytes auth(statement.begin(), statement.end());
    auth.insert(auth.end(), signatures[1].begin(), signatures[1].end());

    std::erase_if(plan.records, [](const ComponentRecord &r) { return is_signature_record(r.type); });
    plan.records.push_back({IMAGE_RECORD_SIGNATURE, signatures[0]});
    plan.records.push_back({IMAGE_RECORD_KEY, std::move(key_record)});
    plan.records.push_back({IMAGE_RECORD_AUTH_HEADER, std::move(auth)});
    return true;
}

bool imgtool_sign_plan(ComponentPlan &plan, const Bytes &payload, const SignerOptions &options)
{
    SigningKey key;
    if (!imgtool_load_signing_key(options, &key))
        return false;
    std::vector<Bytes> signatures;
    for (const SignatureNeed &need : imgtool_signature_needs(plan, payload)) {
        signatures.emplace_back();
        if (!sign_digest(key.private_key.get(), need.digest, &signatures.back())) {
            ERR_clear_error();
            return imgtool_fail("%s: the key cannot make the %s signature", options.key, need.label), false;
        }
    }
    return imgtool_add_signature_records(plan, payload, key.public_key.get(), options.key_as_der, signatures);
}

int imgtool_digest(int argc, char **argv)
{
    if (imgtool_wants_help(argc, argv)) {
        std::puts("usage: imgtool digest FILE --key PUB.pem\n"
                  "Prints one line 'LABEL HEX' for each signature a signed component needs: 'payload'\n"
                  "(record 3) and 'header' (the authenticated header, record 5). HEX is the SHA-256\n"
                  "value an RSA PKCS#1 v1.5 signer signs, as 'openssl pkeyutl -sign -pkeyopt\n"
                  "digest:sha256 -in DIGEST.bin' does. FILE is a format-3 component (imgtool create\n"
                  "--format 3 without --sign); the key is refused when the board cannot verify with it.");
        return 0;
    }
    ExternalJob job;
    if (!prepare_external(argc, argv, false, &job))
        return 1;
    for (const SignatureNeed &need : imgtool_signature_needs(job.plan, job.payload))
        std::printf("%s %s\n", need.label, imgtool_hex(need.digest.data(), need.digest.size()).c_str());
    return 0;
}

int imgtool_attach(int argc, char **argv)
{
    if (imgtool_wants_help(argc, argv)) {
        std::puts("usage: imgtool attach FILE --key PUB.pem --signature payload=SIG.bin\n"
                  "                      --signature header=SIG.bin [--key-record pem|der] -o OUT\n"
                  "Puts the signatures made for the values 'imgtool digest' printed into the component,\n"
                  "with the key record, and fixes H and the CRC. Records 3, 4 and 5 already there are\n"
                  "replaced. A signature that does not verify with the key is refused. The result is\n"
                  "byte for byte what 'imgtool create --sign' makes with the same key.");
        return 0;
    }
    ExternalJob job;
    std::vector<Bytes> signatures;
    if (!prepare_external(argc, argv, true, &job) ||
        !signatures_for(job.request, imgtool_signature_needs(job.plan, job.payload), &signatures) ||
        !imgtool_add_signature_records(job.plan, job.payload, job.key.get(), job.request.signer.key_as_der, signatures))
        return 1;
    ComponentPlan &plan = job.plan;
    // A header that had room to spare keeps it behind the new records.
    if (job.padding) {
        plan.header_len = IMAGE_PROBE_SIZE + job.padding;
        for (const ComponentRecord &r : plan.records)
            plan.header_len += uint32_t(IMAGE_RECORD_HEADER_SIZE + r.value.size());
    }
    const char *why = "";
    const Bytes component = image_build_component(plan, job.payload, &why);
    if (component.empty())
        return imgtool_fail("cannot make the component: %s", why);
    if (!imgtool_write_file(job.request.out, component.data(), component.size()))
        return imgtool_fail("cannot write '%s': %s", job.request.out, std::strerror(errno));
    return 0;
}
