#include "levels.h"

#include "lines.h"
#include "robust.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace cpubench {

namespace {

// P(T <= t) for Student's t with `df` degrees of freedom, through the
// regularised incomplete beta function (its continued fraction).
double incompleteBeta(double a, double b, double x)
{
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    if (x > (a + 1) / (a + b + 2))
        return 1 - incompleteBeta(b, a, 1 - x);
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) +
                                  b * std::log1p(-x)) / a;
    constexpr double kTiny = 1e-300;
    double c = 1, d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::abs(d) < kTiny ? kTiny : d);
    double f = d;
    for (int i = 1; i <= 300; ++i) {
        const double m = i;
        for (const double numerator : {m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)),
                                       -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))}) {
            d = 1 + numerator * d;
            d = 1 / (std::abs(d) < kTiny ? kTiny : d);
            c = 1 + numerator / c;
            c = std::abs(c) < kTiny ? kTiny : c;
            f *= c * d;
        }
        if (std::abs(c * d - 1) < 1e-15)
            break;
    }
    return front * f;
}

// The two-sided tail P(|T| > t).
double twoSidedTail(double t, double df)
{
    t = std::abs(t);
    if (df > 1e7)
        return std::erfc(t / std::sqrt(2.0));
    return incompleteBeta(df / 2, 0.5, df / (df + t * t));
}

// The t with P(|T| > t) = alpha.
double criticalT(double alpha, double df)
{
    double low = 0, high = 1;
    while (twoSidedTail(high, df) > alpha && high < 1e12)
        high *= 2;
    for (int i = 0; i < 200 && high - low > 1e-9 * high; ++i) {
        const double middle = (low + high) / 2;
        (twoSidedTail(middle, df) > alpha ? low : high) = middle;
    }
    return high;
}

double sessionVariance(const Model& model, std::size_t s)
{
    return model.wander + model.spread / static_cast<double>(model.runs[s]);
}

// The wander from the differences of neighbouring sessions, by their median
// so that a step or a busy session moves it little.
void wanderFromNeighbours(Model& model)
{
    std::vector<double> squares;
    double within = 0;
    for (std::size_t s = 1; s < model.means.size(); ++s) {
        squares.push_back((model.means[s] - model.means[s - 1]) * (model.means[s] - model.means[s - 1]));
        within += model.spread / static_cast<double>(model.runs[s]) + model.spread / static_cast<double>(model.runs[s - 1]);
    }
    if (squares.empty())
        return;
    // The median of a square of a normal variable is 0.455 of its variance.
    const double differences = medianOf(squares) / 0.4549;
    model.wander = std::max(0.0, (differences - within / static_cast<double>(squares.size())) / 2);
    // Counted as one degree of freedom a difference: as a first guess it
    // finds a step the levels' residuals then confirm (measured on
    // wandering histories; a median's own worth, about 0.4 of that, would
    // miss most 25% steps among sessions that wander by 3%).
    model.wanderDf = static_cast<double>(squares.size());
}

// The wander from the sessions around their levels (starts: where each level
// but the first begins), where that leaves degrees of freedom; else the
// estimate from neighbours stays.
void wanderFromLevels(Model& model, const std::vector<std::size_t>& starts)
{
    const std::size_t count = model.means.size(), levels = starts.size() + 1;
    double squares = 0, within = 0;
    for (std::size_t l = 0; l < levels; ++l) {
        const std::size_t from = l == 0 ? 0 : starts[l - 1], to = l < starts.size() ? starts[l] : count;
        double sum = 0;
        for (std::size_t s = from; s < to; ++s)
            sum += model.means[s];
        const double mean = sum / static_cast<double>(to - from);
        for (std::size_t s = from; s < to; ++s) {
            squares += (model.means[s] - mean) * (model.means[s] - mean);
            within += (1 - 1.0 / static_cast<double>(to - from)) * model.spread / static_cast<double>(model.runs[s]);
        }
    }
    if (count > levels) {
        model.wander = std::max(0.0, (squares - within) / static_cast<double>(count - levels));
        model.wanderDf = static_cast<double>(count - levels);
    }
}

bool differs(Verdict verdict)
{
    return verdict == Verdict::slower || verdict == Verdict::faster;
}

