// imgtool: host tool for firmware engineers to make, pack and inspect image components.
//   imgtool create  one component from a payload (any type, format 1, 2 or 3)
//   imgtool pack    a package of whole components laid end to end
//   imgtool info    the components of a package, slot file or partition dump
//   imgtool extract the payload of one component
//   imgtool verify  the signature gate's verdict on every component
//   imgtool keyhash the fingerprint of a signing key
// Every error is one line on standard error and a non-zero exit status.
#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "tools/imgtool_sign.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int fail(const char *fmt, const char *a = "", const char *b = "")
{
    std::fprintf(stderr, "imgtool: ");
    std::fprintf(stderr, fmt, a, b);
    std::fputc('\n', stderr);
    return 1;
}

bool write_file(const char *path, const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool parse_number(const char *text, uint32_t *value)
{
    if (!text || !*text || *text == '-')
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (errno || *end || v > UINT32_MAX)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

struct TypeName {
    const char *word;
    uint32_t type;
};
constexpr TypeName TYPES[] = {{"application", APPLICATION}, {"uboot", UBOOT}, {"kernel", KERNEL},
                              {"rfs", RFS},                 {"dft", DFT},     {"diags", DIAGS}};

bool wants_help(int argc, char **argv)
{
    for (int i = 0; i < argc; i++)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h"))
            return true;
    return false;
}

// ---- the component walk shared by info, extract and pack ----

struct Component {
    uint64_t offset;
    image_layout layout;
};

enum class WalkEnd { Complete, Trailing, Erased, Corrupt };

struct Walk {
    std::vector<Component> components;
    WalkEnd end = WalkEnd::Complete;
    uint64_t end_offset = 0;
    image_layout_status status = IMAGE_LAYOUT_OK;
};

bool all_erased(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] != 0xFF)
            return false;
    return true;
}

// Walks components end to end; stops at fewer than 24 bytes, at erased flash (a partition
// dump ends in 0xFF bytes) or at the first component that fails the consistency check.
Walk walk_components(const Bytes &data)
{
    Walk walk;
    uint64_t offset = 0;
    while (offset < data.size()) {
        const uint8_t *p = data.data() + offset;
        const uint64_t left = data.size() - offset;
        walk.end_offset = offset;
        if (all_erased(p, left)) {
            walk.end = WalkEnd::Erased;
            return walk;
        }
        if (left < IMAGE_PROBE_SIZE) {
            walk.end = WalkEnd::Trailing;
            return walk;
        }
        image_layout layout = image_get_layout(p);
        image_layout_status status = image_check_layout(layout, p, left);
        if (status != IMAGE_LAYOUT_OK) {
            walk.end = WalkEnd::Corrupt;
            walk.status = status;
            return walk;
        }
        walk.components.push_back({offset, layout});
        offset += layout.total;
    }
    walk.end_offset = offset;
    return walk;
}

// ---- commands ----

