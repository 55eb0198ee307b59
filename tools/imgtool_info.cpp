// imgtool info: per component its layout, version, CRC, records and signature facts, as text
// lines or one JSON document.
#include "tools/imgtool_info.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crypto/init.h"
#include "image/auth_header.h"
#include "image/bytes.h"
#include "signature/imgsign.h"
#include "signature/trusted_keys.h"
#include "tools/imgtool_sign.h"

namespace {

std::string hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string version_text(uint32_t id)
{
    char text[16];
    image_format_version(id, text, sizeof text);
    return text;
}

std::string type_text(uint32_t type)
{
    const char *name = image_type_name(type);
    return name ? name : hex32(type);
}

// The board's own check: PKCS#1 v1.5 / SHA-256 signature over `digest` with the key record.
bool board_verifies(const Digest &digest, const uint8_t *signature, uint32_t signature_length, const image_record &key)
{
    return IMGSIGN_verifySignature(digest.data(), int32_t(digest.size()), signature, signature_length, key.value,
                                   key.value_length) == OK;
}

SignatureFacts signature_facts(const uint8_t *p, const image_layout &layout, const image_record &signature,
                               const image_record &key)
{
    SignatureFacts facts;
    facts.present = true;
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    if (trusted_key_fingerprint(key.value, key.value_length, fingerprint) == OK) {
        facts.fingerprint = imgtool_hex(fingerprint, sizeof fingerprint);
        facts.trusted = trusted_keys().accept_any_key || trusted_keys_contain(trusted_keys(), fingerprint);
    }
    facts.verifies = board_verifies(imgtool_sha256(p + layout.header_len, layout.payload_len), signature.value,
                                    signature.value_length, key);
    return facts;
}

// Record 5: the statement must be the one rebuilt from this component, all 48 bytes, and its
// signature must verify with the key record.
AuthHeaderFacts auth_facts(const uint8_t *p, const image_layout &layout, const image_record &auth,
                           const image_record &key)
{
    AuthHeaderFacts facts;
    facts.present = true;
    facts.well_formed = auth.value_length >= IMAGE_AUTH_STATEMENT_SIZE;
    if (!facts.well_formed)
        return facts;
    facts.type = load_be32(auth.value + 4);
    facts.id = load_be32(auth.value + 8);
    facts.payload_len = load_be32(auth.value + 12);
    const Digest payload = imgtool_sha256(p + layout.header_len, layout.payload_len);
    uint8_t expected[IMAGE_AUTH_STATEMENT_SIZE];
    image_auth_statement(layout.type, image_read_header(p).id, layout.payload_len, payload.data(), expected);
    facts.matches = std::memcmp(expected, auth.value, IMAGE_AUTH_STATEMENT_SIZE) == 0;
    facts.verifies = key.value &&
                     board_verifies(imgtool_sha256(auth.value, IMAGE_AUTH_STATEMENT_SIZE),
                                    auth.value + IMAGE_AUTH_STATEMENT_SIZE,
                                    auth.value_length - uint32_t(IMAGE_AUTH_STATEMENT_SIZE), key);
    return facts;
}

const char *record_word(uint16_t type)
{
    switch (type) {
    case IMAGE_RECORD_SIGNATURE:
        return " (signature)";
    case IMAGE_RECORD_KEY:
        return " (key)";
    case IMAGE_RECORD_AUTH_HEADER:
        return " (authenticated header)";
    }
    return "";
}

int info_usage(int status)
{
    std::puts("usage: imgtool info FILE [--json]\n"
              "Walks a package, slot file or partition dump and prints, per component, its offset,\n"
              "type, format, header length H, payload length P, total size T, version, whether its\n"
              "CRC is good, its records, and what its signature and authenticated header prove.\n"
              "--json prints the same as one JSON document. Exits 1 when the file holds a corrupt\n"
              "component or trailing bytes that are not a component (fewer than 24, not erased\n"
              "flash), 2 when a CRC is bad.");
    return status;
}

} // namespace

ComponentFacts imgtool_component_facts(const Bytes &data, size_t index, const Component &component)
{
    const uint8_t *p = data.data() + component.offset;
    const image_layout &layout = component.layout;
    ComponentFacts facts{index, component, image_read_header(p), image_component_crc(p, layout.total), {}, {}, {}};
    image_record signature{}, key{}, auth{};
    image_walk_records(p, layout, [&](const image_record &r) {
        facts.records.push_back(r);
        if (r.type == IMAGE_RECORD_AUTH_HEADER)
            auth = r;
    });
    if (layout.format != 3 || !image_find_signature_records(p, layout, &signature, &key))
        return facts;
    CRYPTO_initLibrary();
    if (signature.value && key.value)
        facts.signature = signature_facts(p, layout, signature, key);
    if (auth.value)
        facts.auth = auth_facts(p, layout, auth, key);
    return facts;
}

