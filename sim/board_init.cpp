// The board's init: pid 1 of a power-on's process namespace (see board_init.h). It starts
// the boot manager and the USB hot-plug helper, reaps every process of the board, and ends
// the power-on when the boot manager's process ends or a reboot is requested, recording why.
#include "sim/board_init.h"

#include "sim/fsutil.h"
#include "sim/sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_reboot_requested = 0;

// busybox's reboot asks init for the reboot with SIGTERM, as on the board.
void on_reboot_request(int)
{
    g_reboot_requested = 1;
}

[[noreturn]] void fail(const char *what, const std::string &path)
{
    fprintf(stderr, "bootsim: %s %s: %s\n", what, path.c_str(), strerror(errno));
    _exit(1);
}

void log_event(const std::string &line)
{
    append_file("/board/events.log", line + "\n");
}

// Stands for the platform's hot-plug handling: after the board's usb_delay the stick (the
// board directory's usb folder) is mounted on /mnt/usb and reported ready by /tmp/usb.
// Until then /mnt/usb is an empty folder, as on the board.
[[noreturn]] void run_hotplug(int delay_ms)
{
    struct timespec delay = {delay_ms / 1000, (delay_ms % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
    std::string stick = std::string("/board") + BOARD_USB_DIR;
    if (mount(stick.c_str(), "/mnt/usb", nullptr, MS_BIND, nullptr) != 0) {
        fprintf(stderr, "bootsim: cannot mount the USB stick %s: %s\n", stick.c_str(), strerror(errno));
        _exit(1);
    }
    write_file("/tmp/usb", "");
    log_event("bootsim.usb-ready /tmp/usb");
    _exit(0);
}

std::string reason_of(int status)
{
    if (WIFSIGNALED(status))
        return "killed " + std::to_string(WTERMSIG(status));
    return "exited " + std::to_string(WEXITSTATUS(status));
}

// The board goes down at once: nothing else keeps running.
void kill_everything_else()
{
    kill(-1, SIGKILL);
}

} // namespace

void board_run_program(const char *const argv[])
{
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    const char *term = getenv("TERM");
    std::string term_value = term && *term ? term : "vt100";
    clearenv();
    setenv("PATH", "/sbin:/usr/sbin:/bin:/usr/bin", 1);
    setenv("HOME", "/", 1);
    setenv("TERM", term_value.c_str(), 1);
    setenv("BOOTSIM_BOARD", "/board", 1);
    execvp(argv[0], const_cast<char *const *>(argv));
    fprintf(stderr, "bootsim: cannot start %s: %s\n", argv[0], strerror(errno));
    _exit(127);
}

void board_init_run(const std::string &root, int usb_delay_ms)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    struct sigaction reboot_action {};
    reboot_action.sa_handler = on_reboot_request; // no SA_RESTART: wait() must return
    sigaction(SIGTERM, &reboot_action, nullptr);
    // Best effort: only the stand-ins' process listings use /proc.
    mount("proc", (root + "/proc").c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    if (chroot(root.c_str()) != 0)
        fail("cannot chroot into", root);
    // The boot manager starts in "/": it relies on the relative path dev/null.
    if (chdir("/") != 0)
        fail("cannot change to", "/");

    pid_t manager = fork();
    if (manager == 0) {
        const char *argv[] = {SANDBOX_BOOTMGR, nullptr};
        board_run_program(argv);
    }
    if (usb_delay_ms >= 0 && fork() == 0)
        run_hotplug(usb_delay_ms);

    std::string board_poweroff = std::string("/board") + BOARD_POWEROFF_FILE;
    int manager_status = 0;
    bool rebooting = false;
    for (;;) {
        int status = 0;
        pid_t pid = wait(&status);
        int wait_error = errno;
        // The handler has run by now even when wait() returned a child.
        if (g_reboot_requested && !rebooting) {
            rebooting = true;
            log_event("reboot");
            write_file(board_poweroff, "reboot\n");
            kill_everything_else();
        }
        if (pid < 0 && wait_error == EINTR)
            continue;
        if (pid < 0)
            break;
        if (pid == manager) {
            manager_status = status;
            kill_everything_else();
        }
    }
    std::string reason;
    if (read_file(board_poweroff, reason) != 0 || reason.empty()) {
        reason = manager < 0 ? "failed" : reason_of(manager_status);
        write_file(board_poweroff, reason);
    }
    while (!reason.empty() && reason.back() == '\n')
        reason.pop_back();
    log_event("bootsim.power-off " + reason);
    _exit(0);
}

