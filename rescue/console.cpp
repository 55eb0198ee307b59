// Raw single-key input and character echo on the serial console.
#include "rescue/console.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

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
    if (read(STDIN_FILENO, &key, 1) != 1)
        key = 0;
    if (have_saved)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}

void console_put_char(uint8_t c)
{
    std::putchar(c);
    std::fflush(stdout);
}
