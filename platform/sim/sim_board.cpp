// The board directory of the simulated board: its creation, selection and configuration,
// direct access to the EEPROM and partition files, and the fault hooks for tests.
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr SimPartitionConf default_partitions[SIM_PARTITION_COUNT] = {
    {"uboot", 0x80000, 0x20000},
    {"ubootenv", 0x20000, 0x20000},
    {"devicetree", 0x40000, 0x20000},
    {"kernel", 0x300000, 0x20000},
    {"rfs", 0xF00000, 0x20000},
    {"rescue", 0xA00000, 0x20000},
};

SimConfig default_config()
{
    SimConfig conf{};
    std::copy(std::begin(default_partitions), std::end(default_partitions), conf.mtd);
    conf.real_sleep = true;
    return conf;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { if (fd >= 0) ::close(fd); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

uint32_t parse_number(const char *text)
{
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0)) : 0;
}

// Applies one `key value...` line; unknown keys are left to other readers of the file.
void apply_config_line(SimConfig &conf, char *line)
{
    if (char *hash = std::strchr(line, '#'))
        *hash = '\0';
    const char *key = std::strtok(line, " \t\r\n");
    if (!key)
        return;
    const char *a = std::strtok(nullptr, " \t\r\n");
    const char *b = std::strtok(nullptr, " \t\r\n");
    const char *c = std::strtok(nullptr, " \t\r\n");
    if (std::strcmp(key, "mtd") == 0) {
        int index = a ? sim_partition_index(a) : -1;
        if (index >= 0) {
            conf.mtd[index].size = parse_number(b);
            conf.mtd[index].erase_size = parse_number(c);
        }
    } else if (std::strcmp(key, "nor_strict") == 0) {
        conf.nor_strict = parse_number(a) != 0;
    } else if (std::strcmp(key, "real_sleep") == 0) {
        conf.real_sleep = parse_number(a) != 0;
    } else if (std::strcmp(key, "absent") == 0 && a && b) {
        conf.absent.insert({static_cast<int>(parse_number(a)), parse_number(b)});
    } else if (std::strcmp(key, "fail_erase") == 0) {
        conf.fail_erase = parse_number(a);
    } else if (std::strcmp(key, "fail_read") == 0) {
        conf.fail_read = parse_number(a);
    } else if (std::strcmp(key, "fail_write") == 0) {
        conf.fail_write = parse_number(a);
    } else if (std::strcmp(key, "power_cut") == 0) {
        conf.power_cut = parse_number(a);
    }
}

int load_config(const std::string &dir, SimConfig &conf)
{
    conf = default_config();
    File f(std::fopen(sim_path(dir, "board.conf").c_str(), "r"));
    if (!f)
        return -1;
    char line[256];
    while (std::fgets(line, sizeof line, f.get()))
        apply_config_line(conf, line);
    return 0;
}

// Writes `count` copies of `value` to a new file.
int write_filled_file(const std::string &path, uint8_t value, size_t count)
{
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.fd < 0)
        return -1;
    std::vector<uint8_t> bytes(count, value);
    return ::write(fd.fd, bytes.data(), count) == static_cast<ssize_t>(count) ? 0 : -1;
}

int write_default_config(const std::string &dir)
{
    File f(std::fopen(sim_path(dir, "board.conf").c_str(), "w"));
    if (!f)
        return -1;
    std::fputs("# Simulated board; format in platform/sim/sim_board.h\n"
               "# mtd NAME SIZE ERASESIZE\n", f.get());
    for (const SimPartitionConf &p : default_partitions)
        std::fprintf(f.get(), "mtd %s 0x%X 0x%X\n", p.name, p.size, p.erase_size);
    std::fputs("# 1: a write over bits that are not erased fails instead of being counted\n"
               "nor_strict 0\n"
               "# 0: delays are only recorded\n"
               "real_sleep 1\n"
               "# Faults: the Nth operation fails (0: never); absent BUS ADDR\n"
               "fail_erase 0\nfail_read 0\nfail_write 0\npower_cut 0\n", f.get());
    return std::fflush(f.get()) == 0 ? 0 : -1;
}

std::string partition_file(const char *dir, const char *partition)
{
    return sim_path(dir, (std::string("mtd-") + partition + ".bin").c_str());
}

int copy_fd(int from, int to)
{
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(from, chunk, sizeof chunk);
        if (n == 0)
            return 0;
        if (n < 0 || ::write(to, chunk, static_cast<size_t>(n)) != n)
            return -1;
    }
}

int eeprom_access(const char *dir, uint32_t offset, uint8_t *value, bool write)
{
    if (offset >= SIM_EEPROM_SIZE)
        return -1;
    Fd fd(::open(sim_path(dir, "i2c-0.eeprom").c_str(), write ? O_RDWR : O_RDONLY));
    if (fd.fd < 0)
        return -1;
    ssize_t n = write ? ::pwrite(fd.fd, value, 1, offset) : ::pread(fd.fd, value, 1, offset);
    return n == 1 ? 0 : -1;
}

} // namespace

