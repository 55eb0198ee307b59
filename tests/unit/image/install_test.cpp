// The package installer on a simulated board: which packages it refuses, with which message
// and result, and that a refused package writes nothing at all; how a slot file is replaced.
// Each case names the fault it catches in its description.
#include "board/i2c.h"
#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "image/install.h"
#include "platform/sim/sim_board.h"
#include "tests/support/bytes.h"
#include "tests/support/image_parts.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A component of `type` whose total size is `total` (format 1: T = 16 + payload).
Bytes sized(uint32_t type, uint32_t total, uint32_t id = 0, uint8_t seed = 1)
{
    return image_build_component(plan(type, id), test_pattern(total - 16, seed));
}

Bytes dev(uint32_t type, uint8_t seed = 1)
{
    return sized(type, 2000, 0, seed);
}

Bytes cut(Bytes c, size_t count)
{
    c.resize(c.size() - count);
    return c;
}

Bytes with_be(Bytes c, size_t at, uint32_t value, int width = 4)
{
    if (width == 4)
        store_be32(c.data() + at, value);
    else
        store_be16(c.data() + at, uint16_t(value));
    return c;
}

struct InstallCase {
    const char *fault; // what an installer without this behaviour would get wrong
    Bytes package;
    int result;
    std::string message;
    std::string written; // devices written, in order of their first write
};

class InstallTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        open_board();
    }

    struct Outcome {
        int result;
        std::string out, written;
    };

    Outcome install(const Bytes &package, uint8_t skip_same, int slot)
    {
        std::string path = dir_ + "/package";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(package.data()), std::streamsize(package.size()));
        sim_events_clear();
        StdoutCapture out;
        int result = image_install_package(path.c_str(), skip_same, slot);
        Outcome o{result, out.take(), ""};
        for (const SimEvent &e : sim_events()) {
            bool writes = e.op == SimOp::MtdErase || e.op == SimOp::MtdWrite || e.op == SimOp::FileWrite ||
                          e.op == SimOp::FileRename;
            if (writes && o.written.find(e.device) == std::string::npos)
                o.written += (o.written.empty() ? "" : " ") + e.device;
        }
        return o;
    }

    std::string user_file(const char *name) const { return dir_ + "/root/user/images/" + name; }
};

TEST_F(InstallTest, RefusedPackagesWriteNothingAndGoodOnesAreWrittenWhole)
{
    const Bytes kernel = dev(KERNEL);
    const Bytes unknown = sized(0x075A514B, 100);
    const InstallCase cases[] = {
        {"empty file read as a component", {}, 0, "File processed\nERROR: No valid image found\n", ""},
        {"package cut 8 bytes into its next header taken as padding",
         cat({kernel, cut(dev(APPLICATION), 2000 - 8)}), 0,
         "Image package is truncated (8 bytes after the last whole image), voiding download\n", ""},
        {"earlier component written before a later CRC failure",
         cat({kernel, with_be(dev(RFS), 100, 0xBAD)}), 0, "Bad crc for RFS: 0x", ""},
        {"wrapped total allocated", with_be(kernel, 4, 0xFFFFFFF8), 0,
         "KERNEL image header is corrupt (total size below 16 bytes or beyond 32 bits)", ""},
        {"header length beyond the component used",
         with_be(with_be(kernel, 16, IMAGE_HDR3_TAG), 22, 0x7FFF, 2), 0,
         "KERNEL image header is corrupt (header length outside the component)", ""},
        {"a kernel exactly at the limit refused", sized(KERNEL, 0x300000), 1, "File processed\n", "mtd-kernel"},
        {"boot loader limited by T instead of its len word", sized(UBOOT, 0x80010), 1, "Writing Boot Loader:",
         "mtd-uboot"},
        {"boot loader len word over the limit accepted", sized(UBOOT, 0x80011), 0,
         "UBOOT image is too big for flash (524289 > 524288)\n", ""},
        {"XMODEM padding read as a corrupt component", cat({kernel, Bytes(120, 0x1A)}), 1, "File processed\n",
         "mtd-kernel"},
        {"unknown type not passed over", cat({unknown, kernel, unknown, dev(DFT)}), 1, "File processed\n",
         "mtd-kernel mtd-devicetree"},
    };
    for (const InstallCase &c : cases) {
        SCOPED_TRACE(c.fault);
        Outcome o = install(c.package, 0, 1);
        EXPECT_EQ(c.result, o.result) << o.out;
        EXPECT_NE(std::string::npos, o.out.find(c.message)) << o.out;
        EXPECT_EQ(c.written, o.written);
    }
}

TEST_F(InstallTest, SlotFileThatCannotBeReplacedStaysWithTheBootSlot)
{
    // The temporary file cannot be made: the old slot file and the boot slot stay.
    const std::string slot2 = user_file("image2");
    std::filesystem::create_directories(slot2 + ".new");
    std::ofstream(slot2) << "old";
    board_set_boot_slot(1);
    const Bytes image = sized(APPLICATION, 150000); // three 64 KiB pieces
    Outcome o = install(image, 0, 2);
    EXPECT_EQ(0, o.result);
    EXPECT_NE(std::string::npos, o.out.find("Installing image as image2: Image2 update failed (err 21)\n"));
    EXPECT_EQ(3u, std::filesystem::file_size(slot2));
    EXPECT_EQ(1, board_get_boot_slot());
}

// Address space the process has mapped, in bytes (VmSize), or 0 when unknown.
[[maybe_unused]] uint64_t mapped_bytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            return std::stoull(line.substr(7)) * 1024;
    return 0;
}

TEST_F(InstallTest, ApplicationLargerThanTheFreeMemoryStillInstalls)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address-space limit";
#else
    // A 24 MiB developer application, written to the package file piece by piece.
    constexpr uint32_t PAYLOAD = 24u << 20;
    const std::string path = dir_ + "/package";
    {
        const Bytes piece = test_pattern(1 << 20, 7);
        uint8_t header[16];
        store_be32(header + 4, PAYLOAD);
        store_be32(header + 8, APPLICATION);
        store_be32(header + 12, 0);
        uint32_t crc = image_crc32(header + 4, 12, 0xFFFFFFFFu);
        for (uint32_t done = 0; done < PAYLOAD; done += uint32_t(piece.size()))
            crc = image_crc32(piece.data(), piece.size(), crc);
        store_be32(header, crc);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(header), sizeof header);
        for (uint32_t done = 0; done < PAYLOAD; done += uint32_t(piece.size()))
            out.write(reinterpret_cast<const char *>(piece.data()), std::streamsize(piece.size()));
    }
    // The installer runs in a child whose address space may grow by 16 MiB only: holding the
    // component whole cannot succeed there.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = mapped_bytes() + (16u << 20);
        if (!std::freopen("/dev/null", "w", stdout) || setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(2);
        _exit(image_install_package(path.c_str(), 0, 1) == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(PAYLOAD + 16u, std::filesystem::file_size(user_file("image1")));
#endif
}

} // namespace
