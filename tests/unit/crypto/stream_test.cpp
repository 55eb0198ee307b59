// Memory stream: range rules of every operation at the edges of the buffer.
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

TEST(MemStream, InitRefusesNullsAndOversizedLengths)
{
    MemStream mem{};
    ByteStream s{};
    EXPECT_EQ(ERR_NULL_POINTER, MEMSTREAM_init(nullptr, &mem, kData, 4));
    EXPECT_EQ(ERR_NULL_POINTER, MEMSTREAM_init(&s, nullptr, kData, 4));
    EXPECT_EQ(ERR_NULL_POINTER, MEMSTREAM_init(&s, &mem, nullptr, 1));
    EXPECT_EQ(ERR_BAD_LENGTH, MEMSTREAM_init(&s, &mem, kData, 0x80000000u));
    EXPECT_EQ(OK, MEMSTREAM_init(&s, &mem, nullptr, 0));
    bool end = false;
    EXPECT_EQ(OK, s.ops->atEnd(s.obj, &end));
    EXPECT_TRUE(end);
}

TEST(MemStream, ReadsEachByteThenFailsPastTheEnd)
{
    Fixture f;
    for (uint8_t expected : kData) {
        bool end = true;
        EXPECT_EQ(OK, f.s.ops->atEnd(f.s.obj, &end));
        EXPECT_FALSE(end);
        uint8_t b = 0;
        EXPECT_EQ(OK, f.s.ops->getByte(f.s.obj, &b));
        EXPECT_EQ(expected, b);
    }
    bool end = false;
    EXPECT_EQ(OK, f.s.ops->atEnd(f.s.obj, &end));
    EXPECT_TRUE(end);
    uint8_t b = 0;
    EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->getByte(f.s.obj, &b));
    EXPECT_EQ(4, f.tell());
    EXPECT_EQ(ERR_NULL_POINTER, f.s.ops->getByte(f.s.obj, nullptr));
}

// Seek: the target is refused outside 0..size but becomes the position all the same.
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
        {0, 0, STREAM_SEEK_SET, OK, 0},
        {0, 4, STREAM_SEEK_SET, OK, 4},           // the end itself is a valid position
        {0, 5, STREAM_SEEK_SET, ERR_STREAM_RANGE, 5},
        {0, -1, STREAM_SEEK_SET, ERR_STREAM_RANGE, -1},
        {2, 1, STREAM_SEEK_CUR, OK, 3},
        {2, -2, STREAM_SEEK_CUR, OK, 0},
        {2, -3, STREAM_SEEK_CUR, ERR_STREAM_RANGE, -1},
        {2, kMax, STREAM_SEEK_CUR, ERR_STREAM_RANGE, kMax}, // saturates, never wraps
        {0, 0, STREAM_SEEK_END, OK, 4},
        {0, 4, STREAM_SEEK_END, OK, 0},
        {0, 1, STREAM_SEEK_END, OK, 3},
        {0, 5, STREAM_SEEK_END, ERR_STREAM_RANGE, -1},
        {0, kMin, STREAM_SEEK_END, ERR_STREAM_RANGE, kMax},
        {2, 1, 0, ERR_STREAM_RANGE, 2},           // unknown mode leaves the position
        {2, 1, 4, ERR_STREAM_RANGE, 2},
    };
    for (const Case &c : cases) {
        Fixture f;
        ASSERT_EQ(OK, f.seek(c.start, STREAM_SEEK_SET));
        EXPECT_EQ(c.status, f.seek(c.offset, c.mode)) << c.start << " " << c.offset << " " << c.mode;
        EXPECT_EQ(c.position, f.tell()) << c.start << " " << c.offset << " " << c.mode;
    }
}

TEST(MemStream, ReadAfterAFailedSeekFails)
{
    for (int32_t target : {-1, 5, std::numeric_limits<int32_t>::min()}) {
        Fixture f;
        f.seek(target, STREAM_SEEK_SET);
        uint8_t b = 0;
        EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->getByte(f.s.obj, &b)) << target;
        bool end = false;
        EXPECT_EQ(OK, f.s.ops->atEnd(f.s.obj, &end));
        EXPECT_TRUE(end) << target;
        uint8_t block[1];
        EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->read(f.s.obj, block, 1)) << target;
        EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->ungetByte(f.s.obj, 0x40)) << target;
    }
}

TEST(MemStream, PutBackStepsBackOverTheSameByteOnly)
{
    Fixture f;
    EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->ungetByte(f.s.obj, 0x10)); // position 0
    uint8_t b = 0;
    ASSERT_EQ(OK, f.s.ops->getByte(f.s.obj, &b));
    ASSERT_EQ(OK, f.s.ops->getByte(f.s.obj, &b));
    EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->ungetByte(f.s.obj, 0x99)); // would write the buffer
    EXPECT_EQ(2, f.tell());
    EXPECT_EQ(OK, f.s.ops->ungetByte(f.s.obj, 0x20));
    EXPECT_EQ(1, f.tell());
    ASSERT_EQ(OK, f.s.ops->getByte(f.s.obj, &b));
    EXPECT_EQ(0x20, b);
}

TEST(MemStream, BlockReadIsAllOrNothing)
{
    Fixture f;
    uint8_t block[5] = {};
    ASSERT_EQ(OK, f.seek(1, STREAM_SEEK_SET));
    EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->read(f.s.obj, block, 4));
    EXPECT_EQ(1, f.tell());
    EXPECT_EQ(0, block[0]);
    EXPECT_EQ(OK, f.s.ops->read(f.s.obj, block, 3));
    EXPECT_EQ(0x20, block[0]);
    EXPECT_EQ(0x40, block[2]);
    EXPECT_EQ(4, f.tell());
    EXPECT_EQ(OK, f.s.ops->read(f.s.obj, block, 0));
    EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->read(f.s.obj, block, 1));
    EXPECT_EQ(ERR_STREAM_RANGE, f.s.ops->read(f.s.obj, block, 0xFFFFFFFFu));
}

TEST(MemStream, MapGivesPointersInsideTheBufferOnly)
{
    struct Case {
        int32_t offset;
        uint32_t length;
        bool mapped;
    };
    const Case cases[] = {
        {0, 4, true}, {0, 0, true}, {4, 0, true}, {3, 1, true},
        {3, 2, false}, {5, 0, false}, {-1, 1, false}, {1, 0xFFFFFFFFu, false},
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
