// Comparisons between our code and an anchor implementation measured in the same run.
// A bench binary registers pairs of benchmark names; after all benchmarks have run, the
// shared main prints "ratio NAME VALUE" per pair, VALUE = our rate / the anchor's rate
// (bytes or items per second, else 1 / time), so above 1 means ours is faster.
#pragma once

#include <functional>
#include <string>

void bench_ratio(const char *name, const char *ours, const char *anchor);

// A figure printed after the ratios as "note NAME VALUE UNIT" (NAME with the build's suffix).
void bench_note(const char *name, double value, const char *unit);

// Resets the process's peak resident size to the current one (clear_refs 5), runs `step`
// once and returns the growth of the peak in MiB; negative when the step fails or the
// growth cannot be measured.
double bench_peak_rss_growth_mib(const std::function<bool()> &step);

// Makes a fresh folder NAME.XXXXXX for a benchmark's files: in $TMPDIR when it is set, else
// in /dev/shm, a RAM file system like the board's /tmp, else in /tmp. Empty on failure.
std::string bench_temp_dir(const char *name);

// Registers a ratio at static-initialisation time: BENCH_RATIO(crc32_vs_zlib, "A", "B");
#define BENCH_RATIO(name, ours, anchor) \
    static const bool bench_ratio_##name = (bench_ratio(#name, ours, anchor), true)
