// The USB stick at start-up: the wait for its filesystem, its boot package, the slot
// replacements, the rejected list of images booted straight from it, and the timed yes/no
// question.
#include "boot/usb_boot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "boot/boot_state.h"
#include "boot/image_boot.h"
#include "boot/startup.h"
#include "image/install.h"

namespace {

constexpr int USB_MOUNT_CHECKS = 10;
constexpr int ANSWER_TIMEOUT_MS = 5000;
constexpr char USB_READY_MARKER[] = "/tmp/usb";
constexpr char USB_BOOT_PACKAGE[] = "/mnt/usb/LMW3190_Boot.img";
constexpr char FINGERPRINT_FILE[] = "/tmp/img_md5string";
constexpr char REJECTED_DIR[] = "/user/images/rejected";

bool exists(const char *path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

// A file of the stick counts only when it is a regular file: reading a FIFO, a device or
// a link to one would hold the power-on for ever (md5sum of /dev/zero never ends).
bool on_stick(const char *path)
{
    struct stat info;
    if (lstat(path, &info) != 0)
        return false;
    if (S_ISREG(info.st_mode))
        return true;
    std::printf("%s is not a regular file: ignored\n", path);
    return false;
}

// md5sum output starts with the digest; only 32 lower-case hexadecimal digits pass, since the
// fingerprint becomes part of a path and a shell command line.
bool is_fingerprint(const char *text)
{
    for (int i = 0; i < 32; ++i)
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')))
            return false;
    return true;
}

void rejected_entry(const char *fingerprint, char *path, size_t size)
{
    std::snprintf(path, size, "%s/%s", REJECTED_DIR, fingerprint);
}

struct Replacement {
    const char *name; // file name on the stick
    int slot;
};

// One replacement image: returns -1 when the operator declined a rejected image (nothing
// more is looked at), else the slot it filled or 0.
int apply_replacement(const Replacement &r)
{
    char path[64];
    std::snprintf(path, sizeof path, "/mnt/usb/%s", r.name);
    if (!on_stick(path))
        return 0;
    std::printf("USB image (file '%s') replacement for image%d found\n", r.name, r.slot);
    if (is_image_rejected(path)) {
        if (!ask_yes_no("Replacement USB image is in rejected list.\nWould you still like to load it? "))
            return -1;
        std::puts("Continuing with replacement USB image...");
    }
    if (!image_install_package(path, 1, r.slot))
        return 0;
    std::printf("Image%d has been successfully replaced\n", r.slot);
    return r.slot;
}

} // namespace

int image_fingerprint(const char *path, char *text)
{
    char command[512];
    if (std::snprintf(command, sizeof command, "/bin/busybox md5sum %s > %s", path, FINGERPRINT_FILE) >=
        int(sizeof command))
        return 0;
    run_shell_command(command);
    FILE *file = std::fopen(FINGERPRINT_FILE, "r");
    if (!file)
        return 0;
    char digest[32];
    bool ok = std::fread(digest, 1, sizeof digest, file) == sizeof digest && is_fingerprint(digest);
    std::fclose(file);
    if (!ok)
        return 0;
    std::memcpy(text, digest, sizeof digest);
    text[32] = '\0';
    return 1;
}

void reject_image(const char *path)
{
    char fingerprint[33];
    if (!image_fingerprint(path, fingerprint)) {
        std::puts("Warning: Cannot add image to rejected list!");
        return;
    }
    char entry[80];
    rejected_entry(fingerprint, entry, sizeof entry);
    if (exists(entry))
        return;
    run_shell_command("mkdir -p /user/images/rejected");
    char command[96];
    std::snprintf(command, sizeof command, "touch %s", entry);
    run_shell_command(command);
}

int is_image_rejected(const char *path)
{
    char fingerprint[33];
    if (!image_fingerprint(path, fingerprint)) {
        std::puts("Warning: Cannot determine if image is in rejected list!");
        return 0;
    }
    char entry[80];
    rejected_entry(fingerprint, entry, sizeof entry);
    return exists(entry) ? 1 : 0;
}

int ask_yes_no(const char *prompt)
{
    std::printf("%s", prompt);
    for (;;) {
        std::printf("(y/n) ");
        std::fflush(stdout);
        struct pollfd input = {STDIN_FILENO, POLLIN, 0};
        // A wait cut short by Ctrl-C counts as no answer.
        if (poll(&input, 1, ANSWER_TIMEOUT_MS) <= 0) {
            std::puts("\nTimeout. Assuming \"no\".");
            return 0;
        }
        char key = 0;
        ssize_t got = read(STDIN_FILENO, &key, 1);
        // End of input is no answer that could ever come: take it as no rather than asking
        // again without end. An interrupted read asks again.
        if (got == 0 || (got < 0 && errno != EINTR))
            return 0;
        if (got == 1 && key == 'y')
            return 1;
        if (got == 1 && key == 'n')
            return 0;
    }
}

int usb_wait_for_mount()
{
    if (!g_boot.usb_present)
        return 0;
    std::printf("Attempting to mount file system on USB flash drive; this can take up to %d seconds.\n",
                USB_MOUNT_CHECKS);
    std::fflush(stdout);
    sleep(1);
    for (int check = 0; check < USB_MOUNT_CHECKS; ++check) {
        if (exists(USB_READY_MARKER)) {
            std::puts("USB mounted and ready!");
            return 0;
        }
        std::printf(".");
        std::fflush(stdout);
        sleep(1);
    }
    std::puts("USB mount timed out");
    return -1;
}

void usb_install_boot_image()
{
    if (!on_stick(USB_BOOT_PACKAGE)) {
        std::puts("No boot image found on USB.");
        return;
    }
    std::puts("Boot image found on USB.");
    // Nobody may be at the console: the slot question of an application in the package
    // must not hold the power-on.
    if (image_install_package(USB_BOOT_PACKAGE, 1, 0, INSTALL_UNATTENDED_ANSWER_S))
        reboot_board();
}

int usb_apply_replacements()
{
    // Slot 2 first, so that with both replaced slot 1 is the one named and booted.
    static constexpr Replacement REPLACEMENTS[] = {{"LMW3190_replace2_OS.img", 2},
                                                   {"LMW3190_replace1_OS.img", 1}};
    int result = 0;
    for (const Replacement &r : REPLACEMENTS) {
        int replaced = apply_replacement(r);
        if (replaced < 0)
            return 0;
        if (replaced > 0)
            result = replaced;
    }
    if (result != 0) {
        std::printf("USB replacement image: board will boot with image%d.\n", result == 1 ? 1 : 2);
        return result;
    }
    if (on_stick(USB_IMAGE_PATH))
        return 3;
    std::puts("No valid image found on USB");
    return 0;
}
