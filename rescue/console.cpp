// Raw single-key input and character echo on the serial console.
#include "rescue/console.h"

#include <cerrno>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

bool g_input_ended = false;

} // namespace

uint8_t console_get_key()
{
    // Attribute failures (standard input is not a terminal) leave the read as it is.
    termios saved = {};
    bool have_saved = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (have_saved) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO); // ISIG stays: Ctrl-C still interrupts
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    uint8_t key = 0;
    ssize_t n = read(STDIN_FILENO, &key, 1);
    if (n != 1)
        key = 0;
    // An interrupt is a key 0 like any other failed read, but more keys may follow it.
    g_input_ended = n == 0 || (n < 0 && errno != EINTR);
    if (have_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}

bool console_input_ended()
{
    return g_input_ended;
}

void console_put_char(uint8_t c)
{
    std::putchar(c);
    std::fflush(stdout);
}
