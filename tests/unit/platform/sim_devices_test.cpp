// The simulated board as a test instrument: its NOR flash programs as the board's does (bits
// go from 1 to 0 only) and counts every write over unerased bits, which the flash tests rely
// on to see a piece written without its erase. (Its faults, erase rules and I2C store show
// in the board, boot and image tests, which fail when they do not behave.)
#include "platform/device_io.h"
#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <fcntl.h>

namespace {

using Bytes = std::vector<uint8_t>;

class SimDevicesTest : public SimBoardTest {};

TEST_F(SimDevicesTest, WritesClearBitsOnlyAndCountUnerasedWrites)
{
    int fd = device_io().open("/dev/mtd-uboot", O_RDWR);
    ASSERT_GE(fd, 0);
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
    device_io().close(fd);
}

} // namespace
