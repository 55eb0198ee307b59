// The I2C devices of the simulated board. Bus 0 carries the parameter store, an EEPROM with
// 16-bit register offsets and an internal address pointer; bus 1 the port expander with 8-bit
// registers. Each bus descriptor is a descriptor of its device's backing file, so register
// contents persist across runs. Any other address does not acknowledge (ENXIO).
#include "platform/sim/sim_state.h"

#include <cerrno>
#include <cstdint>
#include <sys/ioctl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <unistd.h>

namespace {

struct DeviceModel {
    uint32_t size; // registers in the backing file
    bool wide;     // 16-bit register pointer (EEPROM) rather than 8-bit
};

// The device that answers at the selected address of this bus, or nullptr.
const DeviceModel *answering_device(const SimHandle &h)
{
    static constexpr DeviceModel eeprom = {SIM_EEPROM_SIZE, true};
    static constexpr DeviceModel expander = {SIM_EXPANDER_SIZE, false};
    if (sim_state().conf.absent.count({h.index, h.address}) != 0)
        return nullptr;
    if (h.index == 0 && h.address == SIM_EEPROM_ADDRESS)
        return &eeprom;
    if (h.index == 1 && h.address == SIM_EXPANDER_ADDRESS)
        return &expander;
    return nullptr;
}

uint32_t load_pointer(const DeviceModel &dev)
{
    return dev.wide ? sim_state().eeprom_pointer : sim_state().expander_pointer;
}

void store_pointer(const DeviceModel &dev, uint32_t value)
{
    SimState &s = sim_state();
    if (dev.wide)
        s.eeprom_pointer = static_cast<uint16_t>(value);
    else
        s.expander_pointer = static_cast<uint8_t>(value);
}

SimEvent bus_event(SimOp op, const SimHandle &h)
{
    SimEvent e{op, "i2c-" + std::to_string(h.index)};
    e.address = h.address;
    return e;
}

// A write transfer: the first one (or two) bytes set the register pointer, the rest are
// stored at the pointer, which advances and wraps at the end of the device.
ssize_t device_write(int fd, const DeviceModel &dev, const uint8_t *buf, size_t count)
{
    size_t at = 0;
    uint32_t ptr = load_pointer(dev);
    if (dev.wide) {
        if (count >= 1)
            ptr = (uint32_t{buf[at++]} << 8) | (ptr & 0xFF);
        if (count >= 2)
            ptr = (ptr & 0xFF00) | buf[at++];
    } else if (count >= 1) {
        ptr = buf[at++];
    }
    for (; at < count; ++at) {
        if (::pwrite(fd, &buf[at], 1, ptr) != 1)
            return -1;
        ptr = (ptr + 1) % dev.size;
    }
    store_pointer(dev, ptr);
    return static_cast<ssize_t>(count);
}

// A read transfer: sequential bytes from the register pointer.
ssize_t device_read(int fd, const DeviceModel &dev, uint8_t *buf, size_t count)
{
    uint32_t ptr = load_pointer(dev);
    for (size_t i = 0; i < count; ++i) {
        if (::pread(fd, &buf[i], 1, ptr) != 1)
            return -1;
        ptr = (ptr + 1) % dev.size;
    }
    store_pointer(dev, ptr);
    return static_cast<ssize_t>(count);
}

int fail(SimEvent &e, int error)
{
    e.error = error;
    sim_record(e);
    errno = error;
    return -1;
}

// Byte-data transfers are a write of the command byte (and the data byte), followed for a
// read by a one-byte read, exactly what the adapter puts on the bus.
int smbus_transfer(int fd, const SimHandle &h, const i2c_smbus_ioctl_data *req)
{
    bool read = req->read_write == I2C_SMBUS_READ;
    SimEvent e = bus_event(read ? SimOp::SmbusRead : SimOp::SmbusWrite, h);
    if (req->size != I2C_SMBUS_BYTE_DATA || req->data == nullptr)
        return fail(e, EINVAL);
    // A failed transfer is logged with what was sent: the command (and the data byte).
    e.bytes = {req->command};
    if (!read)
        e.bytes.push_back(req->data->byte);
    const DeviceModel *dev = answering_device(h);
    if (!dev)
        return fail(e, ENXIO);
    uint8_t out[2] = {req->command, req->data->byte};
    if (device_write(fd, *dev, out, read ? 1 : 2) < 0 ||
        (read && device_read(fd, *dev, &req->data->byte, 1) < 0))
        return fail(e, EIO);
    e.bytes = {req->command, req->data->byte};
    sim_record(e);
    return 0;
}

} // namespace

int sim_i2c_ioctl(int fd, SimHandle &h, unsigned long request, void *arg)
{
    if (request == I2C_SLAVE) {
        auto address = static_cast<unsigned>(reinterpret_cast<uintptr_t>(arg));
        SimEvent e = bus_event(SimOp::I2cSelect, h);
        e.address = address;
        if (address > 0x7F)
            return fail(e, EINVAL);
        h.address = address;
        sim_record(e);
        return 0;
    }
    if (request == I2C_SMBUS)
        return smbus_transfer(fd, h, static_cast<const i2c_smbus_ioctl_data *>(arg));
    errno = ENOTTY;
    return -1;
}

ssize_t sim_i2c_write(int fd, const SimHandle &h, const uint8_t *buf, size_t count)
{
    SimEvent e = bus_event(SimOp::I2cWrite, h);
    e.bytes.assign(buf, buf + count);
    const DeviceModel *dev = answering_device(h);
    if (!dev)
        return fail(e, ENXIO);
    ssize_t n = device_write(fd, *dev, buf, count);
    if (n < 0)
        return fail(e, EIO);
    sim_record(e);
    return n;
}

ssize_t sim_i2c_read(int fd, const SimHandle &h, uint8_t *buf, size_t count)
{
    SimEvent e = bus_event(SimOp::I2cRead, h);
    const DeviceModel *dev = answering_device(h);
    if (!dev)
        return fail(e, ENXIO);
    ssize_t n = device_read(fd, *dev, buf, count);
    if (n < 0)
        return fail(e, EIO);
    e.bytes.assign(buf, buf + count);
    sim_record(e);
    return n;
}
