// Slot boot, rescue-partition boot and gdb extraction, each streaming its component once
// through the CRC (and, where the build verifies at boot, the SHA-256 and the gate).
#include "boot/image_boot.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "board/i2c.h"
#include "board/mtd.h"
#include "boot/boot_state.h"
#include "boot/launch.h"
#include "boot/startup.h"
#include "boot/usb_boot.h"
#include "crypto/digest/sha256.h"
#include "image/bytes.h"
#include "image/slot_file.h"
#include "image/validate.h"
#include "rescue/rescue_menu.h"

namespace {

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;
using Buffer = std::unique_ptr<uint8_t[]>;

constexpr char GDB_ARCHIVE_PATH[] = "/tmp/gdb.gz";
constexpr char GDB_PATH[] = "/tmp/gdb";

int other_slot(int slot)
{
    return slot == 1 ? 2 : 1;
}

const char *slot_path(int slot)
{
    return slot == 2 ? IMAGE_SLOT2_PATH : IMAGE_SLOT1_PATH;
}

// Closes the file and reports whether every byte reached it; a full /tmp must not pass
// for a good tarball.
bool close_checked(FilePtr &file)
{
    bool ok = std::ferror(file.get()) == 0;
    ok = std::fclose(file.release()) == 0 && ok;
    return ok;
}

bool write_all(FILE *file, const uint8_t *data, size_t length)
{
    return std::fwrite(data, 1, length, file) == length;
}

// Final branch A: the operator gets the rescue menu, then a shell if asked for, then the
// board reboots.
[[noreturn]] void final_branch_rescue()
{
    rescue_menu();
    if (g_boot.shell_mode)
        run_shell_command("/bin/sh\n");
    reboot_board();
}

// Final branch B: a shell if asked for, then the reboot.
[[noreturn]] void final_branch_reboot()
{
    if (g_boot.shell_mode)
        run_shell_command("/bin/sh\n");
    reboot_board();
}

// Opens the file of slot 1 or 2, falling over to the other slot's file once. Both missing
// ends in the rescue menu. `slot` becomes the slot whose file is open.
FilePtr open_flash_slot(int *slot)
{
    FilePtr image(std::fopen(slot_path(*slot), "rb"));
    if (image)
        return image;
    int other = other_slot(*slot);
    std::fprintf(stderr, "Failed to open Application image %d. Trying image %d.\n", *slot, other);
    *slot = other;
    image.reset(std::fopen(slot_path(*slot), "rb"));
    if (image)
        return image;
    std::fprintf(stderr, "Failed to open Application image %d.\n", *slot);
    final_branch_rescue();
}

// Opens the stick's image and consults the rejected list: an image seen for the first time
// is listed before it is booted; a listed one boots only when the operator says so.
FilePtr open_usb_image()
{
    FilePtr image(std::fopen(USB_IMAGE_PATH, "rb"));
    if (!image) {
        std::fputs("Failed to open application image from USB.\n", stderr);
        return nullptr;
    }
    if (!is_image_rejected(USB_IMAGE_PATH)) {
        reject_image(USB_IMAGE_PATH);
        return image;
    }
    if (!ask_yes_no("USB image is in rejected list.\nWould you still like to load it? "))
        return nullptr;
    std::puts("Continuing to load USB image...");
    return image;
}

// Every caller fills the whole buffer before it uses it, so it is not cleared first.
Buffer allocate(uint32_t size)
{
    Buffer buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer)
        std::fprintf(stderr, "Not enough memory for an image component of %u bytes.\n", size);
    return buffer;
}

// Bytes of the file from its current position to its end (0 when unknown).
uint64_t bytes_left(FILE *image)
{
    struct stat info = {};
    off_t position = ftello(image);
    if (fstat(fileno(image), &info) != 0 || position < 0 || info.st_size < position)
        return 0;
    return static_cast<uint64_t>(info.st_size - position);
}

// Where a component is read from, front to back: a file from its current position, or a
// flash partition from offset 0.
struct ComponentSource {
    FILE *file;
    int flash_fd;
    uint32_t offset;
};

bool read_next(ComponentSource &source, uint8_t *bytes, uint32_t length)
{
    if (source.file)
        return std::fread(bytes, 1, length, source.file) == length;
    if (flash_read_at(bytes, source.flash_fd, source.offset, length) != 0)
        return false;
    source.offset += length;
    return true;
}

