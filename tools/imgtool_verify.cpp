// imgtool verify and keyhash. `verify` gives the verdict a board would give, through the
// boot manager's own gate, its rules and key readers: a default board installs boot-loader
// and diagnostics components unsigned, a production board (--production) gates every type
// and demands the authenticated header.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/validate.h"
#include "signature/trusted_keys.h"
#include "tools/imgtool_info.h"
#include "tools/imgtool_sign.h"

namespace {

struct VerifyRequest {
    const char *file = nullptr;
    bool json = false;
    const image_gate_rules *rules = &IMAGE_GATE_DEFAULT;
    std::vector<std::array<uint8_t, KEY_FINGERPRINT_SIZE>> trusted;
};

struct Verdict {
    bool checked;
    bool accepted;
    std::string line; // the board's line, without its tab and line end
};

// Runs the gate with its line caught instead of printed.
Verdict caught_gate(const uint8_t *component, uint32_t total, const image_gate_rules &rules)
{
    FILE *catcher = std::tmpfile();
    if (!catcher)
        return {true, false, "cannot catch the gate's line"};
    bool accepted = false;
    {
        FdRedirect catching(STDOUT_FILENO, fileno(catcher));
        accepted = image_check_signature(component, total, rules) == 1;
    }
    std::string line;
    char buffer[256];
    std::rewind(catcher);
    while (std::fgets(buffer, sizeof buffer, catcher))
        line += buffer;
    std::fclose(catcher);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    if (!line.empty() && line.front() == '\t')
        line.erase(0, 1);
    return {true, accepted, line};
}

Verdict board_verdict(const uint8_t *component, const image_layout &layout, const image_gate_rules &rules,
                      bool catching)
{
    if (!image_type_gated(layout.type, rules)) {
        const std::string line = std::string("Image not checked: the board installs ") + image_type_name(layout.type) +
                                 " components unsigned";
        if (!catching)
            std::printf("\t%s\n", line.c_str());
        return {false, true, line};
    }
    if (catching)
        return caught_gate(component, layout.total, rules);
    return {true, image_check_signature(component, layout.total, rules) == 1, {}};
}

int verify_usage()
{
    std::puts("usage: imgtool verify FILE [--trusted KEY]... [--production] [--json]\n"
              "Gives, for every component of a component, package, slot file or partition dump,\n"
              "the verdict line a board's installer gives. A default board gates application,\n"
              "kernel, root-fs and device-tree components and installs boot-loader and diagnostics\n"
              "components unsigned; --production gives a production board's verdict (every type\n"
              "gated, no developer images, the authenticated header required). Downgrades depend\n"
              "on what a board has installed and are not judged here. Without --trusted the keys\n"
              "built into this tool (BM_TRUSTED_KEYS) are trusted. --json prints one JSON document\n"
              "(info's fields and each verdict). Exits 0 only when every component passes.");
    return 0;
}

int parse_verify(int argc, char **argv, VerifyRequest *request)
{
    SignerOptions no_pass_phrase;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            request->json = true;
        } else if (!std::strcmp(argv[i], "--production")) {
            request->rules = &IMAGE_GATE_PRODUCTION;
        } else if (!std::strcmp(argv[i], "--trusted")) {
            if (i + 1 >= argc)
                return imgtool_fail("--trusted needs a key file");
            Pkey key;
            if (!imgtool_load_public_key(argv[++i], no_pass_phrase, &key))
                return 1;
            Bytes der;
            std::array<uint8_t, KEY_FINGERPRINT_SIZE> fingerprint{};
            if (!imgtool_key_record(key.get(), true, &der) ||
                trusted_key_fingerprint(der.data(), uint32_t(der.size()), fingerprint.data()) != OK)
                return imgtool_fail("%s: the board's key readers refuse this key", argv[i]);
            request->trusted.push_back(fingerprint);
        } else if (!request->file) {
            request->file = argv[i];
        } else {
            return imgtool_fail("unexpected argument '%s'", argv[i]);
        }
    }
    return request->file ? 0 : imgtool_fail("verify needs a file (see --help)");
}

} // namespace

