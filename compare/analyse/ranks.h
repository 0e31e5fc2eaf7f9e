// The exact Mann-Whitney distribution of two samples from one continuous
// distribution, its tails and two-sided critical values: the rank test that
// the comparison's intervals and verdicts rest on.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace cpubench::ranks {

// P(U = u) for u = 0 .. m*n, where U counts the pairs (x, y) with x from a
// sample of m and y from a sample of n and y < x, when both samples come
// from one continuous distribution. Exact (counts in 128-bit integers) up to
// kExactLimit values in all; beyond, use the normal approximation.
inline constexpr std::size_t kExactLimit = 120;
std::vector<long double> mannWhitneyDistribution(std::size_t m, std::size_t n);
// P(U <= u), exact or approximate as above.
long double lowerTail(std::size_t m, std::size_t n, std::size_t u);

// The largest u with P(U <= u) <= alpha / 2: the two-sided critical value of
// the published tables (U <= it is significant at alpha). None when even
// U = 0 is not: the samples are too small to ever reach that level.
std::optional<std::size_t> criticalValue(std::size_t m, std::size_t n, double alpha);

// The fewest runs per machine, the same on both, with which a difference can
// be significant at alpha: 4 at 5%.
std::size_t fewestRunsToDecide(double alpha);

} // namespace cpubench::ranks
