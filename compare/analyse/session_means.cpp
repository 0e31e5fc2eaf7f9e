#include "analyse/session_means.h"

#include "analyse/student_t.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace cpubench::analyse {

namespace {

// The clock's millisecond in a line of a few seconds sets a floor.
constexpr double kFloor = 1e-8;

// Neighbouring differences share a session (their squares correlate by
// 1/4): n of them hold about 2n/3 degrees of freedom.
constexpr double kDegreesPerDifference = 2.0 / 3;

// A session's variance from the squared differences of neighbouring
// sessions on `line` but those at `skip` (sorted), and their count.
std::pair<double, std::size_t> fromNeighbours(const SessionMeans& levels, std::size_t line,
                                              const std::vector<std::size_t>& skip, std::size_t alsoSkip = 0)
{
    double squares = 0;
    std::size_t count = 0;
    for (std::size_t s = 1; s < levels.sessionCount(); ++s) {
        const double difference = levels.mean(line, s) - levels.mean(line, s - 1);
        if (std::isfinite(difference) && s != alsoSkip && !std::binary_search(skip.begin(), skip.end(), s)) {
            squares += difference * difference;
            ++count;
        }
    }
    // A difference of two sessions has twice a session's variance.
    return {count ? std::max(squares / static_cast<double>(count) / 2, kFloor) : 0, count};
}

} // namespace

SessionMeans::SessionMeans(const std::vector<std::vector<std::vector<double>>>& times, std::size_t lineCount)
    : sessions_(times.size()),
      means_(lineCount, std::vector<double>(times.size(), std::numeric_limits<double>::quiet_NaN())),
      variance_(lineCount, 0), df_(lineCount, 0)
{
    for (std::size_t s = 0; s < times.size(); ++s)
        for (std::size_t line = 0; line < lineCount && line < times[s].size(); ++line) {
            double sum = 0;
            std::size_t count = 0;
            for (const double time : times[s][line])
                if (time > 0 && std::isfinite(time)) {
                    sum += std::log(time);
                    ++count;
                }
            if (count > 0)
                means_[line][s] = sum / static_cast<double>(count);
        }
}

void SessionMeans::estimate(const std::vector<std::vector<std::size_t>>& boundsByLine)
{
    for (std::size_t line = 0; line < means_.size(); ++line) {
        const auto [variance, count] =
            fromNeighbours(*this, line, line < boundsByLine.size() ? boundsByLine[line] : std::vector<std::size_t>{});
        variance_[line] = variance;
        df_[line] = kDegreesPerDifference * static_cast<double>(count);
    }
}

std::optional<LevelShift> SessionMeans::shift(std::size_t line, std::size_t from, std::size_t at,
                                              std::size_t to) const
{
    if (line >= means_.size() || !(from < at && at < to && to <= sessions_) || df_[line] <= 0)
        return std::nullopt;
    const auto stretch = [&](std::size_t begin, std::size_t end, double& mean) {
        double sum = 0;
        std::size_t count = 0;
        for (std::size_t s = begin; s < end; ++s)
            if (std::isfinite(means_[line][s])) {
                sum += means_[line][s];
                ++count;
            }
        mean = count ? sum / static_cast<double>(count) : 0;
        return static_cast<double>(count);
    };
    double before = 0, after = 0;
    const double nBefore = stretch(from, at, before), nAfter = stretch(at, to, after);
    if (nBefore == 0 || nAfter == 0)
        return std::nullopt;
    return LevelShift{after - before, std::sqrt(variance_[line] * (1 / nBefore + 1 / nAfter)), df_[line]};
}

std::vector<std::size_t> factBounds(const std::vector<Facts>& facts)
{
    std::vector<std::size_t> bounds;
    const auto changes = factChangesBySession(facts);
    for (std::size_t s = 0; s < changes.size(); ++s)
        if (!changes[s].empty())
            bounds.push_back(s);
    return bounds;
}

std::vector<Place> standInChanges(const SessionMeans& levels, std::size_t machine, std::size_t lineCount,
                                  const std::vector<std::size_t>& bounds, const FleetSettings& settings)
{
    std::vector<Place> found;
    const std::size_t n = levels.sessionCount();
    if (n < 3)
        return found;
    const double alpha = (1 - settings.level) / static_cast<double>((n - 1) * lineCount);
    for (std::size_t line = 0; line < lineCount; ++line) {
        std::optional<std::size_t> best;
        double bestT = 0, bestRatio = 1, bestDf = 0;
        for (std::size_t at = 1; at < n; ++at) {
            double before = 0, after = 0, nBefore = 0, nAfter = 0;
            for (std::size_t s = 0; s < n; ++s)
                if (std::isfinite(levels.mean(line, s))) {
                    (s < at ? before : after) += levels.mean(line, s);
                    (s < at ? nBefore : nAfter) += 1;
                }
            const auto [variance, count] = fromNeighbours(levels, line, bounds, at);
            if (nBefore == 0 || nAfter == 0 || count == 0)
                continue;
            const double shift = after / nAfter - before / nBefore;
            const double t = std::abs(shift) / std::sqrt(variance * (1 / nBefore + 1 / nAfter));
            if (!best || t > bestT) {
                best = at;
                bestT = t;
                bestRatio = std::exp(shift);
                bestDf = kDegreesPerDifference * static_cast<double>(count);
            }
        }
        if (best && bestT > studentCritical(alpha, bestDf) && std::abs(bestRatio - 1) > settings.threshold)
            found.push_back({machine, line, *best, PlaceKind::change});
    }
    return found;
}

} // namespace cpubench::analyse
