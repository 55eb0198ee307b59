// The launch's choice of start mode and its reading of the env-setup file: both decide
// what the application sees without ending the process.
#include "boot/launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

class EnvSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/env_setup_XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = name;
    }
    void TearDown() override { std::remove(path_.c_str()); }
    void write(const std::string &text)
    {
        FILE *f = std::fopen(path_.c_str(), "w");
        ASSERT_NE(nullptr, f);
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    std::string env(const char *name)
    {
        const char *v = std::getenv(name);
        return v ? v : "<unset>";
    }
    std::string path_;
};

} // namespace

TEST(ChooseLaunchMode, FirstMatchingRowWins)
{
    struct Case {
        int gdb, gdbserver, memchk;
        bool gdb_available;
        launch_mode mode;
    } cases[] = {
        {1, 1, 1, true, launch_mode::GDBSERVER_MEMCHK},
        {1, 1, 0, true, launch_mode::GDBSERVER},
        {0, 1, 0, false, launch_mode::GDBSERVER}, // gdbserver without gdb still takes row 2
        {1, 0, 0, true, launch_mode::GDB},
        {1, 0, 1, true, launch_mode::GDB},         // memchk ignored under gdb
        {1, 0, 0, false, launch_mode::GDB_MISSING},
        {1, 0, 1, false, launch_mode::GDB_MISSING},
        {0, 0, 1, true, launch_mode::MEMCHK},      // a stray /tmp/gdb does not matter
        {0, 0, 0, false, launch_mode::NORMAL},
        {0, 0, 0, true, launch_mode::NORMAL},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.mode, choose_launch_mode(options(c.gdb, c.gdbserver, c.memchk), c.gdb_available))
            << "gdb=" << c.gdb << " gdbserver=" << c.gdbserver << " memchk=" << c.memchk
            << " gdb_available=" << c.gdb_available;
}

TEST_F(EnvSetupTest, SetsEachNameValuePair)
{
    const std::string long_value(600, 'v');
    struct Case {
        const char *name;
        std::string text;
        int count;
        std::vector<std::pair<std::string, std::string>> expected; // name, value or <unset>
    } cases[] = {
        {"pairs across blanks and lines", "BM_T_A 1\n  BM_T_B\tvalue-two\nBM_T_R new\n", 3,
         {{"BM_T_A", "1"}, {"BM_T_B", "value-two"}, {"BM_T_R", "new"}}},
        {"final word without partner", "BM_T_C 3 BM_T_LONELY", 2, {{"BM_T_C", "3"}, {"BM_T_LONELY", ""}}},
        // The buffers are cleared per pair: an earlier value must not leak into a later one.
        {"short pair after a long value", "BM_T_D long-value-here BM_T_E", 2, {{"BM_T_E", ""}}},
        {"words cut at 511 characters", "BM_T_LONG " + long_value, 2,
         {{"BM_T_LONG", std::string(511, 'v')}, {std::string(89, 'v'), ""}}},
        {"name the environment cannot hold", "BM_T_BAD=x 1 BM_T_F 2", 1, {{"BM_T_BAD", "<unset>"}, {"BM_T_F", "2"}}},
    };
    setenv("BM_T_R", "old", 1);
    for (const Case &c : cases) {
        write(c.text);
        EXPECT_EQ(c.count, apply_env_setup(path_.c_str())) << c.name;
        for (const auto &[name, value] : c.expected)
            EXPECT_EQ(value, env(name.c_str())) << c.name << ": " << name;
    }
}

TEST(EnvSetup, MissingFileSetsNothing)
{
    EXPECT_EQ(0, apply_env_setup("/nonexistent/env-setup"));
}
