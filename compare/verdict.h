// The statistics that call a difference between two sets of run times:
// the exact Mann-Whitney distribution, the Hodges-Lehmann shift of the
// log-times with its distribution-free confidence interval, the verdict
// (faster, slower, same, undecided) and runs far from their machine's others.
// Nothing here knows about tables or reports.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ranks {

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

} // namespace ranks

enum class Verdict { faster, slower, same, undecided };

// Why a verdict is undecided.
enum class Doubt {
    none,
    tooFewRuns,  // no interval at the level can be formed from so few runs
    tooMuchSpread, // the interval reaches past the threshold on the one side and past 1 on the other
    smallDifference, // significant, but whether it passes the threshold is not known
    flawedRuns,  // a machine has no run complete with exact values
};

struct VerdictSettings {
    double level = 0.95;     // of the confidence interval; the test's level is 1 - level
    double threshold = 0.02; // the smallest difference that counts: 0.02 = 2%
};

// The ratio of the other machine's times to the baseline's, as the shift of
// the log-times: how much longer the other machine takes, in one factor.
struct RatioEstimate {
    std::size_t baseRuns = 0, otherRuns = 0;
    double estimate = 0; // Hodges-Lehmann: the median of the pairwise ratios
    // The confidence interval; none with too few runs for the level.
    std::optional<double> low, high;
    double confidence = 0; // the interval's exact coverage (at least the level)
    Verdict verdict = Verdict::undecided;
    Doubt doubt = Doubt::none;
    // When undecided: about how many runs per machine would decide, where it
    // can be told (a guess from the spread seen so far).
    std::optional<std::size_t> runsNeeded;
};

// Compares two sets of times in seconds (each at least one run; a time of
// 0, below the clock's millisecond, counts as half a millisecond).
//   slower / faster: the interval lies wholly above / below 1 and the
//                    estimate is beyond the threshold;
//   same:            the interval lies within 1 - threshold .. 1 + threshold;
//   undecided:       neither; `doubt` says why.
RatioEstimate compareTimes(const std::vector<double>& base, const std::vector<double>& other,
                           const VerdictSettings& settings);

const char* verdictName(Verdict verdict);
// The median: with an even count, the mean of the middle two.
double medianOf(std::vector<double> values);
// The reason of an undecided verdict in a few words ("too few runs").
std::string doubtText(const RatioEstimate& estimate, const VerdictSettings& settings);

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
