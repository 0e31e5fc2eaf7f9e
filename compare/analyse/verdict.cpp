#include "verdict.h"

#include "ranks.h"
#include "robust.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

// The sorted differences of the log-times, other minus base, of every pair.
std::vector<double> pairwiseShifts(const std::vector<double>& base, const std::vector<double>& other)
{
    return pairwiseDifferences(logTimes(base), logTimes(other));
}

// The verdict of an estimate with its interval (the log-shifts `lowLog`
// .. `highLog` around `shift`).
void decide(RatioEstimate& result, double shift, double lowLog, double highLog, std::size_t runsNow,
            const VerdictSettings& settings)
{
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
        result.runsNeeded = runsNeeded(halfWidth, room, runsNow);
    }
}

} // namespace

std::optional<std::size_t> runsNeeded(double halfWidth, double room, std::size_t runsNow)
{
    if (!(room > 0) || !(halfWidth > 0))
        return std::nullopt;
    const double runs = std::ceil(static_cast<double>(runsNow) * (halfWidth / room) * (halfWidth / room));
    if (!(runs <= static_cast<double>(kMostRuns)))
        return std::nullopt;
    return std::max(static_cast<std::size_t>(runs), runsNow + 1);
}

RatioEstimate compareTimes(const std::vector<double>& base, const std::vector<double>& other,
                           const VerdictSettings& settings)
{
    RatioEstimate result;
    result.baseRuns = base.size();
    result.otherRuns = other.size();
    if (base.empty() || other.empty())
        return result;
    const std::vector<double> differences = pairwiseShifts(base, other);
    const double shift = medianOf(differences);
    result.estimate = std::exp(shift);

    const double alpha = 1 - settings.level;
    const std::optional<std::size_t> critical = ranks::criticalValue(base.size(), other.size(), alpha);
    if (!critical) {
        result.doubt = Doubt::tooFewRuns;
        result.runsNeeded = ranks::fewestRunsToDecide(alpha);
        return result;
    }
    result.confidence = static_cast<double>(1 - 2 * ranks::lowerTail(base.size(), other.size(), *critical));
    const double lowLog = differences[*critical];
    const double highLog = differences[differences.size() - 1 - *critical];
    result.low = std::exp(lowLog);
    result.high = std::exp(highLog);
    decide(result, shift, lowLog, highLog, (base.size() + other.size() + 1) / 2, settings);
    return result;
}

} // namespace cpubench
