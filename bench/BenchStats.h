#pragma once
// Figures shared by the benchmark programs.

#include <algorithm>
#include <vector>

// The value below which the fraction p (0..1) of the values lies; 0 for no values.
inline double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    return values[index];
}
