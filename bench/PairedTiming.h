#pragma once

#include <functional>
#include <string>
#include <vector>

// Timing two coders honestly on a shared, noisy machine: each pair runs both back to back (the
// order alternating from pair to pair), and the ratio is taken within the pair, so a neighbour
// that slows the machine for a while slows both sides of the pairs it falls on.
struct PairedResult {
    std::vector<double> baselineSeconds;  // per pair
    std::vector<double> coreSeconds;
    std::vector<double> ratios;  // baseline time / core time, per pair: above 1, the core is faster
};

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();
// Time since an arbitrary start, in seconds.
double WallSeconds();

// Runs pairs pairs of (baseline, core); clock measures each run (ThreadCpuSeconds or WallSeconds).
PairedResult RunPairs(int pairs, const std::function<void()>& baseline,
                      const std::function<void()>& core, double (*clock)());

struct Spread {
    double median = 0;
    double low = 0;   // the smallest value
    double high = 0;  // the largest value
};
Spread SpreadOf(std::vector<double> values);

// "1.93x (1.85-2.01)": the median ratio and the range over the pairs.
std::string FormatRatio(const Spread& ratio);
