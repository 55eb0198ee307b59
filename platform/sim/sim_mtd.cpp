// The NOR flash partitions of the simulated board. Geometry comes from board.conf; erase sets
// whole aligned blocks to 0xFF; a write can only clear bits, as on NOR flash. Fault injection:
// the Nth erase/read/write fails with EIO, and a power cut at the Nth flash operation kills
// the process before that operation touches the partition file.
#include "platform/sim/sim_state.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

SimEvent flash_event(SimOp op, const SimHandle &h, uint64_t offset, uint64_t length)
{
    SimEvent e{op, std::string("mtd-") + sim_state().conf.mtd[h.index].name};
    e.offset = static_cast<uint32_t>(offset);
    e.length = static_cast<uint32_t>(length);
    return e;
}

int fail(SimEvent &e, int error)
{
    e.error = error;
    sim_record(e);
    errno = error;
    return -1;
}

// Counts one flash operation for the power cut and one of its kind for the injected failure.
// Returns false when this operation is the one that fails.
bool count_operation(uint32_t &kind_count, uint32_t fail_at)
{
    sim_count_flash_operation();
    return !(fail_at != 0 && ++kind_count == fail_at);
}

// Fills [from, to) of a partition file with erased bytes.
bool fill_erased(int fd, uint64_t from, uint64_t to)
{
    std::vector<uint8_t> ff(static_cast<size_t>(std::min<uint64_t>(to - from, 65536)), 0xFF);
    for (uint64_t at = from; at < to; at += ff.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(ff.size(), to - at));
        if (::pwrite(fd, ff.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n))
            return false;
    }
    return true;
}

uint64_t file_size(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

int get_info(const SimHandle &h, mtd_info_user *info)
{
    const SimPartitionConf &p = sim_state().conf.mtd[h.index];
    SimEvent e = flash_event(SimOp::MtdInfo, h, 0, p.size);
    if (!info)
        return fail(e, EFAULT);
    std::memset(info, 0, sizeof *info);
    info->type = MTD_NORFLASH;
    info->flags = MTD_CAP_NORFLASH;
    info->size = p.size;
    info->erasesize = p.erase_size;
    info->writesize = 1;
    sim_record(e);
    return 0;
}

int erase(int fd, const SimHandle &h, const erase_info_user *req)
{
    SimState &s = sim_state();
    const SimPartitionConf &p = s.conf.mtd[h.index];
    if (!req) {
        SimEvent e = flash_event(SimOp::MtdErase, h, 0, 0);
        return fail(e, EFAULT);
    }
    SimEvent e = flash_event(SimOp::MtdErase, h, req->start, req->length);
    uint64_t end = uint64_t{req->start} + req->length;
    if (p.erase_size == 0 || req->length == 0 || req->start % p.erase_size != 0 ||
        req->length % p.erase_size != 0 || end > p.size)
        return fail(e, EINVAL);
    if (!count_operation(s.erase_count, s.conf.fail_erase))
        return fail(e, EIO);
    // Bytes past the end of the file already read as erased.
    uint64_t stored = std::min(end, file_size(fd));
    if (req->start < stored && !fill_erased(fd, req->start, stored))
        return fail(e, EIO);
    sim_record(e);
    return 0;
}

} // namespace

void sim_count_flash_operation()
{
    SimState &s = sim_state();
    ++s.flash_op_count;
    if (s.conf.power_cut != 0 && s.flash_op_count == s.conf.power_cut) {
        static const char line[] = "power-cut\n";
        if (s.log_fd >= 0 && ::write(s.log_fd, line, sizeof line - 1) < 0)
            s.log_fd = -1;
        std::raise(SIGKILL);
    }
}

int sim_mtd_ioctl(int fd, const SimHandle &h, unsigned long request, void *arg)
{
    if (request == MEMGETINFO)
        return get_info(h, static_cast<mtd_info_user *>(arg));
    if (request == MEMERASE)
        return erase(fd, h, static_cast<const erase_info_user *>(arg));
    errno = ENOTTY;
    return -1;
}

ssize_t sim_mtd_pread(int fd, const SimHandle &h, uint8_t *buf, size_t count, off_t offset)
{
    SimState &s = sim_state();
    const SimPartitionConf &p = s.conf.mtd[h.index];
    SimEvent e = flash_event(SimOp::MtdRead, h, static_cast<uint64_t>(offset), count);
    if (offset < 0)
        return fail(e, EINVAL);
    if (!count_operation(s.read_count, s.conf.fail_read))
        return fail(e, EIO);
    // As the MTD driver does: a read is cut at the end of the partition.
    uint64_t at = static_cast<uint64_t>(offset);
    size_t n = at >= p.size ? 0 : static_cast<size_t>(std::min<uint64_t>(count, p.size - at));
    if (!sim_read_erased_tail(fd, buf, n, at))
        return fail(e, EIO);
    sim_record(e);
    return static_cast<ssize_t>(n);
}

ssize_t sim_mtd_pwrite(int fd, const SimHandle &h, const uint8_t *buf, size_t count,
                       off_t offset)
{
    SimState &s = sim_state();
    const SimPartitionConf &p = s.conf.mtd[h.index];
    SimEvent e = flash_event(SimOp::MtdWrite, h, static_cast<uint64_t>(offset), count);
    if (offset < 0)
        return fail(e, EINVAL);
    uint64_t at = static_cast<uint64_t>(offset);
    if (count != 0 && at >= p.size)
        return fail(e, ENOSPC);
    if (!count_operation(s.write_count, s.conf.fail_write))
        return fail(e, EIO);
    size_t n = at >= p.size ? 0 : static_cast<size_t>(std::min<uint64_t>(count, p.size - at));
    std::vector<uint8_t> cells(n);
    if (!sim_read_erased_tail(fd, cells.data(), n, at))
        return fail(e, EIO);
    // NOR programming clears bits only; a bit that would have to go from 0 to 1 is a write
    // over flash that was not erased.
    for (size_t i = 0; i < n; ++i) {
        if ((cells[i] & buf[i]) != buf[i])
            e.nor_fault = true;
        cells[i] &= buf[i];
    }
    if (e.nor_fault) {
        ++s.nor_faults;
        if (s.conf.nor_strict)
            return fail(e, EIO);
    }
    uint64_t stored = file_size(fd);
    if (at > stored && !fill_erased(fd, stored, at))
        return fail(e, EIO);
    if (n != 0 && ::pwrite(fd, cells.data(), n, offset) != static_cast<ssize_t>(n))
        return fail(e, EIO);
    sim_record(e);
    return static_cast<ssize_t>(n);
}
