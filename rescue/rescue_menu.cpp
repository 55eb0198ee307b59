// Rescue menu: the option prompt, the actions behind its keys, the versions report and the
// filesystem erase.
#include "rescue/rescue_menu.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "boot/boot_state.h"
#include "boot/image_boot.h"
#include "boot/startup.h"
#include "image/format.h"
#include "image/validate.h"
#include "rescue/console.h"
#include "rescue/download.h"
#include "rescue/usb_install.h"

namespace {

constexpr char OPTIONS[] = "XUVRDE"; // only X, R and E are listed

void print_menu()
{
    std::puts("Please select one of the following options:");
    std::printf("\t%c) Use xmodem 1K to serial download an image\n", 'X');
    std::printf("\t%c) Reboot\n", 'R');
    std::printf("\t%c) Exit\n", 'E');
}

// Prompts until a known option key comes; 0 when the console input has ended.
char read_selection()
{
    for (;;) {
        std::printf("\nOption? : ");
        std::fflush(stdout);
        uint8_t key = console_get_key();
        std::printf("%c\n", key);
        if (g_boot.interrupted) {
            g_boot.interrupted = 0;
            continue;
        }
        if (key == 0) {
            if (console_input_ended())
                return 0;
            continue;
        }
        char option = static_cast<char>(std::toupper(key));
        for (const char *p = OPTIONS; *p; ++p)
            if (*p == option)
                return option;
        std::printf("unknown option \"%c\". Please try again\n", option);
    }
}

struct VersionRow {
    const char *format;
    uint32_t type;
    int slot;
};

constexpr VersionRow VERSION_ROWS[] = {
    {"\tBoot image  : %d.%d.%d.%d\n", UBOOT, 0},
    {"\tRFS image   : %d.%d.%d.%d\n", RFS, 0},
    {"\tKernel image: %d.%d.%d.%d\n", KERNEL, 0},
    {"\tDFT image   : %d.%d.%d.%d\n", DFT, 0},
    {"\tOS image 1  : %d.%d.%d.%d\n", APPLICATION, 1},
    {"\tOS image 2  : %d.%d.%d.%d\n", APPLICATION, 2},
};

} // namespace

int rescue_menu()
{
    std::puts("Entering Rescue Mode.");
    for (;;) {
        print_menu();
        switch (read_selection()) {
        case 0:
            std::puts("No console input: leaving rescue mode.");
            return 1;
        case 'E':
            return 1;
        case 'R':
            sleep(1);
            reboot_board();
        case 'X':
            xmodem_rescue();
            break;
        case 'U':
            usb_file_install();
            break;
        case 'V':
            show_versions();
            break;
        case 'D':
            erase_user_filesystem();
            break;
        }
        // An interrupt during the action must not cut the next prompt short.
        g_boot.interrupted = 0;
    }
}

int show_versions()
{
    std::printf("Installed images versions: ");
    for (const VersionRow &row : VERSION_ROWS) {
        // A header that cannot be read stays zero: version 0.0.0.0.
        uint8_t header[IMAGE_BASIC_HEADER_SIZE];
        image_read_installed_header(row.type, header, row.slot);
        const uint8_t *id = header + 12;
        std::printf(row.format, id[0], id[1], id[2], id[3]);
    }
    return 0;
}

int erase_user_filesystem()
{
    std::printf("Confirm: Erase filesystem? (all saved data, configuration, keys will be lost) y/N: ");
    std::fflush(stdout);
    uint8_t key = console_get_key();
    std::putchar('\n');
    if (key != 0 && std::toupper(key) == 'Y') {
        std::puts("unmount filesystem");
        run_shell_command("/bin/umount /user &> /dev/null");
        std::puts("\nErasing filesystem for clean install");
        run_shell_command("flash_eraseall /dev/mtd-user-char");
        std::puts("Mounting...");
        run_shell_command("/bin/mount -o sync -t jffs2 /dev/mtd-user /user &> /dev/null");
        std::puts("creating default filesystem");
        run_shell_command("mkdir /user/images &> /dev/null");
    }
    std::puts("Booting diags image...");
    boot_rescue_image();
    return 1;
}
