// imgtool: host tool for firmware engineers to make, pack and inspect image components.
//   imgtool create  one component from a payload (any type, format 1, 2 or 3)
//   imgtool pack    a package of whole components laid end to end
//   imgtool info    the components of a package, slot file or partition dump
//   imgtool extract the payload of one component
//   imgtool verify  the board's verdict on every component
//   imgtool keyhash the fingerprint of a signing key
//   imgtool digest  the values an external signer signs
//   imgtool attach  the signatures an external signer made, put into a component
// Every error is one line on standard error and a non-zero exit status.
#include "tools/imgtool.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bm_version.h"
#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "tools/imgtool_sign.h"

namespace {

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

// ---- commands ----

// What `create` was asked for, once its options are read.
struct CreateRequest {
    ComponentPlan plan;
    const char *out = nullptr;
    const char *payload_path = nullptr;
    SignerOptions signer; // signer.key set: sign
};

void create_usage()
{
    std::puts("usage: imgtool create --type application|uboot|kernel|rfs|dft|diags --version a.b.c.d\n"
              "                      --format 1|2|3 [--header-size N] [--record TYPE=FILE]...\n"
              "                      [--sign KEY|pkcs11:URI [--key-record pem|der] [--passin SOURCE]\n"
              "                      [--pkcs11-module LIB]] -o OUT PAYLOAD\n"
              "Makes one component: header of the given format, optional format-3 records (TYPE is a\n"
              "number: 3 signature, 4 verification key, 5 authenticated header; later records of a\n"
              "type replace earlier ones for readers), the payload file, and the CRC over bytes 4 to T-1.\n"
              "--header-size sets H (format 2: at least 20; format 3: at least 24 plus the records).\n"
              "--sign (format 3) signs with the RSA private key (PKCS#1 v1.5, SHA-256) and adds the\n"
              "payload signature, the public key (PEM unless --key-record der) and the authenticated\n"
              "header (type, version, P and payload digest, signed). The key is a PEM or DER file\n"
              "(encrypted: --passin pass:TEXT|env:VAR|file:PATH|fd:N) or a PKCS#11 URI, with the\n"
              "module from --pkcs11-module or PKCS11_MODULE_PATH. Keys the board cannot verify with\n"
              "are refused. Without --sign, --format 3 makes an unsigned component for digest/attach.\n"
              "A component must be at least 24 bytes (the bytes readers need to see one), and a\n"
              "format-1 payload must not start with \"HDR3\" (readers would take it for format 3).");
}

// Reads create's options into `request`; returns 0, or 1 after a one-line error.
int parse_create(int argc, char **argv, CreateRequest *request)
{
    ComponentPlan &plan = request->plan;
    bool have_type = false, have_version = false, have_format = false;
    for (int i = 0; i < argc; i++) {
        const int taken = imgtool_signer_option(argc, argv, &i, &request->signer);
        if (taken < 0)
            return 1;
        if (taken > 0)
            continue;
        std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--type" || arg == "--version" || arg == "--format" || arg == "--header-size" ||
            arg == "--record" || arg == "--sign" || arg == "-o") {
            if (!value)
                return imgtool_fail("%s needs a value", arg.c_str());
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
                return imgtool_fail("unknown type '%s' (application, uboot, kernel, rfs, dft, diags)", value);
        } else if (arg == "--version") {
            if (!image_parse_version(value, &plan.id))
                return imgtool_fail("version '%s' is not a.b.c.d with numbers 0 to 255", value);
            have_version = true;
        } else if (arg == "--format") {
            if (!parse_number(value, &plan.format) || plan.format < 1 || plan.format > 3)
                return imgtool_fail("format '%s' is not 1, 2 or 3", value);
            have_format = true;
        } else if (arg == "--header-size") {
            if (!parse_number(value, &plan.header_len) || plan.header_len == 0)
                return imgtool_fail("header size '%s' is not a positive number", value);
        } else if (arg == "--record") {
            const char *eq = std::strchr(value, '=');
            uint32_t type = 0;
            if (!eq || !parse_number(std::string(value, eq).c_str(), &type) || type > 0xFFFF)
                return imgtool_fail("record '%s' is not TYPE=FILE", value);
            ComponentRecord record{static_cast<uint16_t>(type), {}};
            if (!imgtool_read_file(eq + 1, &record.value))
                return imgtool_fail("cannot read record file '%s': %s", eq + 1, std::strerror(errno));
            plan.records.push_back(std::move(record));
        } else if (arg == "--sign") {
            request->signer.key = value;
        } else if (arg == "-o") {
            request->out = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return imgtool_fail("unknown option '%s' (see imgtool create --help)", arg.c_str());
        } else if (request->payload_path) {
            return imgtool_fail("one payload file only ('%s')", arg.c_str());
        } else {
            request->payload_path = argv[i];
        }
    }
    if (!have_type || !have_version || !have_format || !request->out || !request->payload_path)
        return imgtool_fail("create needs --type, --version, --format, -o and a payload file (see --help)");
    if (request->signer.key && plan.format != 3)
        return imgtool_fail("signing needs --format 3; not signing with '%s'", request->signer.key);
    return 0;
}