// One pass over a component whose lengths were checked against its source: the header is
// read whole (H < 64 KiB), the payload in pieces of a fixed size. Each piece is taken into
// the CRC, into the SHA-256 when the gate runs at boot, and written to `out`, so the payload
// is never held whole and never read twice. `keep`, when given (T bytes), receives the whole
// component as well, for the recovery image that may be installed afterwards. On
// BOOT_PAYLOAD_REFUSED, `refusal` names the gate's reason.
boot_payload_status stream_component(ComponentSource &source, const image_layout &layout, FILE *out,
                                     const image_gate_rules &rules, const char **refusal, uint8_t *keep = nullptr)
{
    constexpr uint32_t PIECE = 64 * 1024;
    std::vector<uint8_t> own_header(keep ? 0 : layout.header_len);
    uint8_t *header = keep ? keep : own_header.data();
    if (!read_next(source, header, layout.header_len))
        return BOOT_PAYLOAD_CRC_FAILED;
    // Bytes 0..3 hold the CRC word, which the CRC does not cover.
    uint32_t crc = image_crc32(header + 4, layout.header_len - 4, 0xFFFFFFFFu);
    const bool verify = rules.verify_at_boot;
    SHA256Ctx sha;
    if (verify)
        SHA256_initDigest(&sha);

    std::unique_ptr<uint8_t[]> own_piece(keep ? nullptr : new (std::nothrow) uint8_t[PIECE]);
    if (!keep && !own_piece) {
        std::fprintf(stderr, "Not enough memory for an image component of %u bytes.\n", PIECE);
        return BOOT_PAYLOAD_CRC_FAILED;
    }
    for (uint32_t done = 0; done < layout.payload_len;) {
        uint32_t length = std::min(PIECE, layout.payload_len - done);
        uint8_t *piece = keep ? keep + layout.header_len + done : own_piece.get();
        if (!read_next(source, piece, length))
            return BOOT_PAYLOAD_CRC_FAILED;
        crc = image_crc32(piece, length, crc);
        if (verify)
            SHA256_updateDigest(&sha, piece, length);
        if (!write_all(out, piece, length))
            return BOOT_PAYLOAD_WRITE_FAILED;
        done += length;
    }
    if (crc != load_be32(header))
        return BOOT_PAYLOAD_CRC_FAILED;
    if (!verify)
        return BOOT_PAYLOAD_WRITTEN;
    uint8_t digest[SHA256_DIGEST_SIZE];
    SHA256_finalDigest(&sha, digest);
    *refusal = image_boot_refusal(header, layout.header_len, layout, digest, rules);
    return *refusal ? BOOT_PAYLOAD_REFUSED : BOOT_PAYLOAD_WRITTEN;
}

// Empties a tarball that holds the payload of a component that failed: nothing of it may
// be unpacked.
void discard_output(FILE *out)
{
    std::fflush(out);
    if (ftruncate(fileno(out), 0) == 0)
        std::rewind(out);
}

// The slot-boot step: the boot component of `image`, bounded by the file, streamed to
// `tarball` under `rules`.
boot_payload_status stream_boot_component(FILE *image, FILE *tarball, const image_gate_rules &rules,
                                          uint32_t *type, const char **refusal)
{
    image_layout layout = {};
    uint8_t header[IMAGE_BASIC_HEADER_SIZE];
    *type = 0;
    *refusal = nullptr;
    if (!find_boot_component(image, type, &layout.format, &layout.header_len, &layout.payload_len, header))
        return BOOT_PAYLOAD_NOT_FOUND;
    // T modulo 2^32 as the layout keeps it; the layout check tells a wrapped sum.
    layout.type = *type;
    layout.total = layout.header_len + layout.payload_len;
    if (image_check_layout(layout, nullptr, bytes_left(image)) != IMAGE_LAYOUT_OK)
        return BOOT_PAYLOAD_CRC_FAILED;
    ComponentSource source = {image, -1, 0};
    boot_payload_status status = stream_component(source, layout, tarball, rules, refusal);
    if (status != BOOT_PAYLOAD_WRITTEN)
        discard_output(tarball);
    return status;
}

// The reason line of a refused component, before the failure messages of a CRC error.
void report_refusal(const char *refusal)
{
    if (refusal)
        std::fprintf(stderr, "%s\n", refusal);
}

int report_crc_failure(int slot)
{
    if (slot == USB_BOOT_SLOT) {
        std::fputs("USB image CRC failed.", stderr);
        return 0;
    }
    if (g_boot.fallback_attempt) {
        std::fputs("Both image1 and image2 failed.\n", stderr);
        final_branch_reboot();
    }
    std::fprintf(stderr, "Image%d CRC failed, trying Image%d now.\n", slot, other_slot(slot));
    return 0;
}