int cmd_create(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        std::puts("usage: imgtool create --type application|uboot|kernel|rfs|dft|diags --version a.b.c.d\n"
                  "                      --format 1|2|3 [--header-size N] [--record TYPE=FILE]...\n"
                  "                      [--sign KEY.pem [--key-record pem|der]] -o OUT PAYLOAD\n"
                  "Makes one component: header of the given format, optional format-3 records (TYPE is a\n"
                  "number: 3 signature, 4 verification key; later records of a type replace earlier\n"
                  "ones for readers), the payload file, and the CRC over bytes 4 to T-1.\n"
                  "--header-size sets H (format 2: at least 20; format 3: at least 24 plus the records).\n"
                  "--sign (format 3) signs the payload with the RSA private key (PKCS#1 v1.5, SHA-256) and\n"
                  "adds the signature record and the public key record (PEM unless --key-record der).\n"
                  "A component must be at least 24 bytes (the bytes readers need to see one), and a\n"
                  "format-1 payload must not start with \"HDR3\" (readers would take it for format 3).");
        return 0;
    }
    ComponentPlan plan;
    const char *out = nullptr, *payload_path = nullptr, *sign_key = nullptr;
    bool have_type = false, have_version = false, have_format = false, key_as_der = false;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--type" || arg == "--version" || arg == "--format" || arg == "--header-size" ||
            arg == "--record" || arg == "--sign" || arg == "--key-record" || arg == "-o") {
            if (!value)
                return fail("%s needs a value", arg.c_str());
            i++;
        }
        if (arg == "--type") {
            have_type = false;
            for (const auto &t : TYPES)
                if (!std::strcmp(value, t.word)) {
                    plan.type = t.type;
                    have_type = true;
                }
            if (!have_type)
                return fail("unknown type '%s' (application, uboot, kernel, rfs, dft, diags)", value);
        } else if (arg == "--version") {
            if (!image_parse_version(value, &plan.id))
                return fail("version '%s' is not a.b.c.d with numbers 0 to 255", value);
            have_version = true;
        } else if (arg == "--format") {
            if (!parse_number(value, &plan.format) || plan.format < 1 || plan.format > 3)
                return fail("format '%s' is not 1, 2 or 3", value);
            have_format = true;
        } else if (arg == "--header-size") {
            if (!parse_number(value, &plan.header_len) || plan.header_len == 0)
                return fail("header size '%s' is not a positive number", value);
        } else if (arg == "--record") {
            const char *eq = std::strchr(value, '=');
            uint32_t type = 0;
            if (!eq || !parse_number(std::string(value, eq).c_str(), &type) || type > 0xFFFF)
                return fail("record '%s' is not TYPE=FILE", value);
            ComponentRecord record{static_cast<uint16_t>(type), {}};
            if (!imgtool_read_file(eq + 1, &record.value))
                return fail("cannot read record file '%s': %s", eq + 1, std::strerror(errno));
            plan.records.push_back(std::move(record));
        } else if (arg == "--sign") {
            sign_key = value;
        } else if (arg == "--key-record") {
            if (std::strcmp(value, "pem") && std::strcmp(value, "der"))
                return fail("key record form '%s' is not pem or der", value);
            key_as_der = !std::strcmp(value, "der");
        } else if (arg == "-o") {
            out = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option '%s' (see imgtool create --help)", arg.c_str());
        } else if (payload_path) {
            return fail("one payload file only ('%s')", arg.c_str());
        } else {
            payload_path = argv[i];
        }
    }
    if (!have_type || !have_version || !have_format || !out || !payload_path)
        return fail("create needs --type, --version, --format, -o and a payload file (see --help)");
    Bytes payload;
    if (!imgtool_read_file(payload_path, &payload))
        return fail("cannot read payload '%s': %s", payload_path, std::strerror(errno));
    // Offset 16 of a format-1 component is the payload's start; readers test it for the
    // format-3 tag before anything else.
    if (plan.format == 1 && payload.size() >= 4 && load_be32(payload.data()) == IMAGE_HDR3_TAG)
        return fail("payload starts with \"HDR3\": readers would take this format-1 component for format 3");
    if (sign_key && !imgtool_sign_plan(plan, payload, sign_key, key_as_der))
        return 1;
    const char *why = "";
    Bytes component = image_build_component(plan, payload, &why);
    if (component.empty())
        return fail("cannot make the component: %s", why);
    // Readers need 24 bytes to see a component (info, pack and the board alike).
    if (component.size() < IMAGE_PROBE_SIZE) {
        const std::string size = std::to_string(component.size());
        const std::string more = std::to_string(IMAGE_PROBE_SIZE - component.size());
        return fail("component of %s bytes is below the 24 that readers need: add at least %s payload bytes",
                    size.c_str(), more.c_str());
    }
    if (!write_file(out, component.data(), component.size()))
        return fail("cannot write '%s': %s", out, std::strerror(errno));
    return 0;
}

int cmd_pack(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        std::puts("usage: imgtool pack -o OUT COMPONENT...\n"
                  "Lays whole components end to end into a package. Each input must be exactly one\n"
                  "component whose header is consistent and whose size is its total size T.");
        return 0;
    }
    const char *out = nullptr;
    Bytes package;
    int inputs = 0;
    for (int i = 0; i < argc; i++) {
        if (!std::strcmp(argv[i], "-o")) {
            if (i + 1 >= argc)
                return fail("-o needs a value");
            out = argv[++i];
            continue;
        }
        Bytes component;
        if (!imgtool_read_file(argv[i], &component))
            return fail("cannot read '%s': %s", argv[i], std::strerror(errno));
        Walk walk = walk_components(component);
        if (walk.components.size() != 1 || walk.end != WalkEnd::Complete)
            return fail("'%s' is not one whole component", argv[i]);
        package.insert(package.end(), component.begin(), component.end());
        inputs++;
    }
    if (!out || inputs == 0)
        return fail("pack needs -o OUT and at least one component (see --help)");
    if (!write_file(out, package.data(), package.size()))
        return fail("cannot write '%s': %s", out, std::strerror(errno));
    return 0;
}

void print_component(const Bytes &data, size_t index, const Component &c)
{
    const uint8_t *p = data.data() + c.offset;
    const image_header h = image_read_header(p);
    const char *name = image_type_name(c.layout.type);
    char type_text[16], version[16];
    std::snprintf(type_text, sizeof type_text, "0x%08X", c.layout.type);
    image_format_version(h.id, version, sizeof version);
    const bool crc_good = image_component_crc(p, c.layout.total) == h.crc;
    std::printf("component %zu at offset 0x%llX: type %s, format %u, H %u, P %u, T %u, version %s%s, crc 0x%08X %s\n",
                index, static_cast<unsigned long long>(c.offset), name ? name : type_text, c.layout.format,
                c.layout.header_len, c.layout.payload_len, c.layout.total, version, h.id == 0 ? " (developer)" : "",
                h.crc, crc_good ? "good" : "BAD");
    image_walk_records(p, c.layout, [](const image_record &r) {
        const char *what = r.type == IMAGE_RECORD_SIGNATURE ? " (signature)" : r.type == IMAGE_RECORD_KEY ? " (key)" : "";
        std::printf("  record type %u%s, length %u, value %u bytes\n", r.type, what, r.length, r.value_length);
    });
    imgtool_print_signature(p, c.layout);
}

