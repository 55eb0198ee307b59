// The slot boot's step on a 64 MiB application component in a slot file: write_boot_payload
// (find the component, stream it in pieces through the CRC into the tarball) against a plain
// copy of a file holding the same payload through one buffer of the component's size. Both
// read files the page cache holds and write into a temporary folder (see bench_temp_dir).
// The ratio is copy time / step time. The step's peak resident memory is printed beside it as
// the growth over the resident size before the step. The verified step (production rules:
// CRC, SHA-256 and the gate on a component signed with records 3, 4 and 5 by the demo key,
// which the simulator's key table trusts) is set against SHA-256 alone over the same slot
// file, read in the same pieces: the floor of any boot that verifies what it reads.
#include "bench/ratio.h"
#include "boot/image_boot.h"
#include "crypto/digest/sha256.h"
#include "image/auth_header.h"
#include "image/builder.h"
#include "image/validate.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr uint32_t COMPONENT_BYTES = 64u << 20;

struct BenchFiles {
    std::string dir, slot, signed_slot, payload, tarball, copy;
    uint32_t component_len = 0;
    bool signed_ok = false;
};

bool write_file(const std::string &path, const uint8_t *data, size_t length)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(data, 1, length, file) == length;
    return std::fclose(file) == 0 && ok;
}

void remove_files();

std::vector<uint8_t> file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// PKCS#1 v1.5 SHA-256 signature of `data` by the demo signing key; empty on failure.
std::vector<uint8_t> demo_sign(const uint8_t *data, size_t length)
{
    std::vector<uint8_t> signature;
    FILE *file = std::fopen(BM_SOURCE_DIR "/keys/demo/demo-signing-key.NOT-FOR-PRODUCTION.pem", "r");
    EVP_PKEY *key = file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
    if (file)
        std::fclose(file);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    size_t size = 0;
    if (key && ctx && EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(ctx, nullptr, &size, data, length) == 1) {
        signature.resize(size);
        if (EVP_DigestSign(ctx, signature.data(), &size, data, length) != 1)
            signature.clear();
    }
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    return signature;
}

// The same application signed as a production board wants it: records 3, 4 and 5.
std::vector<uint8_t> signed_component(const ComponentPlan &unsigned_plan, const std::vector<uint8_t> &payload)
{
    ComponentPlan plan = unsigned_plan;
    plan.format = 3;
    uint8_t digest[32], statement[IMAGE_AUTH_STATEMENT_SIZE];
    SHA256_completeDigest(payload.data(), uint32_t(payload.size()), digest);
    image_auth_statement(plan.type, plan.id, uint32_t(payload.size()), digest, statement);
    std::vector<uint8_t> auth(statement, statement + sizeof statement), statement_signature = demo_sign(statement, sizeof statement);
    auth.insert(auth.end(), statement_signature.begin(), statement_signature.end());
    plan.records = {{IMAGE_RECORD_SIGNATURE, demo_sign(payload.data(), payload.size())},
                    {IMAGE_RECORD_KEY, file_bytes(BM_SOURCE_DIR "/keys/demo/demo-signing-key.NOT-FOR-PRODUCTION.pub.pem")},
                    {IMAGE_RECORD_AUTH_HEADER, auth}};
    return image_build_component(plan, payload);
}

const BenchFiles &bench_files()
{
    static const BenchFiles files = [] {
        BenchFiles f;
        f.dir = bench_temp_dir("slot_boot_bench");
        if (f.dir.empty())
            return f;
        f.slot = f.dir + "/image1";
        f.signed_slot = f.dir + "/image2";
        f.payload = f.dir + "/payload";
        f.tarball = f.dir + "/tolviimage.tar.gz";
        f.copy = f.dir + "/payload.copy";
        std::atexit(remove_files);

        std::vector<uint8_t> payload(COMPONENT_BYTES - IMAGE_BASIC_HEADER_SIZE);
        std::mt19937 rng(10);
        for (size_t i = 0; i + 4 <= payload.size(); i += 4) {
            uint32_t r = rng();
            std::memcpy(&payload[i], &r, 4);
        }
        ComponentPlan plan;
        plan.type = APPLICATION;
        plan.id = 0x01000001;
        std::vector<uint8_t> component = image_build_component(plan, payload);
        if (component.size() == COMPONENT_BYTES && write_file(f.slot, component.data(), component.size()) &&
            write_file(f.payload, payload.data(), payload.size()))
            f.component_len = COMPONENT_BYTES;
        std::vector<uint8_t> signed_image = signed_component(plan, payload);
        f.signed_ok = write_file(f.signed_slot, signed_image.data(), signed_image.size());
        return f;
    }();
    return files;
}

