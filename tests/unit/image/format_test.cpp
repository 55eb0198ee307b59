// Component layout resolution, the shared consistency check, the record walk, versions and
// the builder used by the tools. Byte layouts are written out explicitly so the same test
// catches byte-order faults on the big-endian target.
#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "tests/support/image_parts.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

image_layout_status check(const std::vector<uint8_t> &c)
{
    return image_check_layout(image_get_layout(c.data()), c.data(), c.size());
}

} // namespace

TEST(ImageLayout, ResolvesTheThreeFormats)
{
    struct Case {
        const char *name;
        Bytes bytes;
        uint32_t type, format, h, p, t;
    } cases[] = {
        {"format 1", raw_header(100, APPLICATION), APPLICATION, 1, 16, 100, 116},
        {"format 2 counts len as payload", raw_header(100, KERNEL | IMAGE_FORMAT2_FLAG, 0, 40), KERNEL, 2, 40, 100,
         140},
        {"format 3", raw_header(100, RFS, IMAGE_HDR3_TAG, 0, 30), RFS, 3, 30, 86, 116},
        {"tag wins over the format-2 flag", raw_header(100, DFT | IMAGE_FORMAT2_FLAG, IMAGE_HDR3_TAG, 0, 24), DFT, 3,
         24, 92, 116},
    };
    for (const auto &c : cases) {
        image_layout l = image_get_layout(c.bytes.data());
        EXPECT_EQ(c.type, l.type) << c.name;
        EXPECT_EQ(c.format, l.format) << c.name;
        EXPECT_EQ(c.h, l.header_len) << c.name;
        EXPECT_EQ(c.p, l.payload_len) << c.name;
        EXPECT_EQ(c.t, l.total) << c.name;
    }
}

TEST(ImageLayout, Format1PayloadStartingWithTheTagReadsAsFormat3)
{
    std::vector<uint8_t> payload = {'H', 'D', 'R', '3', 0, 0, 0, 24, 1, 2};
    auto c = image_build_component(plan(APPLICATION), payload);
    image_layout l = image_get_layout(c.data());
    EXPECT_EQ(3u, l.format);
    EXPECT_EQ(24u, l.header_len);
}

TEST(ImageLayout, CheckRejectsEveryInconsistentHeader)
{
    struct Case {
        const char *name;
        Bytes bytes;
        uint64_t available;
        image_layout_status want;
    } cases[] = {
        {"fits exactly", raw_header(8, APPLICATION), 24, IMAGE_LAYOUT_OK},
        {"one byte short", raw_header(9, APPLICATION), 24, IMAGE_LAYOUT_TRUNCATED},
        {"fewer than 24 bytes", raw_header(0, APPLICATION), 23, IMAGE_LAYOUT_TRUNCATED},
        {"format 1 len wraps T", raw_header(0xFFFFFFF5u, APPLICATION), UINT64_MAX, IMAGE_LAYOUT_BAD_TOTAL},
        {"format 2 H + len wraps", raw_header(0xFFFFFFF0u, KERNEL | IMAGE_FORMAT2_FLAG, 0, 20), UINT64_MAX,
         IMAGE_LAYOUT_BAD_TOTAL},
        {"format 2 T below 16", raw_header(4, KERNEL | IMAGE_FORMAT2_FLAG, 0, 4), 24, IMAGE_LAYOUT_BAD_TOTAL},
        {"format 3 H below 24", raw_header(100, RFS, IMAGE_HDR3_TAG, 0, 23), 200, IMAGE_LAYOUT_BAD_HEADER_LEN},
        {"format 3 H beyond T", raw_header(100, RFS, IMAGE_HDR3_TAG, 0, 117), 200, IMAGE_LAYOUT_BAD_HEADER_LEN},
        {"format 3 H equal to T", raw_header(8, RFS, IMAGE_HDR3_TAG, 0, 24), 24, IMAGE_LAYOUT_OK},
        {"format 2 H below 20", raw_header(10, KERNEL | IMAGE_FORMAT2_FLAG, 0, 19), 200, IMAGE_LAYOUT_BAD_HEADER_LEN},
    };
    for (const auto &c : cases) {
        image_layout l = image_get_layout(c.bytes.data());
        EXPECT_EQ(c.want, image_check_layout(l, nullptr, c.available)) << c.name;
    }
}

