// MTD flash access on the simulated NOR partitions: geometry, reads, the block-wise write with
// its progress display, the refusal of ranges and geometries it cannot handle, and failures.
#include "board/mtd.h"

#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <algorithm>

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
        {"straddles two blocks", 0x10000, 0x30000, {0, E}},
        {"ends on a block boundary", 0x10000, 0x10000, {0}},
        {"one byte before a boundary", E - 1, 1, {0}},
        {"four blocks, unaligned both ends", E - 1, 2 * E + 2, {0, E, 2 * E, 3 * E}},
        {"last byte of the partition", KERNEL_SIZE - 1, 1, {KERNEL_SIZE - E}},
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
        {0, 0, "     \b\b\b\b100%\n"},
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

} // namespace
