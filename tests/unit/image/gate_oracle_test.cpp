// The signed chain under both gate rules, one column each: the attacks that a default board
// lets through (developer images, edited type and version words, unsigned boot loader and
// diagnostics, unsigned images at boot, older versions) and that a production board
// refuses, and the signed images both take. Keys and signatures come from OpenSSL.
#include "boot/image_boot.h"
#include "image/bytes.h"
#include "image/validate.h"
#include "signature/trusted_keys.h"
#include "tests/support/sim_fixture.h"
#include "tests/unit/signature/signer.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const Bytes PAYLOAD = test_pattern(150000, 3); // more than two of the boot step's pieces

// The component with other type and version words and a CRC that fits them again.
Bytes relabel(Bytes c, uint32_t type, uint32_t id)
{
    store_be32(c.data() + 8, type);
    store_be32(c.data() + 12, id);
    image_seal_component(c);
    return c;
}

Bytes unsigned_image(uint32_t type, uint32_t id)
{
    return image_build_component(plan(type, id, 1), PAYLOAD);
}

// A component signed by the trusted key whose record 5 is made by `s` over `payload`.
Bytes with_auth(const Signer &s, uint32_t type, uint32_t id, const Bytes &payload)
{
    ComponentPlan p = plan(type, id, 3);
    p.records = {{IMAGE_RECORD_SIGNATURE, signer(0).sign(PAYLOAD)}, {IMAGE_RECORD_KEY, signer(0).spki_pem},
                 auth_record(s, type, id, payload)};
    return image_build_component(p, PAYLOAD);
}

class GateTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        const Bytes &key = signer(0).spki_pem;
        ASSERT_EQ(OK, trusted_key_fingerprint(key.data(), uint32_t(key.size()), fingerprint_));
        trusted_keys_override(&table_);
    }
    void TearDown() override
    {
        trusted_keys_override(nullptr);
        SimBoardTest::TearDown();
    }

    uint8_t fingerprint_[KEY_FINGERPRINT_SIZE] = {};
    TrustedKeys table_{&fingerprint_, 1, false};
};

// What an install does with the component under `rules`: not gated, or the gate's line.
std::string install_verdict(const Bytes &c, const image_gate_rules &rules)
{
    if (!image_type_gated(image_read_header(c.data()).magic & ~IMAGE_FORMAT2_FLAG, rules))
        return "not gated";
    StdoutCapture out;
    int accepted = image_check_signature(c.data(), uint32_t(c.size()), rules);
    return (accepted ? "accepted" : "rejected") + out.take();
}

const std::string VERIFIED = "accepted\tImage signature verified\n";
const std::string REJECTED = "rejected\tImage rejected\n";
const std::string NO_SIGNATURE = "rejected\tImage rejected as it has no signature\n";
const std::string NO_AUTH = "rejected\tImage rejected: no authenticated header\n";

} // namespace

TEST_F(GateTest, InstallAttacksPassTheDefaultBoardAndNotAProductionOne)
{
    const Signer trusted = signer(0), stranger = signer(1);
    const uint32_t V = 0x01020304, RAISED = 0x63000000; // 1.2.3.4 and 99.0.0.0
    const Bytes kernel3 = signed_image(trusted, KERNEL, V, PAYLOAD, false);
    const Bytes kernel5 = signed_image(trusted, KERNEL, V, PAYLOAD);
    struct Case {
        const char *name;
        Bytes component;
        std::string on_default, on_production;
    } cases[] = {
        {"developer kernel", unsigned_image(KERNEL, 0), "accepted\tImage is a developer image\n",
         "rejected\tImage rejected: developer images are not accepted\n"},
        {"signed kernel relabelled as root fs", relabel(kernel3, RFS, V), VERIFIED, NO_AUTH},
        {"signed kernel relabelled as application", relabel(kernel3, APPLICATION, V), VERIFIED, NO_AUTH},
        {"version raised to 99.0.0.0", relabel(kernel3, KERNEL, RAISED), VERIFIED, NO_AUTH},
        // Record 5 is checked wherever it is present.
        {"relabelled, with record 5", relabel(kernel5, RFS, V), REJECTED, REJECTED},
        {"version raised, with record 5", relabel(kernel5, KERNEL, RAISED), REJECTED, REJECTED},
        {"record 5 by a stranger", with_auth(stranger, KERNEL, V, PAYLOAD), REJECTED, REJECTED},
        {"record 5 of another payload", with_auth(trusted, KERNEL, V, test_pattern(10, 1)), REJECTED, REJECTED},
        {"unsigned release boot loader", unsigned_image(UBOOT, V), "not gated", NO_SIGNATURE},
        {"unsigned release diagnostics", unsigned_image(DIAGS, V), "not gated", NO_SIGNATURE},
        {"signed boot loader", signed_image(trusted, UBOOT, V, PAYLOAD), "not gated", VERIFIED},
        {"signed application", signed_image(trusted, APPLICATION, V, PAYLOAD), VERIFIED, VERIFIED},
        {"signed before record 5", kernel3, VERIFIED, NO_AUTH},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.on_default, install_verdict(c.component, IMAGE_GATE_DEFAULT)) << c.name;
        EXPECT_EQ(c.on_production, install_verdict(c.component, IMAGE_GATE_PRODUCTION)) << c.name;
    }
}

