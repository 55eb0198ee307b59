// Start-up order, slot choice and the reboot at the end of a run without a started image.
#include "boot/startup.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "board/i2c.h"
#include "board/mtd.h"
#include "boot/boot_options.h"
#include "boot/boot_state.h"
#include "boot/image_boot.h"
#include "boot/trial_boot.h"
#include "boot/usb_boot.h"
#include "image/slot_file.h"
#include "rescue/rescue_menu.h"

namespace {

constexpr int USB_SLOT = 3;
constexpr int USB_BOOT_IMAGE_OFFERED = 3; // usb_apply_replacements: boot the stick's image

int other_slot(int slot)
{
    return slot == 1 ? 2 : 1;
}

// Steps 9 to 11 of the sequence: the stick gets the first say. Returns the slot that a
// replacement image filled (1 or 2), or 0 when the choice is left to the boot slot byte.
int try_usb_stick()
{
    g_boot.usb_present = board_get_usb_status() == BOARD_USB_PRESENT ? 1 : 0;
    if (g_boot.usb_present && usb_wait_for_mount() < 0)
        g_boot.usb_present = 0;
    if (!g_boot.usb_present)
        return 0;

    usb_install_boot_image();
    int result = usb_apply_replacements();
    if (result == USB_BOOT_IMAGE_OFFERED) {
        std::printf("Booting image '%s' from USB stick.\n", "LMW3190_OS.img");
        boot_image_slot(USB_SLOT);
        std::puts("USB Boot failed. Trying flash images.");
        result = 0;
    }
    return result;
}

} // namespace

void on_sigint(int)
{
    g_boot.interrupted = 1;
}

void install_sigint_handler()
{
    struct sigaction action = {};
    action.sa_handler = on_sigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked console read must return
    sigaction(SIGINT, &action, nullptr);
}

int choose_boot_slot()
{
    return board_get_boot_slot() == 2 ? 2 : 1;
}

int run_shell_command(const char *command)
{
    std::fflush(stdout);
    std::fflush(stderr);
    return std::system(command);
}

bool shell_command_succeeded(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void reboot_board()
{
    // From here on the console cannot stop the reboot: Ctrl-C (and Ctrl-\) no longer cut
    // the sleep short, and the shell that system() starts inherits SIG_IGN for both, so a
    // press cannot kill "reboot" half-way either.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    sleep(1);
    // A reboot that goes ahead takes this process down before system() returns. A status
    // that comes back all the same and is not a clean exit 0 (the shell could not be
    // started, was killed, could not run the command, or reboot reported an error) means
    // the board is not going down.
    if (shell_command_succeeded(run_shell_command("reboot")))
        std::exit(0);
    std::fputs("System reboot failed, please power-cycle.\n", stderr);
    std::exit(0);
}

void boot_main()
{
    install_sigint_handler();
    // The find below sends its output to the relative path dev/null; it is the null device
    // only from the root directory, so start there whatever directory we were started in.
    if (chdir("/") != 0)
        std::perror("chdir /");
    i2c_open_buses();
    mtd_init();
    read_boot_options();
    run_shell_command("/bin/mount -o sync -t jffs2 /dev/mtd-user /user");
    run_shell_command("/usr/bin/find /user > dev/null");
    slot_file_remove_leftovers();

    if (g_boot.rescue_requested)
        rescue_menu();
    if (g_boot.diags_requested)
        erase_user_filesystem();

    int usb_result = try_usb_stick();
    int first = (usb_result == 1 || usb_result == 2) ? usb_result : choose_boot_slot();
    first = trial_boot_choose_slot(first);
    std::printf("Booting image '%d'\n", first);
    boot_image_slot(first);

    int second = other_slot(first);
    std::printf("Booting image '%d'\n", second);
    g_boot.fallback_attempt = 1;
    boot_image_slot(second);

    reboot_board();
}
