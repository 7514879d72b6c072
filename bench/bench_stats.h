// Figures from repeated runs: min, median and max of a series, and ratios taken from
// alternating runs of two sides, so that a slow moment of the machine falls on both.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

struct Spread {
    double min = 0, median = 0, max = 0;
};

inline Spread SpreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    s.min = values.front();
    s.max = values.back();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return s;
}

inline void PrintSpread(const char* label, const Spread& s, const char* unit) {
    std::printf("%-34s min %9.3f  median %9.3f  max %9.3f %s\n", label, s.min, s.median, s.max, unit);
}

// Runs a, then b, `rounds` times over; each side returns its figure (a speed or a time).
// Prints both sides and the ratio a/b of each adjacent pair.
inline Spread Alternate(int rounds, const char* labelA, const std::function<double()>& a, const char* labelB,
                        const std::function<double()>& b, const char* unit, const char* ratioLabel) {
    std::vector<double> as, bs, ratios;
    for (int i = 0; i < rounds; ++i) {
        double x = a();
        double y = b();
        as.push_back(x);
        bs.push_back(y);
        ratios.push_back(y != 0 ? x / y : 0);
    }
    PrintSpread(labelA, SpreadOf(as), unit);
    PrintSpread(labelB, SpreadOf(bs), unit);
    Spread r = SpreadOf(ratios);
    std::printf("%-34s min %9.3f  median %9.3f  max %9.3f  (%d alternating runs each)\n", ratioLabel, r.min, r.median,
                r.max, rounds);
    return r;
}
