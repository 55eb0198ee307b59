// A power cut in the middle of a multi-block flash write: the write runs in a child process
// whose simulated board loses power at a chosen flash operation; afterwards the partition must
// hold exactly what the flash held at that moment.
#include "board/mtd.h"

#include "platform/sim/sim_board.h"
#include "tests/support/sim_fixture.h"

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t E = 0x20000;
constexpr uint32_t BLOCKS = 3;
constexpr uint32_t PIECES = E / 1024;
constexpr uint32_t OPS_PER_BLOCK = 1 + 1 + PIECES; // read, erase, the pieces

enum class BlockState { Old, New, Erased, Partial, Mixed };

BlockState state_of(const uint8_t *now, const uint8_t *old_block, const uint8_t *new_block,
                    uint32_t *new_pieces)
{
    if (std::equal(now, now + E, old_block))
        return BlockState::Old;
    if (std::equal(now, now + E, new_block))
        return BlockState::New;
    // Otherwise it must be a run of new pieces followed by erased bytes.
    uint32_t k = 0;
    while (k < PIECES && std::equal(now + k * 1024, now + (k + 1) * 1024, new_block + k * 1024))
        ++k;
    *new_pieces = k;
    bool rest_erased = std::all_of(now + k * 1024, now + E, [](uint8_t b) { return b == 0xFF; });
    if (!rest_erased)
        return BlockState::Mixed;
    return k == 0 ? BlockState::Erased : BlockState::Partial;
}

class MtdPowerCutTest : public SimBoardTest {};

TEST_F(MtdPowerCutTest, CutLeavesEarlierBlocksNewLaterOldAndOneInBetween)
{
    add_conf("mtd kernel 0x100000 0x20000");
    const Bytes old_contents = test_pattern(0x100000, 1);
    const Bytes data = test_pattern(BLOCKS * E, 99);
    // Cut points: 1-based index of the flash operation that never happens. The last one
    // comes after the write's final operation: the write completes and reports success.
    const uint32_t cuts[] = {1, 2, 3, 4, 60, OPS_PER_BLOCK, OPS_PER_BLOCK + 1,
                             OPS_PER_BLOCK + 2, OPS_PER_BLOCK + 3, 2 * OPS_PER_BLOCK + 100,
                             3 * OPS_PER_BLOCK, 3 * OPS_PER_BLOCK + 1};
    for (uint32_t cut : cuts) {
        SCOPED_TRACE("power cut at flash operation " + std::to_string(cut));
        write_partition("kernel", old_contents);
        open_board();
        std::fflush(nullptr);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            sim_board_set_fault(SimFault::PowerCut, cut);
            int rc = flash_write_at(data.data(), g_mtd_fd[MTD_KERNEL], 0, BLOCKS * E, 0);
            ::_exit(rc == 0 ? 0 : 1); // not reached when the power fails
        }
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        if (cut > BLOCKS * OPS_PER_BLOCK) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(0, WEXITSTATUS(status));
        } else {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(SIGKILL, WTERMSIG(status));
        }

        // Exactly what the flash held: blocks before the cut's block new, after it old; the
        // cut's block old before its erase, else its written pieces new and the rest erased.
        const uint32_t cut_block = (cut - 1) / OPS_PER_BLOCK;
        const uint32_t step = (cut - 1) % OPS_PER_BLOCK;
        const Bytes now = read_partition("kernel");
        int in_between = 0;
        for (uint32_t b = 0; b < BLOCKS; ++b) {
            uint32_t pieces = 0;
            BlockState s = state_of(now.data() + b * E, old_contents.data() + b * E,
                                    data.data() + b * E, &pieces);
            if (b < cut_block) {
                EXPECT_EQ(BlockState::New, s) << "block " << b;
            } else if (b > cut_block) {
                EXPECT_EQ(BlockState::Old, s) << "block " << b;
            } else if (step < 2) {
                EXPECT_EQ(BlockState::Old, s) << "block " << b;
            } else {
                EXPECT_EQ(step == 2 ? BlockState::Erased : BlockState::Partial, s);
                EXPECT_EQ(step - 2, pieces);
            }
            in_between += s == BlockState::Erased || s == BlockState::Partial;
            EXPECT_NE(BlockState::Mixed, s) << "block " << b;
        }
        EXPECT_LE(in_between, 1);
        EXPECT_TRUE(std::equal(old_contents.begin() + BLOCKS * E, old_contents.end(),
                               now.begin() + BLOCKS * E));
    }
}

} // namespace
