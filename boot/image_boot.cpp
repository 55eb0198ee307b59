// Slot boot, rescue-partition boot and gdb extraction.
#include "boot/image_boot.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>

#include "board/i2c.h"
#include "board/mtd.h"
#include "boot/boot_state.h"
#include "boot/launch.h"
#include "boot/startup.h"
#include "boot/usb_boot.h"
#include "image/bytes.h"
#include "image/slot_file.h"
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

bool component_crc_ok(const uint8_t *component, uint32_t total)
{
    return image_component_crc(component, total) == load_be32(component);
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

// Memory for a component read from a slot file: an anonymous mapping whose pages the kernel
// provides at once (MAP_POPULATE), instead of one page fault per page while the file is
// read into it.
struct Unmap {
    size_t size;
    void operator()(uint8_t *bytes) const { munmap(bytes, size); }
};
using MappedBuffer = std::unique_ptr<uint8_t[], Unmap>;

MappedBuffer allocate_mapped(uint32_t size)
{
    void *bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (bytes == MAP_FAILED) {
        std::fprintf(stderr, "Not enough memory for an image component of %u bytes.\n", size);
        return MappedBuffer(nullptr, Unmap{0});
    }
    return MappedBuffer(static_cast<uint8_t *>(bytes), Unmap{size});
}

// Reads the component at the file's position whole and checks its CRC. Null when it
// cannot be read (its lengths are impossible or it runs past the end of the file, which is
// never read beyond), held or verified. The CRC runs over each piece right after it is read,
// while the piece is still in the cache, instead of over the whole component afterwards.
MappedBuffer read_checked_component(FILE *image, const image_layout &layout)
{
    constexpr uint32_t PIECE = 256 * 1024;
    if (image_check_layout(layout, nullptr, bytes_left(image)) != IMAGE_LAYOUT_OK)
        return MappedBuffer(nullptr, Unmap{0});
    MappedBuffer component = allocate_mapped(layout.total);
    if (!component)
        return component;
    uint8_t *bytes = component.get();
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t done = 0; done < layout.total;) {
        uint32_t piece = std::min(PIECE, layout.total - done);
        if (std::fread(bytes + done, 1, piece, image) != piece)
            return MappedBuffer(nullptr, Unmap{0});
        // Bytes 0..3 hold the CRC word, which the CRC does not cover.
        uint32_t from = done == 0 ? 4 : done;
        crc = image_crc32(bytes + from, done + piece - from, crc);
        done += piece;
    }
    if (crc != load_be32(bytes))
        return MappedBuffer(nullptr, Unmap{0});
    return component;
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

// Copies `length` bytes from the image's position to `out`, running the CRC register
// `crc` over them; returns the number copied, which is short when the file ends early.
uint32_t copy_bytes(FILE *image, FILE *out, uint32_t length, uint32_t *crc)
{
    uint8_t chunk[16384];
    uint32_t copied = 0;
    while (copied < length) {
        size_t want = std::min<uint32_t>(sizeof chunk, length - copied);
        size_t got = std::fread(chunk, 1, want, image);
        if (got == 0 || std::fwrite(chunk, 1, got, out) != got)
            break;
        *crc = image_crc32(chunk, got, *crc);
        copied += static_cast<uint32_t>(got);
    }
    return copied;
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
    image_layout layout = {};
    uint8_t header[IMAGE_BASIC_HEADER_SIZE];
    *type = 0;
    if (!find_boot_component(image, type, &layout.format, &layout.header_len, &layout.payload_len,
                             header))
        return BOOT_PAYLOAD_NOT_FOUND;
    // T modulo 2^32 as the layout keeps it; the check in the read tells a wrapped sum.
    layout.type = *type;
    layout.total = layout.header_len + layout.payload_len;

    MappedBuffer component = read_checked_component(image, layout);
    if (!component)
        return BOOT_PAYLOAD_CRC_FAILED;
    return write_all(tarball, component.get() + layout.header_len, layout.payload_len)
               ? BOOT_PAYLOAD_WRITTEN
               : BOOT_PAYLOAD_WRITE_FAILED;
}

int boot_image_slot(int slot)
{
    if (slot < 1 || slot > USB_BOOT_SLOT)
        return 0;
    FilePtr image = slot == USB_BOOT_SLOT ? open_usb_image() : open_flash_slot(&slot);
    if (!image)
        return 0;

    FilePtr tarball(std::fopen(APP_TARBALL_PATH, "wb"));
    if (!tarball) {
        std::fputs("Failed to open application image output file.\n", stderr);
        image.reset();
        final_branch_reboot();
    }

    uint32_t type = 0;
    boot_payload_status status = write_boot_payload(image.get(), tarball.get(), &type);
    image.reset();
    bool closed = close_checked(tarball);
    if (status == BOOT_PAYLOAD_NOT_FOUND)
        return report_no_component(slot, type);
    if (status == BOOT_PAYLOAD_CRC_FAILED)
        return report_crc_failure(slot);
    if (status != BOOT_PAYLOAD_WRITTEN || !closed) {
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
    uint8_t bytes[IMAGE_BASIC_HEADER_SIZE] = {};
    (void)std::fread(bytes, 1, sizeof bytes, image.get());
    image_header header = image_read_header(bytes);
    if (header.magic != APPLICATION && header.magic != DIAGS) {
        std::fprintf(stderr, "Image has invalid header 0x%x\n", header.magic);
        return 0;
    }
    std::printf("Found GDB image %d of length = %u.\n", source, header.len);

    // The length word is not trusted beyond the file: a short archive is not unpacked, so
    // no half debugger ends up in /tmp/gdb. The CRC of the format-1 component (bytes 4 to
    // len + 15) is taken on the way, so the payload is read once and never held whole.
    uint32_t crc = image_crc32(bytes + 4, sizeof bytes - 4, 0xFFFFFFFFu);
    uint32_t copied = copy_bytes(image.get(), out.get(), header.len, &crc);
    image.reset();
    bool closed = close_checked(out);
    if (copied != header.len || !closed) {
        std::fprintf(stderr, "GDB image is truncated: %u of %u bytes.\n", copied, header.len);
        std::remove(GDB_ARCHIVE_PATH);
        return 0;
    }
    if (crc != header.crc) {
        std::fputs("GDB image CRC failed.\n", stderr);
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

    // The header's lengths are bounded by the partition before anything is read.
    mtd_geometry geometry = {};
    uint64_t partition_size = mtd_get_geometry(fd, geometry) ? geometry.total_size : 0;
    Buffer component;
    if (image_check_layout(layout, nullptr, partition_size) == IMAGE_LAYOUT_OK) {
        component = allocate(layout.total);
        if (component && (flash_read_at(component.get(), fd, 0, layout.total) != 0 ||
                          !component_crc_ok(component.get(), layout.total)))
            component.reset();
    }
    if (!component) {
        std::fputs("Image CRC failed. Quitting\n", stderr);
        return 0;
    }

    bool written = write_all(tarball.get(), component.get() + layout.header_len, layout.payload_len);
    if (!close_checked(tarball) || !written) {
        std::fputs("Failed to write AppOS tarfile.\n", stderr);
        return 0;
    }
    // Unpacked before the operator is asked or the board is written to: an image that
    // does not unpack whole counts as a CRC failure, and the normal boot goes on. Only the
    // recovery image needs its component afterwards (for an install into a slot).
    if (layout.type == DIAGS)
        component.reset();
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