SimState &sim_state()
{
    static SimState state{std::string(), default_config()};
    return state;
}

int sim_partition_index(const char *name)
{
    for (int i = 0; i < SIM_PARTITION_COUNT; ++i)
        if (std::strcmp(default_partitions[i].name, name) == 0)
            return i;
    return -1;
}

std::string sim_path(const std::string &dir, const char *file)
{
    return dir + "/" + file;
}

int sim_board_create(const char *dir)
{
    if (::mkdir(dir, 0755) != 0 && errno != EEXIST)
        return -1;
    if (write_default_config(dir) != 0 ||
        write_filled_file(sim_path(dir, "i2c-0.eeprom"), 0xFF, SIM_EEPROM_SIZE) != 0 ||
        write_filled_file(sim_path(dir, "i2c-1.expander"), 0xFF, SIM_EXPANDER_SIZE) != 0)
        return -1;
    for (const SimPartitionConf &p : default_partitions)
        if (write_filled_file(partition_file(dir, p.name), 0xFF, 0) != 0)
            return -1;
    return 0;
}

int sim_board_use(const char *dir)
{
    SimState &s = sim_state();
    if (s.log_fd >= 0)
        ::close(s.log_fd);
    s.dir = dir;
    s.erase_count = s.read_count = s.write_count = s.flash_op_count = 0;
    s.nor_faults = 0;
    s.eeprom_pointer = 0;
    s.expander_pointer = 0;
    s.log_fd = ::open(sim_path(dir, "devices.log").c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return load_config(s.dir, s.conf);
}

const char *sim_board_dir()
{
    return sim_state().dir.c_str();
}

void sim_ensure_board()
{
    if (!sim_state().dir.empty())
        return;
    const char *env = std::getenv("BOOTSIM_BOARD");
    sim_board_use(env && *env ? env : "/board");
}

int sim_eeprom_get(const char *dir, uint32_t offset, uint8_t *value)
{
    return eeprom_access(dir, offset, value, false);
}

int sim_eeprom_set(const char *dir, uint32_t offset, uint8_t value)
{
    return eeprom_access(dir, offset, &value, true);
}

int sim_flash_write_file(const char *dir, const char *partition, const char *path)
{
    SimConfig conf;
    int index = sim_partition_index(partition);
    struct stat st;
    if (index < 0 || load_config(dir, conf) != 0 || ::stat(path, &st) != 0 ||
        static_cast<uint64_t>(st.st_size) > conf.mtd[index].size)
        return -1;
    Fd from(::open(path, O_RDONLY | O_CLOEXEC));
    Fd to(::open(partition_file(dir, partition).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (from.fd < 0 || to.fd < 0)
        return -1;
    return copy_fd(from.fd, to.fd);
}

int sim_flash_read_file(const char *dir, const char *partition, const char *path)
{
    SimConfig conf;
    int index = sim_partition_index(partition);
    if (index < 0 || load_config(dir, conf) != 0)
        return -1;
    Fd from(::open(partition_file(dir, partition).c_str(), O_RDONLY | O_CLOEXEC));
    Fd to(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (from.fd < 0 || to.fd < 0)
        return -1;
    std::vector<uint8_t> chunk(65536);
    for (uint64_t at = 0; at < conf.mtd[index].size; at += chunk.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), conf.mtd[index].size - at));
        if (!sim_read_erased_tail(from.fd, chunk.data(), n, at) ||
            ::write(to.fd, chunk.data(), n) != static_cast<ssize_t>(n))
            return -1;
    }
    return 0;
}

bool sim_read_erased_tail(int fd, uint8_t *buf, size_t count, uint64_t offset)
{
    std::memset(buf, 0xFF, count);
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd, buf + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0)
            return false;
        if (n == 0)
            break; // past the end of the file: erased flash
        got += static_cast<size_t>(n);
    }
    return true;
}

void sim_board_set_fault(SimFault fault, uint32_t nth)
{
    sim_ensure_board();
    SimState &s = sim_state();
    switch (fault) {
    case SimFault::EraseFails: s.conf.fail_erase = nth; s.erase_count = 0; break;
    case SimFault::ReadFails: s.conf.fail_read = nth; s.read_count = 0; break;
    case SimFault::WriteFails: s.conf.fail_write = nth; s.write_count = 0; break;
    case SimFault::PowerCut: s.conf.power_cut = nth; s.flash_op_count = 0; break;
    }
}

void sim_board_set_absent(int bus, unsigned address, bool absent)
{
    sim_ensure_board();
    if (absent)
        sim_state().conf.absent.insert({bus, address});
    else
        sim_state().conf.absent.erase({bus, address});
}

void sim_board_set_nor_strict(bool strict)
{
    sim_ensure_board();
    sim_state().conf.nor_strict = strict;
}

void sim_board_set_real_sleep(bool real)
{
    sim_ensure_board();
    sim_state().conf.real_sleep = real;
}

uint32_t sim_nor_fault_count()
{
    return sim_state().nor_faults;
}
