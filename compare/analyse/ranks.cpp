#include "ranks.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace cpubench::ranks {

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

} // namespace cpubench::ranks
