// Summaries of a handful of run times that a run far off moves little: the
// median, log-times, and the runs far from the others.
#pragma once

#include <cstddef>
#include <vector>

namespace cpubench {

// The median: with an even count, the mean of the middle two.
double medianOf(std::vector<double> values);

// The log of a time in seconds; a time of 0, below the clock's millisecond,
// counts as half a millisecond.
double logTime(double seconds);
std::vector<double> logTimes(const std::vector<double>& seconds);

// A run far from its machine's others: its index and its time divided by the
// median of the others.
struct Outlier {
    std::size_t index;
    double factor;
};

// The runs whose time is more than kOutlierFactor off the median of the
// machine's other runs and far outside their spread; needs three runs or
// more.
inline constexpr double kOutlierFactor = 1.25;
std::vector<Outlier> outliers(const std::vector<double>& times);

// Every difference y - x of one value of each, sorted: what the
// Hodges-Lehmann shift and its rank interval are read from.
std::vector<double> pairwiseDifferences(const std::vector<double>& x, const std::vector<double>& y);

} // namespace cpubench
