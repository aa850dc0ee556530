#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// The p-th percentile (0 to 100) of the samples, by the nearest rank; 0 when there are none.
template <typename T> double percentile(std::vector<T> samples, double p) {
    if (samples.empty())
        return 0;
    auto rank = static_cast<std::size_t>(std::ceil(p / 100 * static_cast<double>(samples.size())));
    auto nth = samples.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(rank, 1) - 1);
    std::nth_element(samples.begin(), nth, samples.end());
    return static_cast<double>(*nth);
}

// The middle value; the mean of the two middle ones for an even count.
inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// A count rounded to a whole number, with commas between thousands.
inline std::string thousands(double value) {
    std::string digits = std::to_string(static_cast<long long>(std::llround(value)));
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}
