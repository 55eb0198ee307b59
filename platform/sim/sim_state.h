// Internal state of the simulated board shared by its files: the selected board directory, its
// configuration, fault counters, device pointers and the event log. Only platform/sim uses it.
#pragma once

#include "platform/sim/sim_board.h"

#include <cstdint>
#include <sys/types.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

inline constexpr int SIM_PARTITION_COUNT = 6;
inline constexpr uint32_t SIM_EEPROM_SIZE = 0x10000;
inline constexpr uint32_t SIM_EXPANDER_SIZE = 0x100;
inline constexpr unsigned SIM_EEPROM_ADDRESS = 0x54;
inline constexpr unsigned SIM_EXPANDER_ADDRESS = 0x20;

struct SimPartitionConf {
    const char *name;
    uint32_t size;
    uint32_t erase_size;
};

struct SimConfig {
    SimPartitionConf mtd[SIM_PARTITION_COUNT];
    bool nor_strict;
    bool real_sleep;
    std::set<std::pair<int, unsigned>> absent{}; // (bus, 7-bit address)
    uint32_t fail_erase;
    uint32_t fail_read;
    uint32_t fail_write;
    uint32_t power_cut;
};

struct SimState {
    std::string dir{}; // empty until a board is selected
    SimConfig conf{};
    uint32_t erase_count = 0;
    uint32_t read_count = 0;
    uint32_t write_count = 0;
    uint32_t flash_op_count = 0;
    uint32_t nor_faults = 0;
    uint16_t eeprom_pointer = 0;
    uint8_t expander_pointer = 0;
    int log_fd = -1;
    std::vector<SimEvent> events{};
};

SimState &sim_state();
// Selects the default board when none was selected yet.
void sim_ensure_board();
// Index of a partition name ("uboot".."rescue"), or -1.
int sim_partition_index(const char *name);
// Path of a file inside a board directory.
std::string sim_path(const std::string &dir, const char *file);
// Appends to the in-memory log and to DIR/devices.log.
void sim_record(const SimEvent &event);
// Counts one flash operation; at the configured power cut the process dies here.
void sim_count_flash_operation();
// Reads [offset, offset+count) of a partition file; bytes past its end read as erased.
bool sim_read_erased_tail(int fd, uint8_t *buf, size_t count, uint64_t offset);

// An open simulated device: the descriptor is a real descriptor of its backing file.
struct SimHandle {
    bool is_mtd;
    int index;        // bus number or partition index
    unsigned address; // I2C: the selected 7-bit device address
};

// Device models, called by the backend table with the handle of the descriptor.
int sim_i2c_ioctl(int fd, SimHandle &h, unsigned long request, void *arg);
ssize_t sim_i2c_read(int fd, const SimHandle &h, uint8_t *buf, size_t count);
ssize_t sim_i2c_write(int fd, const SimHandle &h, const uint8_t *buf, size_t count);
int sim_mtd_ioctl(int fd, const SimHandle &h, unsigned long request, void *arg);
ssize_t sim_mtd_pread(int fd, const SimHandle &h, uint8_t *buf, size_t count, off_t offset);
ssize_t sim_mtd_pwrite(int fd, const SimHandle &h, const uint8_t *buf, size_t count,
                       off_t offset);

// Files of the board's /user (DIR/root/user), the device seam's file operations.
int sim_file_open(const char *path, int flags, mode_t mode);
ssize_t sim_file_write(int fd, const void *buf, size_t count);
int sim_file_sync(int fd);
int sim_file_close(int fd);
int sim_file_rename(const char *from, const char *to);
int sim_file_unlink(const char *path);
int sim_file_mkdir(const char *path, mode_t mode);
