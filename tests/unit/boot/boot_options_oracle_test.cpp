// Boot options read from environments made by the boot loader's own tool (mkenvimage from
// u-boot-tools): the layout the board really has, checksum and padding included. Host only;
// skipped when the tool is not installed.
#include "boot/boot_options.h"

#include "boot/boot_state.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/boot/boot_options_cases.h"

#include "platform/sim/sim_board.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

constexpr const char *MKENVIMAGE = "/usr/bin/mkenvimage";

class BootOptionsOracleTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        if (::access(MKENVIMAGE, X_OK) != 0)
            GTEST_SKIP() << "mkenvimage not installed (package u-boot-tools)";
        SimBoardTest::SetUp();
    }

    // Makes the environment image of the ubootenv partition from name=value lines.
    void make_environment(const std::vector<std::string> &entries)
    {
        std::string text = dir_ + "/env.txt";
        std::string image = dir_ + "/env.bin";
        {
            std::ofstream out(text);
            for (const std::string &e : entries)
                out << e << "\n";
        }
        std::string cmd = std::string(MKENVIMAGE) + " -s 0x20000 -o " + image + " " + text;
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
        ASSERT_EQ(0, sim_flash_write_file(dir_.c_str(), "ubootenv", image.c_str()));
    }

    BootOptionFields boot_with(const std::vector<std::string> &entries)
    {
        make_environment(entries);
        open_board();
        read_boot_options();
        return current_boot_options();
    }
};

TEST_F(BootOptionsOracleTest, EveryRowOfTheOptionTable)
{
    for (const BootOptionCase &c : boot_option_cases()) {
        // The tool drops an entry without '='; every case here has one.
        boot_state_reset();
        EXPECT_EQ(c.expected, boot_with(c.entries)) << c.name;
    }
}

TEST_F(BootOptionsOracleTest, EntryPastTheFirst1280BytesIsNotSeen)
{
    std::vector<std::string> entries = filler_up_to(1284);
    entries.push_back("gdbserver=on");
    EXPECT_EQ(BootOptionFields{}, boot_with(entries));

    entries = filler_up_to(1284 - 12);
    entries.push_back("gdbserver=on");
    BootOptionFields f = boot_with(entries);
    EXPECT_EQ(1, f.gdbserver_mode);
    EXPECT_EQ(1, f.gdb_mode) << "gdbserver forces gdb";
}

} // namespace
