// Simulated board fixture and console capture for unit tests.
#include "tests/support/sim_fixture.h"

#include "board/i2c.h"
#include "board/mtd.h"
#include "boot/boot_state.h"
#include "platform/device_io.h"
#include "platform/sim/sim_board.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

void close_tables()
{
    i2c_close_buses();
    for (int &fd : g_mtd_fd) {
        if (fd >= 0)
            device_io().close(fd);
        fd = -1;
    }
}

} // namespace

StdoutCapture::StdoutCapture()
{
    char tmpl[] = "/tmp/bm-stdout-XXXXXX";
    int fd = ::mkstemp(tmpl);
    path_ = tmpl;
    std::fflush(stdout);
    saved_fd_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

StdoutCapture::~StdoutCapture()
{
    take();
}

std::string StdoutCapture::take()
{
    if (saved_fd_ < 0)
        return std::string();
    std::fflush(stdout);
    ::dup2(saved_fd_, STDOUT_FILENO);
    ::close(saved_fd_);
    saved_fd_ = -1;
    std::ifstream in(path_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(path_.c_str());
    return text;
}

void SimBoardTest::SetUp()
{
    char tmpl[] = "/tmp/bm-board-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(tmpl));
    dir_ = tmpl;
    ASSERT_EQ(0, sim_board_create(dir_.c_str()));
    close_tables();
    reselect();
    boot_state_reset();
}

void SimBoardTest::TearDown()
{
    close_tables();
    std::filesystem::remove_all(dir_);
}

void SimBoardTest::reselect()
{
    ASSERT_EQ(0, sim_board_use(dir_.c_str()));
    sim_board_set_real_sleep(false);
    sim_events_clear();
}

void SimBoardTest::add_conf(const std::string &lines)
{
    std::ofstream conf(dir_ + "/board.conf", std::ios::app);
    conf << lines << "\n";
    conf.close();
    reselect();
}

std::string SimBoardTest::partition_file(const char *name) const
{
    return dir_ + "/mtd-" + name + ".bin";
}

std::vector<uint8_t> SimBoardTest::read_partition(const char *name)
{
    std::string path = dir_ + "/read-" + name;
    EXPECT_EQ(0, sim_flash_read_file(dir_.c_str(), name, path.c_str()));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    ::unlink(path.c_str());
    return bytes;
}

void SimBoardTest::write_partition(const char *name, const std::vector<uint8_t> &bytes)
{
    std::string path = dir_ + "/write-" + name;
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_EQ(0, sim_flash_write_file(dir_.c_str(), name, path.c_str()));
    ::unlink(path.c_str());
}

void SimBoardTest::open_board()
{
    close_tables();
    i2c_open_buses();
    mtd_init();
    sim_events_clear();
}

std::vector<uint8_t> test_pattern(size_t count, uint8_t seed)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + (i >> 10) * 13 + seed) % 251);
    return bytes;
}
