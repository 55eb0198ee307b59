// MTD flash access on the simulated NOR partitions: geometry, reads, the block-wise write with
// its progress display, the refusal of ranges and geometries it cannot handle, and failures.
#include "board/mtd.h"

#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <algorithm>
#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t E = 0x20000;
constexpr uint32_t KERNEL_SIZE = 0x100000; // eight blocks keep each case cheap

// A kernel partition of eight blocks, filled with old contents before each test.
class MtdTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        add_conf("mtd kernel 0x100000 0x20000");
        old_ = test_pattern(KERNEL_SIZE, 1);
        write_partition("kernel", old_);
        open_board();
    }

    int kernel() const { return g_mtd_fd[MTD_KERNEL]; }

    std::vector<uint32_t> erased_blocks() const
    {
        std::vector<uint32_t> blocks;
        for (const SimEvent &e : sim_events())
            if (e.op == SimOp::MtdErase)
                blocks.push_back(e.offset);
        return blocks;
    }

    size_t flash_operations() const
    {
        return std::count_if(sim_events().begin(), sim_events().end(), [](const SimEvent &e) {
            return e.op == SimOp::MtdErase || e.op == SimOp::MtdRead || e.op == SimOp::MtdWrite;
        });
    }

    Bytes old_;
};

TEST_F(MtdTest, GeometryIsDerivedFromTheDevice)
{
    const struct {
        const char *conf;
        mtd_geometry expected;
    } cases[] = {
        {"mtd kernel 0x300000 0x20000", {24, 0x20000, 17, 0x300000}},
        {"mtd kernel 0x40000 0x400", {256, 0x400, 10, 0x40000}},
        {"mtd kernel 0x40000 0x10000", {4, 0x10000, 16, 0x40000}},
        // No block arithmetic on an erase size of 0: it must not divide by zero.
        {"mtd kernel 0x40000 0", {0, 0, 0, 0x40000}},
        {"mtd kernel 0x40000 0x3000", {21, 0x3000, 12, 0x40000}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.conf);
        add_conf(c.conf);
        mtd_geometry geo{};
        ASSERT_EQ(1, mtd_get_geometry(kernel(), geo));
        EXPECT_EQ(c.expected.block_count, geo.block_count);
        EXPECT_EQ(c.expected.erase_size, geo.erase_size);
        EXPECT_EQ(c.expected.erase_shift, geo.erase_shift);
        EXPECT_EQ(c.expected.total_size, geo.total_size);
    }
}

TEST_F(MtdTest, ReadAtFillsExactlyTheRange)
{
    Bytes uboot = test_pattern(0x400, 9);
    write_partition("uboot", uboot);
    Bytes buf(16 + 2, 0xA5);
    EXPECT_EQ(0, flash_read_at(buf.data() + 1, g_mtd_fd[MTD_UBOOT], 240, 16));
    EXPECT_EQ(0xA5, buf.front());
    EXPECT_EQ(0xA5, buf.back());
    EXPECT_TRUE(std::equal(uboot.begin() + 240, uboot.begin() + 256, buf.begin() + 1));
    EXPECT_EQ("mtd-uboot pread 0xf0+0x10", sim_event_text(sim_events().back()));
}

TEST_F(MtdTest, UnopenedPartitionFailsAtTheGeometryQuery)
{
    std::remove(partition_file("rescue").c_str());
    mtd_init();
    EXPECT_EQ(-1, g_mtd_fd[MTD_RESCUE]);
    sim_events_clear();
    uint8_t buf[4] = {1, 2, 3, 4};
    StdoutCapture out;
    EXPECT_EQ(-1, flash_read_at(buf, g_mtd_fd[MTD_RESCUE], 0, sizeof buf));
    EXPECT_EQ(-1, flash_write_at(buf, g_mtd_fd[MTD_RESCUE], 0, sizeof buf, 1));
    EXPECT_EQ("Could not get MTD device info \nCould not get MTD device info \n", out.take());
    EXPECT_EQ(1, buf[0]);
    EXPECT_TRUE(sim_events().empty());
}

struct WriteCase {
    const char *name;
    uint32_t offset;
    uint32_t length;
    std::vector<uint32_t> blocks; // erase blocks touched, in order
};

