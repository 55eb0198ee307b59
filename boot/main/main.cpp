// Entry point of the boot manager. On the board it takes no arguments; boot_main runs the
// fixed start-up and boot sequence and never returns. "--version" only prints the version.
#include <cstdio>
#include <cstring>

#include "bm_version.h"
#include "boot/startup.h"

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return std::puts("bootmgr " BM_VERSION_TEXT) < 0;
    boot_main();
}
