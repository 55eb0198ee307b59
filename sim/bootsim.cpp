// bootsim: the board simulator. It makes board directories, sets up their EEPROM, flash,
// boot loader environment and USB stick, and powers a board on: the simulator build of the
// boot manager runs inside the board's root file system with the caller's terminal as its
// serial console. Users run it by hand; the board tests drive it through tests/board.
#include "sim/board_exec.h"
#include "sim/fsutil.h"
#include "sim/power_on.h"
#include "sim/setup_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Exit statuses of bootsim run; the set-up commands use 0, 1 and 2 only.
constexpr int EXIT_APPLICATION = 0;
constexpr int EXIT_FAILURE_SIM = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_REBOOT = 3;
constexpr int EXIT_MANAGER_EXITED = 4;
constexpr int EXIT_MANAGER_KILLED = 5;
constexpr int EXIT_TIMED_OUT = 6;
constexpr int EXIT_SWITCHED_OFF = 7;

const char *const HELP = R"(usage: bootsim COMMAND DIR [ARGS...]

  new DIR                          make a board: DIR/board.conf, EEPROM and flash files,
                                   DIR/events.log and the root file system DIR/root
  run DIR [--timeout SECONDS]      power the board on once, with this terminal as its
                                   serial console and /dev/ttyS0
  eeprom DIR get OFFSET            print a byte of the parameter store (decimal)
  eeprom DIR set OFFSET VALUE      change a byte of the parameter store
  flash DIR PARTITION write FILE   put FILE at offset 0 of a flash partition (rest erased)
  flash DIR PARTITION read FILE    copy a whole flash partition to FILE
  env DIR set [NAME=VALUE...]      replace the boot loader environment with these entries
  env DIR show                     list the boot loader environment
  usb DIR insert FOLDER            plug in a stick holding the files of FOLDER (kept in
                                   DIR/usb; mounted on /mnt/usb usb_delay seconds into
                                   each power-on, when /tmp/usb appears)
  usb DIR remove                   pull the stick out
  conf DIR KEY [VALUE]             read or change a key of DIR/board.conf
  exec DIR COMMAND [ARGS...]       run one command on the board's root file system with
                                   its devices and /user, as the running application
                                   would (bootmgr is the boot manager of this build);
                                   exits with the command's status (128+N: signal N)

Numbers are decimal or 0x-hexadecimal. Partitions: uboot, ubootenv, devicetree, kernel,
rfs, rescue. The board's /user is DIR/root/user; slot 1 is DIR/root/user/images/image1.

Exit status of run:
  0  the application started (/bin/backtrace ran)
  3  the board rebooted (the reboot command ran)
  4  the boot manager ended on its own
  5  the boot manager was killed by a signal (a power cut)
  6  the time limit of --timeout ran out
  7  bootsim got SIGTERM, the board's power switch
  1  the simulator failed; 2  wrong usage
Other commands exit with 0, 1 (failure) or 2 (wrong usage).
The environment variable BOOTSIM_BOOTMGR names another boot manager binary to run.
)";

int usage()
{
    fputs(HELP, stderr);
    return EXIT_USAGE;
}

std::string boot_manager_path()
{
    const char *chosen = getenv("BOOTSIM_BOOTMGR");
    if (chosen && *chosen)
        return chosen;
    return executable_dir() + "/bootmgr-sim";
}

int command_run(const std::string &dir, const Args &args)
{
    PowerOnOptions options;
    options.bootmgr = boot_manager_path();
    if (args.size() == 2 && args[0] == "--timeout") {
        uint32_t seconds = 0;
        if (!parse_number(args[1], seconds))
            return usage();
        options.timeout = seconds;
    } else if (!args.empty()) {
        return usage();
    }
    PowerOnResult result = power_on(dir, options);
    std::string events = "(events: " + dir + "/events.log)";
    // The console may have stopped in the middle of a line.
    switch (result.how) {
    case PowerOff::Application:
        printf("\nbootsim: application started %s\n", events.c_str());
        return EXIT_APPLICATION;
    case PowerOff::Reboot:
        printf("\nbootsim: board rebooted %s\n", events.c_str());
        return EXIT_REBOOT;
    case PowerOff::Exited:
        printf("\nbootsim: boot manager exited with status %d %s\n", result.detail, events.c_str());
        return EXIT_MANAGER_EXITED;
    case PowerOff::Killed:
        printf("\nbootsim: boot manager killed by signal %d (power cut) %s\n", result.detail, events.c_str());
        return EXIT_MANAGER_KILLED;
    case PowerOff::TimedOut:
        printf("\nbootsim: power-on timed out %s\n", events.c_str());
        return EXIT_TIMED_OUT;
    case PowerOff::SwitchedOff:
        printf("\nbootsim: board switched off %s\n", events.c_str());
        return EXIT_SWITCHED_OFF;
    case PowerOff::Failed:
        break;
    }
    printf("\nbootsim: power-on failed %s\n", events.c_str());
    return EXIT_FAILURE_SIM;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(HELP, stdout);
        return 0;
    }
    if (argc < 3)
        return usage();
    std::string command = argv[1];
    std::string dir = absolute_path(argv[2]);
    Args args(argv + 3, argv + argc);
    if (command == "new")
        return args.empty() ? command_new(dir) : usage();
    if (command == "run")
        return command_run(dir, args);
    if (command == "eeprom")
        return command_eeprom(dir, args);
    if (command == "flash")
        return command_flash(dir, args);
    if (command == "env")
        return command_env(dir, args);
    if (command == "usb")
        return command_usb(dir, args);
    if (command == "conf")
        return command_conf(dir, args);
    if (command == "exec")
        return args.empty() ? usage() : board_exec(dir, boot_manager_path(), args);
    return usage();
}
