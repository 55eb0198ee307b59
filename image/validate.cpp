// The signature gate and its rules, the version policy, the installed header of each image type
// and the same-as-installed test.
#include "image/validate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "board/mtd.h"
#include "crypto/init.h"
#include "image/auth_header.h"
#include "image/bytes.h"
#include "image/format.h"
#include "signature/imgsign.h"
#include "signature/trusted_keys.h"

namespace {

constexpr uint32_t UBOOT_HEADER_OFFSET = 240; // the block the boot loader payload carries
constexpr uint32_t MAX_HEADER_LEN = 0xFFFF;   // H is a 16-bit field

constexpr char DEVELOPER[] = "\tImage is a developer image";
constexpr char VERIFIED[] = "\tImage signature verified";
constexpr char NO_SIGNATURE[] = "\tImage rejected as it has no signature";
constexpr char REJECTED[] = "\tImage rejected";
constexpr char NOT_TRUSTED[] = "\tImage rejected: key not trusted";
constexpr char NO_DEVELOPER[] = "\tImage rejected: developer images are not accepted";
constexpr char NO_AUTH_HEADER[] = "\tImage rejected: no authenticated header";

int reject(const char *line)
{
    std::puts(line);
    return 0;
}

// The signing key must be one the build trusts: a signature that verifies with a key the
// component brings along proves nothing about who made it.
bool key_trusted(const image_record &key)
{
    const TrustedKeys &table = trusted_keys();
    if (table.accept_any_key)
        return true;
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    return trusted_key_fingerprint(key.value, key.value_length, fingerprint) == OK &&
           trusted_keys_contain(table, fingerprint);
}

int flash_partition_of(uint32_t type)
{
    switch (type) {
    case UBOOT:
        return MTD_UBOOT;
    case KERNEL:
        return MTD_KERNEL;
    case RFS:
        return MTD_RFS;
    case DFT:
        return MTD_DEVICETREE;
    case DIAGS:
        return MTD_RESCUE;
    }
    return -1;
}

// The records the gate reads: the last of each type counts.
struct GateRecords {
    image_record signature, key, auth;
};

// A gate outcome: `line` is the result line; null means that the digest is needed to decide.
struct Verdict {
    bool accepted;
    const char *line;
};

// Everything the gate decides before it needs the payload digest. `header` holds header_len
// bytes, at least the layout's H when the walk is to run.
Verdict screen(const uint8_t *header, uint32_t header_len, const image_layout &layout,
               const image_gate_rules &rules, GateRecords &records)
{
    if (!header || header_len < IMAGE_BASIC_HEADER_SIZE)
        return {false, NO_SIGNATURE};
    if (image_read_header(header).id == 0)
        return rules.refuse_developer_images ? Verdict{false, NO_DEVELOPER} : Verdict{true, DEVELOPER};
    if (header_len < IMAGE_PROBE_SIZE || load_be32(header + 16) != IMAGE_HDR3_TAG)
        return {false, NO_SIGNATURE};
    // The record walk stays inside the header bytes that are really there.
    if (layout.format != 3 || layout.header_len < IMAGE_PROBE_SIZE || layout.header_len > header_len ||
        layout.header_len > layout.total)
        return {false, REJECTED};
    records = GateRecords{};
    bool walked = image_walk_records(header, layout, [&](const image_record &record) {
        if (record.type == IMAGE_RECORD_SIGNATURE)
            records.signature = record;
        else if (record.type == IMAGE_RECORD_KEY)
            records.key = record;
        else if (record.type == IMAGE_RECORD_AUTH_HEADER)
            records.auth = record;
    });
    if (!walked)
        return {false, REJECTED};
    if (!records.signature.value || !records.key.value)
        return {false, NO_SIGNATURE};
    return {false, nullptr};
}

bool signature_verifies(const uint8_t digest[32], const uint8_t *signature, uint32_t signature_length,
                        const image_record &key)
{
    return IMGSIGN_verifySignature(digest, 32, signature, signature_length, key.value, key.value_length) == OK;
}

// Record 5: the statement rebuilt from the component must equal the recorded one byte for
// byte, and its signature must verify with the component's key. `payload_sha256` null takes
// the digest from the record itself (an installed component whose payload is not read).
bool auth_header_valid(const image_record &auth, const image_record &key, const image_layout &layout, uint32_t id,
                       const uint8_t *payload_sha256)
{
    if (auth.value_length <= IMAGE_AUTH_STATEMENT_SIZE)
        return false;
    uint8_t statement[IMAGE_AUTH_STATEMENT_SIZE];
    image_auth_statement(layout.type, id, layout.payload_len,
                         payload_sha256 ? payload_sha256 : auth.value + 16, statement);
    if (std::memcmp(statement, auth.value, sizeof statement) != 0)
        return false;
    uint8_t digest[32] = {};
    uint32_t digest_length = 0;
    return IMGSIGN_computeSHA256(statement, sizeof statement, digest, &digest_length) == OK &&
           signature_verifies(digest, auth.value + IMAGE_AUTH_STATEMENT_SIZE,
                              auth.value_length - IMAGE_AUTH_STATEMENT_SIZE, key);
}

// The decision once the payload digest is known. `install` demands the authenticated header
// under require_auth_header; a boot only checks it when it is there.
Verdict decide(const uint8_t *header, const image_layout &layout, const GateRecords &records,
               const uint8_t payload_sha256[32], const image_gate_rules &rules, bool install)
{
    CRYPTO_initLibrary();
    if (!signature_verifies(payload_sha256, records.signature.value, records.signature.value_length, records.key))
        return {false, REJECTED};
    if (!key_trusted(records.key))
        return {false, NOT_TRUSTED};
    if (records.auth.value) {
        if (!auth_header_valid(records.auth, records.key, layout, image_read_header(header).id, payload_sha256))
            return {false, REJECTED};
    } else if (install && rules.require_auth_header) {
        return {false, NO_AUTH_HEADER};
    }
    return {true, VERIFIED};
}

Verdict gate_with_digest(const uint8_t *header, uint32_t header_len, const image_layout &layout,
                         const uint8_t payload_sha256[32], const image_gate_rules &rules, bool install)
{
    GateRecords records;
    Verdict verdict = screen(header, header_len, layout, rules, records);
    if (verdict.line)
        return verdict;
    return decide(header, layout, records, payload_sha256, rules, install);
}

int report(const Verdict &verdict)
{
    std::puts(verdict.line);
    return verdict.accepted ? 1 : 0;
}

// Reads the header (H bytes) of the component installed at the start of a slot file or a
// flash partition; empty when there is none that could carry records.
std::vector<uint8_t> read_installed_component_header(uint32_t type, int slot)
{
    uint8_t probe[IMAGE_PROBE_SIZE] = {};
    std::vector<uint8_t> header;
    if (type == APPLICATION) {
        char path[32];
        std::snprintf(path, sizeof path, "/user/images/image%d", slot);
        FILE *file = std::fopen(path, "rb");
        if (!file)
            return header;
        if (std::fread(probe, 1, sizeof probe, file) == sizeof probe) {
            image_layout layout = image_get_layout(probe);
            header.resize(layout.format == 3 ? std::min(layout.header_len, MAX_HEADER_LEN) : 0);
            if (!header.empty() && (std::fseek(file, 0, SEEK_SET) != 0 ||
                                    std::fread(header.data(), 1, header.size(), file) != header.size()))
                header.clear();
        }
        std::fclose(file);
        return header;
    }
    int partition = flash_partition_of(type);
    // The boot loader's flash copy is its payload alone: no records to read back.
    if (partition < 0 || type == UBOOT || flash_read_at(probe, g_mtd_fd[partition], 0, sizeof probe) != 0)
        return header;
    image_layout layout = image_get_layout(probe);
    mtd_geometry geometry = {};
    if (layout.format != 3 || !mtd_get_geometry(g_mtd_fd[partition], geometry) ||
        layout.header_len > geometry.total_size)
        return header;
    header.resize(layout.header_len);
    if (flash_read_at(header.data(), g_mtd_fd[partition], 0, layout.header_len) != 0)
        header.clear();
    return header;
}

// The authenticated version of the installed component of `type`, when it has one that a
// trusted key signed.
bool installed_signed_version(uint32_t type, int slot, uint32_t *id)
{
    std::vector<uint8_t> header = read_installed_component_header(type, slot);
    if (header.size() < IMAGE_PROBE_SIZE)
        return false;
    image_layout layout = image_get_layout(header.data());
    GateRecords records;
    Verdict verdict = screen(header.data(), uint32_t(header.size()), layout, IMAGE_GATE_DEFAULT, records);
    if (verdict.line || !records.auth.value || layout.type != type)
        return false;
    CRYPTO_initLibrary();
    *id = image_read_header(header.data()).id;
    return auth_header_valid(records.auth, records.key, layout, *id, nullptr) && key_trusted(records.key);
}

} // namespace

