// Slot files written whole or not at all: temporary file, sync, rename.
#include "image/slot_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

#include "platform/device_io.h"

namespace {

constexpr char IMAGES_DIR[] = "/user/images";
constexpr int SLOTS[] = {1, 2};

void name_files(SlotFileWriter &writer, const char *path)
{
    std::snprintf(writer.path, sizeof writer.path, "%s", path);
    std::snprintf(writer.temp_path, sizeof writer.temp_path, "%s.new", writer.path);
}

void name_files(SlotFileWriter &writer, int slot)
{
    char path[sizeof writer.path];
    std::snprintf(path, sizeof path, "%s/image%d", IMAGES_DIR, slot);
    writer.slot = slot;
    name_files(writer, path);
}

int open_temp(SlotFileWriter &writer)
{
    const DeviceIo &io = device_io();
    io.file_mkdir(IMAGES_DIR, 0755); // fails harmlessly when it exists
    writer.fd = io.file_open(writer.temp_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return writer.fd < 0 ? errno : 0;
}

int write_whole(SlotFileWriter &writer, const uint8_t *data, size_t length)
{
    int error = open_temp(writer);
    if (error == 0)
        error = slot_file_append(writer, data, length);
    return error != 0 ? error : slot_file_commit(writer);
}

} // namespace

SlotFileWriter::~SlotFileWriter()
{
    if (fd >= 0)
        slot_file_abort(*this);
}

int slot_file_begin(SlotFileWriter &writer, int slot)
{
    name_files(writer, slot);
    return open_temp(writer);
}

int slot_file_append(SlotFileWriter &writer, const uint8_t *data, size_t length)
{
    const DeviceIo &io = device_io();
    while (length > 0) {
        ssize_t n = io.file_write(writer.fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

int slot_file_commit(SlotFileWriter &writer)
{
    const DeviceIo &io = device_io();
    int error = io.file_sync(writer.fd) != 0 ? errno : 0;
    if (error != 0) {
        slot_file_abort(writer);
        return error;
    }
    int fd = writer.fd;
    writer.fd = -1;
    if (io.file_close(fd) != 0 || io.file_rename(writer.temp_path, writer.path) != 0) {
        error = errno;
        io.file_unlink(writer.temp_path);
        return error;
    }
    return 0;
}

void slot_file_abort(SlotFileWriter &writer)
{
    const DeviceIo &io = device_io();
    if (writer.fd >= 0)
        io.file_close(writer.fd);
    writer.fd = -1;
    io.file_unlink(writer.temp_path);
}

int slot_file_write(int slot, const uint8_t *data, size_t length)
{
    SlotFileWriter writer;
    name_files(writer, slot);
    return write_whole(writer, data, length);
}

int images_file_replace(const char *path, const uint8_t *data, size_t length)
{
    SlotFileWriter writer;
    name_files(writer, path);
    return write_whole(writer, data, length);
}

void slot_file_remove_leftovers()
{
    // The rename is the last step of a slot write: a temporary file that is still there was
    // never made the slot file, whether the cut came before its last byte or just before
    // the rename, and the slot file beside it is the complete old image.
    for (int slot : SLOTS) {
        SlotFileWriter writer;
        name_files(writer, slot);
        if (device_io().file_unlink(writer.temp_path) == 0)
            std::printf("Removed %s, left by an interrupted image install\n", writer.temp_path);
    }
}
