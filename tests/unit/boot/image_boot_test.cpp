// The component search of the image boot over slot files holding mixed components: which
// component it stops at, where it leaves the file, and that no header can make it loop or
// read past the end of the file; and the slot-boot step that reads the component it found,
// checks it and writes its payload.
#include "boot/image_boot.h"
#include "image/builder.h"
#include "image/bytes.h"
#include "tests/support/image_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

Bytes component(uint32_t type, uint32_t format, size_t payload_size, uint32_t header_len = 0)
{
    ComponentPlan p = plan(type, 0, format, header_len);
    if (format == 3)
        p.records.push_back({IMAGE_RECORD_SIGNATURE, Bytes(10, 0x5A)});
    Bytes payload(payload_size);
    for (size_t i = 0; i < payload_size; ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    Bytes bytes = image_build_component(p, payload);
    EXPECT_FALSE(bytes.empty());
    return bytes;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

std::unique_ptr<FILE, FileCloser> file_with(const Bytes &bytes)
{
    std::unique_ptr<FILE, FileCloser> f(std::tmpfile());
    EXPECT_NE(nullptr, f.get());
    if (!bytes.empty()) {
        EXPECT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f.get()));
    }
    std::fflush(f.get());
    // The search must start at offset 0 whatever the position it is handed.
    std::fseek(f.get(), 0, SEEK_END);
    return f;
}

struct Found {
    int result;
    uint32_t magic, format, header_len, payload_len;
    std::array<uint8_t, 16> header;
    long position;
};

Found search(const Bytes &bytes)
{
    auto f = file_with(bytes);
    Found r = {};
    r.result = find_boot_component(f.get(), &r.magic, &r.format, &r.header_len, &r.payload_len,
                                   r.header.data());
    r.position = std::ftell(f.get());
    return r;
}

constexpr uint32_t UNKNOWN_TYPE = 0x125A514B;

} // namespace

TEST(FindBootComponent, StopsAtTheFirstApplicationOrDiagnosticsComponent)
{
    const Bytes kernel = component(KERNEL, 1, 40);
    const Bytes unknown = component(UNKNOWN_TYPE, 1, 8);
    const Bytes rfs2 = component(RFS, 2, 33, 36);
    struct Case {
        const char *name;
        Bytes before;     // components the search passes over
        Bytes target;     // the component it must stop at
        Bytes after;
        uint32_t type, format, header_len, payload_len;
    } cases[] = {
        {"unknown type is skipped by its size", cat({kernel, unknown}), component(DIAGS, 1, 30),
         component(APPLICATION, 1, 5), DIAGS, 1, 16, 30},
        {"format-2 component skipped by H + len", rfs2, component(APPLICATION, 2, 64, 40), {},
         APPLICATION, 2, 40, 64},
        {"format-3 application with records", kernel, component(APPLICATION, 3, 70), {},
         APPLICATION, 3, 40, 70},
        {"only the first bootable counts", {}, component(DIAGS, 2, 20, 20),
         component(APPLICATION, 1, 20), DIAGS, 2, 20, 20},
        {"short trailing bytes after the target", {}, component(APPLICATION, 1, 9), Bytes(10, 0xEE),
         APPLICATION, 1, 16, 9},
        // A component that is only passed over is stepped over by T; its H is never used.
        {"format-2 rfs whose H is below 20", cat({raw_header(30, RFS | IMAGE_FORMAT2_FLAG, 0, 12), Bytes(18, 0)}),
         component(DIAGS, 1, 12), {}, DIAGS, 1, 16, 12},
        {"format-3 kernel whose H is beyond T", cat({raw_header(24, KERNEL, IMAGE_HDR3_TAG, 0, 0x200), Bytes(16, 0)}),
         component(APPLICATION, 3, 12), {}, APPLICATION, 3, 40, 12},
    };
    for (const Case &c : cases) {
        Found r = search(cat({c.before, c.target, c.after}));
        ASSERT_EQ(1, r.result) << c.name;
        EXPECT_EQ(c.type, r.magic) << c.name;
        EXPECT_EQ(c.format, r.format) << c.name;
        EXPECT_EQ(c.header_len, r.header_len) << c.name;
        EXPECT_EQ(c.payload_len, r.payload_len) << c.name;
        EXPECT_EQ(static_cast<long>(c.before.size()), r.position) << c.name;
        EXPECT_TRUE(std::equal(r.header.begin(), r.header.end(), c.target.begin())) << c.name;
    }
}

// Every file below ends the walk without a bootable component; `magic` names the type of
// the last component looked at, which the "invalid header" message prints.
TEST(FindBootComponent, EndsTheWalkOnFilesWithoutUsableComponent)
{
    const Bytes app = component(APPLICATION, 1, 32);
    struct Case {
        const char *name;
        Bytes file;
        uint32_t last_type;
    } cases[] = {
        {"shorter than one header", Bytes(23, 0), 0},
        {"non-bootable then fewer than 24 bytes", cat({component(KERNEL, 1, 10), Bytes(23, 1)}), KERNEL},
        {"zero-size format-2 component before an application", cat({raw_header(0, KERNEL | IMAGE_FORMAT2_FLAG), app}),
         KERNEL},
        {"format-1 length wrapping the total to zero", cat({raw_header(0xFFFFFFF0u, UBOOT), app}), UBOOT},
        {"component running past the end hides the next", cat({raw_header(1000, KERNEL), app}), KERNEL},
    };
    for (const Case &c : cases) {
        Found r = search(c.file);
        EXPECT_EQ(0, r.result) << c.name;
        EXPECT_EQ(c.last_type, r.magic) << c.name;
    }
}

// The slot-boot step writes the payload of the first bootable component. One that the search
// finds but that cannot be used whole is a CRC failure, and nothing of it reaches the tarball.
TEST(WriteBootPayload, WritesAnIntactComponentAndRefusesTheRestAsCrcFailures)
{
    const Bytes app = component(APPLICATION, 3, 300);
    struct Case {
        const char *name;
        Bytes file;
        boot_payload_status status;
    } cases[] = {
        {"kernel, then the application", cat({component(KERNEL, 2, 50, 24), app}), BOOT_PAYLOAD_WRITTEN},
        {"application cut 10 bytes short", Bytes(app.begin(), app.end() - 10), BOOT_PAYLOAD_CRC_FAILED},
        {"format-1 length wrapping the total", cat({raw_header(0xFFFFFFF8u, DIAGS), Bytes(64, 0)}),
         BOOT_PAYLOAD_CRC_FAILED},
        {"format-3 H beyond T", cat({raw_header(8, DIAGS, IMAGE_HDR3_TAG, 0, 0x40), Bytes(100, 0)}),
         BOOT_PAYLOAD_CRC_FAILED},
    };
    for (const Case &c : cases) {
        auto image = file_with(c.file);
        std::unique_ptr<FILE, FileCloser> tarball(std::tmpfile());
        uint32_t type = 0;
        EXPECT_EQ(c.status, write_boot_payload(image.get(), tarball.get(), &type)) << c.name;
        EXPECT_EQ(c.status == BOOT_PAYLOAD_WRITTEN ? 300 : 0, std::ftell(tarball.get())) << c.name;
    }
    // A tarball that takes no bytes is a write failure.
    auto image = file_with(app);
    std::unique_ptr<FILE, FileCloser> full(std::fopen("/dev/null", "rb"));
    uint32_t type = 0;
    EXPECT_EQ(BOOT_PAYLOAD_WRITE_FAILED, write_boot_payload(image.get(), full.get(), &type));
}
