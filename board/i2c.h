// I2C access to the board: the table of the two bus descriptors, the addressed register read,
// the SMBus byte transfers and the board operations on the parameter store (boot slot, booted
// image, USB status). All device I/O goes through device_io(). Start-up opens the buses, the
// boot path and the installer use the board operations, the application launch closes them.
#pragma once

#include <cstdint>

union i2c_smbus_data;

inline constexpr int BOARD_USB_PRESENT = 213; // USB status byte: a stick is present

inline constexpr uint16_t BOARD_REG_BOOT_SLOT = 0x100;
inline constexpr uint16_t BOARD_REG_BOOTED_IMAGE = 0x13A;
inline constexpr uint16_t BOARD_REG_USB_STATUS = 0x13B;

inline constexpr uint8_t BOARD_PARAM_DEVICE = 0xA8; // parameter store on bus 0, 8-bit form
inline constexpr uint8_t BOARD_PORT_DEVICE = 0x20;  // port device on bus 1, 7-bit form
inline constexpr unsigned BOARD_PARAM_WRITE_DELAY_US = 100000;

// Descriptors of /dev/i2c-0 and /dev/i2c-1; 0 when closed, -1 when the open failed.
extern int g_i2c_fd[2];

// Opens bus 0 then bus 1 read-write. 0 when both opened; -1 at the first failure, after
// printing "ERROR: driver %s couldn't be opened\n" (a bus opened before stays open).
int i2c_open_buses();
// Closes every open bus and sets its entry to 0. Returns 0.
int i2c_close_buses();

// Reads `count` bytes from register `offset` of `device` (8-bit address form) on `bus`,
// sending two offset bytes (high first) when `offset_width` is 2, else the low byte alone.
// Returns non-zero on success; 0 after printing the message of the failing step.
int i2c_read_regs(int bus, uint8_t device, uint16_t offset, int count, int offset_width,
                  uint8_t *buf);

// One I2C_SMBUS request on a bus descriptor; returns the request's result.
int i2c_smbus_access(int fd, uint8_t read_write, uint8_t command, uint32_t size,
                     union i2c_smbus_data *data);
// Byte-data read: the byte (0..255), or -1 when the request failed.
int i2c_smbus_read_byte(int fd, uint8_t command);
// Byte-data write: the request's result.
int i2c_smbus_write_byte(int fd, uint8_t command, uint8_t value);

// Reads `count` bytes of the parameter store at `offset` into buf; returns buf[0].
int board_param_read(uint16_t offset, int count, uint8_t *buf);
// Writes one byte of the parameter store (pre-write step on bus 1, then the write and a
// 100 ms settle delay). Returns 3 on success, negative on failure.
int board_param_write(uint16_t offset, uint8_t value);

// Boot slot byte (0..255); 0 when the read failed.
int board_get_boot_slot();
int board_set_boot_slot(int slot);
// Booted-image byte: 1 or 2 (slot), 3 (USB image), 4 (rescue partition image).
int board_set_booted_image(int value);
// USB status byte (0..255); 0 when the read failed. Compare with BOARD_USB_PRESENT.
int board_get_usb_status();
