// Boot options read from environments written into the simulated ubootenv partition, laid out
// as the boot loader stores them: a 4-byte checksum, NUL-terminated entries, an empty entry.
#include "boot/boot_options.h"

#include "board/mtd.h"
#include "boot/boot_state.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/boot/boot_options_cases.h"

#include "platform/sim/sim_board.h"

#include <algorithm>
#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes environment(const std::vector<std::string> &entries, const char *checksum = "\x12\x34\x56\x78")
{
    // Entries are laid into a zeroed area, each followed by its NUL.
    size_t size = 4 + 1;
    for (const std::string &e : entries)
        size += e.size() + 1;
    Bytes env(std::max<size_t>(size, 0x2000), 0x00);
    std::memcpy(env.data(), checksum, 4);
    size_t at = 4;
    for (const std::string &e : entries) {
        std::memcpy(env.data() + at, e.data(), e.size());
        at += e.size() + 1;
    }
    return env;
}

class BootOptionsTest : public SimBoardTest {
protected:
    BootOptionFields boot_with(const Bytes &env)
    {
        write_partition("ubootenv", env);
        open_board();
        read_boot_options();
        return current_boot_options();
    }
};

TEST_F(BootOptionsTest, EveryRowOfTheOptionTable)
{
    for (const BootOptionCase &c : boot_option_cases()) {
        boot_state_reset();
        EXPECT_EQ(c.expected, boot_with(environment(c.entries))) << c.name;
    }
}

TEST_F(BootOptionsTest, OnlyTheFirst1280BytesAreSeen)
{
    const struct {
        const char *name;
        size_t at; // partition byte where the entry starts
        BootOptionFields expected;
    } cases[] = {
        {"value ends at the last byte", 1284 - 7, {}},
        // "gdb=" fills bytes 1280..1283: the key is seen, its value is the end of the text.
        {"key ends at the last byte", 1280, {}},
        {"key cut by the end", 1281, with([](auto &f) { f.gdb_mode = 1; })},
        {"entry past the end", 1284, with([](auto &f) { f.gdb_mode = 1; })},
    };
    for (const auto &c : cases) {
        boot_state_reset();
        // gdb_mode starts at 1 so that "not seen" and "seen with another value" differ.
        g_boot.gdb_mode = 1;
        std::vector<std::string> entries = filler_up_to(c.at);
        entries.push_back("gdb=off");
        Bytes env = environment(entries);
        ASSERT_EQ(0, std::memcmp(env.data() + c.at, "gdb=off", 7)) << c.name;
        EXPECT_EQ(c.expected, boot_with(env)) << c.name;
    }
}

TEST_F(BootOptionsTest, UnreadableEnvironmentLeavesEveryOption)
{
    write_partition("ubootenv", environment({"gdb=on", "shell=on"}));
    const struct {
        const char *name;
        bool remove_partition;
        const char *output;
    } cases[] = {
        {"read fails", false, ""},
        {"partition missing", true, "Could not get MTD device info \n"},
    };
    for (const auto &c : cases) {
        boot_state_reset();
        if (c.remove_partition)
            std::remove(partition_file("ubootenv").c_str());
        open_board();
        sim_board_set_fault(SimFault::ReadFails, 1);
        StdoutCapture out;
        read_boot_options();
        EXPECT_EQ(c.output, out.take()) << c.name;
        EXPECT_EQ(BootOptionFields{}, current_boot_options()) << c.name;
    }
}

} // namespace
