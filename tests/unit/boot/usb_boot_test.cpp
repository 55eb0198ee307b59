// The yes/no question of the USB boot as it reads standard input: only y and n answer, other
// bytes ask again, and the end of input is a no instead of a question asked without end.
#include "boot/usb_boot.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

struct Answer {
    int result;
    std::string shown;
};

// Asks with `typed` waiting on standard input, then the input closed.
Answer ask(const std::string &typed)
{
    int pipe_fds[2];
    EXPECT_EQ(0, pipe(pipe_fds));
    EXPECT_EQ(ssize_t(typed.size()), write(pipe_fds[1], typed.data(), typed.size()));
    close(pipe_fds[1]);
    int saved = dup(STDIN_FILENO);
    dup2(pipe_fds[0], STDIN_FILENO);
    close(pipe_fds[0]);
    StdoutCapture out;
    int result = ask_yes_no("Load it? ");
    std::string shown = out.take();
    dup2(saved, STDIN_FILENO);
    close(saved);
    return {result, shown};
}

} // namespace

TEST(AskYesNo, OnlyYAndNAnswerAndTheEndOfInputIsNo)
{
    struct Case {
        const char *typed;
        Answer expected;
    } cases[] = {
        {"Y\n", {0, "Load it? (y/n) (y/n) (y/n) "}}, // upper case is no answer; then the input ends
        {"", {0, "Load it? (y/n) "}},
    };
    for (const Case &c : cases) {
        Answer a = ask(c.typed);
        EXPECT_EQ(c.expected.result, a.result) << c.typed;
        EXPECT_EQ(c.expected.shown, a.shown) << c.typed;
    }
}
