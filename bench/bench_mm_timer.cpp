// How late MMTimer ticks arrive at a 40 ms period (25 pictures a second), over 10 s.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/mm_timer.h"

namespace {

int64_t monotonicUs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

class TickRecorder : public MMTimerCallback {
public:
    int onTimer(int) override {
        ticksUs.push_back(monotonicUs());
        return 0;
    }
    std::vector<int64_t> ticksUs;
};

double percentile(std::vector<int64_t> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return double(values[size_t(fraction * double(values.size() - 1))]);
}

void BM_TimerLatenessAt40ms(benchmark::State& state) {
    constexpr int kPeriodMs = 40;
    constexpr int kSeconds = 10;
    std::vector<int64_t> latenessUs;
    for (auto _ : state) {
        TickRecorder recorder;
        recorder.ticksUs.reserve(kSeconds * 1000 / kPeriodMs + 8);
        MMTimer timer;
        const int64_t startUs = monotonicUs();
        timer.start(1, kPeriodMs, &recorder);
        while (monotonicUs() - startUs < kSeconds * 1000000LL)
            clock_nanosleep(CLOCK_MONOTONIC, 0, (const timespec[]){{0, 100000000}}, nullptr);
        timer.stop();
        // Tick n is due (n + 1) periods after start.
        for (size_t n = 0; n < recorder.ticksUs.size(); ++n)
            latenessUs.push_back(recorder.ticksUs[n] - startUs - int64_t(n + 1) * kPeriodMs * 1000);
        state.counters["ticks"] = double(recorder.ticksUs.size());
    }
    state.counters["median_late_us"] = percentile(latenessUs, 0.5);
    state.counters["p99_late_us"] = percentile(latenessUs, 0.99);
    state.counters["max_late_us"] = percentile(latenessUs, 1.0);
}
BENCHMARK(BM_TimerLatenessAt40ms)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
