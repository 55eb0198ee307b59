// I2C buses of the board and the parameter store on top of them.
#include "board/i2c.h"

#include "platform/device_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

int g_i2c_fd[2] = {0, 0};

namespace {

constexpr int BUS_COUNT = 2;

// Descriptor of a bus, or -1 for a bus number out of range or a bus that is not open. An
// entry of 0 means closed and must never reach a transfer: descriptor 0 is the console.
int bus_fd(int bus)
{
    if (bus < 0 || bus >= BUS_COUNT || g_i2c_fd[bus] <= 0)
        return -1;
    return g_i2c_fd[bus];
}

// I2C_SLAVE takes the 7-bit address as the request's argument value itself.
int select_device(int fd, unsigned address7)
{
    return device_io().ioctl(fd, I2C_SLAVE, reinterpret_cast<void *>(uintptr_t{address7}));
}

} // namespace

int i2c_open_buses()
{
    for (int bus = 0; bus < BUS_COUNT; ++bus) {
        char path[32];
        std::snprintf(path, sizeof path, "/dev/i2c-%d", bus);
        g_i2c_fd[bus] = device_io().open(path, O_RDWR);
        if (g_i2c_fd[bus] < 0) {
            std::printf("ERROR: driver %s couldn't be opened\n", path);
            return -1;
        }
    }
    return 0;
}

int i2c_close_buses()
{
    for (int &fd : g_i2c_fd) {
        if (fd > 0)
            device_io().close(fd);
        fd = 0;
    }
    return 0;
}

int i2c_read_regs(int bus, uint8_t device, uint16_t offset, int count, int offset_width,
                  uint8_t *buf)
{
    uint8_t offset_bytes[2];
    size_t offset_len = 1;
    if (offset_width == 2) {
        offset_bytes[0] = static_cast<uint8_t>(offset >> 8);
        offset_bytes[1] = static_cast<uint8_t>(offset);
        offset_len = 2;
    } else {
        offset_bytes[0] = static_cast<uint8_t>(offset);
    }

    int fd = bus_fd(bus);
    if (fd < 0 || select_device(fd, device >> 1) < 0) {
        int err = fd < 0 ? EBADF : errno;
        std::printf("I2C error when setting bus %d, device 0x%x: %d\n", bus, device, err);
        return 0;
    }
    if (device_io().write(fd, offset_bytes, offset_len) < 0) {
        std::printf("I2C error - device 0x%x writing bus %d offset %d: %d\n", device, bus,
                    offset, errno);
        return 0;
    }
    // A negative count cannot be read; it fails like a short read without touching buf.
    ssize_t got = count < 0 ? -1 : device_io().read(fd, buf, static_cast<size_t>(count));
    if (got != count) {
        std::printf("I2C error - device 0x%x @ %d, %d bytes : %d\n", device, offset, count,
                    count < 0 ? EINVAL : errno);
        return 0;
    }
    return 1;
}

int i2c_smbus_access(int fd, uint8_t read_write, uint8_t command, uint32_t size,
                     union i2c_smbus_data *data)
{
    i2c_smbus_ioctl_data request{};
    request.read_write = read_write;
    request.command = command;
    request.size = size;
    request.data = data;
    return device_io().ioctl(fd, I2C_SMBUS, &request);
}

int i2c_smbus_read_byte(int fd, uint8_t command)
{
    i2c_smbus_data data{};
    if (i2c_smbus_access(fd, I2C_SMBUS_READ, command, I2C_SMBUS_BYTE_DATA, &data) < 0)
        return -1;
    return data.byte;
}

int i2c_smbus_write_byte(int fd, uint8_t command, uint8_t value)
{
    i2c_smbus_data data{};
    data.byte = value;
    return i2c_smbus_access(fd, I2C_SMBUS_WRITE, command, I2C_SMBUS_BYTE_DATA, &data);
}

int board_param_read(uint16_t offset, int count, uint8_t *buf)
{
    i2c_read_regs(0, BOARD_PARAM_DEVICE, offset, count, 2, buf);
    return buf[0];
}

int board_param_write(uint16_t offset, uint8_t value)
{
    // Pre-write step on bus 1: clear bit 3 of the port device (command 0x04 read, 0x0C
    // write). Its results are not examined; a failed read writes 0xF7.
    int port = bus_fd(1);
    select_device(port, BOARD_PORT_DEVICE);
    int port_value = i2c_smbus_read_byte(port, 0x04);
    i2c_smbus_write_byte(port, 0x0C, static_cast<uint8_t>(port_value & 0xF7));

    const uint8_t bytes[3] = {static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
                              value};
    int fd = bus_fd(0);
    int selected = fd < 0 ? -1 : select_device(fd, BOARD_PARAM_DEVICE >> 1);
    if (selected < 0) {
        std::printf("I2C error when setting bus %d: %d\n", 0, fd < 0 ? EBADF : errno);
        return selected;
    }
    ssize_t written = device_io().write(fd, bytes, sizeof bytes);
    int err = errno;
    // The store needs its write cycle before the next transfer, whatever the result.
    device_io().usleep(BOARD_PARAM_WRITE_DELAY_US);
    if (written < 0)
        std::printf("I2C error when writing bus %d offset %d: %d\n", 0, offset, err);
    return static_cast<int>(written);
}

int board_get_boot_slot()
{
    uint8_t value = 0;
    board_param_read(BOARD_REG_BOOT_SLOT, 1, &value);
    return value;
}

int board_set_boot_slot(int slot)
{
    return board_param_write(BOARD_REG_BOOT_SLOT, static_cast<uint8_t>(slot));
}

int board_set_booted_image(int value)
{
    return board_param_write(BOARD_REG_BOOTED_IMAGE, static_cast<uint8_t>(value));
}

int board_get_usb_status()
{
    uint8_t value = 0;
    board_param_read(BOARD_REG_USB_STATUS, 1, &value);
    return value;
}
