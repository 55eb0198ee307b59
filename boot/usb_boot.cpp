// Stand-ins for the USB stick boot: a stick is reported as not usable, so the boot goes
// on from flash.
#include "boot/usb_boot.h"

#include <cstdio>

#include "boot/boot_state.h"

int usb_wait_for_mount()
{
    if (!g_boot.usb_present)
        return 0;
    std::puts("USB stick boot is not available yet.");
    return -1;
}

void usb_install_boot_image()
{
    std::puts("USB boot package install is not available yet.");
}

int usb_apply_replacements()
{
    std::puts("USB replacement images are not available yet.");
    return 0;
}

int is_image_rejected(const char *)
{
    return 0;
}

void reject_image(const char *) {}

int ask_yes_no(const char *prompt)
{
    std::printf("%s(y/n) \nQuestions are not available yet. Assuming \"no\".\n", prompt);
    return 0;
}
