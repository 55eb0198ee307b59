// Fuzz target of the package installer: any input is a package, installed into slot 1 (no
// question is asked) on a simulated board in a scratch folder. Besides the sanitizers' checks
// it stops on a result other than 0 or 1, a slot file that is not one whole application
// component with a good CRC, and a temporary slot file left behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "board/i2c.h"
#include "board/mtd.h"
#include "image/bytes.h"
#include "image/format.h"
#include "image/install.h"
#include "platform/sim/sim_board.h"
#include "signature/trusted_keys.h"

// No key is trusted here: signed components are refused, developer images go through.
const TrustedKeys BUILT_IN_TRUSTED_KEYS = {nullptr, 0, false};

namespace {

std::string g_dir;

void fail(const char *what)
{
    std::fprintf(stderr, "install_package_fuzz: %s\n", what);
    std::abort();
}

void remove_board()
{
    std::filesystem::remove_all(g_dir);
}

std::string path(const char *relative)
{
    return g_dir + "/" + relative;
}

void check_slot_file()
{
    if (std::filesystem::exists(path("root/user/images/image1.new")))
        fail("temporary slot file left behind");
    std::ifstream in(path("root/user/images/image1"), std::ios::binary);
    if (!in)
        return;
    std::vector<uint8_t> slot((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (slot.size() < IMAGE_PROBE_SIZE)
        fail("slot file shorter than a component header");
    image_layout layout = image_get_layout(slot.data());
    if (layout.type != APPLICATION || layout.total != slot.size() ||
        image_check_layout(layout, nullptr, slot.size()) != IMAGE_LAYOUT_OK ||
        image_component_crc(slot.data(), layout.total) != load_be32(slot.data()))
        fail("slot file is not one whole application component");
    std::filesystem::remove(path("root/user/images/image1"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char dir[] = "/tmp/install-fuzz-XXXXXX";
    if (!mkdtemp(dir) || sim_board_create(dir) != 0)
        fail("cannot make the board");
    g_dir = dir;
    std::atexit(remove_board);
    // Small erase blocks keep each flash write short; the device log goes nowhere.
    std::ofstream(path("board.conf"), std::ios::app)
        << "mtd uboot 0x80000 0x400\nmtd devicetree 0x40000 0x400\nmtd kernel 0x300000 0x400\n"
           "mtd rfs 0xF00000 0x400\nmtd rescue 0xA00000 0x400\nreal_sleep 0\n";
    if (symlink("/dev/null", path("devices.log").c_str()) != 0 || sim_board_use(dir) != 0)
        fail("cannot select the board");
    i2c_open_buses();
    mtd_init();
    // The installer reports on the console at every step.
    if (!std::freopen("/dev/null", "w", stdout))
        fail("cannot silence the console");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string package = path("package");
    std::ofstream(package, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    sim_events_clear();
    int result = image_install_package(package.c_str(), 0, 1);
    if (result != 0 && result != 1)
        fail("result other than 0 or 1");
    check_slot_file();
    return 0;
}