// The boot step verifies in production only, and a boot that fails for any reason leaves no
// tarball behind; one that passes leaves exactly the payload.
TEST_F(GateTest, BootStepVerifiesInProductionAndLeavesNoTarballOnFailure)
{
    const Signer trusted = signer(0);
    const uint32_t V = 0x01000000;
    Bytes bad_crc = signed_image(trusted, APPLICATION, V, PAYLOAD);
    bad_crc[bad_crc.size() - 70000] ^= 0x04;
    struct Case {
        const char *name;
        Bytes file;
        boot_payload_status on_default, on_production;
        const char *refusal; // production's reason line
    } cases[] = {
        {"signed before record 5", signed_image(trusted, DIAGS, V, PAYLOAD, false), BOOT_PAYLOAD_WRITTEN,
         BOOT_PAYLOAD_WRITTEN, nullptr},
        {"unsigned release image", unsigned_image(APPLICATION, V), BOOT_PAYLOAD_WRITTEN, BOOT_PAYLOAD_REFUSED,
         "\tImage rejected as it has no signature"},
        {"developer image", unsigned_image(APPLICATION, 0), BOOT_PAYLOAD_WRITTEN, BOOT_PAYLOAD_REFUSED,
         "\tImage rejected: developer images are not accepted"},
        {"version edited under record 5", relabel(signed_image(trusted, APPLICATION, V, PAYLOAD), APPLICATION, V + 1),
         BOOT_PAYLOAD_WRITTEN, BOOT_PAYLOAD_REFUSED, "\tImage rejected"},
        {"stranger's signature", signed_image(signer(1), APPLICATION, V, PAYLOAD), BOOT_PAYLOAD_WRITTEN,
         BOOT_PAYLOAD_REFUSED, "\tImage rejected: key not trusted"},
        {"CRC error", bad_crc, BOOT_PAYLOAD_CRC_FAILED, BOOT_PAYLOAD_CRC_FAILED, nullptr},
    };
    const std::string tarball = dir_ + "/tolviimage.tar.gz";
    for (const Case &c : cases) {
        for (const image_gate_rules *rules : {&IMAGE_GATE_DEFAULT, &IMAGE_GATE_PRODUCTION}) {
            const bool production = rules == &IMAGE_GATE_PRODUCTION;
            const std::string name = std::string(c.name) + (production ? " (production)" : " (default)");
            FILE *image = std::tmpfile();
            ASSERT_EQ(c.file.size(), std::fwrite(c.file.data(), 1, c.file.size(), image));
            std::rewind(image);
            uint32_t type = 0;
            const char *refusal = nullptr;
            boot_payload_status status = write_boot_tarball(image, tarball.c_str(), *rules, &type, &refusal);
            std::fclose(image);
            EXPECT_EQ(production ? c.on_production : c.on_default, status) << name;
            EXPECT_STREQ(production ? c.refusal : nullptr, refusal) << name;
            std::ifstream written(tarball, std::ios::binary);
            EXPECT_EQ(status == BOOT_PAYLOAD_WRITTEN, written.is_open()) << name;
            if (status == BOOT_PAYLOAD_WRITTEN) {
                EXPECT_TRUE(Bytes(std::istreambuf_iterator<char>(written), {}) == PAYLOAD) << name;
            }
            std::remove(tarball.c_str());
        }
    }
}

// Only a production board refuses an older version, and only against an installed component
// whose authenticated header verifies; the version words compare as four unsigned bytes.
TEST_F(GateTest, DowngradeIsRefusedAgainstASignedInstalledVersionOnly)
{
    open_board();
    const Signer trusted = signer(0);
    struct Case {
        Bytes installed;
        uint32_t offered;
        std::string on_production; // the line and verdict; the default board takes every row
    } cases[] = {
        {signed_image(trusted, KERNEL, 0x01020304, PAYLOAD), 0x01020304, "1"},
        {signed_image(trusted, KERNEL, 0x80000000, PAYLOAD), 0x7FFFFFFF,
         "0\tImage rejected: version 127.255.255.255 is older than the installed version 128.0.0.0\n"},
        // Installed components whose version is not authenticated block nothing.
        {signed_image(trusted, KERNEL, 0x09000000, PAYLOAD, false), 0x01000000, "1"},
        {relabel(signed_image(trusted, KERNEL, 0x01020304, PAYLOAD), KERNEL, 0x09000000), 0x01000000, "1"},
        {signed_image(signer(1), KERNEL, 0x09000000, PAYLOAD), 0x01000000, "1"},
        {unsigned_image(KERNEL, 0x09000000), 0x01000000, "1"},
    };
    for (const Case &c : cases) {
        write_partition("kernel", c.installed);
        const Bytes offered = signed_image(trusted, KERNEL, c.offered, PAYLOAD);
        EXPECT_EQ(1, image_check_downgrade(offered.data(), 0, IMAGE_GATE_DEFAULT));
        StdoutCapture out;
        int accepted = image_check_downgrade(offered.data(), 0, IMAGE_GATE_PRODUCTION);
        EXPECT_EQ(c.on_production, std::to_string(accepted) + out.take()) << bytesHex(c.installed.data() + 12, 4);
    }
}
