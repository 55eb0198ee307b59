// Package installer. Two walks over the package: the first checks every component (layout
// against the bytes that are there, CRC, size limit, signature, skip-same), asks the slot
// question and records what is to be written, with a SHA-256 of each component; the second
// reads those components again, writes them only when the digest is still the one checked,
// and boots the downloaded application when the operator asked for it. A package that fails
// a check writes nothing. Flash components are written before the application slot files:
// the boot slot moves to a new application only once every flash part is complete.
#include "image/install.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board/i2c.h"
#include "board/mtd.h"
#include "boot/launch.h"
#include "crypto/digest/sha256.h"
#include "image/bytes.h"
#include "image/format.h"
#include "image/slot_file.h"
#include "image/validate.h"

namespace {

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;
using Buffer = std::unique_ptr<uint8_t[]>;

constexpr uint32_t NO_LIMIT = 0;
constexpr int MAX_WRITES = 32;         // components written by one package; real ones have 7
constexpr uint32_t SLOT_PIECE = 65536; // slot files are written in pieces to keep the progress moving
// sx pads the last block of a transfer with SUB bytes: a shorter run of them at the end of a
// package is no component. Anything else left over means the package did not arrive whole.
constexpr uint8_t XMODEM_PAD = 0x1A;
constexpr uint32_t XMODEM_BLOCK = 1024;
constexpr int SLOTS[] = {1, 2};

// How each known type is checked and where it goes.
struct TypeRule {
    uint32_t type;
    const char *name;          // announced as "Installing NAME: ", written as "Writing NAME: "
    const char *crc_word;      // "Bad crc for WORD: ..."
    const char *size_word;     // "WORD image is too big for flash ..." and the new refusals
    uint32_t limit;            // largest accepted size (UBOOT: its len word), or NO_LIMIT
    bool signed_type;          // must pass the signature gate
    int partition;             // flash partition, or -1 for an image slot
    const char *write_failure; // line after a failed flash write
};

constexpr TypeRule RULES[] = {
    {UBOOT, "Boot Loader", "UBOOT", "UBOOT", 0x80000, false, MTD_UBOOT, "Uboot image update failed"},
    {KERNEL, "Kernel", "KERNEL", "KERNEL", 0x300000, true, MTD_KERNEL, "kernel image update failed"},
    {RFS, "Root Filesystem", "RFS", "RFS", 0xF00000, true, MTD_RFS, "RFS image update failed"},
    {DFT, "Device Tree", "DFT", "DFT", 0x40000, true, MTD_DEVICETREE, "DFT image update failed"},
    {DIAGS, "Diagnostics", "DIAGNOSTICS IMAGE", "DIAGS", 0xA00000, false, MTD_RESCUE,
     "DIAGS image update failed"},
    {APPLICATION, "Application", "APPLICATION", "APPLICATION", NO_LIMIT, true, -1, nullptr},
};

const TypeRule *rule_of(uint32_t type)
{
    for (const TypeRule &rule : RULES)
        if (rule.type == type)
            return &rule;
    return nullptr;
}

// A component that passed every check. An application with slot 0 is booted, not written.
struct PlannedWrite {
    uint64_t offset;
    image_layout layout;
    const TypeRule *rule;
    int slot;
    uint8_t header[IMAGE_BASIC_HEADER_SIZE];
    uint8_t digest[SHA256_DIGEST_SIZE];
};

struct Install {
    FilePtr package;
    uint64_t size;
    uint8_t skip_same;
    int slot;
    int answer_timeout_s; // slot question: 0 waits for ever
    bool unanswered;      // the slot question timed out: no application is installed
    PlannedWrite writes[MAX_WRITES];
    int count;
    bool boot_now; // the last planned write is the application to boot
};

bool digest_of(const uint8_t *bytes, uint32_t length, uint8_t digest[SHA256_DIGEST_SIZE])
{
    return SHA256_completeDigest(bytes, length, digest) == OK;
}

// Reads the whole component at `offset` into a new buffer; null after a message when it cannot
// be held or the file no longer has all of it.
Buffer read_component(Install &in, uint64_t offset, const image_layout &layout, const TypeRule &rule)
{
    Buffer buffer(new (std::nothrow) uint8_t[layout.total]);
    if (!buffer) {
        std::printf("Failed to allocate buffer for image (%d)\n", static_cast<int>(layout.total));
        return nullptr;
    }
    size_t got = 0;
    if (fseeko(in.package.get(), static_cast<off_t>(offset), SEEK_SET) == 0)
        got = std::fread(buffer.get(), 1, layout.total, in.package.get());
    if (got != layout.total) {
        std::printf("%s image is truncated (%zu of %u bytes), voiding download\n", rule.size_word,
                    got, layout.total);
        return nullptr;
    }
    return buffer;
}

// The component's header bytes that decide "the same": for UBOOT all but its first word,
// which the boot loader's own copy does not keep.
bool same_header(const uint8_t *a, const uint8_t *b, uint32_t type)
{
    size_t from = type == UBOOT ? 4 : 0;
    return std::memcmp(a + from, b + from, IMAGE_BASIC_HEADER_SIZE - from) == 0;
}

// Whether the component equals what its place will hold when the writes before it are done:
// an earlier component of this package bound for the same place, else the installed one.
bool same_as_target(const Install &in, const uint8_t *component, const TypeRule &rule, int slot)
{
    for (int i = in.count - 1; i >= 0; --i) {
        const PlannedWrite &w = in.writes[i];
        if (w.rule == &rule && w.slot == slot)
            return same_header(w.header, component, rule.type);
    }
    return image_same_as_installed(component, slot) == 1;
}

enum class SlotAnswer { CHOSEN, BOOT_NOW, TIMED_OUT };

// Reads the answer line; waits at most `timeout_s` seconds for it when that is not 0. The
// rest of an over-long line is read and dropped: it must not answer the next question.
SlotAnswer read_slot_answer(int timeout_s, int *slot)
{
    if (timeout_s > 0) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        int ready = poll(&input, 1, timeout_s * 1000);
        if (ready == 0)
            return SlotAnswer::TIMED_OUT;
        if (ready < 0) // Ctrl-C: as an interrupted read
            return SlotAnswer::BOOT_NOW;
    }
    char answer[32];
    bool got = std::fgets(answer, sizeof answer, stdin) != nullptr;
    if (got && !std::strchr(answer, '\n'))
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        }
    // An interrupt or the end of input must not stick to the next read of standard input.
    std::clearerr(stdin);
    if (!got || (answer[0] != '1' && answer[0] != '2'))
        return SlotAnswer::BOOT_NOW;
    *slot = answer[0] - '0';
    return SlotAnswer::CHOSEN;
}