void imgtool_print_facts(const ComponentFacts &f)
{
    const image_layout &l = f.component.layout;
    std::printf("component %zu at offset 0x%llX: type %s, format %u, H %u, P %u, T %u, version %s%s, crc 0x%08X %s\n",
                f.index, static_cast<unsigned long long>(f.component.offset), type_text(l.type).c_str(), l.format,
                l.header_len, l.payload_len, l.total, version_text(f.header.id).c_str(),
                f.header.id == 0 ? " (developer)" : "", f.header.crc, f.computed_crc == f.header.crc ? "good" : "BAD");
    for (const image_record &r : f.records)
        std::printf("  record type %u%s, length %u, value %u bytes\n", r.type, record_word(r.type), r.length,
                    r.value_length);
    const SignatureFacts &s = f.signature;
    if (s.present)
        std::printf("  signed by key %s (%s), signature %s\n", s.fingerprint.empty() ? "(unreadable)" : s.fingerprint.c_str(),
                    s.trusted ? "trusted" : "not trusted", s.verifies ? "verifies" : "does NOT verify");
    const AuthHeaderFacts &a = f.auth;
    if (a.present && !a.well_formed)
        std::puts("  authenticated header shorter than its 48-byte statement");
    else if (a.present)
        std::printf("  authenticated header: type %s, version %s, P %u, %s, signature %s\n", type_text(a.type).c_str(),
                    version_text(a.id).c_str(), a.payload_len, a.matches ? "matches the component" : "does NOT match the component",
                    a.verifies ? "verifies" : "does NOT verify");
}

nlohmann::json imgtool_facts_json(const ComponentFacts &f)
{
    const image_layout &l = f.component.layout;
    nlohmann::json records = nlohmann::json::array();
    for (const image_record &r : f.records)
        records.push_back({{"type", r.type}, {"length", r.length}, {"value_length", r.value_length}});
    nlohmann::json out = {
        {"index", f.index},
        {"offset", f.component.offset},
        {"type", type_text(l.type)},
        {"magic", f.header.magic},
        {"format", l.format},
        {"H", l.header_len},
        {"P", l.payload_len},
        {"T", l.total},
        {"version", version_text(f.header.id)},
        {"developer", f.header.id == 0},
        {"crc", {{"stored", f.header.crc}, {"computed", f.computed_crc}, {"good", f.computed_crc == f.header.crc}}},
        {"records", records},
        {"signature", nullptr},
        {"authenticated_header", nullptr},
    };
    if (f.signature.present)
        out["signature"] = {{"key_fingerprint", f.signature.fingerprint.empty() ? nullptr : nlohmann::json(f.signature.fingerprint)},
                            {"trusted", f.signature.trusted},
                            {"verifies", f.signature.verifies}};
    if (f.auth.present)
        out["authenticated_header"] = {{"well_formed", f.auth.well_formed}, {"type", type_text(f.auth.type)},
                                       {"version", version_text(f.auth.id)}, {"P", f.auth.payload_len},
                                       {"matches", f.auth.matches},          {"verifies", f.auth.verifies}};
    return out;
}

nlohmann::json imgtool_walk_end_json(const Walk &walk)
{
    static const char *const ends[] = {"complete", "trailing", "erased", "corrupt"};
    nlohmann::json out = {{"end", ends[int(walk.end)]}, {"offset", walk.end_offset}};
    if (walk.end == WalkEnd::Corrupt)
        out["reason"] = image_layout_status_text(walk.status);
    return out;
}

int imgtool_info(int argc, char **argv)
{
    const bool json = argc == 2 && (!std::strcmp(argv[0], "--json") || !std::strcmp(argv[1], "--json"));
    if (imgtool_wants_help(argc, argv))
        return info_usage(0);
    if (argc != 1 && !json)
        return info_usage(1);
    const char *file = json && !std::strcmp(argv[0], "--json") ? argv[1] : argv[0];
    Bytes data;
    if (!imgtool_read_file(file, &data))
        return imgtool_fail("cannot read '%s': %s", file, std::strerror(errno));
    const Walk walk = imgtool_walk(data);
    nlohmann::json document = {{"file", file}, {"size", data.size()}, {"components", nlohmann::json::array()}};
    if (!json)
        std::printf("%s: %zu bytes, %zu component%s\n", file, data.size(), walk.components.size(),
                    walk.components.size() == 1 ? "" : "s");
    bool all_good = true;
    for (size_t i = 0; i < walk.components.size(); i++) {
        const ComponentFacts facts = imgtool_component_facts(data, i, walk.components[i]);
        all_good &= facts.computed_crc == facts.header.crc;
        if (json)
            document["components"].push_back(imgtool_facts_json(facts));
        else
            imgtool_print_facts(facts);
    }
    const auto at = static_cast<unsigned long long>(walk.end_offset);
    if (json) {
        document["walk"] = imgtool_walk_end_json(walk);
        std::puts(document.dump(2).c_str());
    } else if (walk.end == WalkEnd::Erased) {
        std::printf("erased flash from offset 0x%llX\n", at);
    }
    if (walk.end == WalkEnd::Trailing)
        return imgtool_fail("%llu trailing bytes at offset 0x%llX are not a component (fewer than 24)",
                            static_cast<unsigned long long>(data.size()) - at, at);
    if (walk.end == WalkEnd::Corrupt)
        return imgtool_fail("corrupt component at offset 0x%llX: %s", at, image_layout_status_text(walk.status));
    return all_good ? 0 : 2;
}
