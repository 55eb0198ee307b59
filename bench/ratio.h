// Comparisons between our code and an anchor implementation measured in the same run.
// A bench binary registers pairs of benchmark names; after all benchmarks have run, the
// shared main prints "ratio NAME VALUE" per pair, VALUE = our rate / the anchor's rate
// (bytes or items per second, else 1 / time), so above 1 means ours is faster.
#pragma once

void bench_ratio(const char *name, const char *ours, const char *anchor);

// A figure printed after the ratios as "note NAME VALUE UNIT" (NAME with the build's suffix).
void bench_note(const char *name, double value, const char *unit);

// Registers a ratio at static-initialisation time: BENCH_RATIO(crc32_vs_zlib, "A", "B");
#define BENCH_RATIO(name, ours, anchor) \
    static const bool bench_ratio_##name = (bench_ratio(#name, ours, anchor), true)
