#include "levels.h"

#include "lines.h"
#include "robust.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

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

// The t with P(|T| > t) = alpha, by halving.
double searchCriticalT(double alpha, double df)
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

// criticalT's values already found, by the bits of alpha and df. Most of a
// history's tests ask for few of them: sessions of the same number of runs
// weigh the same, so levels of the same lengths have the same degrees of
// freedom, and the level asked for is the same for a line's boundaries.
// Per thread; emptied when full.
class CriticalCache {
public:
    double get(double alpha, double df)
    {
        const Key key{bits(alpha), bits(df)};
        if (const auto it = values_.find(key); it != values_.end())
            return it->second;
        if (values_.size() >= kMaxEntries)
            values_.clear();
        return values_.emplace(key, searchCriticalT(alpha, df)).first->second;
    }

private:
    static constexpr std::size_t kMaxEntries = 1 << 16;
    struct Key {
        std::uint64_t alpha, df;
        bool operator==(const Key& other) const { return alpha == other.alpha && df == other.df; }
    };
    struct Hash {
        std::size_t operator()(const Key& key) const
        {
            return static_cast<std::size_t>(key.alpha * 0x9E3779B97F4A7C15ULL ^ key.df);
        }
    };
    static std::uint64_t bits(double value)
    {
        std::uint64_t result;
        std::memcpy(&result, &value, sizeof result);
        return result;
    }
    std::unordered_map<Key, double, Hash> values_;
};

