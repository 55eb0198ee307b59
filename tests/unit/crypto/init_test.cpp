// CRYPTO_initLibrary: the first call builds the base64 table, creates and seeds the global
// random generator; later calls change nothing; a failing step is not retried. The library
// state lives for the whole process, so every scenario runs in a forked child process that
// starts uninitialised and reports the first failed check through its exit status.
#include "crypto/random/entropy.h"
#include "crypto/init.h"
#include "crypto/random/random.h"
#include "crypto/common/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// In the child: on a failed check print it and exit with the line number.
#define CHILD_CHECK(cond)                                                               \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::fflush(stderr);                                                        \
            _exit(__LINE__ % 250 + 1);                                                  \
        }                                                                               \
    } while (0)

// Runs scenario in a child process; returns its exit status (0 when every check held).
int run_in_child(void (*scenario)())
{
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        scenario();
        _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

void first_call_builds_everything()
{
    CHILD_CHECK(CRYPTO_getInitCount() == 0);
    CHILD_CHECK(CRYPTO_base64DecodeTable() == nullptr);
    CHILD_CHECK(g_randomContext == nullptr);
    g_debugConsoleState = {true, 5};
    const uint32_t mask = debug_console_mask;

    CHILD_CHECK(CRYPTO_initLibrary() == 1);
    CHILD_CHECK(CRYPTO_getInitCount() == 1);
    CHILD_CHECK(!g_debugConsoleState.stopping && g_debugConsoleState.client == -1);
    CHILD_CHECK(debug_console_mask == mask);
    CHILD_CHECK(g_randomContext != nullptr);
    CHILD_CHECK(g_randomContext->kind == RANDOM_KIND_CTR_DRBG);
    // The 256 device bits went into the pool and, by a reseed, into the generator.
    CHILD_CHECK(g_randomContext->entropyBitCount == 0);
    CHILD_CHECK(g_randomContext->drbg.reseedCounter == 1);
    CHILD_CHECK(g_entropyPool.initialised && g_entropyPool.stirred);
    CHILD_CHECK(g_entropyPool.bitPos == 256);
    const uint8_t *t = CRYPTO_base64DecodeTable(); // the decoding itself: keys_test, keys_oracle_test
    CHILD_CHECK(t != nullptr && t['A'] == 1 && t['/'] == 64 && t['='] == 0 && t['-'] == 0);
}

void second_call_changes_nothing()
{
    CHILD_CHECK(CRYPTO_initLibrary() == 1);
    const EntropyPool pool = g_entropyPool;
    RandomContext *ctx = g_randomContext;
    const RandomContext ctx_copy = *ctx;
    const uint8_t *table = CRYPTO_base64DecodeTable();
    std::vector<uint8_t> table_copy(table, table + 256);
    g_debugConsoleState = {true, 9};

    for (int call = 2; call <= 4; ++call) {
        CHILD_CHECK(CRYPTO_initLibrary() == 0);
        CHILD_CHECK(CRYPTO_getInitCount() == static_cast<uint32_t>(call));
    }
    CHILD_CHECK(std::memcmp(&pool, &g_entropyPool, sizeof pool) == 0);
    CHILD_CHECK(g_randomContext == ctx);
    CHILD_CHECK(std::memcmp(&ctx_copy, ctx, sizeof ctx_copy) == 0);
    CHILD_CHECK(CRYPTO_base64DecodeTable() == table);
    CHILD_CHECK(std::memcmp(table_copy.data(), table, 256) == 0);
    CHILD_CHECK(g_debugConsoleState.stopping && g_debugConsoleState.client == 9);
}

void missing_device_fails_once()
{
    RANDOM_setDevicePathForTest("/nonexistent/urandom");
    CHILD_CHECK(CRYPTO_initLibrary() == ERR_RANDOM_DEVICE_OPEN);
    CHILD_CHECK(g_randomContext != nullptr); // created before the device was opened
    CHILD_CHECK(g_randomContext->entropyBitCount == 0);
    CHILD_CHECK(CRYPTO_base64DecodeTable() != nullptr);
    RANDOM_setDevicePathForTest(nullptr); // even with the device back, no retry
    CHILD_CHECK(CRYPTO_initLibrary() == 0);
    CHILD_CHECK(g_randomContext->entropyBitCount == 0);
}

TEST(CryptoInitLibrary, Scenarios)
{
    const struct {
        const char *name;
        void (*scenario)();
    } scenarios[] = {
        {"first call builds everything", first_call_builds_everything},
        {"second call changes nothing", second_call_changes_nothing},
        {"missing /dev/urandom fails once", missing_device_fails_once},
    };
    for (const auto &s : scenarios)
        EXPECT_EQ(run_in_child(s.scenario), 0) << s.name << " (exit status = failed check line % 250 + 1)";
    EXPECT_EQ(CRYPTO_getInitCount(), 0u) << "scenarios must leave the test process uninitialised";
}

int g_drawFd = -1;

// The first 32 bytes g_randomContext gives after the initialisation, written to g_drawFd.
void draw_first_bytes()
{
    uint8_t out[32];
    CHILD_CHECK(CRYPTO_initLibrary() == 1 && RANDOM_generate(g_randomContext, out, sizeof out) == OK);
    CHILD_CHECK(write(g_drawFd, out, sizeof out) == ssize_t(sizeof out));
}

// Seeded from the device before its first use, the generator differs between processes.
TEST(CryptoInitLibrary, TwoProcessesDrawDifferentBytes)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    g_drawFd = fds[1];
    EXPECT_EQ(0, run_in_child(draw_first_bytes));
    EXPECT_EQ(0, run_in_child(draw_first_bytes));
    close(fds[1]);
    uint8_t draws[64];
    ASSERT_EQ(ssize_t(sizeof draws), read(fds[0], draws, sizeof draws));
    close(fds[0]);
    EXPECT_NE(0, std::memcmp(draws, draws + 32, 32));
}

} // namespace
