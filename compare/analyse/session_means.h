// A simple model of a machine's sessions for the fleet analysis, until the
// wander model takes its place behind MachineLevels: each session's level
// on a line is the mean of its runs' log-times, and a session sits off the
// level of its stretch by a variance per line (the machine's wander and the
// spread of the runs together, each line at its own scale), estimated from
// the squared differences of neighbouring sessions, never across a bound
// (a fact change, or the machine's own change on that line). Neighbouring
// differences share a session, so n of them are worth about 2n/3 degrees
// of freedom. Also a simple rule for a machine's own changes, for the
// fleet's simulations: per line, the one split of the history that differs
// most.
#pragma once

#include "analyse/fleet.h"

#include <vector>

namespace cpubench::analyse {

class SessionMeans final : public MachineLevels {
public:
    // times[session][line]: the good runs' times in seconds (none: no time).
    SessionMeans(const std::vector<std::vector<std::vector<double>>>& times, std::size_t lineCount);
    // The variances, from the differences that cross no bound: per line, the
    // sessions where a level may start, sorted. Until then every shift is none.
    void estimate(const std::vector<std::vector<std::size_t>>& boundsByLine);
    std::size_t sessionCount() const override { return sessions_; }
    std::optional<LevelShift> shift(std::size_t line, std::size_t from, std::size_t at,
                                    std::size_t to) const override;
    // A session mean's variance about its level on `line`, and the degrees
    // of freedom it was estimated with (0: it could not be).
    double sessionVariance(std::size_t line) const { return variance_[line]; }
    double degreesOfFreedom(std::size_t line) const { return df_[line]; }
    // The mean log-time of a session on a line; NaN without a time.
    double mean(std::size_t line, std::size_t session) const { return means_[line][session]; }

private:
    std::size_t sessions_ = 0;
    std::vector<std::vector<double>> means_; // [line][session]; NaN without a time
    std::vector<double> variance_, df_;      // per line
};

// The sessions where a bound is: those whose facts changed.
std::vector<std::size_t> factBounds(const std::vector<Facts>& facts);

// The machine's changes by the stand-in rule: per line, the split of the
// whole history where the levels on its two sides differ most, when they
// differ by t at the level corrected for the splits and lines looked at,
// and by more than the threshold; the variance of each split from the
// differences but the one at the split and those at `bounds`.
std::vector<Place> standInChanges(const SessionMeans& levels, std::size_t machine, std::size_t lineCount,
                                  const std::vector<std::size_t>& bounds, const FleetSettings& settings);

} // namespace cpubench::analyse
