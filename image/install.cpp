// Package installer. Two walks over the package: the first checks every component (layout
// against the bytes that are there, CRC, size limit, partition size, signature, skip-same),
// asks the slot question and records what is to be written, with SHA-256 digests of each
// component's header and payload; the second reads those components again, writes them and
// makes them count only when the digests are still the ones checked, and boots the
// downloaded application when the operator asked for it. A package that fails a check
// writes nothing. Both walks read components in fixed-size pieces: only a flash component,
// bounded by its limit, is held whole (for its write); an application of any size streams
// into the temporary slot file or the tarball. Flash components are written before the application slot files:
// the boot slot moves to a new application only once every flash part is complete.
#include "image/install.h"

#include <algorithm>
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
#include "boot/trial_boot.h"
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
// Components are read in pieces of this size; a slot file is written piece by piece too,
// which keeps the progress display moving.
constexpr uint32_t READ_PIECE = 65536;
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
    int partition;             // flash partition, or -1 for an image slot
    const char *write_failure; // line after a failed flash write
};

constexpr TypeRule RULES[] = {
    {UBOOT, "Boot Loader", "UBOOT", "UBOOT", 0x80000, MTD_UBOOT, "Uboot image update failed"},
    {KERNEL, "Kernel", "KERNEL", "KERNEL", 0x300000, MTD_KERNEL, "kernel image update failed"},
    {RFS, "Root Filesystem", "RFS", "RFS", 0xF00000, MTD_RFS, "RFS image update failed"},
    {DFT, "Device Tree", "DFT", "DFT", 0x40000, MTD_DEVICETREE, "DFT image update failed"},
    {DIAGS, "Diagnostics", "DIAGNOSTICS IMAGE", "DIAGS", 0xA00000, MTD_RESCUE,
     "DIAGS image update failed"},
    {APPLICATION, "Application", "APPLICATION", "APPLICATION", NO_LIMIT, -1, nullptr},
};

const TypeRule *rule_of(uint32_t type)
{
    for (const TypeRule &rule : RULES)
        if (rule.type == type)
            return &rule;
    return nullptr;
}

// SHA-256 of a component's header (bytes 0 to H-1) and of its payload (H to T-1): the
// payload digest is what the signature covers; both together pin the whole component.
struct ComponentDigests {
    uint8_t header[SHA256_DIGEST_SIZE];
    uint8_t payload[SHA256_DIGEST_SIZE];
};

// A component that passed every check. An application with slot 0 is booted, not written.
struct PlannedWrite {
    uint64_t offset;
    image_layout layout;
    const TypeRule *rule;
    int slot;
    uint8_t header[IMAGE_BASIC_HEADER_SIZE];
    ComponentDigests digests;
};

struct Install {
    FilePtr package;
    Buffer piece; // READ_PIECE bytes, for every read of a component
    uint64_t size;
    uint8_t skip_same;
    int slot;
    int answer_timeout_s; // slot question: 0 waits for ever
    bool unanswered;      // the slot question timed out: no application is installed
    PlannedWrite writes[MAX_WRITES];
    int count;
    bool boot_now; // the last planned write is the application to boot
};

// The CRC (bytes 4 to T-1) and both digests of a component, fed in order piece by piece.
struct ComponentHasher {
    uint32_t header_len;
    uint32_t crc = 0xFFFFFFFFu;
    SHA256Ctx header{}, payload{};

    explicit ComponentHasher(uint32_t h) : header_len(h)
    {
        SHA256_initDigest(&header);
        SHA256_initDigest(&payload);
    }

    // `data` holds the component's bytes from `at` on.
    void update(uint32_t at, const uint8_t *data, uint32_t length)
    {
        uint32_t skip = at < 4 ? 4 - at : 0;
        if (skip < length)
            crc = image_crc32(data + skip, length - skip, crc);
        uint32_t in_header = at < header_len ? header_len - at : 0;
        in_header = in_header < length ? in_header : length;
        SHA256_updateDigest(&header, data, in_header);
        SHA256_updateDigest(&payload, data + in_header, length - in_header);
    }

