// Memory stream: range rules of the operations the DER parser uses, at the edges of the buffer
// (reading every byte up to the end is exercised by every parse).
#include "crypto/der/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

const uint8_t kData[4] = {0x10, 0x20, 0x30, 0x40};

struct Fixture {
    MemStream mem{};
    ByteStream s{};
    Fixture() { EXPECT_EQ(OK, MEMSTREAM_init(&s, &mem, kData, sizeof kData)); }
    MSTATUS seek(int32_t offset, int32_t mode) { return s.ops->seek(s.obj, offset, mode); }
    int32_t tell()
    {
        int32_t p = -99;
        EXPECT_EQ(OK, s.ops->tell(s.obj, &p));
        return p;
    }
};

// Seek: the target is refused outside 0..size but becomes the position all the same. (The
// parser seeks from the start only; the other modes keep a row for their overflow edge.)
TEST(MemStream, SeekModesAndRanges)
{
    struct Case {
        int32_t start, offset, mode;
        MSTATUS status;
        int32_t position;
    };
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    const Case cases[] = {
        {0, 4, STREAM_SEEK_SET, OK, 4},           // the end itself is a valid position
        {0, 5, STREAM_SEEK_SET, ERR_STREAM_RANGE, 5},
        {0, -1, STREAM_SEEK_SET, ERR_STREAM_RANGE, -1},
        {2, kMax, STREAM_SEEK_CUR, ERR_STREAM_RANGE, kMax}, // saturates, never wraps
        {0, kMin, STREAM_SEEK_END, ERR_STREAM_RANGE, kMax},
    };
    for (const Case &c : cases) {
        Fixture f;
        ASSERT_EQ(OK, f.seek(c.start, STREAM_SEEK_SET));
        EXPECT_EQ(c.status, f.seek(c.offset, c.mode)) << c.start << " " << c.offset << " " << c.mode;
        EXPECT_EQ(c.position, f.tell()) << c.start << " " << c.offset << " " << c.mode;
    }
}

TEST(MemStream, MapGivesPointersInsideTheBufferOnly)
{
    struct Case {
        int32_t offset;
        uint32_t length;
        bool mapped;
    };
    const Case cases[] = {
        {0, 4, true}, {4, 0, true}, {3, 2, false}, {5, 0, false}, {-1, 1, false}, {1, 0xFFFFFFFFu, false},
        {std::numeric_limits<int32_t>::max(), 1, false},
    };
    for (const Case &c : cases) {
        Fixture f;
        const uint8_t *p = f.s.ops->map(f.s.obj, c.offset, c.length);
        if (c.mapped)
            EXPECT_EQ(kData + c.offset, p) << c.offset << "+" << c.length;
        else
            EXPECT_EQ(nullptr, p) << c.offset << "+" << c.length;
        f.s.ops->unmap(f.s.obj, p);
        EXPECT_EQ(0, f.tell()); // mapping never moves the position
    }
}

} // namespace
