// Entry point of the boot manager. It takes no arguments; boot_main runs the fixed
// start-up and boot sequence and never returns.
#include "boot/startup.h"

int main()
{
    boot_main();
}
