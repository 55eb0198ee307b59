// The slot choice on the simulated board's parameter store, the SIGINT handler that the
// console relies on to cut a blocked read short, and the reboot that Ctrl-C cannot stop.
#include "board/i2c.h"
#include "boot/boot_state.h"
#include "boot/startup.h"
#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

// Which byte value selects which slot (0, 1, 2, 7) is a board scenario (test_boot_slots).
TEST_F(SlotChoiceTest, ParameterStoreThatDoesNotAnswerBootsSlotOne)
{
    ASSERT_EQ(0, sim_eeprom_set(dir_.c_str(), BOOT_SLOT_BYTE, 2));
    sim_board_set_absent(0, 0x54, true);
    EXPECT_EQ(1, choose_boot_slot());
    sim_board_set_absent(0, 0x54, false);
    EXPECT_EQ(2, choose_boot_slot());
}

// reboot_board in a death-test child with the boot manager's SIGINT handler, "reboot" being
// a script of the test's own (PATH holds only it). A Ctrl-C reaches the whole process group,
// so the script sends one to its own shell: it must go on. A command that does not end with
// a clean exit 0 (killed, failed, not there: the shell's 127) is reported.
TEST(RebootBoard, CtrlCCannotStopItAndACommandThatFailsIsReported)
{
    char dir[] = "/tmp/reboot_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string script = std::string(dir) + "/reboot";
    const char *failed = "System reboot failed, please power-cycle\\.\n$";
    struct Case {
        const char *body;
        const char *stderr_pattern;
    } cases[] = {
        {"kill -KILL $$", failed},
        {nullptr, failed},
    };
    for (const Case &c : cases) {
        std::remove(script.c_str());
        if (c.body) {
            std::ofstream(script) << "#!/bin/sh\n" << c.body << "\n";
            ASSERT_EQ(0, chmod(script.c_str(), 0755));
        }
        EXPECT_EXIT(
            {
                setenv("PATH", dir, 1);
                install_sigint_handler();
                reboot_board();
            },
            testing::ExitedWithCode(0), c.stderr_pattern)
            << (c.body ? c.body : "no reboot program");
    }
    std::remove(script.c_str());
    rmdir(dir);
}