    ComponentDigests finish()
    {
        ComponentDigests d;
        SHA256_finalDigest(&header, d.header);
        SHA256_finalDigest(&payload, d.payload);
        return d;
    }
};

bool same_digests(const ComponentDigests &a, const ComponentDigests &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Reads the T bytes of the component at `offset` in pieces of READ_PIECE bytes (counted from
// the component's start), handing each to `visit(at, data, length)`. False when `visit`
// returns false (it has said why) or, after a message, when the file no longer holds the
// whole component.
template <typename Visit>
bool read_pieces(Install &in, uint64_t offset, const image_layout &layout, const TypeRule &rule, Visit visit)
{
    FILE *package = in.package.get();
    uint32_t done = 0;
    if (fseeko(package, static_cast<off_t>(offset), SEEK_SET) == 0)
        while (done < layout.total) {
            uint32_t want = layout.total - done < READ_PIECE ? layout.total - done : READ_PIECE;
            size_t got = std::fread(in.piece.get(), 1, want, package);
            if (got > 0 && !visit(done, in.piece.get(), static_cast<uint32_t>(got)))
                return false;
            done += static_cast<uint32_t>(got);
            if (got != want)
                break;
        }
    if (done == layout.total)
        return true;
    std::printf("%s image is truncated (%u of %u bytes), voiding download\n", rule.size_word, done,
                layout.total);
    return false;
}

void print_changed(const TypeRule &rule)
{
    std::printf("%s image changed while installing, voiding download\n", rule.size_word);
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
    // The header is kept for the checks below; the payload only passes through the hashes.
    Buffer header(new (std::nothrow) uint8_t[layout.header_len]);
    if (!header) {
        std::printf("Failed to allocate buffer for image (%d)\n", static_cast<int>(layout.header_len));
        return false;
    }
    ComponentHasher hasher(layout.header_len);
    bool whole = read_pieces(in, offset, layout, rule, [&](uint32_t at, const uint8_t *data, uint32_t length) {
        if (at < layout.header_len)
            std::memcpy(header.get() + at, data, std::min(length, layout.header_len - at));
        hasher.update(at, data, length);
        return true;
    });
    if (!whole)
        return false;
    const ComponentDigests digests = hasher.finish();
    const uint8_t *component = header.get(); // its first H bytes
    if (hasher.crc != load_be32(component)) {
        std::printf("Bad crc for %s: 0x%08x, voiding download\n", rule.crc_word, hasher.crc);
        return false;
    }
    if (too_big(rule, component, layout) || !fits_partition(rule, layout))
        return false;
    const image_gate_rules &gate = image_gate_build_rules();
    if (image_type_gated(rule.type, gate) &&
        !image_check_signature_digest(component, layout.header_len, layout, digests.payload, gate))
        return false;

    int slot = 0;
    if (rule.type == APPLICATION) {
        if (in.slot == 0 && in.skip_same && same_as_a_slot(in, component, rule))
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
    if (!in.boot_now && !image_check_downgrade(component, slot, gate))
        return false;
    if (!in.boot_now && in.skip_same && same_as_target(in, component, rule, slot)) {
        if (rule.type == APPLICATION)
            print_same_application(slot);
        else
            std::puts("Image has same version as existing image. Skipping update...");
        return true;
    }
    if (!image_type_gated(rule.type, gate))
        std::putchar('\n'); // no gate line ends the announcement
    if (in.count == MAX_WRITES) {
        std::printf("Too many images in package (more than %d), voiding download\n", MAX_WRITES);
        return false;
    }
    PlannedWrite &w = in.writes[in.count];
    w = PlannedWrite{offset, layout, &rule, slot, {}, digests};
    std::memcpy(w.header, component, IMAGE_BASIC_HEADER_SIZE);
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

// Streams the application into its slot file through the slot-file writer (temporary file,
// sync, rename), one piece at a time with the progress display. The rename happens only
// when what was written is, digest for digest, the component that was checked; on any
// failure the old slot file stays.
bool write_slot_file(Install &in, const PlannedWrite &w)
{
    const uint32_t total = w.layout.total;
    std::printf("Installing image as image%d: ", w.slot);
    SlotFileWriter writer;
    if (int error = slot_file_begin(writer, w.slot))
        return slot_failure(w.slot, error);
    std::printf("    ");
    ComponentHasher hasher(w.layout.header_len);
    bool written = read_pieces(in, w.offset, w.layout, *w.rule, [&](uint32_t at, const uint8_t *data, uint32_t length) {
        hasher.update(at, data, length);
        if (int error = slot_file_append(writer, data, length))
            return slot_failure(w.slot, error);
        // In 64 bits: written * 100 overflows 32 bits for an image past 42 MB.
        std::printf("\b\b\b\b%3.3d%c", static_cast<int>(uint64_t{at + length} * 100 / total), '%');
        std::fflush(stdout);
        return true;
    });
    if (!written)
        return false;
    if (!same_digests(hasher.finish(), w.digests)) {
        print_changed(*w.rule);
        return false;
    }
    if (int error = slot_file_commit(writer))
        return slot_failure(w.slot, error);
    std::printf("\b\b\b\b100%c\n", '%');
    std::printf("\nImage%d updated succeeded\n", w.slot);
    return true;
}

// Streams the application's payload into the application tarball and starts it; returns
// only when the tarball cannot be written or the component changed since it was checked
// (the tarball is then removed).
void boot_downloaded(Install &in, const PlannedWrite &w)
{
    std::puts("Booting downloaded image");
    FilePtr tarball(std::fopen(APP_TARBALL_PATH, "wb"));
    ComponentHasher hasher(w.layout.header_len);
    const uint32_t header_len = w.layout.header_len;
    bool written = tarball && read_pieces(in, w.offset, w.layout, *w.rule,
                                          [&](uint32_t at, const uint8_t *data, uint32_t length) {
        hasher.update(at, data, length);
        uint32_t skip = at < header_len ? std::min(length, header_len - at) : 0;
        return std::fwrite(data + skip, 1, length - skip, tarball.get()) == length - skip;
    });
    // A full /tmp shows at the close: a short tarball must not be started.
    if (tarball && std::fclose(tarball.release()) != 0)
        written = false;
    int error = errno;
    bool intact = written && same_digests(hasher.finish(), w.digests);
    if (!intact)
        std::remove(APP_TARBALL_PATH);
    if (!written) {
        std::printf("Image unpack failed (err %d)\n", error);
        return;
    }
    if (!intact) {
        print_changed(*w.rule);
        return;
    }
    std::puts("Image ready to boot...");
    in.package.reset();
    in.piece.reset();
    launch_application(false);
}

// Writes one planned flash component: read again whole (its limit bounds the buffer) and
// written only when it is still the very component that was checked.
bool write_flash_component(Install &in, const PlannedWrite &w)
{
    const TypeRule &rule = *w.rule;
    Buffer component(new (std::nothrow) uint8_t[w.layout.total]);
    if (!component) {
        std::printf("Failed to allocate buffer for image (%d)\n", static_cast<int>(w.layout.total));
        return false;
    }
    ComponentHasher hasher(w.layout.header_len);
    bool whole = read_pieces(in, w.offset, w.layout, rule, [&](uint32_t at, const uint8_t *data, uint32_t length) {
        std::memcpy(component.get() + at, data, length);
        hasher.update(at, data, length);
        return true;
    });
    if (!whole)
        return false;
    if (!same_digests(hasher.finish(), w.digests)) {
        print_changed(rule);
        return false;
    }
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

bool write_component(Install &in, const PlannedWrite &w)
{
    if (w.rule->partition >= 0)
        return write_flash_component(in, w);
    if (w.slot == 0) {
        boot_downloaded(in, w);
        return false;
    }
    if (!write_slot_file(in, w))
        return false;
    trial_boot_start(w.slot);
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
    in.piece.reset(new (std::nothrow) uint8_t[READ_PIECE]);
    if (!in.piece) {
        std::printf("Failed to allocate buffer for image (%d)\n", static_cast<int>(READ_PIECE));
        return 0;
    }

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