TEST(ImageRecords, WalkFindsTheLastSignatureAndKey)
{
    ComponentPlan p = plan(KERNEL, 0x01020304, 3);
    p.records = {{3, {1, 1}}, {7, {9}}, {4, {2, 2, 2}}, {3, {5, 5, 5, 5}}};
    auto c = image_build_component(p, {0xAA, 0xBB});
    ASSERT_EQ(IMAGE_LAYOUT_OK, check(c));
    image_record sig, key;
    ASSERT_TRUE(image_find_signature_records(c.data(), image_get_layout(c.data()), &sig, &key));
    ASSERT_NE(nullptr, sig.value);
    ASSERT_NE(nullptr, key.value);
    EXPECT_EQ(4, sig.value_length);
    EXPECT_EQ(5, sig.value[0]);
    EXPECT_EQ(3, key.value_length);
    EXPECT_EQ(2, key.value[2]);
}

TEST(ImageRecords, MalformedRecordAreasAreCorrupt)
{
    ComponentPlan p = plan(KERNEL, 1, 3);
    p.records = {{3, {1, 2, 3, 4}}};
    const auto good = image_build_component(p, {7, 7});
    ASSERT_EQ(IMAGE_LAYOUT_OK, check(good));

    struct Case {
        const char *name;
        uint16_t length, value_length;
    } cases[] = {
        {"record length 0 would never advance", 0, 4},
        {"record shorter than its own header", 5, 0},
        {"record running past H", 11, 4},
        {"value running past its record", 10, 5},
    };
    for (const auto &c : cases) {
        auto bad = good;
        store_be16(&bad[26], c.length);
        store_be16(&bad[28], c.value_length);
        EXPECT_EQ(IMAGE_LAYOUT_BAD_RECORD, check(bad)) << c.name;
        image_record sig, key;
        EXPECT_FALSE(image_find_signature_records(bad.data(), image_get_layout(bad.data()), &sig, &key)) << c.name;
    }
}

TEST(ImageBuilder, PadsFormat3HeadersAndRefusesTooLittleRoom)
{
    std::vector<uint8_t> payload(1000, 0x5A);
    // Padding of a format-3 header is a well-formed record; too little room is refused.
    ComponentPlan padded = plan(RFS, 1, 3, 64);
    auto c = image_build_component(padded, payload);
    EXPECT_EQ(IMAGE_LAYOUT_OK, check(c));
    EXPECT_EQ(64u, image_get_layout(c.data()).header_len);
    const char *why = nullptr;
    EXPECT_TRUE(image_build_component(plan(RFS, 1, 3, 27), payload, &why).empty());
    EXPECT_NE(nullptr, why);
    EXPECT_TRUE(image_build_component(plan(RFS, 1, 1, 20), payload).empty());
}

TEST(ImageVersion, FormatsAndParses)
{
    char text[16];
    image_format_version(0x01020304, text, sizeof text);
    EXPECT_STREQ("1.2.3.4", text);
    image_format_version(0xFFFFFFFF, text, sizeof text);
    EXPECT_STREQ("255.255.255.255", text);
    uint32_t id = 0;
    EXPECT_TRUE(image_parse_version("10.0.255.1", &id));
    EXPECT_EQ(0x0A00FF01u, id);
    for (const char *bad : {"1.2.3", "1.2.3.4.5", "256.0.0.0", "1..2.3", "a.b.c.d", "1.2.3.4x", "", "-1.2.3.4"})
        EXPECT_FALSE(image_parse_version(bad, &id)) << bad;
}