std::vector<SessionTimes> without(const std::vector<SessionTimes>& data, const std::vector<std::size_t>& left)
{
    std::vector<SessionTimes> kept;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (!std::binary_search(left.begin(), left.end(), i))
            kept.push_back(data[i]);
    return kept;
}

} // namespace

Model modelOf(const std::vector<SessionTimes>& data)
{
    Model model;
    double squares = 0;
    for (const SessionTimes& session : data) {
        double sum = 0;
        for (const double time : session.times)
            sum += std::log(time);
        const double mean = sum / static_cast<double>(session.times.size());
        for (const double time : session.times)
            squares += (std::log(time) - mean) * (std::log(time) - mean);
        model.runs.push_back(session.times.size());
        model.means.push_back(mean);
        model.spreadDf += static_cast<double>(session.times.size() - 1);
    }
    // The clock's millisecond in a line of a few seconds sets a floor.
    constexpr double kFloor = 1e-8;
    model.spread = model.spreadDf > 0 ? std::max(squares / model.spreadDf, kFloor) : kFloor;
    return model;
}

Stretch stretchOf(const Model& model, std::size_t from, std::size_t to, std::size_t skip)
{
    double weights = 0, sum = 0;
    for (std::size_t s = from; s < to; ++s)
        if (s != skip) {
            const double w = 1 / sessionVariance(model, s);
            weights += w;
            sum += w * model.means[s];
        }
    Stretch stretch;
    stretch.mean = sum / weights;
    stretch.variance = 1 / weights;
    for (std::size_t s = from; s < to; ++s)
        if (s != skip) {
            const double share = (1 / sessionVariance(model, s)) / weights;
            stretch.wanderPart += share * share * model.wander;
            stretch.spreadPart += share * share * model.spread / static_cast<double>(model.runs[s]);
        }
    return stretch;
}

RatioEstimate judgeLevels(const Model& model, const Stretch& a, const Stretch& b, std::size_t tries,
                     const VerdictSettings& settings)
{
    RatioEstimate result;
    const double shift = b.mean - a.mean;
    const double variance = a.variance + b.variance;
    const double wanderPart = a.wanderPart + b.wanderPart, spreadPart = a.spreadPart + b.spreadPart;
    double dfDenominator = 0;
    if (wanderPart > 0)
        dfDenominator += wanderPart * wanderPart / model.wanderDf;
    if (spreadPart > 0 && model.spreadDf > 0)
        dfDenominator += spreadPart * spreadPart / model.spreadDf;
    const double df = dfDenominator > 0 ? variance * variance / dfDenominator : 1;
    const double looks = static_cast<double>(std::max<std::size_t>(tries, 1) * kLineCount);
    const double alpha = (1 - settings.level) / looks;
    const double critical = criticalT(alpha, df);
    const double half = critical * std::sqrt(variance);
    result.estimate = std::exp(shift);
    result.low = std::exp(shift - half);
    result.high = std::exp(shift + half);
    result.confidence = 1 - alpha;
    if (shift - half > 0 && result.estimate > 1 + settings.threshold)
        result.verdict = Verdict::slower;
    else if (shift + half < 0 && result.estimate < 1 - settings.threshold)
        result.verdict = Verdict::faster;
    else
        result.doubt = Doubt::tooMuchSpread;
    return result;
}

Levels levelsOf(const Model& model, const VerdictSettings& settings, bool perBoundary)
{
    struct Bound {
        std::size_t at;
        RatioEstimate estimate;
        double distance;
    };
    const std::size_t count = model.means.size();
    std::vector<Bound> bounds;
    for (std::size_t at = 1; at < count; ++at)
        bounds.push_back({at, {}, 0});
    const std::size_t tries = count > 1 && perBoundary ? count - 1 : 1;
    const auto evaluate = [&](std::size_t i) {
        const std::size_t from = i == 0 ? 0 : bounds[i - 1].at;
        const std::size_t to = i + 1 < bounds.size() ? bounds[i + 1].at : count;
        const Stretch before = stretchOf(model, from, bounds[i].at), after = stretchOf(model, bounds[i].at, to);
        bounds[i].estimate = judgeLevels(model, before, after, tries, settings);
        bounds[i].distance = std::abs(after.mean - before.mean) / std::sqrt(before.variance + after.variance);
    };
    for (std::size_t i = 0; i < bounds.size(); ++i)
        evaluate(i);
    for (;;) {
        std::optional<std::size_t> weakest;
        for (std::size_t i = 0; i < bounds.size(); ++i)
            if (!differs(bounds[i].estimate.verdict) && (!weakest || bounds[i].distance < bounds[*weakest].distance))
                weakest = i;
        if (!weakest)
            break;
        bounds.erase(bounds.begin() + static_cast<std::ptrdiff_t>(*weakest));
        if (*weakest > 0)
            evaluate(*weakest - 1);
        if (*weakest < bounds.size())
            evaluate(*weakest);
    }
    Levels levels;
    for (const Bound& bound : bounds) {
        levels.starts.push_back(bound.at);
        levels.estimates.push_back(bound.estimate);
    }
    return levels;
}