int imgtool_verify(int argc, char **argv)
{
    if (imgtool_wants_help(argc, argv))
        return verify_usage();
    VerifyRequest request;
    if (parse_verify(argc, argv, &request) != 0)
        return 1;
    Bytes data;
    if (!imgtool_read_file(request.file, &data))
        return imgtool_fail("cannot read '%s': %s", request.file, std::strerror(errno));

    TrustedKeys table{reinterpret_cast<const uint8_t(*)[KEY_FINGERPRINT_SIZE]>(request.trusted.data()),
                      request.trusted.size(), false};
    if (!request.trusted.empty())
        trusted_keys_override(&table);

    const Walk walk = imgtool_walk(data);
    nlohmann::json document = {{"file", request.file},
                                {"board", request.rules == &IMAGE_GATE_PRODUCTION ? "production" : "default"},
                                {"components", nlohmann::json::array()}};
    bool all_pass = walk.end != WalkEnd::Corrupt;
    for (size_t i = 0; i < walk.components.size(); ++i) {
        const Component &c = walk.components[i];
        const uint8_t *p = data.data() + c.offset;
        if (!request.json) {
            const char *name = image_type_name(c.layout.type);
            std::printf("component %zu at offset 0x%llX (%s):", i, static_cast<unsigned long long>(c.offset),
                        name ? name : "unknown type");
        }
        const Verdict verdict = board_verdict(p, c.layout, *request.rules, request.json);
        all_pass &= verdict.accepted;
        if (request.json) {
            nlohmann::json entry = imgtool_facts_json(imgtool_component_facts(data, i, c));
            entry["verdict"] = {{"checked", verdict.checked}, {"accepted", verdict.accepted}, {"line", verdict.line}};
            document["components"].push_back(entry);
        }
    }
    trusted_keys_override(nullptr);
    if (walk.end == WalkEnd::Corrupt && !request.json)
        std::printf("component %zu at offset 0x%llX: corrupt header\n", walk.components.size(),
                    static_cast<unsigned long long>(walk.end_offset));
    all_pass &= !walk.components.empty();
    if (request.json) {
        document["walk"] = imgtool_walk_end_json(walk);
        document["accepted"] = all_pass;
        std::puts(document.dump(2).c_str());
    } else if (walk.components.empty()) {
        std::printf("%s: no component\n", request.file);
    }
    return all_pass ? 0 : 1;
}

int imgtool_keyhash(int argc, char **argv)
{
    SignerOptions options;
    const char *path = nullptr;
    bool usage = imgtool_wants_help(argc, argv);
    for (int i = 0; i < argc && !usage; ++i) {
        const int taken = imgtool_signer_option(argc, argv, &i, &options);
        if (taken < 0)
            return 1;
        usage = taken == 0 && path;
        if (taken == 0)
            path = argv[i];
    }
    if (usage || !path) {
        std::puts("usage: imgtool keyhash KEY [--passin SOURCE]\n"
                  "Prints the fingerprint of an RSA key (PEM or DER, public or private) as the build\n"
                  "records it for BM_TRUSTED_KEYS: the SHA-256 of its public key blob. Keys the board\n"
                  "cannot verify with (a modulus outside 2048 to 4096 bits, even, or an exponent\n"
                  "wider than 32 bits) are refused.");
        return imgtool_wants_help(argc, argv) ? 0 : 1;
    }
    Pkey key;
    if (!imgtool_load_public_key(path, options, &key))
        return 1;
    Bytes der;
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    if (!imgtool_key_record(key.get(), true, &der) ||
        trusted_key_fingerprint(der.data(), uint32_t(der.size()), fingerprint) != OK)
        return imgtool_fail("%s: the board's key readers refuse this key", path);
    std::printf("%s  %s\n", imgtool_hex(fingerprint, sizeof fingerprint).c_str(), path);
    return 0;
}
