// One power-on of a simulated board (see power_on.h). Three processes of the simulator take
// part: bootsim itself, which waits and restores the terminal; a helper that enters the new
// namespaces and sets up the mounts; and the board's init (board_init.cpp). All three ignore
// SIGINT so that Ctrl-C on the console reaches only the boot manager, as on the board's
// serial console.
#include "sim/power_on.h"

#include "platform/sim/sim_board.h"
#include "sim/board_conf.h"
#include "sim/board_init.h"
#include "sim/fsutil.h"
#include "sim/sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sstream>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t USB_STATUS_OFFSET = 0x13B;
constexpr uint8_t USB_PRESENT = 213;

volatile sig_atomic_t g_helper_pid = 0;
volatile sig_atomic_t g_timed_out = 0;
volatile sig_atomic_t g_switched_off = 0;
volatile sig_atomic_t g_stop_board = 0;

// Asks the helper to power the board off (SIGTERM); it returns once the board is gone.
void on_stop_board(int)
{
    g_stop_board = 1;
}

// The time limit (SIGALRM) or the power switch (SIGTERM to bootsim) cuts the power.
void on_cut_power(int signal_number)
{
    if (signal_number == SIGALRM)
        g_timed_out = 1;
    else
        g_switched_off = 1;
    if (g_helper_pid > 0)
        kill(g_helper_pid, SIGTERM);
}

struct PowerOnPlan {
    std::string board;    // absolute board directory on the host
    std::string root;     // board + "/root"
    std::string terminal; // host device bound at /dev/ttyS0 and /dev/console
    bool usb_present = false;
    int usb_delay_ms = USB_DELAY_DEFAULT_MS;
};

[[noreturn]] void fail(const char *what, const std::string &path)
{
    fprintf(stderr, "bootsim: %s %s: %s\n", what, path.c_str(), strerror(errno));
    _exit(1);
}

void write_proc(const char *path, const std::string &text)
{
    if (write_file(path, text) != 0)
        fail("cannot write", path);
}

// Makes this process root of a new user namespace mapped onto the caller's ids, so an
// ordinary user can mount and chroot inside.
void enter_user_namespace()
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER) != 0)
        fail("cannot make a user namespace", "(unshare)");
    write_proc("/proc/self/setgroups", "deny");
    write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n");
    write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
}

void bind(const std::string &source, const std::string &target)
{
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        fail("cannot bind", source + " at " + target);
}

void set_up_mounts(const std::string &board, const std::string &root, const std::string &terminal)
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail("cannot make the mounts private:", "/");
    if (mount("tmpfs", (root + "/tmp").c_str(), "tmpfs", MS_NOSUID, "mode=1777") != 0)
        fail("cannot mount a tmpfs on", root + "/tmp");
    bind(board, root + "/board");
    for (const char *device : {"null", "zero", "urandom", "tty"})
        bind(std::string("/dev/") + device, root + "/dev/" + device);
    bind(terminal, root + "/dev/ttyS0");
    bind(terminal, root + "/dev/console");
}

// Enters the namespaces, sets up the mounts and waits for init. The board dies with bootsim:
// this helper with its parent, init with this helper, and every board process with init.
[[noreturn]] void run_namespace_helper(const PowerOnPlan &plan, pid_t bootsim)
{
    board_enter_namespaces(plan.board, plan.terminal, CLONE_NEWPID);
    // Set after the unshare, which clears it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != bootsim)
        _exit(1);
    struct sigaction stop {};
    stop.sa_handler = on_stop_board; // no SA_RESTART: waitpid() must return
    sigaction(SIGTERM, &stop, nullptr);
    pid_t init = fork();
    if (init < 0)
        fail("cannot start", "init");
    if (init == 0)
        board_init_run(plan.root, plan.usb_present ? plan.usb_delay_ms : -1);
    // init is reaped only after every process of its namespace is gone.
    int status = 0;
    while (waitpid(init, &status, 0) < 0 && errno == EINTR) {
        if (g_stop_board)
            kill(init, SIGKILL);
    }
    // reboot(2) inside the namespace (reboot -f) ends init with SIGHUP.
    std::string poweroff = plan.board + BOARD_POWEROFF_FILE;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP && !path_exists(poweroff)) {
        write_file(poweroff, "reboot\n");
        append_file(plan.board + "/events.log", "reboot\nbootsim.power-off reboot\n");
        _exit(0);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

int count_power_ons(const std::string &events_path)
{
    std::string text;
    if (read_file(events_path, text) != 0)
        return 0;
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        if (line.rfind("bootsim.power-on ", 0) == 0)
            ++count;
    return count;
}

PowerOnResult parse_reason(const std::string &text)
{
    PowerOnResult result;
    std::istringstream words(text);
    std::string word;
    words >> word;
    if (word == "application")
        result.how = PowerOff::Application;
    else if (word == "reboot")
        result.how = PowerOff::Reboot;
    else if (word == "exited" && (words >> result.detail))
        result.how = PowerOff::Exited;
    else if (word == "killed" && (words >> result.detail))
        result.how = PowerOff::Killed;
    return result;
}

// The terminal may be left raw, at another speed or owned by a process group that no longer
// exists (an interactive shell on the console takes the foreground); give it back as it was.
struct TerminalKeeper {
    bool saved = false;
    bool foreground = false;
    termios attributes{};
    TerminalKeeper()
    {
        saved = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &attributes) == 0;
        foreground = saved && tcgetpgrp(STDIN_FILENO) == getpgrp();
    }
    TerminalKeeper(const TerminalKeeper &) = delete;
    TerminalKeeper &operator=(const TerminalKeeper &) = delete;
    ~TerminalKeeper()
    {
        if (!saved)
            return;
        signal(SIGTTOU, SIG_IGN);
        if (foreground)
            tcsetpgrp(STDIN_FILENO, getpgrp());
        tcsetattr(STDIN_FILENO, TCSANOW, &attributes);
        signal(SIGTTOU, SIG_DFL);
    }
};

} // namespace

