// Single-key input on a pseudo-terminal standing in for the serial console: the key
// arrives without Enter and without echo, the terminal mode is restored after every read,
// and an interrupt or the end of input gives the key 0.
#include "boot/boot_state.h"
#include "boot/startup.h"
#include "rescue/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Puts the slave side of a fresh pseudo-terminal on standard input (and optionally
// standard output) for the duration of a test.
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr));
        saved_in_ = dup(STDIN_FILENO);
        saved_out_ = dup(STDOUT_FILENO);
        ASSERT_GE(dup2(slave_, STDIN_FILENO), 0);
    }
    void TearDown() override
    {
        std::fflush(stdout);
        dup2(saved_in_, STDIN_FILENO);
        dup2(saved_out_, STDOUT_FILENO);
        close(saved_in_);
        close(saved_out_);
        close(slave_);
        if (master_ >= 0)
            close(master_);
    }
    void redirect_stdout()
    {
        std::fflush(stdout);
        ASSERT_GE(dup2(slave_, STDOUT_FILENO), 0);
    }
    void type(const std::string &keys) { ASSERT_EQ(ssize_t(keys.size()), write(master_, keys.data(), keys.size())); }
    // Reads one key while the operator types it a moment later, that is while the read
    // is already waiting in raw mode (the line discipline echoes at arrival time).
    uint8_t key_typed_during_read(char key)
    {
        std::thread typist([this, key] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            (void)!write(master_, &key, 1);
        });
        uint8_t got = console_get_key();
        typist.join();
        return got;
    }
    // What the terminal sent back to the operator's side within a short wait.
    std::string echoed()
    {
        std::string out;
        pollfd p = {master_, POLLIN, 0};
        char buf[64];
        while (poll(&p, 1, 100) > 0) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, size_t(n));
        }
        return out;
    }
    termios attributes()
    {
        termios t = {};
        EXPECT_EQ(0, tcgetattr(STDIN_FILENO, &t));
        return t;
    }
    int master_ = -1, slave_ = -1, saved_in_ = -1, saved_out_ = -1;
};

} // namespace

TEST_F(ConsoleTest, KeysArriveOneByOneWithoutEnterOrEcho)
{
    termios before = attributes();
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(before.c_lflag & ECHO);
    EXPECT_EQ('y', key_typed_during_read('y'));
    EXPECT_EQ('N', key_typed_during_read('N'));
    EXPECT_EQ(0xFF, key_typed_during_read('\xff'));
    EXPECT_EQ("", echoed());

    termios after = attributes();
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_cc[VMIN], after.c_cc[VMIN]);
    EXPECT_EQ(before.c_cc[VTIME], after.c_cc[VTIME]);
}

TEST_F(ConsoleTest, InterruptGivesKeyZeroAndRestoresTheTerminal)
{
    struct sigaction previous = {};
    sigaction(SIGINT, nullptr, &previous);
    boot_state_reset();
    install_sigint_handler();
    termios before = attributes();

    pthread_t reader = pthread_self();
    std::thread interrupter([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pthread_kill(reader, SIGINT);
    });
    uint8_t key = console_get_key();
    interrupter.join();

    EXPECT_EQ(0, key);
    EXPECT_EQ(1, g_boot.interrupted);
    EXPECT_FALSE(console_input_ended()); // more keys may come
    EXPECT_EQ(before.c_lflag, attributes().c_lflag);
    // The key typed after the interrupt is still there for the next read.
    type("x");
    EXPECT_EQ('x', console_get_key());

    sigaction(SIGINT, &previous, nullptr);
    boot_state_reset();
}

TEST_F(ConsoleTest, PutCharReachesTheTerminalAtOnce)
{
    redirect_stdout();
    console_put_char('A');
    console_put_char('\b');
    console_put_char(0xE9);
    // No newline and no flush by the caller: each byte must already be on the line.
    EXPECT_EQ(std::string("A\b\xE9"), echoed());
}
