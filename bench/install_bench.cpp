// The installer on a 64 MiB application package: image_install_package on a simulated board
// whose /user is a temporary folder (see bench_temp_dir), the application going into slot 1.
// The package file is written piece by piece, so nothing of it is held before the run. The
// install's peak resident memory is printed as the growth over the resident size before it.
#include "bench/ratio.h"
#include "board/i2c.h"
#include "image/bytes.h"
#include "image/format.h"
#include "image/install.h"
#include "platform/sim/sim_board.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint32_t PAYLOAD_BYTES = (64u << 20) - IMAGE_BASIC_HEADER_SIZE;
constexpr uint32_t PIECE_BYTES = 1u << 20;

struct BenchBoard {
    std::string dir, package;
};

void remove_board();

// A developer application component (format 1, version 0: no signature work), its payload
// one pseudo-random megabyte repeated.
bool write_package(const std::string &path)
{
    std::vector<uint8_t> piece(PIECE_BYTES);
    uint32_t x = 10;
    for (uint8_t &b : piece) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    uint8_t header[IMAGE_BASIC_HEADER_SIZE];
    image_write_header(image_header{0, PAYLOAD_BYTES, APPLICATION, 0}, header);
    uint32_t crc = image_crc32(header + 4, sizeof header - 4, 0xFFFFFFFFu);
    for (uint32_t done = 0; done < PAYLOAD_BYTES; done += PIECE_BYTES)
        crc = image_crc32(piece.data(), std::min(PIECE_BYTES, PAYLOAD_BYTES - done), crc);
    store_be32(header, crc);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(header), sizeof header);
    for (uint32_t done = 0; done < PAYLOAD_BYTES; done += PIECE_BYTES)
        out.write(reinterpret_cast<const char *>(piece.data()), std::min(PIECE_BYTES, PAYLOAD_BYTES - done));
    return bool(out.flush());
}

const BenchBoard &bench_board()
{
    static const BenchBoard board = [] {
        BenchBoard b;
        b.dir = bench_temp_dir("install_bench");
        if (b.dir.empty())
            return b;
        std::atexit(remove_board);
        if (sim_board_create(b.dir.c_str()) != 0 || sim_board_use(b.dir.c_str()) != 0)
            return b;
        sim_board_set_real_sleep(false);
        i2c_open_buses();
        if (write_package(b.dir + "/package"))
            b.package = b.dir + "/package";
        return b;
    }();
    return board;
}

void remove_board()
{
    std::error_code ignored;
    std::filesystem::remove_all(bench_board().dir, ignored);
}

// One install with the console (standard output) sent to /dev/null.
bool install(const BenchBoard &b)
{
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (saved < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0)
        return false;
    int result = image_install_package(b.package.c_str(), 0, 1);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null);
    return result == 1;
}

void BM_install_64mib_application(benchmark::State &state)
{
    const BenchBoard &b = bench_board();
    static bool noted = false;
    if (!noted && !b.package.empty()) {
        noted = true;
        bench_note("install_peak_rss_growth", bench_peak_rss_growth_mib([&] { return install(b); }), "MiB");
    }
    for (auto _ : state) {
        if (b.package.empty() || !install(b)) {
            state.SkipWithError("install failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * (PAYLOAD_BYTES + IMAGE_BASIC_HEADER_SIZE));
}

} // namespace

// Real time: much of an install is file work in the kernel.
BENCHMARK(BM_install_64mib_application)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