// The operator's choice of slot: 1 or 2, or 0 to boot the image at once (any other answer,
// an empty line, the end of input or an interrupted read). No answer within the time-out
// leaves `unanswered` set and the slot 0.
int ask_slot(Install &in)
{
    std::printf("Install image as image 1 or 2 (hit return to just boot image): ");
    std::fflush(stdout);
    int slot = 0;
    if (read_slot_answer(in.answer_timeout_s, &slot) == SlotAnswer::TIMED_OUT)
        in.unanswered = true;
    return slot;
}

bool too_big(const TypeRule &rule, const uint8_t *component, const image_layout &layout)
{
    if (rule.limit == NO_LIMIT)
        return false;
    uint32_t size = rule.type == UBOOT ? image_read_header(component).len : layout.total;
    if (size <= rule.limit)
        return false;
    std::printf("%s image is too big for flash (%d > %d)\n", rule.size_word, static_cast<int>(size),
                static_cast<int>(rule.limit));
    return true;
}

// A flash component must also fit the partition it goes to, which may be smaller than the
// type's limit: a write that fails at the partition's end would come after earlier
// components of the package were written.
bool fits_partition(const TypeRule &rule, const image_layout &layout)
{
    if (rule.partition < 0)
        return true;
    mtd_geometry geo{};
    if (!mtd_get_geometry(g_mtd_fd[rule.partition], geo)) {
        std::puts(rule.write_failure);
        return false;
    }
    uint32_t size = rule.type == UBOOT ? layout.payload_len : layout.total;
    if (size <= geo.total_size)
        return true;
    std::printf("%s image is too big for its partition (%u > %u)\n", rule.size_word, size, geo.total_size);
    return false;
}

void print_same_application(int slot)
{
    std::printf("Installing image as image%d: Image%d has same version as existing image. "
                "Skipping update...\n", slot, slot);
}

// With skip-same on and no slot chosen yet, an application that equals the image of either
// slot is passed over before the slot question is asked: a stick left in the board must
// not stop every power-on at the question.
bool same_as_a_slot(const Install &in, const uint8_t *component, const TypeRule &rule)
{
    for (int slot : SLOTS)
        if (same_as_target(in, component, rule, slot)) {
            print_same_application(slot);
            return true;
        }
    return false;
}

