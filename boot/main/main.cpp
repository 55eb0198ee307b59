// Entry point of the boot manager. Started by the board's init it gets no arguments, and
// boot_main runs the fixed start-up and boot sequence and never returns. Run with a command
// word by the running application (or an operator), it does that one job and exits.
#include <cstdio>
#include <cstring>

#include "bm_version.h"
#include "boot/startup.h"
#include "boot/trial_boot.h"

namespace {

int version_command()
{
    return std::puts("bootmgr " BM_VERSION_TEXT) < 0;
}

struct Command {
    const char *word;
    int (*run)();
    const char *help;
};

constexpr Command COMMANDS[] = {
    {"confirm", trial_confirm_command, "mark the booted image good (ends its trial)"},
    {"status", trial_status_command, "show each slot's version and trial state"},
    {"--version", version_command, "print the version and source revision"},
};

int usage()
{
    std::fputs("usage: bootmgr COMMAND\n", stderr);
    for (const Command &command : COMMANDS)
        std::fprintf(stderr, "  %-10s %s\n", command.word, command.help);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        boot_main();
    for (const Command &command : COMMANDS)
        if (argc == 2 && std::strcmp(argv[1], command.word) == 0)
            return command.run();
    return usage();
}
