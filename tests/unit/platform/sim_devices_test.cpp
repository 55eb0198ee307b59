// The simulated board as a test instrument: its devices must behave as the board's do
// (EEPROM pointer, NOR flash programming, erase rules, driver limits), its faults must fire
// exactly when configured. (Its device log is read by the power-cut board test; its
// refusals of paths and files it does not have show in the board and boot tests.)
#include "platform/device_io.h"
#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/i2c-dev.h>
#include <mtd/mtd-user.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

class SimDevicesTest : public SimBoardTest {
protected:
    void TearDown() override
    {
        for (int fd : fds_)
            device_io().close(fd);
        SimBoardTest::TearDown();
    }

    int open_device(const char *path)
    {
        int fd = device_io().open(path, O_RDWR);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    int erase(int fd, uint32_t start, uint32_t length)
    {
        erase_info_user req{start, length};
        return device_io().ioctl(fd, MEMERASE, &req);
    }

    std::vector<int> fds_;
};

TEST_F(SimDevicesTest, NewBoardHasTheBoardsPartitionsErased)
{

    const struct {
        const char *name;
        uint32_t size;
    } partitions[] = {{"uboot", 0x80000},  {"ubootenv", 0x20000}, {"devicetree", 0x40000},
                      {"kernel", 0x300000}, {"rfs", 0xF00000},     {"rescue", 0xA00000}};
    for (const auto &p : partitions) {
        int fd = open_device((std::string("/dev/mtd-") + p.name).c_str());
        ASSERT_GE(fd, 0) << p.name;
        mtd_info_user info{};
        ASSERT_EQ(0, device_io().ioctl(fd, MEMGETINFO, &info));
        EXPECT_EQ(p.size, info.size) << p.name;
        EXPECT_EQ(0x20000u, info.erasesize) << p.name;
    }
    Bytes env = read_partition("ubootenv");
    EXPECT_EQ(Bytes(0x20000, 0xFF), env);
}

TEST_F(SimDevicesTest, EraseTakesOnlyWholeAlignedBlocksInside)
{
    int fd = open_device("/dev/mtd-devicetree"); // 0x40000, two blocks
    const Bytes old_contents = test_pattern(0x40000, 4);
    write_partition("devicetree", old_contents);
    // An erase sets only its own blocks to FF.
    ASSERT_EQ(0, erase(fd, 0x20000, 0x20000));
    Bytes expected = old_contents;
    std::fill(expected.begin() + 0x20000, expected.end(), 0xFF);
    EXPECT_EQ(expected, read_partition("devicetree"));
    const struct {
        uint32_t start;
        uint32_t length;
        int error;
    } cases[] = {
        {0, 0x20000, 0},           {0, 0x40000, 0},
        {0x1000, 0x20000, EINVAL}, {0, 0x1000, EINVAL},       {0, 0, EINVAL},
        {0x40000, 0x20000, EINVAL}, {0x20000, 0x40000, EINVAL},
        {0xFFFE0000, 0x40000, EINVAL}, // start + length wraps in 32 bits
    };
    for (const auto &c : cases) {
        errno = 0;
        EXPECT_EQ(c.error ? -1 : 0, erase(fd, c.start, c.length)) << std::hex << c.start;
        EXPECT_EQ(c.error, errno) << std::hex << c.start << "+" << c.length;
    }
    EXPECT_EQ(Bytes(0x40000, 0xFF), read_partition("devicetree"));
}

TEST_F(SimDevicesTest, WritesClearBitsOnlyAndCountUnerasedWrites)
{
    int fd = open_device("/dev/mtd-uboot");
    const uint8_t first[] = {0xF0, 0xFF, 0x00};
    const uint8_t second[] = {0x3C, 0xFF, 0x00};
    ASSERT_EQ(3, device_io().pwrite(fd, first, 3, 0x10));
    EXPECT_EQ(0u, sim_nor_fault_count());
    // 0xF0 then 0x3C: the 0->1 bits cannot be programmed, the cell holds 0x30.
    ASSERT_EQ(3, device_io().pwrite(fd, second, 3, 0x10));
    EXPECT_EQ(1u, sim_nor_fault_count());
    EXPECT_TRUE(sim_events().back().nor_fault);
    uint8_t now[3];
    ASSERT_EQ(3, device_io().pread(fd, now, 3, 0x10));
    EXPECT_EQ((Bytes{0x30, 0xFF, 0x00}), Bytes(now, now + 3));

    // Writing 0xFF or the same value programs nothing and is no fault.
    ASSERT_EQ(3, device_io().pwrite(fd, now, 3, 0x10));
    EXPECT_EQ(1u, sim_nor_fault_count());

    sim_board_set_nor_strict(true);
    errno = 0;
    EXPECT_EQ(-1, device_io().pwrite(fd, first, 3, 0x10));
    EXPECT_EQ(EIO, errno);
    ASSERT_EQ(3, device_io().pread(fd, now, 3, 0x10));
    EXPECT_EQ(0x30, now[0]) << "a refused write changes nothing";
}

TEST_F(SimDevicesTest, WritePastTheFileEndLeavesTheGapErased)
{
    int fd = open_device("/dev/mtd-kernel");
    const uint8_t byte = 0x12;
    ASSERT_EQ(1, device_io().pwrite(fd, &byte, 1, 0x30000));
    Bytes now = read_partition("kernel");
    EXPECT_EQ(Bytes(0x30000, 0xFF), Bytes(now.begin(), now.begin() + 0x30000));
    EXPECT_EQ(0x12, now[0x30000]);
}

TEST_F(SimDevicesTest, TransfersAreCutAtThePartitionEnd)
{
    int fd = open_device("/dev/mtd-ubootenv"); // 0x20000
    uint8_t buf[32] = {};
    EXPECT_EQ(16, device_io().pread(fd, buf, sizeof buf, 0x20000 - 16));
    EXPECT_EQ(0, device_io().pread(fd, buf, sizeof buf, 0x20000));
    EXPECT_EQ(8, device_io().pwrite(fd, buf, sizeof buf, 0x20000 - 8));
    errno = 0;
    EXPECT_EQ(-1, device_io().pwrite(fd, buf, sizeof buf, 0x20000));
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_EQ(-1, device_io().pread(fd, buf, sizeof buf, -1));
    EXPECT_EQ(EINVAL, errno);
    // The flash is used by position only; the buses by plain transfers only.
    EXPECT_EQ(-1, device_io().read(fd, buf, 1));
    int bus = open_device("/dev/i2c-0");
    EXPECT_EQ(-1, device_io().pread(bus, buf, 1, 0));
    EXPECT_EQ(ESPIPE, errno);
}

TEST_F(SimDevicesTest, NthOperationFailsAsConfigured)
{
    add_conf("usb_delay 1\nsome_future_key a b c\nfail_erase 2\nfail_read 3\nfail_write 1");
    int fd = open_device("/dev/mtd-devicetree");
    uint8_t buf[4] = {};
    EXPECT_EQ(0, erase(fd, 0, 0x20000));
    EXPECT_EQ(-1, erase(fd, 0x20000, 0x20000));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(0, erase(fd, 0x20000, 0x20000)) << "only the Nth fails";
    EXPECT_EQ(4, device_io().pread(fd, buf, 4, 0));
    EXPECT_EQ(4, device_io().pread(fd, buf, 4, 0));
    EXPECT_EQ(-1, device_io().pread(fd, buf, 4, 0));
    EXPECT_EQ(-1, device_io().pwrite(fd, buf, 4, 0));
    EXPECT_EQ(4, device_io().pwrite(fd, buf, 4, 0));
    // The hook counts from the moment it is set.
    sim_board_set_fault(SimFault::ReadFails, 1);
    EXPECT_EQ(-1, device_io().pread(fd, buf, 4, 0));
    EXPECT_EQ(4, device_io().pread(fd, buf, 4, 0));
}

TEST_F(SimDevicesTest, EepromPointerAndContentsBehaveAsTheChip)
{
    int fd = open_device("/dev/i2c-0");
    ASSERT_EQ(0, device_io().ioctl(fd, I2C_SLAVE, reinterpret_cast<void *>(uintptr_t{0x54})));
    const uint8_t store[] = {0xFF, 0xFE, 0xA1, 0xA2, 0xA3}; // wraps from 0xFFFF to 0
    ASSERT_EQ(5, device_io().write(fd, store, sizeof store));
    uint8_t v = 0;
    ASSERT_EQ(0, sim_eeprom_get(dir_.c_str(), 0xFFFE, &v));
    EXPECT_EQ(0xA1, v);
    ASSERT_EQ(0, sim_eeprom_get(dir_.c_str(), 0x0000, &v));
    EXPECT_EQ(0xA3, v);

    const uint8_t pointer[] = {0xFF, 0xFF};
    ASSERT_EQ(2, device_io().write(fd, pointer, 2));
    uint8_t got[3] = {};
    ASSERT_EQ(3, device_io().read(fd, got, 3));
    EXPECT_EQ((Bytes{0xA2, 0xA3, 0xFF}), Bytes(got, got + 3));
    // The pointer moved on: the next read continues after it.
    ASSERT_EQ(1, device_io().read(fd, got, 1));
    ASSERT_EQ(0, sim_eeprom_get(dir_.c_str(), 2, &v));
    EXPECT_EQ(v, got[0]);
    EXPECT_EQ(-1, sim_eeprom_get(dir_.c_str(), 0x10000, &v));

    ASSERT_EQ(0, device_io().ioctl(fd, I2C_SLAVE, reinterpret_cast<void *>(uintptr_t{0x50})));
    errno = 0;
    EXPECT_EQ(-1, device_io().read(fd, got, 1));
    EXPECT_EQ(ENXIO, errno) << "no acknowledge from an empty address";
    EXPECT_EQ(-1, device_io().ioctl(fd, I2C_SLAVE, reinterpret_cast<void *>(uintptr_t{0x80})));
}

} // namespace
