// The simulated board as a test instrument: its devices must behave as the board's do
// (EEPROM pointer, NOR flash programming, erase rules, driver limits), its faults must fire
// exactly when configured, and its log must show what happened.
#include "platform/device_io.h"
#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <linux/i2c-dev.h>
#include <mtd/mtd-user.h>
#include <sys/stat.h>
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

off_t file_size(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST_F(SimDevicesTest, NewBoardIsErasedAndCostsNoFlashSpace)
{
    std::ofstream(dir_ + "/events.log") << "kept\n";
    ASSERT_EQ(0, sim_board_create(dir_.c_str()));
    std::ifstream events(dir_ + "/events.log");
    std::string line;
    std::getline(events, line);
    EXPECT_EQ("kept", line);
    EXPECT_EQ(0x10000, file_size(dir_ + "/i2c-0.eeprom"));
    EXPECT_EQ(0x100, file_size(dir_ + "/i2c-1.expander"));

    const struct {
        const char *name;
        uint32_t size;
    } partitions[] = {{"uboot", 0x80000},  {"ubootenv", 0x20000}, {"devicetree", 0x40000},
                      {"kernel", 0x300000}, {"rfs", 0xF00000},     {"rescue", 0xA00000}};
    for (const auto &p : partitions) {
        EXPECT_EQ(0, file_size(partition_file(p.name))) << p.name;
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

TEST_F(SimDevicesTest, OnlyBoardDevicePathsOpen)
{
    for (const char *path : {"/dev/mtd-user", "/dev/i2c-2", "/dev/mtd-", "/etc/passwd", ""}) {
        errno = 0;
        EXPECT_EQ(-1, open_device(path)) << path;
        EXPECT_EQ(ENOENT, errno) << path;
    }
    std::remove(partition_file("rfs").c_str());
    EXPECT_EQ(-1, open_device("/dev/mtd-rfs"));
    EXPECT_EQ(-1, device_io().close(12345));
    EXPECT_EQ(EBADF, errno);
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

TEST_F(SimDevicesTest, LogLinesGoToDevicesLog)
{
    int fd = open_device("/dev/mtd-kernel");
    ASSERT_EQ(0, erase(fd, 0x20000, 0x20000));
    device_io().usleep(250);
    errno = 0;
    erase(fd, 1, 1);
    std::ifstream log(dir_ + "/devices.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    EXPECT_EQ((std::vector<std::string>{"mtd-kernel erase 0x20000+0x20000", "sleep 250us",
                                        "mtd-kernel erase 0x1+0x1 error 22"}),
              lines);
    ASSERT_EQ(3u, sim_events().size());
    EXPECT_EQ(250u, sim_events()[1].length);
}

// Writing a raw file into a partition (the round trip is the board tests' flash case):
// unknown partitions and files larger than the partition are refused.
TEST_F(SimDevicesTest, RawPartitionFileThatCannotFitIsRefused)
{
    std::string image = dir_ + "/image.bin";
    std::ofstream(image, std::ios::binary) << std::string(1000, 'x');
    EXPECT_EQ(-1, sim_flash_write_file(dir_.c_str(), "user", image.c_str()));
    EXPECT_EQ(0, sim_flash_write_file(dir_.c_str(), "uboot", image.c_str()));
    add_conf("mtd uboot 0x200 0x200");
    EXPECT_EQ(-1, sim_flash_write_file(dir_.c_str(), "uboot", image.c_str()));
}

} // namespace
