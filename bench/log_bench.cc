// The cost of a log record: suppressed by the master switch (the engine's
// normal state, which must stay a handful of tests), and formatted for a sink
// that drops the line, against building the same text with snprintf.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "common/log_dispatcher.h"

namespace {

using namespace Core_Common;

class DroppingSink : public InterfaceLogCallback {
public:
    void on_line(std::int32_t, const std::string& line) override {
        benchmark::DoNotOptimize(line.data());
    }
};

void BM_SuppressedRecord(benchmark::State& state) {
    set_log_enabled(false);
    LogDispatcher::create();
    for (auto _ : state) {
        log_write(1, log_level_t::NORMAL, log_category_t::SOFT_UPDATE, "", 0,
                  std::string("Start Request Sync."));
    }
    LogDispatcher::destroy();
}
BENCHMARK(BM_SuppressedRecord);

// Baseline for the above: building the message argument alone.
void BM_MessageArgumentOnly(benchmark::State& state) {
    for (auto _ : state) {
        std::string message("Start Request Sync.");
        benchmark::DoNotOptimize(message.data());
    }
}
BENCHMARK(BM_MessageArgumentOnly);

void BM_FormattedRecord(benchmark::State& state) {
    DroppingSink sink;
    LogDispatcher::create();
    LogDispatcher::add_sink(&sink);
    set_log_enabled(true);
    for (auto _ : state) {
        log_write(1, log_level_t::NORMAL, log_category_t::SOFT_UPDATE, "", 0,
                  std::string("Start Request Sync."));
    }
    set_log_enabled(false);
    LogDispatcher::destroy();
}
BENCHMARK(BM_FormattedRecord);

// Baseline for the above: the same line built with one snprintf.
void BM_SnprintfLine(benchmark::State& state) {
    char line[128];
    for (auto _ : state) {
        int n = std::snprintf(line, sizeof line, "%d%02d:%02d:%02d.%06d%s%s\r\n", 0, 12, 34, 56,
                              789012, "[SOFT_UPDATE] ", "Start Request Sync.");
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_SnprintfLine);

}  // namespace

BENCHMARK_MAIN();
