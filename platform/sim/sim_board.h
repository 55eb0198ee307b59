// The simulated board: the devices behind the device seam when the boot manager runs in the
// simulator or in tests. It owns the board directory (format below), the emulation of the
// parameter store, the port expander and the six NOR flash partitions, fault injection and the
// transaction log. It relies on plain files only; bootsim, tests and host tools call it.
//
// Board directory DIR:
//   board.conf        text, one `key value...` per line, '#' starts a comment, numbers in
//                     C notation (0x.. hex); keys this backend does not know are ignored.
//     mtd NAME SIZE ERASESIZE   geometry of partition NAME (uboot, ubootenv, devicetree,
//                               kernel, rfs, rescue); MEMGETINFO reports exactly these
//     nor_strict 0|1            1: a write over bits that are not erased fails with EIO
//                               (nothing written); 0: it is counted and logged as a fault
//     absent BUS ADDR           the device at 7-bit ADDR on bus BUS does not answer
//     fail_erase N              the Nth MEMERASE fails with EIO (0: never)
//     fail_read N               the Nth partition read fails with EIO
//     fail_write N              the Nth partition write fails with EIO
//     power_cut N               the power fails as the Nth flash operation (partition read,
//                               erase or write; write, sync or rename of a file under /user)
//                               starts: the process is killed, that operation and everything
//                               after it never happen
//     real_sleep 0|1            1 (default): delays really sleep; 0: only recorded
//   i2c-0.eeprom      64 KiB, the parameter store (bus 0, address 0x54, 16-bit offsets).
//                     "/dev/i2c-0" cannot be opened when this file is missing.
//   i2c-1.expander    256 bytes, the port expander registers (bus 1, address 0x20).
//                     "/dev/i2c-1" cannot be opened when this file is missing.
//   mtd-NAME.bin      contents of partition NAME from offset 0; every byte past the end of the
//                     file is erased flash (0xFF), so a new board costs no disk space.
//                     "/dev/mtd-NAME" cannot be opened when this file is missing.
//   devices.log       the transaction log, appended one line per device operation.
//   root/user/        the board's persistent /user: the device seam's file operations on a
//                     path under /user work on DIR/root/user (folders made as needed).
// Fault counters start at 0 when a board is selected and when a fault is set by the hook.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Makes DIR (if needed) with a default board.conf, an erased EEPROM and expander and empty
// (all erased) partition files. Leaves any other file of DIR alone. 0 or -1.
int sim_board_create(const char *dir);

// Selects the board directory for the device backend and reloads its board.conf (fault
// counters and device pointers start afresh). Without a call, the first device open selects
// $BOOTSIM_BOARD, else "/board". 0, or -1 when DIR/board.conf cannot be read.
int sim_board_use(const char *dir);
// The selected board directory ("" before any selection).
const char *sim_board_dir();

// Direct access to the parameter store file, bypassing the bus (not logged). 0 or -1.
int sim_eeprom_get(const char *dir, uint32_t offset, uint8_t *value);
int sim_eeprom_set(const char *dir, uint32_t offset, uint8_t value);

// Raw partition contents: write puts the file's bytes at offset 0 (rest erased), read copies
// the whole partition (with its erased tail) to PATH. NAME as in board.conf. 0 or -1.
int sim_flash_write_file(const char *dir, const char *partition, const char *path);
int sim_flash_read_file(const char *dir, const char *partition, const char *path);

// Faults set from a test, on top of board.conf; they count from the moment they are set.
enum class SimFault { EraseFails, ReadFails, WriteFails, PowerCut };
void sim_board_set_fault(SimFault fault, uint32_t nth); // nth = 1: the next one; 0: never
void sim_board_set_absent(int bus, unsigned address, bool absent);
void sim_board_set_nor_strict(bool strict);
void sim_board_set_real_sleep(bool real);
// Writes over bits that were not erased since the board was selected.
uint32_t sim_nor_fault_count();

// The transaction log.
enum class SimOp {
    I2cSelect,  // I2C_SLAVE; address = the 7-bit address
    I2cWrite,   // plain write; bytes = what went on the bus
    I2cRead,    // plain read; bytes = what came back
    SmbusRead,  // byte-data read; bytes = command, data
    SmbusWrite, // byte-data write; bytes = command, data
    MtdInfo,    // MEMGETINFO
    MtdErase,   // MEMERASE over offset/length
    MtdRead,    // pread of offset/length
    MtdWrite,   // pwrite of offset/length
    Sleep,      // delay; length = microseconds requested
    FileWrite,  // write to a file under /user; path = the file, length = bytes
    FileSync,   // fsync of a file under /user; path = the file
    FileRename, // rename under /user; path = "FROM TO"
};

struct SimEvent {
    SimOp op;
    std::string device{};       // "i2c-0", "mtd-kernel"...; empty for a delay
    unsigned address = 0;       // I2C: 7-bit device address
    std::vector<uint8_t> bytes{}; // I2C: bytes on the bus
    uint32_t offset = 0;        // MTD: start of the range
    uint32_t length = 0;        // MTD: length of the range; delay: microseconds
    int error = 0;              // errno of a failed operation, 0 on success
    bool nor_fault = false;     // MTD write over bits that were not erased
    std::string path{};         // file operations: the board's path (/user/...)
};

// Events since the last clear (in this process).
const std::vector<SimEvent> &sim_events();
void sim_events_clear();
// The event as one devices.log line, e.g. "i2c-0 write 0x54 01 3a 04",
// "mtd-kernel erase 0x20000+0x20000" or "user write /user/images/image1.new 65536".
std::string sim_event_text(const SimEvent &event);
