#include "robust.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double logTime(double seconds)
{
    return std::log(std::max(seconds, 0.0005));
}

std::vector<double> logTimes(const std::vector<double>& seconds)
{
    std::vector<double> logs;
    logs.reserve(seconds.size());
    for (const double s : seconds)
        logs.push_back(logTime(s));
    return logs;
}

std::vector<Outlier> outliers(const std::vector<double>& times)
{
    // Far off: beyond kOutlierFactor of the others' median, and more than
    // five of the others' spreads (median absolute deviation of the
    // log-times, scaled to a standard deviation) away from it.
    constexpr double kSpreads = 5;
    std::vector<Outlier> found;
    if (times.size() < 3)
        return found;
    const std::vector<double> logs = logTimes(times);
    for (std::size_t i = 0; i < logs.size(); ++i) {
        std::vector<double> others;
        for (std::size_t j = 0; j < logs.size(); ++j)
            if (j != i)
                others.push_back(logs[j]);
        const double centre = medianOf(others);
        std::vector<double> deviations;
        for (const double value : others)
            deviations.push_back(std::abs(value - centre));
        const double spread = 1.4826 * medianOf(deviations);
        const double off = logs[i] - centre;
        if (std::abs(off) > std::log(kOutlierFactor) && std::abs(off) > kSpreads * spread)
            found.push_back({i, std::exp(off)});
    }
    return found;
}

std::vector<double> pairwiseDifferences(const std::vector<double>& x, const std::vector<double>& y)
{
    std::vector<double> differences;
    differences.reserve(x.size() * y.size());
    for (const double a : x)
        for (const double b : y)
            differences.push_back(b - a);
    std::sort(differences.begin(), differences.end());
    return differences;
}

} // namespace cpubench
