// Boot-option cases: the entries of an environment, in partition order, and the option fields
// they must produce.
#pragma once

#include "boot/boot_state.h"

#include <cstdint>
#include <string>
#include <vector>

struct BootOptionFields {
    int32_t gdb_mode = 0;
    int32_t gdbserver_mode = 0;
    int32_t gdb_port = 1234;
    uint8_t shell_mode = 0;
    uint8_t memchk_mode = 0;
    int32_t rescue_requested = 0;
    int32_t diags_requested = 0;

    bool operator==(const BootOptionFields &) const = default;
};

inline BootOptionFields current_boot_options()
{
    return {g_boot.gdb_mode,    g_boot.gdbserver_mode,   g_boot.gdb_port,
            g_boot.shell_mode,  g_boot.memchk_mode,      g_boot.rescue_requested,
            g_boot.diags_requested};
}

inline std::ostream &operator<<(std::ostream &os, const BootOptionFields &f)
{
    return os << "gdb=" << f.gdb_mode << " gdbserver=" << f.gdbserver_mode
              << " port=" << f.gdb_port << " shell=" << int{f.shell_mode}
              << " memchk=" << int{f.memchk_mode} << " rescue=" << f.rescue_requested
              << " diags=" << f.diags_requested;
}

struct BootOptionCase {
    const char *name;
    std::vector<std::string> entries;
    BootOptionFields expected;
};

inline BootOptionFields with(void (*set)(BootOptionFields &))
{
    BootOptionFields f;
    set(f);
    return f;
}

// One row per rule of the option table and per edge case; a typical environment around them.
inline const std::vector<BootOptionCase> &boot_option_cases()
{
    static const std::vector<BootOptionCase> cases = {
        {"no option", {"bootdelay=3", "baudrate=115200"}, {}},
        {"gdb one starts with on", {"gdb=one"}, with([](auto &f) { f.gdb_mode = 1; })},
        {"gdb ON is case-sensitive", {"gdb=ON"}, {}},
        {"gdb off", {"gdb=off"}, {}},
        {"gdb empty", {"gdb="}, {}},
        {"gdbserver on beats gdb off", {"gdb=off", "gdbserver=on"},
         with([](auto &f) { f.gdb_mode = 1; f.gdbserver_mode = 1; })},
        {"gdbserver off leaves gdb on", {"gdb=on", "gdbserver=off"},
         with([](auto &f) { f.gdb_mode = 1; })},
        {"first occurrence wins (off first)", {"gdb=off", "gdb=on"}, {}},
        {"key at the end of a longer name", {"xgdb=on", "gdb=off"},
         with([](auto &f) { f.gdb_mode = 1; })},
        {"key inside another value", {"bootargs=console=ttyS0 gdb=on", "gdb=off"},
         with([](auto &f) { f.gdb_mode = 1; })},
        {"gdbport without number", {"gdbport=", "shell=off"}, {}},
        {"gdbport digits then text", {"gdbport=12ab"}, with([](auto &f) { f.gdb_port = 12; })},
        {"gdbport leading blanks", {"gdbport=  77"}, with([](auto &f) { f.gdb_port = 77; })},
        {"gdbport negative", {"gdbport=-5"}, with([](auto &f) { f.gdb_port = -5; })},
        {"gdbport largest int32", {"gdbport=2147483647"},
         with([](auto &f) { f.gdb_port = 2147483647; })},
        {"gdbport beyond int32", {"gdbport=2147483648"}, {}},
        {"gdbport below int32", {"gdbport=-2147483649"}, {}},
        {"gdbport empty value takes the next entry's blank-skipped digits",
         {"gdbport=", "1x=y"}, with([](auto &f) { f.gdb_port = 1; })},
        {"diagnostics diags", {"diagnostics=diags"},
         with([](auto &f) { f.diags_requested = 1; })},
        {"diagnostics diagsX", {"diagnostics=diagsX"},
         with([](auto &f) { f.diags_requested = 1; })},
        {"diagnostics Rescue sets neither", {"diagnostics=Rescue"}, {}},
        {"diagnostics first occurrence only", {"diagnostics=rescue", "diagnostics=diags"},
         with([](auto &f) { f.rescue_requested = 1; })},
        {"all together",
         {"bootcmd=run flash_self", "gdbserver=on", "gdbport=4000", "shell=on", "memchk=on",
          "diagnostics=diags"},
         with([](auto &f) {
             f.gdb_mode = 1; f.gdbserver_mode = 1; f.gdb_port = 4000; f.shell_mode = 1;
             f.memchk_mode = 1; f.diags_requested = 1;
         })},
    };
    return cases;
}

// Entries that fill the environment so that the next entry starts at partition byte `at`
// (the 4-byte checksum comes first). Each filler entry is "fN=xxxx...".
inline std::vector<std::string> filler_up_to(size_t at)
{
    std::vector<std::string> entries;
    size_t pos = 4;
    while (pos < at) {
        size_t left = at - pos; // bytes the fillers still have to cover, NULs included
        size_t size = left > 200 ? 200 : left;
        if (left - size != 0 && left - size < 5)
            size -= 5; // leave room for one more minimal entry
        std::string e = "f";
        e += std::to_string(entries.size());
        e += '=';
        e.resize(size - 1, 'x');
        entries.push_back(e);
        pos += size;
    }
    return entries;
}
