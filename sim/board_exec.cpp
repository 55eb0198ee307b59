// bootsim exec (see board_exec.h).
#include "sim/board_exec.h"

#include "sim/board_init.h"
#include "sim/fsutil.h"
#include "sim/power_on.h"
#include "sim/sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

int board_exec(const std::string &board_dir, const std::string &bootmgr,
               const std::vector<std::string> &command)
{
    std::string root = board_dir + "/root";
    if (command.empty() || !path_exists(board_dir + "/board.conf") || !is_directory(root)) {
        fprintf(stderr, "bootsim: %s is not a board (make one with bootsim new)\n", board_dir.c_str());
        return 1;
    }
    // Not while the board is powered on: its boot manager owns the devices then.
    UniqueFd lock(open((board_dir + "/.poweron.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.fd < 0 || flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        fprintf(stderr, "bootsim: %s is powered on\n", board_dir.c_str());
        return 1;
    }
    if (!path_exists(root + "/bin/busybox") && sandbox_build(board_dir) != 0)
        return 1;
    if (sandbox_refresh(board_dir, bootmgr) != 0)
        return 1;
    std::string line = "bootsim.exec";
    for (const std::string &word : command)
        line += " " + word;
    append_file(board_dir + "/events.log", line + "\n");

    std::string terminal = board_terminal();
    fflush(nullptr);
    pid_t bootsim = getpid();
    pid_t child = fork();
    if (child < 0) {
        perror("bootsim: fork");
        return 1;
    }
    if (child == 0) {
        board_enter_namespaces(board_dir, terminal, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != bootsim)
            _exit(1);
        if (chroot(root.c_str()) != 0 || chdir("/") != 0) {
            fprintf(stderr, "bootsim: cannot enter %s: %s\n", root.c_str(), strerror(errno));
            _exit(1);
        }
        std::vector<const char *> argv;
        for (const std::string &word : command)
            argv.push_back(word.c_str());
        argv.push_back(nullptr);
        board_run_program(argv.data());
    }
    // Ctrl-C is for the command, as on the board's console.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
