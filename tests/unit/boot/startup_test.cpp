// The slot choice on the simulated board's parameter store, and the SIGINT handler that
// the console relies on to cut a blocked read short.
#include "board/i2c.h"
#include "boot/boot_state.h"
#include "boot/startup.h"
#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

class SlotChoiceTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        open_board();
    }
};

constexpr uint32_t BOOT_SLOT_BYTE = 0x100;

} // namespace

TEST_F(SlotChoiceTest, OnlyTheValueTwoSelectsSlotTwo)
{
    struct Case {
        uint8_t byte;
        int slot;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 1}, {7, 1}, {0x82, 1}, {255, 1}};
    for (const Case &c : cases) {
        ASSERT_EQ(0, sim_eeprom_set(dir_.c_str(), BOOT_SLOT_BYTE, c.byte));
        EXPECT_EQ(c.slot, choose_boot_slot()) << "boot slot byte " << int(c.byte);
    }
}

TEST_F(SlotChoiceTest, ParameterStoreThatDoesNotAnswerBootsSlotOne)
{
    ASSERT_EQ(0, sim_eeprom_set(dir_.c_str(), BOOT_SLOT_BYTE, 2));
    sim_board_set_absent(0, 0x54, true);
    EXPECT_EQ(1, choose_boot_slot());
    sim_board_set_absent(0, 0x54, false);
    EXPECT_EQ(2, choose_boot_slot());
}

TEST(SigintHandler, OnlySetsTheFlagAndDoesNotRestartReads)
{
    struct sigaction previous = {};
    ASSERT_EQ(0, sigaction(SIGINT, nullptr, &previous));
    boot_state_reset();
    install_sigint_handler();

    struct sigaction installed = {};
    ASSERT_EQ(0, sigaction(SIGINT, nullptr, &installed));
    EXPECT_EQ(&on_sigint, installed.sa_handler);
    EXPECT_EQ(0, installed.sa_flags & SA_RESTART);
    EXPECT_EQ(0, sigismember(&installed.sa_mask, SIGTERM));

    EXPECT_EQ(0, g_boot.interrupted);
    ASSERT_EQ(0, raise(SIGINT));
    EXPECT_EQ(1, g_boot.interrupted);

    sigaction(SIGINT, &previous, nullptr);
    boot_state_reset();
}
