#pragma once
// The median of a benchmark's rounds: robust against the odd round that the shared machine slows.

#include <algorithm>
#include <vector>

namespace lumoradex::bench {

inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace lumoradex::bench
