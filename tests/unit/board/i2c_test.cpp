// I2C board access on the simulated board: what goes on the buses, the messages of each
// failing step, and the board bytes that start-up and the installer rely on. (Which register
// holds which byte shows in the start-up test and the board scenarios.)
#include "board/i2c.h"

#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <cstdio>

namespace {

using Bytes = std::vector<uint8_t>;

class I2cTest : public SimBoardTest {};

std::vector<std::string> event_lines()
{
    std::vector<std::string> lines;
    for (const SimEvent &e : sim_events())
        lines.push_back(sim_event_text(e));
    return lines;
}

// A missing bus is named; bus 0 stays usable without bus 1, and without bus 0 bus 1 is not
// opened at all.
TEST_F(I2cTest, MissingBusIsNamed)
{
    for (int bus : {1, 0}) {
        std::remove((dir_ + (bus ? "/i2c-1.expander" : "/i2c-0.eeprom")).c_str());
        StdoutCapture out;
        EXPECT_EQ(-1, i2c_open_buses());
        EXPECT_EQ("ERROR: driver /dev/i2c-" + std::to_string(bus) + " couldn't be opened\n", out.take());
        if (bus == 1) {
            ASSERT_EQ(0, sim_eeprom_set(dir_.c_str(), 0x100, 2));
            EXPECT_EQ(2, board_get_boot_slot());
            i2c_close_buses();
        }
    }
    EXPECT_EQ(0, g_i2c_fd[1]);
}

struct ReadFailureCase {
    const char *name;
    int bus;
    uint8_t device;
    const char *conf;
    const char *message;
};

// Each failing step prints exactly its own message and leaves the buffer untouched.
TEST_F(I2cTest, EachFailingReadStepPrintsOneMessage)
{
    const ReadFailureCase cases[] = {
        {"device does not answer", 0, 0xA8, "absent 0 0x54",
         "I2C error - device 0xa8 writing bus 0 offset 256: 6\n"},
        {"negative bus number", -1, 0xA8, "",
         "I2C error when setting bus -1, device 0xa8: 9\n"},
    };
    for (const ReadFailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        add_conf(c.conf);
        open_board();
        uint8_t buf[2] = {0x5A, 0x5A};
        StdoutCapture out;
        EXPECT_EQ(0, i2c_read_regs(c.bus, c.device, 0x100, 2, 2, buf));
        EXPECT_EQ(c.message, out.take());
        EXPECT_EQ(0x5A, buf[0]);
        i2c_close_buses();
    }
}

TEST_F(I2cTest, ClosedBusIsNeverUsedAsDescriptor)
{
    // Entry 0 means closed; using it would talk to the console on descriptor 0.
    uint8_t buf = 0x5A;
    StdoutCapture out;
    EXPECT_EQ(0, i2c_read_regs(0, 0xA8, 0x100, 1, 2, &buf));
    EXPECT_EQ("I2C error when setting bus 0, device 0xa8: 9\n", out.take());
    EXPECT_EQ(0x5A, buf);
}

TEST_F(I2cTest, BootedImageWriteFollowsPreWriteStepAndWaits)
{
    open_board();
    ASSERT_EQ(3, board_set_booted_image(4));
    // Expander register 0x04 reads 0xFF on a new board, so 0xF7 goes back to 0x0C.
    EXPECT_EQ((std::vector<std::string>{
                  "i2c-1 select 0x20",
                  "i2c-1 smbus-read 0x20 04 ff",
                  "i2c-1 smbus-write 0x20 0c f7",
                  "i2c-0 select 0x54",
                  "i2c-0 write 0x54 01 3a 04",
                  "sleep 100000us",
              }),
              event_lines());
    EXPECT_GE(sim_events().back().length, 100000u);
    uint8_t stored = 0;
    ASSERT_EQ(0, sim_eeprom_get(dir_.c_str(), 0x13A, &stored));
    EXPECT_EQ(4, stored);
}

TEST_F(I2cTest, PreWriteStepClearsOnlyBitThree)
{
    open_board();
    const struct {
        int expander_value; // -1: the expander does not answer
        uint8_t written;
    } cases[] = {{0x08, 0x00}, {0x5C, 0x54}, {0x00, 0x00}, {-1, 0xF7}};
    for (const auto &c : cases) {
        reselect();
        if (c.expander_value < 0) {
            sim_board_set_absent(1, 0x20, true);
        } else {
            FILE *f = std::fopen((dir_ + "/i2c-1.expander").c_str(), "r+b");
            ASSERT_NE(nullptr, f);
            std::fseek(f, 0x04, SEEK_SET);
            std::fputc(c.expander_value, f);
            std::fclose(f);
        }
        board_set_boot_slot(1);
        const SimEvent &write = sim_events().at(2);
        ASSERT_EQ(SimOp::SmbusWrite, write.op);
        EXPECT_EQ(c.written, write.bytes.at(1)) << "expander 0x" << std::hex << c.expander_value;
    }
}

TEST_F(I2cTest, FailedStoreWriteIsReportedAfterTheDelay)
{
    open_board();
    sim_board_set_absent(0, 0x54, true);
    StdoutCapture out;
    EXPECT_LT(board_set_booted_image(3), 0);
    EXPECT_EQ("I2C error when writing bus 0 offset 314: 6\n", out.take());
    EXPECT_EQ(SimOp::Sleep, sim_events().back().op);
    EXPECT_EQ(100000u, sim_events().back().length);
}

} // namespace