namespace {

// The levels, with the wander estimated again around the levels found
// until they settle.
Levels settledLevels(Model& model, const VerdictSettings& settings)
{
    wanderFromNeighbours(model);
    Levels levels = levelsOf(model, settings);
    for (int round = 0; round < 4; ++round) {
        wanderFromNeighbours(model);
        wanderFromLevels(model, levels.starts);
        Levels again = levelsOf(model, settings);
        const bool same = again.starts == levels.starts;
        levels = std::move(again);
        if (same)
            break;
    }
    return levels;
}

} // namespace

std::pair<std::size_t, std::size_t> levelAround(const Levels& levels, std::size_t at, std::size_t size)
{
    const auto next = std::upper_bound(levels.starts.begin(), levels.starts.end(), at);
    return {next == levels.starts.begin() ? 0 : *(next - 1), next == levels.starts.end() ? size : *next};
}

// Changes and excursions. An excursion is a session that was off and came
// back: a level of one session between two boundaries of opposite
// directions, or a session that differs from the rest of its level, by
// more than the wander explains. Excursions are then left out and the
// levels found again, so that a machine whose level moved a little while a
// busy session was off shows that move, not two steps.
LineFindings findChanges(const std::vector<SessionTimes>& data, const VerdictSettings& settings)
{
    LineFindings found;
    Model model = modelOf(data);
    const Levels levels = settledLevels(model, settings);
    const std::vector<std::size_t>& starts = levels.starts;
    const std::size_t tries = data.size();
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        if (starts[i + 1] != starts[i] + 1)
            continue;
        const std::size_t s = starts[i];
        const bool up = levels.estimates[i].estimate > 1, back = levels.estimates[i + 1].estimate < 1;
        const std::size_t from = i == 0 ? 0 : starts[i - 1], to = i + 2 < starts.size() ? starts[i + 2] : data.size();
        if (up == back && differs(judgeLevels(model, stretchOf(model, from, to, s), stretchOf(model, s, s + 1), tries,
                                         settings).verdict))
            found.excursions.push_back(s);
    }
    for (std::size_t i = 0; i <= starts.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : starts[i - 1];
        const std::size_t to = i < starts.size() ? starts[i] : data.size();
        for (std::size_t s = from + 1; s + 1 < to; ++s)
            if (differs(judgeLevels(model, stretchOf(model, from, to, s), stretchOf(model, s, s + 1), tries, settings)
                            .verdict))
                found.excursions.push_back(s);
    }
    std::sort(found.excursions.begin(), found.excursions.end());
    for (std::size_t i = 0; i < data.size(); ++i)
        if (!std::binary_search(found.excursions.begin(), found.excursions.end(), i))
            found.kept.push_back(i);
    if (found.excursions.empty()) {
        found.model = std::move(model);
        found.levels = levels;
    } else {
        found.model = modelOf(without(data, found.excursions));
        found.levels = settledLevels(found.model, settings);
    }
    return found;
}

std::optional<RatioEstimate> excursionEstimate(const LineFindings& found, const std::vector<SessionTimes>& data,
                                               std::size_t s, const VerdictSettings& settings)
{
    const auto at = static_cast<std::size_t>(std::lower_bound(found.kept.begin(), found.kept.end(), s) -
                                             found.kept.begin());
    const auto [from, to] = levelAround(found.levels, at, found.kept.size());
    if (from == to)
        return std::nullopt;
    Model with = found.model;
    with.runs.push_back(data[s].times.size());
    with.means.push_back(modelOf({data[s]}).means[0]);
    return judgeLevels(with, stretchOf(with, from, to), stretchOf(with, with.means.size() - 1, with.means.size()),
                       found.kept.size(), settings);
}

} // namespace cpubench
