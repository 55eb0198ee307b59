// Test support for code that talks to the board: a fresh simulated board directory per test,
// selected for the device backend, plus helpers to read and change partitions and board.conf
// and to capture what the code prints on standard output. Used by the board, platform and boot
// unit tests; relies on platform/sim/sim_board.h.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Captures standard output (the console of the boot manager) from construction to take().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;
    // Restores standard output and returns everything printed meanwhile.
    std::string take();

private:
    int saved_fd_ = -1;
    std::string path_;
};

// A board made afresh for each test, with delays only recorded and the bus and partition
// tables closed before and after the test.
class SimBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Appends lines to board.conf and selects the board again (counters start afresh).
    void add_conf(const std::string &lines);
    // Whole partition contents (with its erased tail), or the raw partition file name.
    std::vector<uint8_t> read_partition(const char *name);
    void write_partition(const char *name, const std::vector<uint8_t> &bytes);
    std::string partition_file(const char *name) const;
    // i2c_open_buses() and mtd_init() as start-up does them; sets real sleeps off again.
    void open_board();
    void reselect();

    std::string dir_;
};

// `count` bytes of a simple pattern that differs from block to block and from erased flash.
std::vector<uint8_t> test_pattern(size_t count, uint8_t seed);