// Checks one component of a known type; on success it is planned (or passed over as the same
// as its target). False after the message of the first failure.
bool check_component(Install &in, uint64_t offset, const image_layout &layout, const TypeRule &rule)
{
    std::printf("Installing %s: ", rule.name);
    std::fflush(stdout);
    const uint64_t remaining = in.size - offset;
    image_layout_status status = image_check_layout(layout, nullptr, remaining);
    if (status == IMAGE_LAYOUT_TRUNCATED) {
        std::printf("%s image is truncated (%llu of %u bytes), voiding download\n", rule.size_word,
                    static_cast<unsigned long long>(remaining), layout.total);
        return false;
    }
    if (status != IMAGE_LAYOUT_OK) {
        std::printf("%s image header is corrupt (%s), voiding download\n", rule.size_word,
                    image_layout_status_text(status));
        return false;
    }
    Buffer component = read_component(in, offset, layout, rule);
    if (!component)
        return false;
    uint32_t crc = image_component_crc(component.get(), layout.total);
    if (crc != load_be32(component.get())) {
        std::printf("Bad crc for %s: 0x%08x, voiding download\n", rule.crc_word, crc);
        return false;
    }
    if (too_big(rule, component.get(), layout) || !fits_partition(rule, layout))
        return false;
    if (rule.signed_type && !image_check_signature(component.get(), layout.total))
        return false;

    int slot = 0;
    if (rule.type == APPLICATION) {
        if (in.slot == 0 && in.skip_same && same_as_a_slot(in, component.get(), rule))
            return true;
        if (in.slot == 0 && !in.unanswered)
            in.slot = ask_slot(in);
        if (in.unanswered) {
            std::puts("\nTimeout. Application image not installed.");
            return true;
        }
        slot = in.slot;
        in.boot_now = slot == 0;
    }
    if (!in.boot_now && in.skip_same && same_as_target(in, component.get(), rule, slot)) {
        if (rule.type == APPLICATION)
            print_same_application(slot);
        else
            std::puts("Image has same version as existing image. Skipping update...");
        return true;
    }
    if (!rule.signed_type)
        std::putchar('\n'); // no gate line ends the announcement
    if (in.count == MAX_WRITES) {
        std::printf("Too many images in package (more than %d), voiding download\n", MAX_WRITES);
        return false;
    }
    PlannedWrite &w = in.writes[in.count];
    w = PlannedWrite{offset, layout, &rule, slot, {}, {}};
    std::memcpy(w.header, component.get(), IMAGE_BASIC_HEADER_SIZE);
    if (!digest_of(component.get(), layout.total, w.digest))
        return false;
    ++in.count;
    return true;
}

