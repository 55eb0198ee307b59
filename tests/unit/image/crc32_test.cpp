// CRC-32/JAMCRC: check values, the register hand-over between calls, and agreement of the
// eight-lane path with a bit-by-bit reference at every length around its block boundaries.
#include "image/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t reference_crc(const uint8_t *p, size_t n, uint32_t crc)
{
    while (n--) {
        crc ^= *p++;
        for (int k = 0; k < 8; k++)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

std::vector<uint8_t> random_bytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

} // namespace

TEST(ImageCrc32, CheckValues)
{
    const auto crc_of = [](const char *s) {
        return image_crc32(reinterpret_cast<const uint8_t *>(s), std::strlen(s), 0xFFFFFFFFu);
    };
    EXPECT_EQ(0x340BC6D9u, crc_of("123456789"));
    EXPECT_EQ(0xFFFFFFFFu, crc_of(""));
}

TEST(ImageCrc32, LanePathMatchesBitwiseReferenceAtEveryShape)
{
    auto data = random_bytes(70000 + 8, 2);
    // Every length up to five 32-byte blocks (the byte-wise path below two blocks, then
    // each tail length), one 64 KiB chunk and a little more or less, unaligned starts,
    // registers other than all ones.
    std::vector<size_t> lengths;
    for (size_t len = 0; len <= 160; len++)
        lengths.push_back(len);
    lengths.insert(lengths.end(), {4096, 65535, 65536, 65537, 69999});
    for (size_t len : lengths) {
        for (size_t start : {size_t{0}, size_t{1}, size_t{3}}) {
            for (uint32_t init : {0xFFFFFFFFu, 0u, 0x12345678u}) {
                EXPECT_EQ(reference_crc(data.data() + start, len, init), image_crc32(data.data() + start, len, init))
                    << "len " << len << " start " << start;
            }
        }
    }
}