const image_gate_rules &image_gate_build_rules()
{
#ifdef BM_PRODUCTION_BUILD
    return IMAGE_GATE_PRODUCTION;
#else
    return IMAGE_GATE_DEFAULT;
#endif
}

bool image_type_gated(uint32_t type, const image_gate_rules &rules)
{
    switch (type) {
    case APPLICATION:
    case KERNEL:
    case RFS:
    case DFT:
        return true;
    case UBOOT:
    case DIAGS:
        return rules.gate_every_type;
    }
    return false;
}

int image_check_signature(const uint8_t *component, uint32_t total)
{
    return image_check_signature(component, total, image_gate_build_rules());
}

int image_check_signature(const uint8_t *component, uint32_t total, const image_gate_rules &rules)
{
    if (!component || total < IMAGE_PROBE_SIZE) {
        GateRecords unused;
        return report(screen(component, total, image_layout{}, rules, unused));
    }
    // The record walk and the payload range are bounded by the component in memory.
    image_layout layout = image_get_layout(component);
    GateRecords records;
    Verdict verdict = screen(component, total, layout, rules, records);
    if (verdict.line)
        return report(verdict);
    if (image_check_layout(layout, component, total) != IMAGE_LAYOUT_OK)
        return reject(REJECTED);

    CRYPTO_initLibrary();
    uint8_t digest[32] = {};
    uint32_t digest_length = 0;
    MSTATUS status = IMGSIGN_computeSHA256(component + layout.header_len, layout.payload_len, digest, &digest_length);
    if (status != OK) {
        std::printf("HASH calculation for signed image failed: rc = %d \n", status);
        return 0;
    }
    return report(decide(component, layout, records, digest, rules, true));
}