// Whether the `length` bytes at `offset` are an XMODEM transfer's padding: SUB bytes only,
// fewer than one block.
bool is_padding(Install &in, uint64_t offset, uint64_t length)
{
    if (length >= XMODEM_BLOCK)
        return false;
    uint8_t tail[XMODEM_BLOCK];
    if (fseeko(in.package.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(tail, 1, length, in.package.get()) != length)
        return false;
    for (uint64_t i = 0; i < length; ++i)
        if (tail[i] != XMODEM_PAD)
            return false;
    return true;
}

// The checking walk. Unknown types are passed over by their size; the walk ends at bytes
// that cannot be a component, which must be nothing or an XMODEM transfer's padding: the
// start of a component cut short is refused. Stops at an application that is to be
// booted: the rest is not looked at.
bool check_package(Install &in)
{
    uint64_t offset = 0;
    while (in.size - offset >= IMAGE_PROBE_SIZE) {
        uint8_t probe[IMAGE_PROBE_SIZE];
        if (fseeko(in.package.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
            std::fread(probe, 1, sizeof probe, in.package.get()) != sizeof probe)
            break;
        image_layout layout = image_get_layout(probe);
        const TypeRule *rule = rule_of(layout.type);
        if (!rule) {
            if (image_check_layout(layout, nullptr, in.size - offset) != IMAGE_LAYOUT_OK)
                break;
        } else if (!check_component(in, offset, layout, *rule)) {
            return false;
        } else if (in.boot_now) {
            return true;
        }
        offset += layout.total;
    }
    const uint64_t rest = in.size - offset;
    if (rest == 0 || is_padding(in, offset, rest))
        return true;
    std::printf("Image package is truncated (%llu bytes after the last whole image), voiding download\n",
                static_cast<unsigned long long>(rest));
    return false;
}

bool slot_failure(int slot, int error)
{
    std::printf("Image%d update failed (err %d)\n", slot, error);
    return false;
}

// Writes the slot file through the slot-file writer (temporary file, sync, rename), in
// pieces that keep the progress display moving. On any failure the old slot file stays.
bool write_slot_file(int slot, const uint8_t *data, uint32_t total)
{
    std::printf("Installing image as image%d: ", slot);
    SlotFileWriter writer;
    if (int error = slot_file_begin(writer, slot))
        return slot_failure(slot, error);
    std::printf("    ");
    uint32_t written = 0;
    while (written < total) {
        uint32_t piece = total - written < SLOT_PIECE ? total - written : SLOT_PIECE;
        if (int error = slot_file_append(writer, data + written, piece))
            return slot_failure(slot, error);
        written += piece;
        // In 64 bits: written * 100 overflows 32 bits for an image past 42 MB.
        std::printf("\b\b\b\b%3.3d%c", static_cast<int>(uint64_t{written} * 100 / total), '%');
        std::fflush(stdout);
    }
    if (int error = slot_file_commit(writer))
        return slot_failure(slot, error);
    std::printf("\b\b\b\b100%c\n", '%');
    std::printf("\nImage%d updated succeeded\n", slot);
    return true;
}

// Writes the application's payload as the application tarball and starts it; returns only
// when the tarball cannot be written.
void boot_downloaded(Install &in, Buffer component, const image_layout &layout)
{
    std::puts("Booting downloaded image");
    FilePtr tarball(std::fopen(APP_TARBALL_PATH, "wb"));
    bool written = tarball && std::fwrite(component.get() + layout.header_len, 1, layout.payload_len,
                                          tarball.get()) == layout.payload_len;
    // A full /tmp shows at the close: a short tarball must not be started.
    if (tarball && std::fclose(tarball.release()) != 0)
        written = false;
    if (!written) {
        std::printf("Image unpack failed (err %d)\n", errno);
        return;
    }
    std::puts("Image ready to boot...");
    in.package.reset();
    component.reset();
    launch_application(false);
}

// Writes one planned component after reading it again and making sure it is still the very
// component that was checked.
bool write_component(Install &in, const PlannedWrite &w)
{
    const TypeRule &rule = *w.rule;
    Buffer component = read_component(in, w.offset, w.layout, rule);
    if (!component)
        return false;
    uint8_t digest[SHA256_DIGEST_SIZE];
    if (!digest_of(component.get(), w.layout.total, digest) ||
        std::memcmp(digest, w.digest, sizeof digest) != 0) {
        std::printf("%s image changed while installing, voiding download\n", rule.size_word);
        return false;
    }
    if (rule.partition >= 0) {
        std::printf("Writing %s: ", rule.name);
        std::fflush(stdout);
        // The boot loader goes without its component header: its payload carries its own.
        bool payload_only = rule.type == UBOOT;
        const uint8_t *data = component.get() + (payload_only ? w.layout.header_len : 0);
        uint32_t length = payload_only ? w.layout.payload_len : w.layout.total;
        if (flash_write_at(data, g_mtd_fd[rule.partition], 0, length, 1) != 0) {
            std::puts(rule.write_failure);
            return false;
        }
        if (rule.type == DIAGS)
            std::puts("done");
        return true;
    }
    if (w.slot == 0) {
        boot_downloaded(in, std::move(component), w.layout);
        return false;
    }
    if (!write_slot_file(w.slot, component.get(), w.layout.total))
        return false;
    board_set_boot_slot(w.slot);
    return true;
}

} // namespace

void image_print_file_name(const char *name)
{
    for (const char *p = name; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\\')
            std::fputs("\\\\", stdout);
        else if (c == '\n')
            std::fputs("\\n", stdout);
        else if (c < 0x20 || c == 0x7F)
            std::printf("\\x%02x", c);
        else
            std::putchar(c);
    }
}

int image_install_package(const char *path, uint8_t skip_same, int slot, int answer_timeout_s)
{
    Install in{};
    // Non-blocking, so that a FIFO cannot hold the open; only a regular file is a package.
    int fd = path ? open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    struct stat info = {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        std::printf("Failed to open image file ");
        image_print_file_name(path ? path : "");
        std::printf(" (err %d)\n", errno);
        if (fd >= 0)
            close(fd);
        return 0;
    }
    if (!S_ISREG(info.st_mode)) {
        std::printf("Cannot install ");
        image_print_file_name(path);
        std::printf(": not a regular file\n");
        close(fd);
        return 0;
    }
    in.package.reset(fdopen(fd, "r"));
    if (!in.package) {
        close(fd);
        return 0;
    }
    in.size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    in.skip_same = skip_same;
    in.slot = slot;
    in.answer_timeout_s = answer_timeout_s;

    std::puts("\nExtracting images ... Do *NOT* power cycle the switch.");
    if (!check_package(in))
        return 0;
    bool installed = false;
    // Flash components first, then the slot files (and the boot of a downloaded image).
    for (bool flash : {true, false})
        for (int i = 0; i < in.count; ++i) {
            if ((in.writes[i].rule->partition >= 0) != flash)
                continue;
            if (!write_component(in, in.writes[i]))
                return 0;
            installed = true;
        }
    std::puts("File processed");
    if (installed)
        return 1;
    std::puts("ERROR: No valid image found");
    return 0;
}
