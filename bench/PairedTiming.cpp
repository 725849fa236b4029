#include "PairedTiming.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

namespace {

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double Time(const std::function<void()>& run, double (*clock)()) {
    const double start = clock();
    run();
    return clock() - start;
}

}  // namespace

double ThreadCpuSeconds() { return Seconds(CLOCK_THREAD_CPUTIME_ID); }

double WallSeconds() { return Seconds(CLOCK_MONOTONIC); }

PairedResult RunPairs(int pairs, const std::function<void()>& baseline,
                      const std::function<void()>& core, double (*clock)()) {
    PairedResult result;
    for (int pair = 0; pair < pairs; ++pair) {
        double baselineTime;
        double coreTime;
        if (pair % 2 == 0) {
            baselineTime = Time(baseline, clock);
            coreTime = Time(core, clock);
        } else {
            coreTime = Time(core, clock);
            baselineTime = Time(baseline, clock);
        }
        result.baselineSeconds.push_back(baselineTime);
        result.coreSeconds.push_back(coreTime);
        result.ratios.push_back(coreTime > 0 ? baselineTime / coreTime : 0);
    }
    return result;
}

Spread SpreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    spread.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    spread.low = values.front();
    spread.high = values.back();
    return spread;
}

std::string FormatRatio(const Spread& ratio) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2fx (%.2f-%.2f)", ratio.median, ratio.low, ratio.high);
    return text;
}
