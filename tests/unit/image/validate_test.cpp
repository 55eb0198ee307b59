// The checks before an install that need no key: the gate's verdicts on developer and
// unsigned components, where each type's installed header is read from, and when a
// component counts as the installed one. Signed components are tested against OpenSSL in
// the signature tests.
#include "board/mtd.h"
#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "crypto/digest/sha256.h"
#include "image/validate.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/image_parts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes component(uint32_t type, uint32_t id, uint32_t format, std::vector<ComponentRecord> records = {})
{
    return image_build_component(plan(type, id, format, 0, std::move(records)),
                                 test_pattern(100, 9));
}

struct Verdict {
    int accepted;
    std::string line;
};

Verdict gate(const Bytes &c)
{
    StdoutCapture out;
    int accepted = image_check_signature(c.data(), uint32_t(c.size()));
    Verdict verdict{accepted, out.take()};
    // The installer's entry for a payload it only streams (header bytes and payload digest)
    // must decide every component as the in-memory gate does.
    image_layout layout = c.size() >= IMAGE_PROBE_SIZE ? image_get_layout(c.data()) : image_layout{};
    if (layout.total == c.size() && layout.header_len <= c.size()) {
        uint8_t digest[32];
        SHA256_completeDigest(c.data() + layout.header_len, layout.payload_len, digest);
        StdoutCapture streamed;
        EXPECT_EQ(accepted, image_check_signature_digest(c.data(), layout.header_len, layout, digest, image_gate_build_rules()));
        EXPECT_EQ(verdict.line, streamed.take());
    }
    return verdict;
}

} // namespace

TEST(SignatureGate, UnsignedComponentsAreAcceptedOnlyAsDeveloperImages)
{
    const ComponentRecord sig{IMAGE_RECORD_SIGNATURE, Bytes(8, 1)};
    struct Case {
        Bytes component;
        Verdict expected;
    } cases[] = {
        {component(KERNEL, 0, 1), {1, "\tImage is a developer image\n"}},
        // A developer id is accepted whatever the header holds, records included.
        {component(RFS, 0, 3, {sig}), {1, "\tImage is a developer image\n"}},
        {component(KERNEL, 0x01020304, 1), {0, "\tImage rejected as it has no signature\n"}},
        {component(APPLICATION, 1, 3), {0, "\tImage rejected as it has no signature\n"}},
        {component(APPLICATION, 1, 3, {sig}), {0, "\tImage rejected as it has no signature\n"}},
    };
    for (const Case &c : cases) {
        Verdict v = gate(c.component);
        EXPECT_EQ(c.expected.accepted, v.accepted) << v.line;
        EXPECT_EQ(c.expected.line, v.line);
    }
}

TEST(SignatureGate, MalformedRecordAreaIsRejectedWithoutReadingPastTheHeader)
{
    Bytes c = component(KERNEL, 1, 3, {{IMAGE_RECORD_KEY, Bytes(8, 2)}});
    store_be16(c.data() + 26, 0x4000); // record length far past H
    EXPECT_EQ(0, gate(c).accepted);
    EXPECT_EQ(0, gate(Bytes(c.begin(), c.begin() + 20)).accepted); // shorter than a probe
}

class InstalledHeaderTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        open_board();
    }
};

TEST_F(InstalledHeaderTest, EachTypeIsReadFromItsPlace)
{
    // Every flash type's place gets its own recognisable header; the boot loader's lives at 240.
    struct Place {
        uint32_t type;
        const char *partition;
        size_t offset;
    } places[] = {{UBOOT, "uboot", 240}, {KERNEL, "kernel", 0}, {RFS, "rfs", 0}, {DFT, "devicetree", 0},
                  {DIAGS, "rescue", 0}};
    for (const Place &p : places) {
        Bytes contents = test_pattern(1024, uint8_t(p.type >> 24));
        write_partition(p.partition, contents);
        uint8_t header[16];
        std::memset(header, 0xAA, sizeof header);
        EXPECT_EQ(1, image_read_installed_header(p.type, header, 0)) << p.partition;
        EXPECT_EQ(0, std::memcmp(header, contents.data() + p.offset, 16)) << p.partition;
    }
}

TEST_F(InstalledHeaderTest, SameAsInstalledComparesTheWholeBasicHeader)
{
    Bytes kernel = component(KERNEL, 0x01020304, 2); // magic carries the format-2 flag
    write_partition("kernel", kernel);
    EXPECT_EQ(1, image_same_as_installed(kernel.data(), 0));
    Bytes other_crc = kernel;
    other_crc[3] ^= 1;
    EXPECT_EQ(0, image_same_as_installed(other_crc.data(), 0));

    // The boot loader's block at 240 carries len, magic and id; its first word is not compared.
    Bytes uboot = component(UBOOT, 0x01000000, 1);
    Bytes flash(1024, 0x5A);
    std::memcpy(flash.data() + 240, uboot.data(), 16);
    flash[240] ^= 0xFF;
    write_partition("uboot", flash);
    EXPECT_EQ(1, image_same_as_installed(uboot.data(), 0));
    uboot[15] ^= 1; // another id
    EXPECT_EQ(0, image_same_as_installed(uboot.data(), 0));
}