int image_check_signature_digest(const uint8_t *header, uint32_t header_len, const image_layout &layout,
                                 const uint8_t payload_sha256[32], const image_gate_rules &rules)
{
    return report(gate_with_digest(header, header_len, layout, payload_sha256, rules, true));
}

const char *image_boot_refusal(const uint8_t *header, uint32_t header_len, const image_layout &layout,
                               const uint8_t payload_sha256[32], const image_gate_rules &rules)
{
    Verdict verdict = gate_with_digest(header, header_len, layout, payload_sha256, rules, false);
    return verdict.accepted ? nullptr : verdict.line;
}

int image_check_downgrade(const uint8_t *header, int slot, const image_gate_rules &rules)
{
    if (!rules.refuse_downgrades || !header)
        return 1;
    image_header basic = image_read_header(header);
    uint32_t installed = 0;
    // The version word is big-endian a.b.c.d, so its value orders versions byte by byte.
    if (!installed_signed_version(basic.magic & ~IMAGE_FORMAT2_FLAG, slot, &installed) || basic.id >= installed)
        return 1;
    char offered[16], current[16];
    image_format_version(basic.id, offered, sizeof offered);
    image_format_version(installed, current, sizeof current);
    std::printf("\tImage rejected: version %s is older than the installed version %s\n", offered, current);
    return 0;
}

int image_read_installed_header(uint32_t type, uint8_t header[16], int slot)
{
    if (!header)
        return 0;
    std::memset(header, 0, IMAGE_BASIC_HEADER_SIZE);
    if (type == APPLICATION) {
        char path[32];
        std::snprintf(path, sizeof path, "/user/images/image%d", slot);
        FILE *file = std::fopen(path, "rb");
        if (!file)
            return 0;
        // A short slot file leaves zeros, which match no component.
        (void)std::fread(header, 1, IMAGE_BASIC_HEADER_SIZE, file);
        std::fclose(file);
        return 1;
    }
    int partition = flash_partition_of(type);
    if (partition < 0) {
        std::printf("Unknown image type 0x%x \n", type);
        return 0;
    }
    uint32_t offset = type == UBOOT ? UBOOT_HEADER_OFFSET : 0;
    if (flash_read_at(header, g_mtd_fd[partition], offset, IMAGE_BASIC_HEADER_SIZE) != 0)
        std::memset(header, 0, IMAGE_BASIC_HEADER_SIZE);
    return 1;
}

int image_same_as_installed(const uint8_t *header, int slot)
{
    if (!header)
        return 0;
    uint32_t type = image_read_header(header).magic & ~IMAGE_FORMAT2_FLAG;
    uint8_t installed[IMAGE_BASIC_HEADER_SIZE];
    if (!image_read_installed_header(type, installed, slot))
        return 0;
    // The boot loader's own copy of its header has an uninterpreted first word.
    size_t from = type == UBOOT ? 4 : 0;
    return std::memcmp(header + from, installed + from, IMAGE_BASIC_HEADER_SIZE - from) == 0 ? 1 : 0;
}
