// Stand-ins for the rescue menu and the filesystem erase: they announce that the dialogue
// is not available and carry on as Exit would, so every boot path that passes through them
// still ends where it should.
#include "rescue/rescue_menu.h"

#include <cstdio>

#include "boot/image_boot.h"

int rescue_menu()
{
    std::puts("Rescue menu is not available yet.");
    return 1;
}

int erase_user_filesystem()
{
    std::puts("Filesystem erase is not available yet.");
    std::puts("Booting diags image...");
    boot_rescue_image();
    return 1;
}