// The t with P(|T| > t) = alpha: the same as searchCriticalT, found once.
double criticalT(double alpha, double df)
{
    thread_local CriticalCache cache;
    return cache.get(alpha, df);
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

namespace {

// Each session's weight in the model, 1 / its variance: what stretchOf
// works out for each session of a stretch, found once for the many
// stretches of one model.
std::vector<double> weightsOf(const Model& model)
{
    std::vector<double> weights(model.means.size());
    for (std::size_t s = 0; s < weights.size(); ++s)
        weights[s] = 1 / sessionVariance(model, s);
    return weights;
}

Stretch stretchWith(const Model& model, const std::vector<double>& weight, std::size_t from, std::size_t to,
                    std::size_t skip = SIZE_MAX)
{
    double weights = 0, sum = 0;
    for (std::size_t s = from; s < to; ++s)
        if (s != skip) {
            weights += weight[s];
            sum += weight[s] * model.means[s];
        }
    Stretch stretch;
    stretch.mean = sum / weights;
    stretch.variance = 1 / weights;
    for (std::size_t s = from; s < to; ++s)
        if (s != skip) {
            const double share = weight[s] / weights;
            stretch.wanderPart += share * share * model.wander;
            stretch.spreadPart += share * share * model.spread / static_cast<double>(model.runs[s]);
        }
    return stretch;
}

} // namespace

Stretch stretchOf(const Model& model, std::size_t from, std::size_t to, std::size_t skip)
{
    return stretchWith(model, weightsOf(model), from, to, skip);
}

namespace {

// Welch's test of B against A: the shift of the levels, its variance, the
// degrees of freedom and the level of the test.
struct WelchTest {
    double shift = 0, variance = 0, df = 1, alpha = 0;
};

WelchTest welchTest(const Model& model, const Stretch& a, const Stretch& b, std::size_t tries,
                    const VerdictSettings& settings)
{
    WelchTest test;
    test.shift = b.mean - a.mean;
    test.variance = a.variance + b.variance;
    const double wanderPart = a.wanderPart + b.wanderPart, spreadPart = a.spreadPart + b.spreadPart;
    double dfDenominator = 0;
    if (wanderPart > 0)
        dfDenominator += wanderPart * wanderPart / model.wanderDf;
    if (spreadPart > 0 && model.spreadDf > 0)
        dfDenominator += spreadPart * spreadPart / model.spreadDf;
    test.df = dfDenominator > 0 ? test.variance * test.variance / dfDenominator : 1;
    const double looks = static_cast<double>(std::max<std::size_t>(tries, 1) * kLineCount);
    test.alpha = (1 - settings.level) / looks;
    return test;
}

} // namespace

RatioEstimate judgeLevels(const Model& model, const Stretch& a, const Stretch& b, std::size_t tries,
                     const VerdictSettings& settings)
{
    RatioEstimate result;
    const WelchTest test = welchTest(model, a, b, tries, settings);
    const double shift = test.shift;
    const double critical = criticalT(test.alpha, test.df);
    const double half = critical * std::sqrt(test.variance);
    result.estimate = std::exp(shift);
    result.low = std::exp(shift - half);
    result.high = std::exp(shift + half);
    result.confidence = 1 - test.alpha;
    if (shift - half > 0 && result.estimate > 1 + settings.threshold)
        result.verdict = Verdict::slower;
    else if (shift + half < 0 && result.estimate < 1 - settings.threshold)
        result.verdict = Verdict::faster;
    else
        result.doubt = Doubt::tooMuchSpread;
    return result;
}

namespace {

bool differs(Verdict verdict)
{
    return verdict == Verdict::slower || verdict == Verdict::faster;
}

// Whether judgeLevels calls B slower or faster than A: the same answer,
// found without the critical value wherever it is plain. A ratio within
// the threshold is never a difference, and a t statistic a millionth of
// itself off the critical value, on either side, is clearly on that side
// (the critical value is found to a billionth): most of the places a
// history looks at are one or the other.
bool levelsDiffer(const Model& model, const Stretch& a, const Stretch& b, std::size_t tries,
                  const VerdictSettings& settings)
{
    const WelchTest test = welchTest(model, a, b, tries, settings);
    const double estimate = std::exp(test.shift);
    if (!(estimate > 1 + settings.threshold) && !(estimate < 1 - settings.threshold))
        return false;
    const double t = std::abs(test.shift) / std::sqrt(test.variance);
    constexpr double kMargin = 1e-6;
    if (std::isfinite(t) && t < 1e11 && std::isfinite(test.df) && test.df > 0) {
        if (twoSidedTail(t * (1 + kMargin), test.df) > test.alpha)
            return false;
        if (twoSidedTail(t * (1 - kMargin), test.df) <= test.alpha)
            return true;
    }
    return differs(judgeLevels(model, a, b, tries, settings).verdict);
}

} // namespace

Levels levelsOf(const Model& model, const VerdictSettings& settings, bool perBoundary)
{
    struct Bound {
        std::size_t at;
        bool differs;
        double distance;
    };
    const std::size_t count = model.means.size();
    std::vector<Bound> bounds;
    for (std::size_t at = 1; at < count; ++at)
        bounds.push_back({at, false, 0});
    const std::size_t tries = count > 1 && perBoundary ? count - 1 : 1;
    const std::vector<double> weights = weightsOf(model);
    // The levels on both sides of bounds[i], between its neighbours.
    const auto sides = [&](std::size_t i) {
        const std::size_t from = i == 0 ? 0 : bounds[i - 1].at;
        const std::size_t to = i + 1 < bounds.size() ? bounds[i + 1].at : count;
        return std::pair{stretchWith(model, weights, from, bounds[i].at), stretchWith(model, weights, bounds[i].at, to)};
    };
    const auto evaluate = [&](std::size_t i) {
        const auto [before, after] = sides(i);
        bounds[i].differs = levelsDiffer(model, before, after, tries, settings);
        bounds[i].distance = std::abs(after.mean - before.mean) / std::sqrt(before.variance + after.variance);
    };
    for (std::size_t i = 0; i < bounds.size(); ++i)
        evaluate(i);
    for (;;) {
        std::optional<std::size_t> weakest;
        for (std::size_t i = 0; i < bounds.size(); ++i)
            if (!bounds[i].differs && (!weakest || bounds[i].distance < bounds[*weakest].distance))
                weakest = i;
        if (!weakest)
            break;
        bounds.erase(bounds.begin() + static_cast<std::ptrdiff_t>(*weakest));
        if (*weakest > 0)
            evaluate(*weakest - 1);
        if (*weakest < bounds.size())
            evaluate(*weakest);
    }
    // Each boundary that stays, judged in full between its neighbours.
    Levels levels;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const auto [before, after] = sides(i);
        levels.starts.push_back(bounds[i].at);
        levels.estimates.push_back(judgeLevels(model, before, after, tries, settings));
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
    const std::vector<double> weights = weightsOf(model);
    const auto apart = [&](std::size_t from, std::size_t to, std::size_t s) {
        return levelsDiffer(model, stretchWith(model, weights, from, to, s), stretchWith(model, weights, s, s + 1),
                            tries, settings);
    };
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        if (starts[i + 1] != starts[i] + 1)
            continue;
        const std::size_t s = starts[i];
        const bool up = levels.estimates[i].estimate > 1, back = levels.estimates[i + 1].estimate < 1;
        const std::size_t from = i == 0 ? 0 : starts[i - 1], to = i + 2 < starts.size() ? starts[i + 2] : data.size();
        if (up == back && apart(from, to, s))
            found.excursions.push_back(s);
    }
    for (std::size_t i = 0; i <= starts.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : starts[i - 1];
        const std::size_t to = i < starts.size() ? starts[i] : data.size();
        for (std::size_t s = from + 1; s + 1 < to; ++s)
            if (apart(from, to, s))
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