// Bytes inside the range take the new data, every other byte keeps its old value, only the
// blocks that hold the range are read, erased and rewritten, each as 1024-byte pieces.
TEST_F(MtdTest, WriteTouchesOnlyTheBlocksOfTheRange)
{
    const WriteCase cases[] = {
        {"100 bytes at 0", 0, 100, {0}},
        {"straddles two blocks", 0x10000, 0x30000, {0, E}},
        {"whole block", 0, E, {0}},
        {"ends on a block boundary", 0x10000, 0x10000, {0}},
        {"one byte before a boundary", E - 1, 1, {0}},
        {"four blocks, unaligned both ends", E - 1, 2 * E + 2, {0, E, 2 * E, 3 * E}},
        {"last byte of the partition", KERNEL_SIZE - 1, 1, {KERNEL_SIZE - E}},
        {"length 0 aligned", E, 0, {}},
        {"length 0 unaligned", E + 5, 0, {}},
    };
    for (const WriteCase &c : cases) {
        SCOPED_TRACE(c.name);
        write_partition("kernel", old_);
        sim_events_clear();
        Bytes data = test_pattern(c.length, 77);
        EXPECT_EQ(0, flash_write_at(data.data(), kernel(), c.offset, c.length, 0));
        EXPECT_EQ(c.blocks, erased_blocks());

        Bytes expected = old_;
        std::copy(data.begin(), data.end(), expected.begin() + c.offset);
        EXPECT_TRUE(read_partition("kernel") == expected);

        size_t pieces = 0;
        for (const SimEvent &e : sim_events())
            if (e.op == SimOp::MtdWrite) {
                EXPECT_EQ(1024u, e.length);
                ++pieces;
            }
        EXPECT_EQ(c.blocks.size() * (E / 1024), pieces);
        EXPECT_EQ(0u, sim_nor_fault_count()) << "a piece was written over unerased flash";
    }
}

TEST_F(MtdTest, ProgressDisplayIsRewrittenInPlace)
{
    const struct {
        uint32_t offset;
        uint32_t length;
        const char *output;
    } cases[] = {
        {0, 100, "     \b\b\b\b000%\b\b\b\b100%\n"},
        {0, 0, "     \b\b\b\b100%\n"},
        {0, 3 * E, "     \b\b\b\b000%\b\b\b\b033%\b\b\b\b066%\b\b\b\b100%\n"},
        {E / 2, 3 * E, "     \b\b\b\b000%\b\b\b\b025%\b\b\b\b050%\b\b\b\b075%\b\b\b\b100%\n"},
    };
    for (const auto &c : cases) {
        Bytes data = test_pattern(c.length, 3);
        StdoutCapture out;
        EXPECT_EQ(0, flash_write_at(data.data(), kernel(), c.offset, c.length, 1));
        EXPECT_EQ(c.output, out.take()) << "length 0x" << std::hex << c.length;
    }
}

// Ranges past the partition's end are refused before any flash operation; a wrapping
// offset + length must not slip through as a small number.
TEST_F(MtdTest, RangesPastThePartitionAreRefused)
{
    const struct {
        uint32_t offset;
        uint32_t length;
        const char *message;
    } cases[] = {
        {KERNEL_SIZE - 1, 2, "Flash range 0xfffff+0x2 lies outside the partition (0x100000 bytes)\n"},
        {KERNEL_SIZE, 1, "Flash range 0x100000+0x1 lies outside the partition (0x100000 bytes)\n"},
        {0xFFFFFFFF, 2, "Flash range 0xffffffff+0x2 lies outside the partition (0x100000 bytes)\n"},
        {0x10, 0xFFFFFFF8, "Flash range 0x10+0xfffffff8 lies outside the partition (0x100000 bytes)\n"},
    };
    Bytes big(16, 0x42);
    for (const auto &c : cases) {
        sim_events_clear();
        StdoutCapture out;
        // The source buffer is small: a refused write must not read past it.
        EXPECT_EQ(-1, flash_write_at(big.data(), kernel(), c.offset, c.length, 1));
        EXPECT_EQ(-1, flash_read_at(big.data(), kernel(), c.offset, c.length));
        EXPECT_EQ(std::string(c.message) + c.message, out.take());
        EXPECT_EQ(0u, flash_operations());
    }
    EXPECT_TRUE(read_partition("kernel") == old_);
}

