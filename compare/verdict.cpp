#include "verdict.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace ranks {

namespace {

// P(U <= u) by the normal approximation with a continuity correction.
long double normalTail(std::size_t m, std::size_t n, long double u)
{
    const long double mean = static_cast<long double>(m) * static_cast<long double>(n) / 2;
    const long double sd = std::sqrt(static_cast<long double>(m) * static_cast<long double>(n) *
                                     static_cast<long double>(m + n + 1) / 12);
    return 0.5L * std::erfc(-(u + 0.5L - mean) / (sd * std::sqrt(2.0L)));
}

// The exact distribution, kept for the sample sizes seen: a history asks
// for the same sizes many times.
const std::vector<long double>& exactDistribution(std::size_t m, std::size_t n)
{
    static std::map<std::pair<std::size_t, std::size_t>, std::vector<long double>> known;
    if (m > n)
        std::swap(m, n);
    auto at = known.find({m, n});
    if (at != known.end())
        return at->second;
    const std::size_t top = m * n;
    // The number of arrangements with U = u is the coefficient of q^u in the
    // Gaussian binomial [m+n choose m] = prod_{i=1..m} (1 - q^(n+i)) / (1 - q^i).
    // Each factor is applied as a multiplication and an exact division, in
    // arithmetic modulo 2^128: the intermediate coefficients may be negative,
    // the final ones are exact since they fit (C(120, 60) < 2^127).
    __extension__ typedef unsigned __int128 Count;
    std::vector<Count> counts(top + 1, 0);
    counts[0] = 1;
    std::size_t degree = 0;
    for (std::size_t i = 1; i <= m; ++i) {
        const std::size_t up = n + i;
        degree += n;
        for (std::size_t u = degree; u >= up; --u)
            counts[u] -= counts[u - up];
        for (std::size_t u = i; u <= degree; ++u)
            counts[u] += counts[u - i];
    }
    long double total = 0;
    for (const Count count : counts)
        total += static_cast<long double>(count);
    std::vector<long double> probability(top + 1);
    for (std::size_t u = 0; u <= top; ++u)
        probability[u] = static_cast<long double>(counts[u]) / total;
    return known.emplace(std::pair{m, n}, std::move(probability)).first->second;
}

} // namespace

std::vector<long double> mannWhitneyDistribution(std::size_t m, std::size_t n)
{
    if (m + n <= kExactLimit)
        return exactDistribution(m, n);
    std::vector<long double> probability(m * n + 1);
    for (std::size_t u = 0; u < probability.size(); ++u)
        probability[u] = normalTail(m, n, static_cast<long double>(u)) - normalTail(m, n, static_cast<long double>(u) - 1);
    return probability;
}

long double lowerTail(std::size_t m, std::size_t n, std::size_t u)
{
    if (m + n > kExactLimit)
        return normalTail(m, n, static_cast<long double>(u));
    const std::vector<long double>& probability = exactDistribution(m, n);
    long double below = 0;
    for (std::size_t k = 0; k <= u && k < probability.size(); ++k)
        below += probability[k];
    return below;
}

std::optional<std::size_t> criticalValue(std::size_t m, std::size_t n, double alpha)
{
    if (m == 0 || n == 0)
        return std::nullopt;
    // A hair of slack for rounding, so that a level met exactly counts.
    const long double limit = static_cast<long double>(alpha) / 2 * (1 + 1e-12L);
    if (lowerTail(m, n, 0) > limit)
        return std::nullopt;
    if (m + n > kExactLimit) {
        // The tail grows with u: the last u within the limit, by bisection.
        std::size_t low = 0, high = m * n / 2 + 1; // lowerTail(low) <= limit < lowerTail(high)
        while (high - low > 1) {
            const std::size_t middle = low + (high - low) / 2;
            (lowerTail(m, n, middle) <= limit ? low : high) = middle;
        }
        return low;
    }
    const std::vector<long double>& probability = exactDistribution(m, n);
    std::size_t critical = 0;
    long double below = probability[0];
    while (critical + 1 < probability.size() && below + probability[critical + 1] <= limit)
        below += probability[++critical];
    return critical;
}

std::size_t fewestRunsToDecide(double alpha)
{
    std::size_t runs = 1;
    while (!criticalValue(runs, runs, alpha))
        ++runs;
    return runs;
}

} // namespace ranks