int report_no_component(int slot, uint32_t last_type)
{
    if (slot == USB_BOOT_SLOT) {
        std::fputs("Error: USB image corrupted or belongs to another switch type.\n", stderr);
        return 0;
    }
    if (g_boot.fallback_attempt) {
        std::fputs("No valid application image found. Trying rescue image\n", stderr);
        final_branch_rescue();
    }
    std::fprintf(stderr, "Image has invalid header 0x%x. (0x%x)\n", last_type, uint32_t{DIAGS});
    std::fprintf(stderr, "Image%d has invalid header... trying Image%d.\n", slot, other_slot(slot));
    return 0;
}

// True when the file starts like a program the shell can run: the ELF magic or "#!".
bool starts_like_a_program(const char *path)
{
    uint8_t start[4] = {};
    FilePtr file(std::fopen(path, "rb"));
    size_t got = file ? std::fread(start, 1, sizeof start, file.get()) : 0;
    static constexpr uint8_t ELF_MAGIC[4] = {0x7F, 'E', 'L', 'F'};
    return (got == 4 && std::memcmp(start, ELF_MAGIC, 4) == 0) ||
           (got >= 2 && start[0] == '#' && start[1] == '!');
}

// The recovery image of the rescue partition, already unpacked: the operator may install
// it into a slot before it starts. Never returns.
[[noreturn]] void boot_recovery_image(Buffer component, const image_layout &layout)
{
    std::printf("Install recovery image as image 1 or 2 (hit return to just boot image): ");
    std::fflush(stdout);
    char answer[8] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) {
        component.reset();
        launch_unpacked_application(false);
    }
    char choice = answer[0];
    int slot = choice == '1' || choice == '2' ? choice - '0' : 0;
    if (slot != 0) {
        std::printf("\nInstalling recovery image as image%c...\n", choice);
        // Written as the installer writes slot files: the slot holds the old image or the
        // whole recovery image. A failed write leaves the boot slot as it was.
        if (int error = slot_file_write(slot, component.get(), layout.total)) {
            std::fprintf(stderr, "Image%d update failed (err %d)\n", slot, error);
            slot = 0;
        }
    }
    if (slot == 0) {
        std::puts("\nBooting recovery image. You will need to download and install an image "
                  "before rebooting");
        board_set_booted_image(RESCUE_BOOTED_IMAGE);
        component.reset();
        launch_unpacked_application(false);
    }
    std::printf("Setting boot image to %d\n", slot);
    board_set_boot_slot(slot);
    board_set_booted_image(slot);
    component.reset();
    launch_unpacked_application(false);
}

} // namespace

int find_boot_component(FILE *image, uint32_t *magic, uint32_t *format, uint32_t *header_len,
                        uint32_t *payload_len, uint8_t header_copy[IMAGE_BASIC_HEADER_SIZE])
{
    *magic = 0;
    struct stat info = {};
    if (fstat(fileno(image), &info) != 0 || info.st_size < 0)
        return 0;
    const uint64_t size = static_cast<uint64_t>(info.st_size);

    // Every step either advances by a passed-over component's total size, which the extent
    // check bounds to 16..remaining bytes, or ends the walk: the walk cannot stall or leave
    // the file. The bootable component itself is checked whole when it is read.
    uint64_t offset = 0;
    while (size - offset >= IMAGE_PROBE_SIZE) {
        uint8_t probe[IMAGE_PROBE_SIZE];
        if (fseeko(image, static_cast<off_t>(offset), SEEK_SET) != 0 ||
            std::fread(probe, 1, sizeof probe, image) != sizeof probe)
            return 0;
        image_layout layout = image_get_layout(probe);
        *magic = layout.type;
        if (layout.type == APPLICATION || layout.type == DIAGS) {
            *format = layout.format;
            *header_len = layout.header_len;
            *payload_len = layout.payload_len;
            std::memcpy(header_copy, probe, IMAGE_BASIC_HEADER_SIZE);
            return fseeko(image, static_cast<off_t>(offset), SEEK_SET) == 0 ? 1 : 0;
        }
        if (image_check_extent(layout, size - offset) != IMAGE_LAYOUT_OK)
            return 0;
        offset += layout.total;
    }
    return 0;
}