int cmd_info(int argc, char **argv)
{
    if (wants_help(argc, argv) || argc != 1) {
        std::puts("usage: imgtool info FILE\n"
                  "Walks a package, slot file or partition dump and prints, per component, its offset,\n"
                  "type, format, header length H, payload length P, total size T, version, whether its\n"
                  "CRC is good, and its records. Exits 1 when the file holds a corrupt component or\n"
                  "trailing bytes that are not a component (fewer than 24, not erased flash), 2 when\n"
                  "a CRC is bad.");
        return wants_help(argc, argv) ? 0 : 1;
    }
    Bytes data;
    if (!imgtool_read_file(argv[0], &data))
        return fail("cannot read '%s': %s", argv[0], std::strerror(errno));
    Walk walk = walk_components(data);
    std::printf("%s: %zu bytes, %zu component%s\n", argv[0], data.size(), walk.components.size(),
                walk.components.size() == 1 ? "" : "s");
    bool all_good = true;
    for (size_t i = 0; i < walk.components.size(); i++) {
        print_component(data, i, walk.components[i]);
        const uint8_t *p = data.data() + walk.components[i].offset;
        all_good &= image_component_crc(p, walk.components[i].layout.total) == image_read_header(p).crc;
    }
    const auto at = static_cast<unsigned long long>(walk.end_offset);
    switch (walk.end) {
    case WalkEnd::Complete:
        break;
    case WalkEnd::Trailing:
        std::fprintf(stderr, "imgtool: %llu trailing bytes at offset 0x%llX are not a component (fewer than 24)\n",
                     static_cast<unsigned long long>(data.size()) - at, at);
        return 1;
    case WalkEnd::Erased:
        std::printf("erased flash from offset 0x%llX\n", at);
        break;
    case WalkEnd::Corrupt:
        std::fprintf(stderr, "imgtool: corrupt component at offset 0x%llX: %s\n", at,
                     image_layout_status_text(walk.status));
        return 1;
    }
    return all_good ? 0 : 2;
}

int cmd_extract(int argc, char **argv)
{
    if (wants_help(argc, argv)) {
        std::puts("usage: imgtool extract FILE INDEX -o OUT\n"
                  "Writes the payload (bytes H to T-1) of component INDEX (counted from 0, as info\n"
                  "prints them) to OUT.");
        return 0;
    }
    const char *file = nullptr, *index_text = nullptr, *out = nullptr;
    for (int i = 0; i < argc; i++) {
        if (!std::strcmp(argv[i], "-o") && i + 1 < argc)
            out = argv[++i];
        else if (!file)
            file = argv[i];
        else if (!index_text)
            index_text = argv[i];
        else
            return fail("unexpected argument '%s'", argv[i]);
    }
    uint32_t index = 0;
    if (!file || !index_text || !out)
        return fail("extract needs FILE INDEX -o OUT (see --help)");
    if (!parse_number(index_text, &index))
        return fail("index '%s' is not a number", index_text);
    Bytes data;
    if (!imgtool_read_file(file, &data))
        return fail("cannot read '%s': %s", file, std::strerror(errno));
    Walk walk = walk_components(data);
    if (index >= walk.components.size())
        return fail("'%s' has no component %s", file, index_text);
    const Component &c = walk.components[index];
    if (!write_file(out, data.data() + c.offset + c.layout.header_len, c.layout.payload_len))
        return fail("cannot write '%s': %s", out, std::strerror(errno));
    return 0;
}

void usage()
{
    std::puts("usage: imgtool COMMAND [ARGS]\n"
              "  create   make one component from a payload\n"
              "  pack     lay whole components end to end into a package\n"
              "  info     list the components of a package, slot file or partition dump\n"
              "  extract  write the payload of one component\n"
              "  verify   run the signature gate on every component\n"
              "  keyhash  print the fingerprint of a signing key\n"
              "Run 'imgtool COMMAND --help' for the arguments of a command.");
}

} // namespace

bool imgtool_read_file(const char *path, std::vector<uint8_t> *out)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    out->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out->insert(out->end(), chunk, chunk + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage();
        return 1;
    }
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        usage();
        return 0;
    }
    if (command == "create")
        return cmd_create(argc - 2, argv + 2);
    if (command == "pack")
        return cmd_pack(argc - 2, argv + 2);
    if (command == "info")
        return cmd_info(argc - 2, argv + 2);
    if (command == "extract")
        return cmd_extract(argc - 2, argv + 2);
    if (command == "verify")
        return imgtool_verify(argc - 2, argv + 2);
    if (command == "keyhash")
        return imgtool_keyhash(argc - 2, argv + 2);
    return fail("unknown command '%s' (see imgtool --help)", command.c_str());
}
