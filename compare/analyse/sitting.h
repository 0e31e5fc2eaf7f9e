// A comparison of two sittings: the newest session of a baseline machine
// against the newest of another, or two interleaved sessions of one machine
// (two builds, libraries or settings, their runs taken in turn: A B B A ...).
//
// Between sittings, each machine's wander counts: the verdict of a row is
// the Hodges-Lehmann shift of the runs' log-times (the ratio shown), with
// an interval whose width holds the runs' spread (as the shift's variance,
// pooled over the machine's sessions where it has several) and both
// machines' wander between sittings (from wander.h: a line's scale, or for
// the summary row the wander of the mean of its lines, the machine-wide
// part counted once), on Student's t with Satterthwaite's degrees of
// freedom.
//
// Interleaved, the wander cancels: each row keeps the exact Mann-Whitney
// interval and test of 1.2.0.
//
// The ten rows (nine lines and the summary) are one family, kept at the
// level by a weighted Holm procedure: the summary row is the headline and
// carries most of the level (kHeadlineWeight); the lines share the rest, so
// that a line far off is called even when the headline is not, and once the
// headline is called its weight passes to the lines (which are then tested
// by Holm's step-down among themselves). A machine compared with itself
// then shows a false + or - anywhere in the table at most at the level.
#pragma once

#include "verdict.h"
#include "wander.h"

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace cpubench {

inline constexpr std::size_t kSittingRows = kLineCount + 1; // the nine lines, then the summary
inline constexpr std::size_t kSummaryRow = kLineCount;
// The lines whose mean is the summary row.
inline constexpr std::array<std::size_t, kSummaryLineCount> kHeadlineLines = [] {
    std::array<std::size_t, kSummaryLineCount> lines{};
    std::size_t at = 0;
    for (std::size_t line = 0; line < kLineCount; ++line)
        if (kLines[line].inSummary)
            lines[at++] = line;
    return lines;
}();
inline constexpr double kHeadlineWeight = 0.9;

enum class Pairing {
    sittings,    // sessions recorded at different times: the wander counts
    interleaved, // the runs of the two taken in turn in one sitting: no wander term
};

// One side of the comparison: the log-times of its compared session's runs,
// per line and for the summary (per run with every headline line: the mean
// of their log-times), and its machine's wander model.
struct SittingSide {
    std::array<std::vector<double>, kLineCount> lines{};
    std::vector<double> summary{};
    WanderModel model = measuredDefaultWander();
};

struct RowResult {
    bool judged = false; // both sides have times
    double ratio = 1;    // other / base: the Hodges-Lehmann shift, exp'd
    std::optional<double> low, high; // the interval at the row's level
    double p = 1;        // the two-sided p of no difference
    double level = 0;    // the confidence the row was last judged at
    double confidence = 0; // the interval's coverage: the level, or the exact rank interval's (at least it)
    Verdict verdict = Verdict::undecided;
    Doubt doubt = Doubt::none;
    // How much of the shift's variance was the wander between sittings (0 interleaved).
    double wanderShare = 0;
    double df = 0; // of the t (0: the exact rank test)
    // The power: the slowdown (a ratio above 1) the row finds in 3
    // comparisons of 4 like this one, tested at the level it is first
    // judged at (its weight's share of the family's); none when no
    // difference can be found with so few runs.
    std::optional<double> detectable;
};

struct SittingComparison {
    Pairing pairing = Pairing::sittings;
    std::array<RowResult, kSittingRows> rows{};
    // Which wander each side's rows used (interleaved: none).
    WanderSource baseSource = WanderSource::measuredDefault, otherSource = WanderSource::measuredDefault;
    double familyLevel = 0.95; // for the ten rows together
};

SittingComparison compareSittings(const SittingSide& base, const SittingSide& other, Pairing pairing,
                                  const VerdictSettings& settings = {});

// The summary values of a session's runs: per run that has every headline
// line, the mean of their log-times (a run's line without a time is NaN).
std::vector<double> summaryOfRuns(const std::vector<std::array<double, kLineCount>>& runs);

// The sample variance of `values` (0 for fewer than two).
double sampleVariance(const std::vector<double>& values);
// A session's runs as a side: its lines' log-times (NaN left out) and summary.
SittingSide sideOfRuns(const std::vector<std::array<double, kLineCount>>& runs, const WanderModel& model);

} // namespace cpubench
