// USB file install: numbering the stick's files, reading the choice, installing the file.
#include "rescue/usb_install.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "image/install.h"
#include "rescue/console.h"
#include "rescue/line_editor.h"

namespace {

constexpr char USB_DIR[] = "/mnt/usb";
constexpr size_t LINE_SIZE = 128;

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// The next entry that is not a folder (a symbolic link is not followed, so a link to a
// folder counts as a file), or nullptr at the end.
const dirent *next_file(DIR *dir)
{
    while (const dirent *entry = readdir(dir)) {
        struct stat info;
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode))
            continue;
        return entry;
    }
    return nullptr;
}

// The number at the start of the line (blanks skipped, the rest ignored), as %d reads it;
// numbers beyond int are taken as past the last file. False when the line has no number.
bool parse_choice(const char *line, int *choice)
{
    char *end = nullptr;
    long value = std::strtol(line, &end, 10);
    if (end == line)
        return false;
    *choice = static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
    return true;
}

// Reads lines until one starts with q/Q (0 returned) or with a number (that number).
// The end of console input without a number counts as q.
int read_choice()
{
    char line[LINE_SIZE];
    for (;;) {
        console_edit_line(line, sizeof line);
        if (line[0] == 'q' || line[0] == 'Q')
            return 0;
        int choice = 0;
        if (parse_choice(line, &choice))
            return choice;
        if (console_input_ended())
            return 0;
        std::printf("Invalid file number %s. Try again pleas\n", line);
    }
}

} // namespace

int usb_file_install()
{
    // Entries are examined relative to the open folder, so the working directory is not
    // needed there; it is /tmp from here on, as every way out leaves it.
    if (chdir("/tmp") != 0)
        std::perror("chdir /tmp");
    int choice = 0;
    {
        DirPtr dir(opendir(USB_DIR));
        if (!dir) {
            std::puts("Unable to open USB directory. Quitting");
            return 0;
        }
        int number = 0;
        while (const dirent *entry = next_file(dir.get())) {
            std::printf("\t%d: ", ++number);
            image_print_file_name(entry->d_name);
            std::putchar('\n');
        }
        std::printf("Choose file number to install (q to quit): ");
        std::fflush(stdout);
        choice = read_choice();
    }
    if (choice <= 0)
        return 0;

    char path[sizeof USB_DIR + NAME_MAX + 1];
    {
        DirPtr dir(opendir(USB_DIR));
        if (!dir) {
            std::puts("Unable to re-open USB directory. Quitting");
            return 0;
        }
        const dirent *entry = next_file(dir.get());
        for (int number = 1; entry && number < choice; ++number)
            entry = next_file(dir.get());
        if (!entry)
            return 0;
        std::printf("Installing ");
        image_print_file_name(entry->d_name);
        std::putchar('\n');
        std::snprintf(path, sizeof path, "%s%c%s", USB_DIR, '/', entry->d_name);
    }
    return image_install_package(path, 0, 0);
}