// Builds, signs when asked, and writes the component.
int build_create(CreateRequest &request)
{
    ComponentPlan &plan = request.plan;
    Bytes payload;
    if (!imgtool_read_file(request.payload_path, &payload))
        return imgtool_fail("cannot read payload '%s': %s", request.payload_path, std::strerror(errno));
    // Offset 16 of a format-1 component is the payload's start; readers test it for the
    // format-3 tag before anything else.
    if (plan.format == 1 && payload.size() >= 4 && load_be32(payload.data()) == IMAGE_HDR3_TAG)
        return imgtool_fail("payload starts with \"HDR3\": readers would take this format-1 component for format 3");
    if (request.signer.key && !imgtool_sign_plan(plan, payload, request.signer))
        return 1;
    const char *why = "";
    Bytes component = image_build_component(plan, payload, &why);
    if (component.empty())
        return imgtool_fail("cannot make the component: %s", why);
    // Readers need 24 bytes to see a component (info, pack and the board alike).
    if (component.size() < IMAGE_PROBE_SIZE)
        return imgtool_fail("component of %zu bytes is below the 24 that readers need: add at least %zu payload bytes",
                            component.size(), IMAGE_PROBE_SIZE - component.size());
    if (!imgtool_write_file(request.out, component.data(), component.size()))
        return imgtool_fail("cannot write '%s': %s", request.out, std::strerror(errno));
    return 0;
}

int cmd_create(int argc, char **argv)
{
    if (imgtool_wants_help(argc, argv)) {
        create_usage();
        return 0;
    }
    CreateRequest request;
    if (parse_create(argc, argv, &request) != 0)
        return 1;
    return build_create(request);
}

int cmd_pack(int argc, char **argv)
{
    if (imgtool_wants_help(argc, argv)) {
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
                return imgtool_fail("-o needs a value");
            out = argv[++i];
            continue;
        }
        Bytes component;
        if (!imgtool_read_file(argv[i], &component))
            return imgtool_fail("cannot read '%s': %s", argv[i], std::strerror(errno));
        Walk walk = imgtool_walk(component);
        if (walk.components.size() != 1 || walk.end != WalkEnd::Complete)
            return imgtool_fail("'%s' is not one whole component", argv[i]);
        package.insert(package.end(), component.begin(), component.end());
        inputs++;
    }
    if (!out || inputs == 0)
        return imgtool_fail("pack needs -o OUT and at least one component (see --help)");
    if (!imgtool_write_file(out, package.data(), package.size()))
        return imgtool_fail("cannot write '%s': %s", out, std::strerror(errno));
    return 0;
}

int cmd_extract(int argc, char **argv)
{
    if (imgtool_wants_help(argc, argv)) {
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
            return imgtool_fail("unexpected argument '%s'", argv[i]);
    }
    uint32_t index = 0;
    if (!file || !index_text || !out)
        return imgtool_fail("extract needs FILE INDEX -o OUT (see --help)");
    if (!parse_number(index_text, &index))
        return imgtool_fail("index '%s' is not a number", index_text);
    Bytes data;
    if (!imgtool_read_file(file, &data))
        return imgtool_fail("cannot read '%s': %s", file, std::strerror(errno));
    Walk walk = imgtool_walk(data);
    if (index >= walk.components.size())
        return imgtool_fail("'%s' has no component %s", file, index_text);
    const Component &c = walk.components[index];
    if (!imgtool_write_file(out, data.data() + c.offset + c.layout.header_len, c.layout.payload_len))
        return imgtool_fail("cannot write '%s': %s", out, std::strerror(errno));
    return 0;
}

void usage()
{
    std::puts("usage: imgtool COMMAND [ARGS]\n"
              "  create   make one component from a payload\n"
              "  pack     lay whole components end to end into a package\n"
              "  info     list the components of a package, slot file or partition dump\n"
              "  extract  write the payload of one component\n"
              "  verify   the board's verdict on every component\n"
              "  keyhash  print the fingerprint of a signing key\n"
              "  digest   print the values an external signer signs for a component\n"
              "  attach   put signatures made elsewhere into a component\n"
              "Run 'imgtool COMMAND --help' for the arguments of a command; 'imgtool --version'\n"
              "for the version.");
}

bool all_erased(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] != 0xFF)
            return false;
    return true;
}

} // namespace

Walk imgtool_walk(const Bytes &data)
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

bool imgtool_read_file(const char *path, Bytes *out)
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

bool imgtool_write_file(const char *path, const uint8_t *bytes, size_t size)
{
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

int imgtool_fail(const char *format, ...)
{
    std::fputs("imgtool: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return 1;
}

bool imgtool_wants_help(int argc, char **argv)
{
    for (int i = 0; i < argc; i++)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h"))
            return true;
    return false;
}

std::string imgtool_hex(const uint8_t *bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

FdRedirect::FdRedirect(int fd_, int target) : fd(fd_), saved(-1)
{
    std::fflush(nullptr);
    saved = target >= 0 ? dup(fd) : -1;
    if (saved >= 0 && dup2(target, fd) < 0) {
        close(saved);
        saved = -1;
    }
}

FdRedirect::~FdRedirect()
{
    std::fflush(nullptr);
    if (saved >= 0) {
        dup2(saved, fd);
        close(saved);
    }
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
    if (command == "--version") {
        std::puts("imgtool " BM_VERSION_TEXT);
        return 0;
    }
    struct Command {
        const char *name;
        int (*run)(int, char **);
    };
    static const Command commands[] = {
        {"create", cmd_create},          {"pack", cmd_pack},       {"info", imgtool_info},
        {"extract", cmd_extract},        {"verify", imgtool_verify}, {"keyhash", imgtool_keyhash},
        {"digest", imgtool_digest},      {"attach", imgtool_attach},
    };
    for (const Command &c : commands)
        if (command == c.name)
            return c.run(argc - 2, argv + 2);
    return imgtool_fail("unknown command '%s' (see imgtool --help)", command.c_str());
}
