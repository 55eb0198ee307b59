// Small file-system helpers for the simulator tool: whole-file reads and writes, copies that
// keep the executable bit, directory creation and removal, and number parsing. Used by the
// sandbox builder, the power-on runner and the board set-up commands of bootsim.
#pragma once

#include <cstdint>
#include <string>
#include <unistd.h>

// Owns one file descriptor and closes it when it goes out of scope.
struct UniqueFd {
    int fd = -1;
    explicit UniqueFd(int value) : fd(value) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Creates PATH and its missing parents with MODE. 0 or -1 (errno set).
int make_dirs(const std::string &path, unsigned mode = 0755);

// Removes PATH and everything below it; a missing PATH is not an error. Never follows
// symbolic links and never crosses into a mounted file system. 0 or -1.
int remove_tree(const std::string &path);
// Removes everything below directory PATH but keeps PATH itself. 0 or -1.
int empty_dir(const std::string &path);

// Copies the regular file FROM (following links) to TO, replacing TO, with MODE. 0 or -1.
int copy_file(const std::string &from, const std::string &to, unsigned mode);
// Copies the tree FROM into directory TO (files, directories and symbolic links). 0 or -1.
int copy_tree(const std::string &from, const std::string &to);

// Reads the whole file into TEXT. 0 or -1.
int read_file(const std::string &path, std::string &text);
// Replaces the file with TEXT (mode 0644 for a new file). 0 or -1.
int write_file(const std::string &path, const std::string &text);
// Appends TEXT to the file, creating it. 0 or -1.
int append_file(const std::string &path, const std::string &text);

// Replaces TO with a symbolic link holding TARGET. 0 or -1.
int make_symlink(const std::string &target, const std::string &to);

bool path_exists(const std::string &path);
bool is_directory(const std::string &path);

// Directory holding the running executable ("" when /proc/self/exe cannot be read).
std::string executable_dir();

// Parses a whole decimal or 0x-hexadecimal number. True on success.
bool parse_number(const std::string &text, uint32_t &value);
