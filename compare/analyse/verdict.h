// The verdict on two sets of run times: the Hodges-Lehmann shift of the
// log-times with its distribution-free confidence interval (ranks.h), and
// whether the second is faster, slower, the same or undecided, with why.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace cpubench {

enum class Verdict { faster, slower, same, undecided };

// Why a verdict is undecided.
enum class Doubt {
    none,
    tooFewRuns,      // no interval at the level can be formed from so few runs
    tooMuchSpread,   // the interval reaches past the threshold on the one side and past 1 on the other
    smallDifference, // significant, but whether it passes the threshold is not known
    flawedRuns,      // a machine has no run complete with exact values
    tooFewSessions,  // a history too short to tell a change from the machine's wander
    tooMuchWander,   // the machines' wander between sittings is most of the interval: more runs will not decide
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

// Compares two sets of times in seconds (each at least one run).
//   slower / faster: the interval lies wholly above / below 1 and the
//                    estimate is beyond the threshold;
//   same:            the interval lies within 1 - threshold .. 1 + threshold;
//   undecided:       neither; `doubt` says why.
RatioEstimate compareTimes(const std::vector<double>& base, const std::vector<double>& other,
                           const VerdictSettings& settings);

// About how many runs per machine would shrink an interval's half-width
// (of the log-times) from `halfWidth` with `runsNow` runs per machine to
// `room`, as it shrinks with the square root of the runs: at least one more
// than now, none beyond kMostRuns, where the guess is worth nothing.
inline constexpr std::size_t kMostRuns = 50;
std::optional<std::size_t> runsNeeded(double halfWidth, double room, std::size_t runsNow);

} // namespace cpubench
