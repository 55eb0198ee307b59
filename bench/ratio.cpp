// Shared main of the bench binaries: runs the benchmarks with the console reporter and
// then prints one "ratio" line per registered pair.
#include "bench/ratio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#ifndef BENCH_RATIO_SUFFIX
#define BENCH_RATIO_SUFFIX ""
#endif

namespace {

struct RatioPair {
    std::string name, ours, anchor;
};

struct Note {
    std::string name;
    double value;
    std::string unit;
};

std::vector<Note> &notes()
{
    static std::vector<Note> list;
    return list;
}

std::vector<RatioPair> &ratio_pairs()
{
    static std::vector<RatioPair> pairs;
    return pairs;
}

class RateReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;

    // Plain text: the ratio lines are read by scripts.
    RateReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            double rate = 0;
            if (auto it = run.counters.find("bytes_per_second"); it != run.counters.end())
                rate = it->second.value;
            else if (auto it2 = run.counters.find("items_per_second"); it2 != run.counters.end())
                rate = it2->second.value;
            else if (run.GetAdjustedRealTime() > 0)
                rate = 1.0 / run.GetAdjustedRealTime();
            // Keep the best of repeated runs: the machine is shared and noise only slows.
            // Pairs name a benchmark as written (function and arguments), whatever the
            // repetition or time settings of the run.
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            if (rate > rates[name])
                rates[name] = rate;
        }
    }
};

} // namespace

void bench_ratio(const char *name, const char *ours, const char *anchor)
{
    ratio_pairs().push_back({name, ours, anchor});
}

void bench_note(const char *name, double value, const char *unit)
{
    notes().push_back({name, value, unit});
}

namespace {

long status_kib(const char *field)
{
    std::ifstream status("/proc/self/status");
    const std::string key = std::string(field) + ":";
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, key.size(), key) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

} // namespace

double bench_peak_rss_growth_mib(const std::function<bool()> &step)
{
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
        if (!clear.flush())
            return -1;
    }
    long before = status_kib("VmRSS");
    if (!step())
        return -1;
    long peak = status_kib("VmHWM");
    return before < 0 || peak < 0 ? -1 : (peak - before) / 1024.0;
}

int main(int argc, char **argv)
{
    // Repetitions of the benchmarks of a binary run in random order, so that a stretch of
    // load from the machine's other users does not fall on one side of a pair only.
    std::vector<char *> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    argc = static_cast<int>(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const RatioPair &pair : ratio_pairs()) {
        auto ours = reporter.rates.find(pair.ours);
        auto anchor = reporter.rates.find(pair.anchor);
        if (ours == reporter.rates.end() || anchor == reporter.rates.end() || anchor->second <= 0) {
            std::printf("ratio %s%s unmeasured\n", pair.name.c_str(), BENCH_RATIO_SUFFIX);
            continue;
        }
        std::printf("ratio %s%s %.3f\n", pair.name.c_str(), BENCH_RATIO_SUFFIX, ours->second / anchor->second);
    }
    for (const Note &note : notes())
        std::printf("note %s%s %.1f %s\n", note.name.c_str(), BENCH_RATIO_SUFFIX, note.value, note.unit.c_str());
    return 0;
}

std::string bench_temp_dir(const char *name)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/" + name + ".XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}
