// MTD flash partitions: descriptor table, geometry, low-level requests and range operations.
#include "board/mtd.h"

#include "platform/device_io.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>
#include <new>

int g_mtd_fd[MTD_PARTITION_COUNT] = {-1, -1, -1, -1, -1, -1};

namespace {

constexpr uint32_t WRITE_PIECE = 1024; // the driver is written in pieces of this size

struct PartitionDevice {
    const char *path;
    int flags;
};

constexpr PartitionDevice partition_devices[MTD_PARTITION_COUNT] = {
    {"/dev/mtd-uboot", O_RDWR | O_SYNC},
    {"/dev/mtd-ubootenv", O_RDWR | O_SYNC},
    {"/dev/mtd-devicetree", O_RDWR | O_SYNC},
    {"/dev/mtd-kernel", O_RDWR | O_SYNC},
    {"/dev/mtd-rfs", O_RDWR | O_SYNC},
    {"/dev/mtd-rescue", O_RDWR},
};

// The range must lie inside the partition; computed in 64 bits so offset + length cannot wrap.
bool range_inside(uint32_t offset, uint32_t length, const mtd_geometry &geo)
{
    if (uint64_t{offset} + length <= geo.total_size)
        return true;
    std::printf("Flash range 0x%x+0x%x lies outside the partition (0x%x bytes)\n", offset,
                length, geo.total_size);
    return false;
}

// The block-wise write needs a power-of-two erase size of at least one write piece: a smaller
// or odd one would make the pieces run past the block and the block arithmetic meaningless.
bool erase_size_usable(uint32_t erase_size)
{
    if (erase_size >= WRITE_PIECE && (erase_size & (erase_size - 1)) == 0)
        return true;
    std::printf("Flash erase size 0x%x is not usable\n", erase_size);
    return false;
}

int fail_write_step(const char *message)
{
    std::puts(message);
    std::puts("");
    return 0;
}

} // namespace

const char *mtd_partition_path(int partition)
{
    if (partition < 0 || partition >= MTD_PARTITION_COUNT)
        return nullptr;
    return partition_devices[partition].path;
}

int mtd_init()
{
    mtd_open_partitions();
    return 1;
}

void mtd_open_partitions()
{
    for (int i = 0; i < MTD_PARTITION_COUNT; ++i)
        g_mtd_fd[i] = device_io().open(partition_devices[i].path, partition_devices[i].flags);
}

int mtd_get_geometry(int fd, mtd_geometry &geo)
{
    mtd_info_user info{};
    if (device_io().ioctl(fd, MEMGETINFO, &info) < 0) {
        std::puts("Could not get MTD device info ");
        return 0;
    }
    geo.erase_size = info.erasesize;
    geo.total_size = info.size;
    // An erase size of 0 has no blocks and no shift; flash_write refuses it.
    geo.block_count = info.erasesize ? info.size / info.erasesize : 0;
    geo.erase_shift = info.erasesize ? static_cast<uint32_t>(__builtin_ctz(info.erasesize)) : 0;
    return 1;
}

int mtd_erase(int fd, uint32_t offset, uint32_t length)
{
    erase_info_user request{offset, length};
    return device_io().ioctl(fd, MEMERASE, &request) < 0 ? 0 : 1;
}

int mtd_read(int fd, uint32_t offset, uint32_t length, void *buf)
{
    return device_io().pread(fd, buf, length, static_cast<off_t>(offset)) < 0 ? 0 : 1;
}

int mtd_write(int fd, uint32_t offset, uint32_t length, const void *buf)
{
    return device_io().pwrite(fd, buf, length, static_cast<off_t>(offset)) < 0 ? 0 : 1;
}

int flash_read(void *buf, int fd, uint32_t length, uint32_t offset)
{
    return mtd_read(fd, offset, length, buf);
}

int flash_write(const void *src, int fd, uint32_t length, uint32_t offset, int progress,
                const mtd_geometry &geo)
{
    if (!erase_size_usable(geo.erase_size) || !range_inside(offset, length, geo))
        return 0;
    const uint32_t E = geo.erase_size;
    const uint32_t first = offset & ~(E - 1);
    const uint32_t last = ((offset + length - 1) & ~(E - 1)) + E - 1;
    // A length of 0 touches no block, wherever it starts (rewriting a block for nothing would
    // only risk its contents).
    const uint32_t n =
        length == 0 ? 0 : static_cast<uint32_t>((uint64_t{last} - first + 1) / E);

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[E + WRITE_PIECE]);
    if (!block) {
        std::puts("Flash Write malloc failed");
        return 0;
    }
    if (progress)
        std::printf("     ");

    const auto *source = static_cast<const uint8_t *>(src);
    uint32_t done = 0;
    uint32_t B = first;
    for (uint32_t i = 0; i < n; ++i, B += E) {
        uint32_t part_offset = 0;
        uint32_t part_length = E;
        if (n == 1) {
            part_offset = offset - first;
            part_length = length;
        } else if (i == 0) {
            part_offset = offset - first;
            part_length = E - part_offset;
        } else if (i == n - 1) {
            part_length = length - done;
        }

        std::memset(block.get(), 0, E);
        if (!mtd_read(fd, B, E, block.get()))
            return fail_write_step("Flash Write mtd read failed.");
        std::memcpy(block.get() + part_offset, source + done, part_length);
        if (!mtd_erase(fd, B, E))
            return fail_write_step("Flash Write mtd erase failed.");
        for (uint32_t k = 0; k < E; k += WRITE_PIECE)
            if (!mtd_write(fd, B + k, WRITE_PIECE, block.get() + k))
                return fail_write_step("Flash Write mtd write failed.");
        if (progress) {
            std::printf("\b\b\b\b%3.3d%c", static_cast<int>(i * 100u / n), '%');
            std::fflush(stdout);
        }
        done += part_length;
    }
    if (progress)
        std::printf("\b\b\b\b100%c\n", '%');
    return 1;
}

int flash_read_at(void *buf, int fd, uint32_t offset, uint32_t length)
{
    mtd_geometry geo{};
    if (!mtd_get_geometry(fd, geo) || !range_inside(offset, length, geo))
        return -1;
    return flash_read(buf, fd, length, offset) ? 0 : -1;
}

int flash_write_at(const void *src, int fd, uint32_t offset, uint32_t length, int progress)
{
    mtd_geometry geo{};
    if (!mtd_get_geometry(fd, geo))
        return -1;
    return flash_write(src, fd, length, offset, progress, geo) ? 0 : -1;
}