TEST_F(MtdTest, UnusableEraseSizesAreRefused)
{
    const struct {
        const char *conf;
        const char *message;
    } cases[] = {
        {"mtd kernel 0x100000 0", "Flash erase size 0x0 is not usable\n"},
        {"mtd kernel 0x100000 0x3000", "Flash erase size 0x3000 is not usable\n"},
        {"mtd kernel 0x100000 0x200", "Flash erase size 0x200 is not usable\n"},
    };
    Bytes data(100, 0x42);
    for (const auto &c : cases) {
        add_conf(c.conf);
        StdoutCapture out;
        EXPECT_EQ(-1, flash_write_at(data.data(), kernel(), 0, 100, 1));
        EXPECT_EQ(c.message, out.take());
        EXPECT_EQ(0u, flash_operations()) << c.conf;
    }
    add_conf("mtd kernel 0x100000 0x400");
    EXPECT_EQ(0, flash_write_at(data.data(), kernel(), 0, 100, 0));
}

// A failing step stops the write at its block: earlier blocks hold the new data, later ones
// are untouched; the failing block is old (read or erase failed) or partly written.
TEST_F(MtdTest, FailingStepStopsTheWriteAtItsBlock)
{
    const struct {
        SimFault fault;
        uint32_t nth;
        const char *message;
        uint32_t new_pieces_in_block1; // of the failing second block
        bool block1_erased;
    } cases[] = {
        {SimFault::ReadFails, 2, "Flash Write mtd read failed.\n\n", 0, false},
        {SimFault::EraseFails, 2, "Flash Write mtd erase failed.\n\n", 0, false},
        {SimFault::WriteFails, 128 + 5, "Flash Write mtd write failed.\n\n", 4, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        write_partition("kernel", old_);
        sim_board_set_fault(c.fault, c.nth);
        Bytes data = test_pattern(3 * E, 55);
        StdoutCapture out;
        EXPECT_EQ(-1, flash_write_at(data.data(), kernel(), 0, 3 * E, 0));
        EXPECT_EQ(c.message, out.take());
        sim_board_set_fault(c.fault, 0);

        Bytes now = read_partition("kernel");
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + E, now.begin()));
        uint32_t split = E + c.new_pieces_in_block1 * 1024;
        EXPECT_TRUE(std::equal(data.begin() + E, data.begin() + split, now.begin() + E));
        if (c.block1_erased)
            EXPECT_TRUE(std::all_of(now.begin() + split, now.begin() + 2 * E,
                                    [](uint8_t b) { return b == 0xFF; }));
        else
            EXPECT_TRUE(std::equal(old_.begin() + E, old_.begin() + 2 * E, now.begin() + E));
        EXPECT_TRUE(std::equal(old_.begin() + 2 * E, old_.end(), now.begin() + 2 * E));
    }
}

TEST_F(MtdTest, LowLevelOperationsReportOneOrZero)
{
    uint8_t buf[32];
    EXPECT_EQ(0, mtd_erase(kernel(), 0x100, E)) << "unaligned erase";
    EXPECT_EQ(0, mtd_erase(kernel(), 0, E + 1)) << "partial block";
    EXPECT_EQ(0, mtd_erase(kernel(), KERNEL_SIZE, E)) << "past the end";
    EXPECT_EQ(1, mtd_erase(kernel(), KERNEL_SIZE - E, E));
    // A short read at the end of the partition still counts as success.
    EXPECT_EQ(1, mtd_read(kernel(), KERNEL_SIZE - 16, sizeof buf, buf));
    EXPECT_EQ(0, mtd_read(-1, 0, sizeof buf, buf));
    EXPECT_EQ(1, mtd_write(kernel(), KERNEL_SIZE - E, sizeof buf, buf));
    EXPECT_EQ(0, mtd_write(kernel(), KERNEL_SIZE, sizeof buf, buf));
    EXPECT_EQ(1, flash_read(buf, kernel(), 16, 0));
    EXPECT_EQ(0, std::memcmp(buf, old_.data(), 16));
}

} // namespace
