// What imgtool's commands share: whole-file reads and writes, the one-line error, and the
// walk over the components of a package, slot file or partition dump. The command
// dispatcher (imgtool.cpp) calls the commands declared here; each lives in its own file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/format.h"

using Bytes = std::vector<uint8_t>;

// The whole file at `path` into `out`; false (errno set) when it cannot be read.
bool imgtool_read_file(const char *path, Bytes *out);
// Writes `bytes` to `path`; false (errno set) when it cannot be written.
bool imgtool_write_file(const char *path, const uint8_t *bytes, size_t size);

// Prints "imgtool: " and the formatted text as one line on standard error; returns 1.
int imgtool_fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

// True when any argument asks for help.
bool imgtool_wants_help(int argc, char **argv);

// Lower-case hexadecimal of `size` bytes.
std::string imgtool_hex(const uint8_t *bytes, size_t size);

// While it lives, descriptor `fd` writes to `target` (its stdio stream flushed at both
// ends); used to catch or keep back what library code prints.
struct FdRedirect {
    FdRedirect(int fd, int target);
    ~FdRedirect();
    FdRedirect(const FdRedirect &) = delete;
    FdRedirect &operator=(const FdRedirect &) = delete;
    int fd;
    int saved;
};

struct Component {
    uint64_t offset;
    image_layout layout;
};

enum class WalkEnd { Complete, Trailing, Erased, Corrupt };

struct Walk {
    std::vector<Component> components;
    WalkEnd end = WalkEnd::Complete;
    uint64_t end_offset = 0;
    image_layout_status status = IMAGE_LAYOUT_OK;
};

// Walks components end to end; stops at fewer than 24 bytes, at erased flash (a partition
// dump ends in 0xFF bytes) or at the first component that fails the consistency check.
Walk imgtool_walk(const Bytes &data);

int imgtool_info(int argc, char **argv);    // imgtool_info.cpp
int imgtool_verify(int argc, char **argv);  // imgtool_verify.cpp
int imgtool_keyhash(int argc, char **argv); // imgtool_verify.cpp
int imgtool_digest(int argc, char **argv);  // imgtool_sign.cpp
int imgtool_attach(int argc, char **argv);  // imgtool_sign.cpp