namespace {

std::vector<double> logTimes(const std::vector<double>& seconds)
{
    std::vector<double> logs;
    logs.reserve(seconds.size());
    for (const double s : seconds)
        logs.push_back(std::log(std::max(s, 0.0005)));
    return logs;
}


// About how many runs per machine would shrink the interval's half-width
// from `halfWidth` to `room`, as it shrinks with the square root of the runs.
std::optional<std::size_t> runsFor(double halfWidth, double room, std::size_t runsNow)
{
    constexpr double kMostRuns = 50; // beyond, the guess is worth nothing
    if (!(room > 0) || !(halfWidth > 0))
        return std::nullopt;
    const double runs = std::ceil(static_cast<double>(runsNow) * (halfWidth / room) * (halfWidth / room));
    if (!(runs <= kMostRuns))
        return std::nullopt;
    return std::max(static_cast<std::size_t>(runs), runsNow + 1);
}

} // namespace

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

RatioEstimate compareTimes(const std::vector<double>& base, const std::vector<double>& other,
                           const VerdictSettings& settings)
{
    RatioEstimate result;
    result.baseRuns = base.size();
    result.otherRuns = other.size();
    if (base.empty() || other.empty())
        return result;
    const std::vector<double> x = logTimes(base), y = logTimes(other);
    std::vector<double> differences;
    differences.reserve(x.size() * y.size());
    for (const double a : x)
        for (const double b : y)
            differences.push_back(b - a);
    std::sort(differences.begin(), differences.end());
    const double shift = medianOf(differences);
    result.estimate = std::exp(shift);

    const double alpha = 1 - settings.level;
    const std::optional<std::size_t> critical = ranks::criticalValue(x.size(), y.size(), alpha);
    const std::size_t runsNow = (x.size() + y.size() + 1) / 2;
    if (!critical) {
        result.doubt = Doubt::tooFewRuns;
        result.runsNeeded = ranks::fewestRunsToDecide(alpha);
        return result;
    }
    result.confidence = static_cast<double>(1 - 2 * ranks::lowerTail(x.size(), y.size(), *critical));
    const double lowLog = differences[*critical];
    const double highLog = differences[differences.size() - 1 - *critical];
    result.low = std::exp(lowLog);
    result.high = std::exp(highLog);

    const double up = 1 + settings.threshold, down = 1 - settings.threshold;
    if (lowLog > 0 && result.estimate > up)
        result.verdict = Verdict::slower;
    else if (highLog < 0 && result.estimate < down)
        result.verdict = Verdict::faster;
    else if (*result.low >= down && *result.high <= up)
        result.verdict = Verdict::same;
    else {
        result.doubt = lowLog > 0 || highLog < 0 ? Doubt::smallDifference : Doubt::tooMuchSpread;
        const double halfWidth = (highLog - lowLog) / 2;
        // Beyond the threshold, a narrower interval would leave out 1; within
        // it, a narrower one would fit inside the threshold.
        const double room = result.estimate > up || result.estimate < down
                                ? std::abs(shift)
                                : std::min(std::log(up) - shift, shift - std::log(down));
        result.runsNeeded = runsFor(halfWidth, room, runsNow);
    }
    return result;
}

const char* verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::faster:
        return "faster";
    case Verdict::slower:
        return "slower";
    case Verdict::same:
        return "same";
    case Verdict::undecided:
        break;
    }
    return "undecided";
}

std::string doubtText(const RatioEstimate& estimate, const VerdictSettings& settings)
{
    std::string text;
    switch (estimate.doubt) {
    case Doubt::none:
        return "";
    case Doubt::tooFewRuns:
        text = "too few runs (" + std::to_string(estimate.baseRuns) + " and " + std::to_string(estimate.otherRuns) +
               "; a decision at " + std::to_string(static_cast<int>(std::lround(settings.level * 100))) +
               "% needs " + std::to_string(estimate.runsNeeded.value_or(0)) + " runs per machine or more)";
        return text;
    case Doubt::tooMuchSpread:
        text = "too much spread";
        break;
    case Doubt::smallDifference:
        text = "a difference close to the threshold";
        break;
    case Doubt::flawedRuns:
        return "no run complete with exact values";
    }
    if (estimate.runsNeeded)
        text += " (about " + std::to_string(*estimate.runsNeeded) + " runs per machine would decide)";
    return text;
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
