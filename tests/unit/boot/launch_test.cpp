// The launch's choice of start mode and its reading of the env-setup file: both decide
// what the application sees without ending the process.
#include "boot/launch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>
#include <unistd.h>

namespace {

BootState options(int gdb, int gdbserver, int memchk)
{
    BootState s = {};
    s.gdb_mode = gdb;
    s.gdbserver_mode = gdbserver;
    s.memchk_mode = static_cast<uint8_t>(memchk);
    s.gdb_port = DEFAULT_GDB_PORT;
    return s;
}

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "<unset>";
}

} // namespace

TEST(ChooseLaunchMode, FirstMatchingRowWins)
{
    struct Case {
        int gdb, gdbserver, memchk;
        bool gdb_available;
        launch_mode mode;
    } cases[] = {
        {1, 0, 1, true, launch_mode::GDB},         // memchk ignored under gdb
        {0, 0, 1, true, launch_mode::MEMCHK},      // a stray /tmp/gdb does not matter
        {0, 0, 0, true, launch_mode::NORMAL},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.mode, choose_launch_mode(options(c.gdb, c.gdbserver, c.memchk), c.gdb_available))
            << "gdb=" << c.gdb << " gdbserver=" << c.gdbserver << " memchk=" << c.memchk
            << " gdb_available=" << c.gdb_available;
}

TEST(EnvSetup, SetsEachNameValuePair)
{
    const std::string long_value(600, 'v');
    struct Case {
        const char *name;
        std::string text;
        int count;
        std::vector<std::pair<std::string, std::string>> expected; // name, value or <unset>
    } cases[] = {
        {"an existing variable is replaced", "BM_T_R new\n", 1, {{"BM_T_R", "new"}}},
        // The buffers are cleared per pair: an earlier value must not leak into a later one.
        {"short pair after a long value", "BM_T_D long-value-here BM_T_E", 2, {{"BM_T_E", ""}}},
        {"words cut at 511 characters", "BM_T_LONG " + long_value, 2,
         {{"BM_T_LONG", std::string(511, 'v')}, {std::string(89, 'v'), ""}}},
        {"name the environment cannot hold", "BM_T_BAD=x 1 BM_T_F 2", 1, {{"BM_T_BAD", "<unset>"}, {"BM_T_F", "2"}}},
    };
    const std::string path = ::testing::TempDir() + "/env-setup";
    setenv("BM_T_R", "old", 1);
    for (const Case &c : cases) {
        std::ofstream(path) << c.text;
        EXPECT_EQ(c.count, apply_env_setup(path.c_str())) << c.name;
        for (const auto &[name, value] : c.expected)
            EXPECT_EQ(value, env(name.c_str())) << c.name << ": " << name;
    }
}
