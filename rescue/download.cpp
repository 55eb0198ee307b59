// Serial download: the speed switch around the external XMODEM receiver.
#include "rescue/download.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "boot/startup.h"
#include "image/install.h"

namespace {

constexpr char SERIAL_PORT[] = "/dev/ttyS0";
constexpr char DOWNLOAD_PATH[] = "/tmp/image";
constexpr int MISSES_PER_REMINDER = 11; // one miss a second

termios g_saved_serial = {};

// True when the line can give no more bytes: hung up, closed or failing.
bool input_gone(int fd, ssize_t n, int error)
{
    if (n < 0)
        return error != EAGAIN && error != EINTR;
    // A read of 0 bytes is the end of input, unless the line merely had nothing to give
    // (non-canonical with VMIN 0): the poll tells which.
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Waits for the byte `awaited`, one look a second; any other byte is dropped. A reminder
// every 11 misses in a row.
void wait_for_key(int fd, uint8_t awaited, const char *reminder)
{
    int misses = 0;
    for (;;) {
        uint8_t byte = 0;
        ssize_t n = read(fd, &byte, 1);
        if (n == 1 && byte == awaited)
            return;
        if (n != 1 && input_gone(fd, n, errno))
            return;
        sleep(1);
        if (++misses == MISSES_PER_REMINDER) {
            std::puts(reminder);
            misses = 0;
        }
    }
}

// Lets what was printed go out and drops what was typed before the switch. Once tcdrain has
// returned a serial line holds no output, so only input is flushed: on a pseudo-terminal,
// whose tcdrain does not wait for the reader, flushing output too would drop the prompts.
void settle_line(int fd)
{
    std::fflush(stdout);
    tcdrain(fd);
    tcflush(fd, TCIFLUSH);
}

void apply_attributes(int fd, const termios &attributes)
{
    tcsetattr(fd, TCSADRAIN, &attributes);
    tcflow(fd, TCOON);
}

} // namespace

int serial_fast_mode()
{
    int fd = open(SERIAL_PORT, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror("Can't open serial port!");
        return -1;
    }
    std::puts("       Change the baud rate to 115200 bps and hit the <ENTER> key");
    std::puts("       before initiating the download.");
    settle_line(fd);
    tcgetattr(fd, &g_saved_serial);

    termios fast = g_saved_serial;
    cfsetispeed(&fast, B115200);
    cfsetospeed(&fast, B115200);
    fast.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE);
    fast.c_cflag |= CS8;
    fast.c_iflag = IGNBRK;
    fast.c_oflag = 0;
    fast.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG | ECHO | ECHOE);
    apply_attributes(fd, fast);

    wait_for_key(fd, '\r',
                 "\r\n    ... Waiting for the <Enter> key to be hit before the download can start...\r");
    return fd;
}

void serial_restore_mode(int fd)
{
    if (fd < 0)
        return;
    std::puts("       Change the baud rate back to 9600 bps, hit the <ENTER> key");
    settle_line(fd);
    apply_attributes(fd, g_saved_serial);
    wait_for_key(fd, '\n', "\r\n    ... Waiting for the <ENTER> key to be hit...\r");
}

int xmodem_rescue()
{
    std::puts("Running xmodem rescue.....");
    int fd = serial_fast_mode();
    // A transfer that rx did not finish (cancelled, timed out, line lost) leaves whatever
    // part of the file arrived: it is discarded, never installed.
    bool completed = shell_command_succeeded(run_shell_command("/usr/bin/rx /tmp/image"));
    struct stat info;
    bool received = stat(DOWNLOAD_PATH, &info) == 0;
    serial_restore_mode(fd);
    // Each download opens the port anew: this one's handle is not needed any more.
    if (fd >= 0)
        close(fd);
    if (!completed) {
        unlink(DOWNLOAD_PATH);
        std::puts("Download failed: the transfer did not complete. Nothing installed.");
        return 0;
    }
    if (!received)
        return 0;
    return image_install_package(DOWNLOAD_PATH, 0, 0);
}