boot_payload_status write_boot_payload(FILE *image, FILE *tarball, uint32_t *type)
{
    const char *refusal = nullptr;
    return stream_boot_component(image, tarball, image_gate_build_rules(), type, &refusal);
}

boot_payload_status write_boot_tarball(FILE *image, const char *tarball_path, const image_gate_rules &rules,
                                       uint32_t *type, const char **refusal)
{
    *type = 0;
    *refusal = nullptr;
    FilePtr tarball(std::fopen(tarball_path, "wb"));
    if (!tarball)
        return BOOT_PAYLOAD_OPEN_FAILED;
    boot_payload_status status = stream_boot_component(image, tarball.get(), rules, type, refusal);
    if (!close_checked(tarball) && status == BOOT_PAYLOAD_WRITTEN)
        status = BOOT_PAYLOAD_WRITE_FAILED;
    // Only the payload of a component that passed every check may stay to be unpacked.
    if (status != BOOT_PAYLOAD_WRITTEN)
        std::remove(tarball_path);
    return status;
}

int boot_image_slot(int slot)
{
    if (slot < 1 || slot > USB_BOOT_SLOT)
        return 0;
    FilePtr image = slot == USB_BOOT_SLOT ? open_usb_image() : open_flash_slot(&slot);
    if (!image)
        return 0;

    uint32_t type = 0;
    const char *refusal = nullptr;
    boot_payload_status status =
        write_boot_tarball(image.get(), APP_TARBALL_PATH, image_gate_build_rules(), &type, &refusal);
    image.reset();
    switch (status) {
    case BOOT_PAYLOAD_WRITTEN:
        break;
    case BOOT_PAYLOAD_OPEN_FAILED:
        std::fputs("Failed to open application image output file.\n", stderr);
        final_branch_reboot();
    case BOOT_PAYLOAD_NOT_FOUND:
        return report_no_component(slot, type);
    case BOOT_PAYLOAD_REFUSED:
        report_refusal(refusal);
        return report_crc_failure(slot);
    case BOOT_PAYLOAD_CRC_FAILED:
        return report_crc_failure(slot);
    case BOOT_PAYLOAD_WRITE_FAILED:
        std::fputs("Failed to write application image output file.\n", stderr);
        final_branch_reboot();
    }

    // Nothing is committed to an image that does not unpack whole.
    if (!unpack_application())
        return report_crc_failure(slot);
    board_set_booted_image(slot);
    if (g_boot.gdb_mode && !g_boot.gdbserver_mode)
        extract_gdb(slot);
    launch_unpacked_application(type == DIAGS);
}

int extract_gdb(int slot)
{
    if (slot != 1 && slot != 2)
        return 0;
    int source = other_slot(slot);
    std::printf("Extracting GDB from image slot %d\n", source);

    FilePtr image(std::fopen(slot_path(source), "rb"));
    if (!image) {
        std::fprintf(stderr, "Failed to open GDB image (from slot %d)\n", source);
        return 0;
    }
    FilePtr out(std::fopen(GDB_ARCHIVE_PATH, "wb"));
    if (!out) {
        std::fputs("Failed to open GDB output file.\n", stderr);
        return 0;
    }

    // A file shorter than a header reads as zeros and is refused like any other magic.
    uint8_t probe[IMAGE_PROBE_SIZE] = {};
    const uint64_t size = bytes_left(image.get());
    (void)std::fread(probe, 1, sizeof probe, image.get());
    image_header header = image_read_header(probe);
    if (header.magic != APPLICATION && header.magic != DIAGS) {
        std::fprintf(stderr, "Image has invalid header 0x%x\n", header.magic);
        return 0;
    }
    std::printf("Found GDB image %d of length = %u.\n", source, header.len);

    // The debugger travels as a format-1 component (payload from offset 16); a signed one
    // (format 3) keeps its payload behind its records. The lengths are not trusted beyond the
    // file, and the payload is checked on its one way to /tmp/gdb.gz: a short or corrupt
    // archive is never unpacked, so no half debugger ends up in /tmp/gdb.
    const image_layout layout = image_get_layout(probe);
    image_layout_status fits = image_check_layout(layout, nullptr, size);
    if (fits == IMAGE_LAYOUT_TRUNCATED) {
        uint64_t there = size > layout.header_len ? size - layout.header_len : 0;
        std::fprintf(stderr, "GDB image is truncated: %u of %u bytes.\n",
                     static_cast<uint32_t>(std::min<uint64_t>(there, layout.payload_len)), layout.payload_len);
        std::remove(GDB_ARCHIVE_PATH);
        return 0;
    }
    const char *refusal = nullptr;
    boot_payload_status status = BOOT_PAYLOAD_CRC_FAILED;
    if (fits == IMAGE_LAYOUT_OK && std::fseek(image.get(), 0, SEEK_SET) == 0) {
        ComponentSource from = {image.get(), -1, 0};
        status = stream_component(from, layout, out.get(), image_gate_build_rules(), &refusal);
    }
    image.reset();
    if (!close_checked(out) && status == BOOT_PAYLOAD_WRITTEN)
        status = BOOT_PAYLOAD_WRITE_FAILED;
    if (status != BOOT_PAYLOAD_WRITTEN) {
        report_refusal(refusal);
        std::fputs(status == BOOT_PAYLOAD_WRITE_FAILED ? "Failed to write GDB output file.\n" : "GDB image CRC failed.\n",
                   stderr);
        std::remove(GDB_ARCHIVE_PATH);
        return 0;
    }

    std::puts("decompressing GDB....");
    // Only a whole, executable program is left in /tmp/gdb: a gunzip that fails or is
    // interrupted, or a payload that is not a program (an application tarball, say), leaves
    // nothing, and the launch reports gdb as not available.
    bool unpacked = shell_command_succeeded(run_shell_command("gunzip /tmp/gdb.gz")) &&
                    shell_command_succeeded(run_shell_command("chmod +x /tmp/gdb"));
    bool program = unpacked && starts_like_a_program(GDB_PATH);
    if (!unpacked)
        std::fputs("Failed to unpack GDB image.\n", stderr);
    else if (!program)
        std::fputs("GDB image does not hold a program (no ELF or #! start).\n", stderr);
    if (!program) {
        std::remove(GDB_PATH);
        std::remove(GDB_ARCHIVE_PATH);
        return 0;
    }
    return 1;
}

