// The gated trace print family: what each operation writes when its level passes the mask,
// that nothing is written when a bit is missing (the console-state reset: init_test).
#include "crypto/common/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

// Points the trace stream at a temporary file for one test and restores mask and stream.
class TraceCapture : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_mask_ = debug_console_mask;
        saved_stream_ = debug_console_stream;
        file_ = std::tmpfile();
        ASSERT_NE(file_, nullptr);
        debug_console_stream = file_;
    }

    void TearDown() override
    {
        debug_console_mask = saved_mask_;
        debug_console_stream = saved_stream_;
        if (file_)
            std::fclose(file_);
    }

    // Everything written since the last call.
    std::string take()
    {
        std::string out;
        std::fflush(file_);
        std::rewind(file_);
        int c;
        while ((c = std::fgetc(file_)) != EOF)
            out += static_cast<char>(c);
        std::rewind(file_);
        EXPECT_EQ(ftruncate(fileno(file_), 0), 0);
        return out;
    }

    uint32_t saved_mask_ = 0;
    FILE *saved_stream_ = nullptr;
    FILE *file_ = nullptr;
};

struct GateCase {
    uint32_t mask;
    uint32_t level;
    bool passes;
};

// Every bit of the level must be in the mask; level 0 always passes.
TEST_F(TraceCapture, LevelPassesOnlyWhenAllItsBitsAreInTheMask)
{
    EXPECT_EQ(saved_mask_, 0x00400002u) << "mask must start at 0x00400002";
    const GateCase cases[] = {
        {0x00400002, 4, false}, {0x00400002, 0, true}, {0x00400002, 6, false}, {0x00400006, 6, true},
        {0x00400002, 0x00400002, true}, {0x7FFFFFFF, 0x80000000, false},
    };
    for (const GateCase &c : cases) {
        debug_console_mask = c.mask;
        DEBUG_CONSOLE_putString(c.level, "x");
        EXPECT_EQ(take(), c.passes ? "x" : "") << std::hex << "mask " << c.mask << " level " << c.level;
    }
}

TEST_F(TraceCapture, FormatsOfThePrintFamily)
{
    struct {
        void (*print)();
        const char *expect;
        bool gated = true;
    } cases[] = {
        {[] { DEBUG_CONSOLE_putString(4, "abc"); }, "abc"},
        {[] { DEBUG_CONSOLE_putLine(4, "line"); }, "line\r\n"},
        {[] { DEBUG_CONSOLE_putLine(4, nullptr); }, "\r\n"},
        {[] { DEBUG_CONSOLE_putInt(4, -7612); }, "-7612"},
        {[] { DEBUG_CONSOLE_putInt(4, INT32_MIN); }, "-2147483648"},
        {[] { DEBUG_CONSOLE_putHexByte(4, -1); }, "ff"},
        {[] { DEBUG_CONSOLE_putHexByte(4, 0x0A); }, "0a"},
        {[] { DEBUG_CONSOLE_write("ungated %s"); }, "ungated %s", false},
    };
    for (const auto &c : cases) {
        debug_console_mask = 4;
        c.print();
        EXPECT_EQ(take(), c.expect);
        debug_console_mask = 0x00400002; // without bit 2 only write, which is not gated, prints
        c.print();
        EXPECT_EQ(take(), c.gated ? "" : c.expect);
    }
}

TEST(TraceStream, FirstWriteSelectsStandardOutput)
{
    FILE *saved = debug_console_stream;
    debug_console_stream = nullptr;
    testing::internal::CaptureStdout();
    DEBUG_CONSOLE_write("to stdout");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout");
    EXPECT_EQ(debug_console_stream, stdout);
    debug_console_stream = saved;
}

} // namespace
