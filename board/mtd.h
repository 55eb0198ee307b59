// MTD flash access: the table of the six partition descriptors, the geometry query, the
// silent low-level erase/read/write and the block-wise read-modify-erase-write of a range.
// All device I/O goes through device_io(). Start-up opens the partitions; the boot options,
// the image checks, the rescue boot and the installer read and write through here.
#pragma once

#include <cstdint>

enum mtd_partition {
    MTD_UBOOT = 0,
    MTD_UBOOTENV,
    MTD_DEVICETREE,
    MTD_KERNEL,
    MTD_RFS,
    MTD_RESCUE,
    MTD_PARTITION_COUNT
};

// Descriptors indexed by mtd_partition; -1 when the device could not be opened (or before
// mtd_init). Never closed: they stay open into the application starter.
extern int g_mtd_fd[MTD_PARTITION_COUNT];

// Device path of a partition ("/dev/mtd-uboot"...), or nullptr for an index out of range.
const char *mtd_partition_path(int partition);

struct mtd_geometry {
    uint32_t block_count; // total_size / erase_size (0 when the erase size is 0)
    uint32_t erase_size;  // E, as the device reports it
    uint32_t erase_shift; // index of the lowest set bit of E (0 when E is 0)
    uint32_t total_size;  // partition size
};

// Opens the partitions (mtd_open_partitions) and returns 1.
int mtd_init();
// Opens the six devices in table order; a failed open leaves -1 in its entry.
void mtd_open_partitions();

// MEMGETINFO and the derived fields. 1 on success; 0 after printing
// "Could not get MTD device info ".
int mtd_get_geometry(int fd, mtd_geometry &geo);

// Silent low-level operations: 1 on success, 0 on failure. Short transfers count as success.
int mtd_erase(int fd, uint32_t offset, uint32_t length);
int mtd_read(int fd, uint32_t offset, uint32_t length, void *buf);
int mtd_write(int fd, uint32_t offset, uint32_t length, const void *buf);

// Reads a range with mtd_read; returns its result (1 / 0).
int flash_read(void *buf, int fd, uint32_t length, uint32_t offset);
// Writes a range block by block (read, modify, erase, write back in 1024-byte pieces),
// keeping the bytes of touched blocks outside the range. With `progress` on, shows a
// percentage on standard output. 1 on success; 0 after a message on failure, including a
// range past the partition's end and an erase size that is 0, not a power of two or below
// 1024 (both refused before any flash is touched).
int flash_write(const void *src, int fd, uint32_t length, uint32_t offset, int progress,
                const mtd_geometry &geo);

// Geometry query, then the read / write above. 0 on success, -1 on failure.
int flash_read_at(void *buf, int fd, uint32_t offset, uint32_t length);
int flash_write_at(const void *src, int fd, uint32_t offset, uint32_t length, int progress);