int boot_rescue_image()
{
    FilePtr tarball(std::fopen(APP_TARBALL_PATH, "wb"));
    if (!tarball) {
        std::fputs("Failed to open AppOS tarfile.\n", stderr);
        reboot_board();
    }

    const int fd = g_mtd_fd[MTD_RESCUE];
    uint8_t probe[IMAGE_PROBE_SIZE] = {};
    image_layout layout = {};
    if (flash_read_at(probe, fd, 0, sizeof probe) == 0)
        layout = image_get_layout(probe);
    if (layout.type != APPLICATION && layout.type != DIAGS) {
        std::fputs("Image not found... \n", stderr);
        return 0;
    }

    // The header's lengths are bounded by the partition before anything is read. Only the
    // recovery image is kept whole, for an install into a slot; a diagnostics image goes
    // through in pieces.
    mtd_geometry geometry = {};
    uint64_t partition_size = mtd_get_geometry(fd, geometry) ? geometry.total_size : 0;
    const char *refusal = nullptr;
    boot_payload_status status = BOOT_PAYLOAD_CRC_FAILED;
    Buffer component;
    if (image_check_layout(layout, nullptr, partition_size) == IMAGE_LAYOUT_OK) {
        if (layout.type == APPLICATION)
            component = allocate(layout.total);
        ComponentSource from = {nullptr, fd, 0};
        if (layout.type == DIAGS || component)
            status = stream_component(from, layout, tarball.get(), image_gate_build_rules(), &refusal,
                                      component.get());
    }
    if (!close_checked(tarball) && status == BOOT_PAYLOAD_WRITTEN)
        status = BOOT_PAYLOAD_WRITE_FAILED;
    if (status != BOOT_PAYLOAD_WRITTEN) {
        std::remove(APP_TARBALL_PATH);
        report_refusal(refusal);
        std::fputs(status == BOOT_PAYLOAD_WRITE_FAILED ? "Failed to write AppOS tarfile.\n" : "Image CRC failed. Quitting\n",
                   stderr);
        return 0;
    }
    // Unpacked before the operator is asked or the board is written to: an image that
    // does not unpack whole counts as a CRC failure, and the normal boot goes on.
    if (!unpack_application()) {
        std::fputs("Image CRC failed. Quitting\n", stderr);
        return 0;
    }

    if (layout.type == DIAGS) {
        std::puts("Launching diagnostics image");
        board_set_booted_image(RESCUE_BOOTED_IMAGE);
        launch_unpacked_application(true);
    }
    boot_recovery_image(std::move(component), layout);
}
