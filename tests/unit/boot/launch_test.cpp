// The launch's choice of start mode and its reading of the env-setup file: both decide
// what the application sees without ending the process.
#include "boot/launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
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

TEST_F(EnvSetupTest, SetsPairsAcrossBlanksAndLines)
{
    setenv("BM_T_REPLACED", "old", 1);
    write("BM_T_A 1\n  BM_T_B\tvalue-two\nBM_T_REPLACED new\n");
    EXPECT_EQ(3, apply_env_setup(path_.c_str()));
    EXPECT_EQ("1", env("BM_T_A"));
    EXPECT_EQ("value-two", env("BM_T_B"));
    EXPECT_EQ("new", env("BM_T_REPLACED"));
}

TEST_F(EnvSetupTest, FinalWordWithoutPartnerGetsTheEmptyString)
{
    write("BM_T_C 3 BM_T_LONELY");
    EXPECT_EQ(2, apply_env_setup(path_.c_str()));
    EXPECT_EQ("3", env("BM_T_C"));
    EXPECT_EQ("", env("BM_T_LONELY"));
}

TEST_F(EnvSetupTest, ValuesFromAnEarlierPairDoNotLeakIntoALaterShortOne)
{
    write("BM_T_D long-value-here BM_T_E");
    apply_env_setup(path_.c_str());
    EXPECT_EQ("", env("BM_T_E"));
}

TEST_F(EnvSetupTest, OverlongWordsAreCutAt511Characters)
{
    std::string value(600, 'v');
    write("BM_T_LONG " + value);
    apply_env_setup(path_.c_str());
    EXPECT_EQ(std::string(511, 'v'), env("BM_T_LONG"));
    // The remaining 89 characters are the next name, with an empty value.
    EXPECT_EQ("", env(std::string(89, 'v').c_str()));
}

TEST_F(EnvSetupTest, NameTheEnvironmentCannotHoldIsPassedOver)
{
    write("BM_T_BAD=x 1 BM_T_F 2");
    EXPECT_EQ(1, apply_env_setup(path_.c_str()));
    EXPECT_EQ("<unset>", env("BM_T_BAD"));
    EXPECT_EQ("2", env("BM_T_F"));
}

TEST(EnvSetup, MissingFileSetsNothing)
{
    EXPECT_EQ(0, apply_env_setup("/nonexistent/env-setup"));
}