void remove_files()
{
    const BenchFiles &f = bench_files();
    for (const std::string *path : {&f.slot, &f.signed_slot, &f.payload, &f.tarball, &f.copy})
        std::remove(path->c_str());
    rmdir(f.dir.c_str());
}

// The step as boot_image_slot runs it, files opened and closed the same way.
bool boot_step(const BenchFiles &f)
{
    FILE *image = std::fopen(f.slot.c_str(), "rb");
    FILE *tarball = std::fopen(f.tarball.c_str(), "wb");
    uint32_t type = 0;
    bool ok = image && tarball && write_boot_payload(image, tarball, &type) == BOOT_PAYLOAD_WRITTEN;
    if (image)
        std::fclose(image);
    if (tarball)
        ok = std::fclose(tarball) == 0 && ok;
    return ok;
}

// The step as a production board runs it on the signed slot file.
bool verified_step(const BenchFiles &f)
{
    FILE *image = std::fopen(f.signed_slot.c_str(), "rb");
    uint32_t type = 0;
    const char *refusal = nullptr;
    bool ok = image && write_boot_tarball(image, f.tarball.c_str(), IMAGE_GATE_PRODUCTION, &type, &refusal) ==
                           BOOT_PAYLOAD_WRITTEN;
    if (image)
        std::fclose(image);
    return ok;
}

bool plain_copy(const BenchFiles &f)
{
    FILE *in = std::fopen(f.payload.c_str(), "rb");
    FILE *out = std::fopen(f.copy.c_str(), "wb");
    const size_t length = f.component_len - IMAGE_BASIC_HEADER_SIZE;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[f.component_len]);
    bool ok = in && out && buffer && std::fread(buffer.get(), 1, length, in) == length &&
              std::fwrite(buffer.get(), 1, length, out) == length;
    if (in)
        std::fclose(in);
    if (out)
        ok = std::fclose(out) == 0 && ok;
    return ok;
}

void BM_slot_boot_step(benchmark::State &state)
{
    const BenchFiles &f = bench_files();
    static bool noted = false;
    if (!noted && f.component_len) {
        noted = true;
        bench_note("slot_boot_peak_rss_growth", bench_peak_rss_growth_mib([&] { return boot_step(f); }), "MiB");
        bench_note("slot_boot_component", f.component_len / 1048576.0, "MiB");
    }
    for (auto _ : state) {
        if (!f.component_len || !boot_step(f)) {
            state.SkipWithError("slot boot step failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * COMPONENT_BYTES);
}

void BM_payload_copy(benchmark::State &state)
{
    const BenchFiles &f = bench_files();
    for (auto _ : state) {
        if (!f.component_len || !plain_copy(f)) {
            state.SkipWithError("plain copy failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * COMPONENT_BYTES);
}

void BM_slot_boot_verified(benchmark::State &state)
{
    const BenchFiles &f = bench_files();
    for (auto _ : state) {
        if (!f.signed_ok || !verified_step(f)) {
            state.SkipWithError("verified slot boot step failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * COMPONENT_BYTES);
}

// SHA-256 alone over the signed slot file, read in the boot step's pieces.
bool sha256_of_file(const std::string &path, uint8_t digest[32])
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    static uint8_t piece[64 * 1024];
    SHA256Ctx ctx;
    SHA256_initDigest(&ctx);
    size_t got = 0;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0)
        SHA256_updateDigest(&ctx, piece, uint32_t(got));
    bool ok = !std::ferror(file);
    std::fclose(file);
    SHA256_finalDigest(&ctx, digest);
    return ok;
}

void BM_sha256_alone(benchmark::State &state)
{
    const BenchFiles &f = bench_files();
    uint8_t digest[32];
    for (auto _ : state) {
        if (!f.signed_ok || !sha256_of_file(f.signed_slot, digest)) {
            state.SkipWithError("reading the slot file failed");
            break;
        }
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * COMPONENT_BYTES);
}

} // namespace

// Real time: most of both runs is spent in the kernel. Best of five repetitions counts.
BENCHMARK(BM_slot_boot_step)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_payload_copy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_slot_boot_verified)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_sha256_alone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(5);
BENCH_RATIO(slot_boot_vs_copy, "BM_slot_boot_step", "BM_payload_copy");
BENCH_RATIO(slot_boot_verified_vs_sha256, "BM_slot_boot_verified", "BM_sha256_alone");
