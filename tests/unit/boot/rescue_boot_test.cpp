// The rescue-partition boot up to the point where it would start an image: every way it
// gives up must return to the caller with its message on standard error, and the lengths
// in a header must never make it read beyond the partition.
#include "board/mtd.h"
#include "boot/image_boot.h"
#include "boot/launch.h"
#include "image/builder.h"
#include "image/bytes.h"
#include "tests/support/image_parts.h"
#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A fault that let a boot go on would reach the launch and end in exit(0) after trying
// "reboot". While a boot runs, the shell finds none of the host's programs and an exit
// fails the test binary instead of passing for success.
bool g_boot_running = false;

void fail_runaway_boot()
{
    if (g_boot_running)
        _exit(99);
}

class RescueBootTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        static const bool registered = std::atexit(fail_runaway_boot) == 0;
        ASSERT_TRUE(registered);
        const char *path = std::getenv("PATH");
        saved_path_ = path ? path : "";
        setenv("PATH", "/nonexistent", 1);
        g_boot_running = true;
    }
    void TearDown() override
    {
        g_boot_running = false;
        setenv("PATH", saved_path_.c_str(), 1);
        std::remove(APP_TARBALL_PATH);
        SimBoardTest::TearDown();
    }
    std::string saved_path_;

    struct Outcome {
        int result;
        std::string out, err;
    };

    Outcome boot()
    {
        open_board();
        sim_events_clear();
        testing::internal::CaptureStderr();
        StdoutCapture out;
        int result = boot_rescue_image();
        std::fflush(stdout);
        return {result, out.take(), testing::internal::GetCapturedStderr()};
    }

    // The largest read the boot made from the rescue partition.
    uint32_t largest_read()
    {
        uint32_t largest = 0;
        for (const SimEvent &e : sim_events())
            if (e.op == SimOp::MtdRead && e.device == "mtd-rescue")
                largest = std::max(largest, e.length);
        return largest;
    }
};

Bytes diags_component(size_t payload_size)
{
    return image_build_component(plan(DIAGS), test_pattern(payload_size, 3));
}

Bytes corrupted(Bytes component)
{
    component.back() ^= 1;
    return component;
}

} // namespace

TEST_F(RescueBootTest, GivesUpWithTheMessageOfEachFault)
{
    struct Case {
        const char *name;
        Bytes partition; // empty: erased
        const char *message;
    } cases[] = {
        {"format-2 flag on an unknown type", raw_header(100, 0x8000ABCD), "Image not found... \n"},
        {"kernel component", image_build_component(plan(KERNEL), test_pattern(64, 3)), "Image not found... \n"},
        {"CRC error", corrupted(diags_component(64)), "Image CRC failed. Quitting\n"},
        {"length beyond the partition", raw_header(0x7FFFFFF0u, DIAGS), "Image CRC failed. Quitting\n"},
        {"total wrapping past 32 bits", raw_header(0xFFFFFFF8u, APPLICATION), "Image CRC failed. Quitting\n"},
    };
    for (const Case &c : cases) {
        write_partition("rescue", c.partition);
        Outcome o = boot();
        EXPECT_EQ(0, o.result) << c.name;
        EXPECT_EQ(c.message, o.err) << c.name;
        EXPECT_EQ("", o.out) << c.name;
        EXPECT_LE(largest_read(), std::max<size_t>(c.partition.size(), IMAGE_PROBE_SIZE)) << c.name;
    }
}

TEST_F(RescueBootTest, FailedFlashReadCountsAsNoImage)
{
    write_partition("rescue", diags_component(64));
    open_board();
    sim_board_set_fault(SimFault::ReadFails, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, boot_rescue_image());
    EXPECT_EQ("Image not found... \n", testing::internal::GetCapturedStderr());
}

TEST(SlotBoot, MissingUsbImageReturnsToTheCaller)
{
    if (std::FILE *f = std::fopen(USB_IMAGE_PATH, "rb")) {
        std::fclose(f);
        GTEST_SKIP() << USB_IMAGE_PATH << " exists on this machine";
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, boot_image_slot(USB_BOOT_SLOT));
    EXPECT_EQ("Failed to open application image from USB.\n", testing::internal::GetCapturedStderr());
}
