// The device request numbers of the board, taken from the kernel headers of the build. On the
// PowerPC target they must be the ones its MTD and I2C drivers answer to.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <linux/i2c-dev.h>
#include <mtd/mtd-user.h>

TEST(DeviceRequests, MatchTheBoardEncodingOnPowerPc)
{
#if defined(__powerpc__)
    EXPECT_EQ(0x40204D01u, static_cast<unsigned>(MEMGETINFO));
    EXPECT_EQ(0x80084D02u, static_cast<unsigned>(MEMERASE));
#else
    // The host encodes direction bits differently; only the type, number and size agree.
    EXPECT_EQ(0x4D01u, static_cast<unsigned>(MEMGETINFO) & 0xFFFFu);
    EXPECT_EQ(0x4D02u, static_cast<unsigned>(MEMERASE) & 0xFFFFu);
    EXPECT_EQ(sizeof(mtd_info_user), (static_cast<unsigned>(MEMGETINFO) >> 16) & 0x3FFFu);
    EXPECT_EQ(sizeof(erase_info_user), (static_cast<unsigned>(MEMERASE) >> 16) & 0x3FFFu);
#endif
    EXPECT_EQ(32u, sizeof(mtd_info_user));
    EXPECT_EQ(8u, sizeof(erase_info_user));
    EXPECT_EQ(0x0703u, static_cast<unsigned>(I2C_SLAVE));
    EXPECT_EQ(0x0720u, static_cast<unsigned>(I2C_SMBUS));
}