void board_enter_namespaces(const std::string &board, const std::string &terminal, int flags)
{
    if (geteuid() != 0)
        enter_user_namespace();
    if (unshare(CLONE_NEWNS | flags) != 0)
        fail("cannot make the board's namespaces", "(unshare)");
    set_up_mounts(board, board + "/root", terminal);
}

std::string board_terminal()
{
    if (isatty(STDIN_FILENO) && ttyname(STDIN_FILENO))
        return ttyname(STDIN_FILENO);
    return "/dev/null";
}

std::string power_off_text(const PowerOnResult &result)
{
    switch (result.how) {
    case PowerOff::Application:
        return "application";
    case PowerOff::Reboot:
        return "reboot";
    case PowerOff::Exited:
        return "exited " + std::to_string(result.detail);
    case PowerOff::Killed:
        return "killed " + std::to_string(result.detail);
    case PowerOff::TimedOut:
        return "timeout";
    case PowerOff::SwitchedOff:
        return "switched-off";
    case PowerOff::Failed:
        break;
    }
    return "failed";
}

PowerOnResult power_on(const std::string &board_dir, const PowerOnOptions &options)
{
    PowerOnResult failed;
    PowerOnPlan plan;
    plan.board = board_dir;
    plan.root = board_dir + "/root";
    if (!path_exists(board_dir + "/board.conf") || !is_directory(plan.root)) {
        fprintf(stderr, "bootsim: %s is not a board (make one with bootsim new)\n", board_dir.c_str());
        return failed;
    }
    // One power-on of a board at a time; the lock goes with the last process holding it.
    UniqueFd lock(open((board_dir + "/.poweron.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.fd < 0 || flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        fprintf(stderr, "bootsim: %s is powered on already\n", board_dir.c_str());
        return failed;
    }
    // A board made by an older bootsim (or by the device backend alone) gets its programs.
    if (!path_exists(plan.root + "/bin/busybox") && sandbox_build(board_dir) != 0)
        return failed;
    if (sandbox_refresh(board_dir, options.bootmgr) != 0)
        return failed;
    plan.terminal = board_terminal();
    uint8_t usb_status = 0;
    plan.usb_present = sim_eeprom_get(board_dir.c_str(), USB_STATUS_OFFSET, &usb_status) == 0 &&
                       usb_status == USB_PRESENT;
    plan.usb_delay_ms = board_usb_delay_ms(board_dir);
    if (plan.usb_present && make_dirs(board_dir + BOARD_USB_DIR) != 0) {
        fprintf(stderr, "bootsim: cannot make %s%s: %s\n", board_dir.c_str(), BOARD_USB_DIR, strerror(errno));
        return failed;
    }

    std::string poweroff = board_dir + BOARD_POWEROFF_FILE;
    std::string events = board_dir + "/events.log";
    unlink(poweroff.c_str());
    append_file(events, "bootsim.power-on " + std::to_string(count_power_ons(events) + 1) + "\n");

    TerminalKeeper terminal;
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    // The console has no job control: Ctrl-Z must not stop the board (and bootsim with it).
    signal(SIGTSTP, SIG_IGN);
    fflush(nullptr);
    pid_t bootsim = getpid();
    pid_t helper = fork();
    if (helper < 0) {
        perror("bootsim: fork");
        return failed;
    }
    if (helper == 0)
        run_namespace_helper(plan, bootsim);
    g_helper_pid = helper;
    struct sigaction cut {};
    cut.sa_handler = on_cut_power;
    sigaction(SIGALRM, &cut, nullptr);
    sigaction(SIGTERM, &cut, nullptr);
    if (options.timeout > 0)
        alarm(options.timeout);
    int status = 0;
    while (waitpid(helper, &status, 0) < 0 && errno == EINTR) {
    }
    alarm(0);
    g_helper_pid = 0;
    signal(SIGTERM, SIG_DFL);

    PowerOnResult result;
    if (g_timed_out || g_switched_off) {
        result.how = g_timed_out ? PowerOff::TimedOut : PowerOff::SwitchedOff;
        append_file(events, "bootsim.power-off " + power_off_text(result) + "\n");
        return result;
    }
    std::string reason;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || read_file(poweroff, reason) != 0)
        return failed;
    return parse_reason(reason);
}
