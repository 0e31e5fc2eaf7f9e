#include "sitting.h"

#include "distributions.h"
#include "ranks.h"
#include "robust.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The Hodges-Lehmann shift of normal samples has pi/3 the variance of the
// difference of their means.
constexpr double kShiftVarianceFactor = kPi / 3;


double middle(const std::vector<double>& sorted)
{
    const std::size_t half = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
}

// What a side brings to a row's variance: the runs' spread (per run) with
// its degrees of freedom, and the wander with its own.
struct Part {
    double spread = 0, spreadDf = 1;
    double wander = 0, wanderDf = 1;
    std::size_t runs = 0;
};

Part partOf(const SittingSide& side, std::size_t row)
{
    Part part;
    const WanderModel& model = side.model;
    const std::vector<double>& values = row == kSummaryRow ? side.summary : side.lines[row];
    part.runs = values.size();
    const double own = sampleVariance(values);
    const double ownDf = values.size() >= 2 ? static_cast<double>(values.size() - 1) : 0;
    if (row == kSummaryRow) {
        double spreads = 0, dfs = 0;
        for (const std::size_t l : kHeadlineLines) {
            spreads += model.spread[l] * model.spread[l];
            dfs += model.spreadDf[l];
        }
        const double n = static_cast<double>(kHeadlineLines.size());
        const double pooled = spreads / (n * n), pooledDf = dfs / n;
        // The machine's sessions know the spread better than this one's runs
        // when they hold twice its degrees of freedom.
        const bool usePooled = pooledDf >= 2 * ownDf;
        part.spread = usePooled ? pooled : own;
        part.spreadDf = usePooled ? pooledDf : ownDf;
        part.wander = meanWanderVariance(model, {kHeadlineLines.begin(), kHeadlineLines.end()});
        part.wanderDf = model.typicalDf;
    } else {
        const bool usePooled = model.spreadDf[row] >= 2 * ownDf;
        part.spread = usePooled ? model.spread[row] * model.spread[row] : own;
        part.spreadDf = usePooled ? model.spreadDf[row] : ownDf;
        part.wander = wanderVariance(model, row);
        part.wanderDf = model.scaleDf[row];
    }
    return part;
}

struct Test {
    double shift = 0;
    double p = 1;
    double spreadVariance = 0; // of the shift, from the runs alone (the exact test's power)
    // The interval at a two-sided level alpha; none when it cannot be formed.
    std::vector<double> differences; // the exact test's pairwise differences
    double se = 0, df = 0;           // the t test's
    bool exact = false;
    double wanderShare = 0;
};

Test tTest(const SittingSide& base, const SittingSide& other, std::size_t row)
{
    Test test;
    const std::vector<double>& x = row == kSummaryRow ? base.summary : base.lines[row];
    const std::vector<double>& y = row == kSummaryRow ? other.summary : other.lines[row];
    test.shift = middle(pairwiseDifferences(x, y));
    const Part a = partOf(base, row), b = partOf(other, row);
    const double spreadA = kShiftVarianceFactor * a.spread / static_cast<double>(a.runs);
    const double spreadB = kShiftVarianceFactor * b.spread / static_cast<double>(b.runs);
    const double variance = spreadA + spreadB + a.wander + b.wander;
    double denominator = 0;
    for (const auto& [v, df] : {std::pair{spreadA, a.spreadDf}, std::pair{spreadB, b.spreadDf},
                                std::pair{a.wander, a.wanderDf}, std::pair{b.wander, b.wanderDf}})
        if (v > 0)
            denominator += v * v / std::max(df, 1.0);
    test.df = denominator > 0 ? variance * variance / denominator : 1;
    test.se = std::sqrt(std::max(variance, 1e-12));
    test.p = std::min(1.0, 2 * tUpperTail(std::abs(test.shift) / test.se, test.df));
    test.wanderShare = variance > 0 ? (a.wander + b.wander) / variance : 0;
    test.spreadVariance = spreadA + spreadB;
    return test;
}

Test exactTest(const SittingSide& base, const SittingSide& other, std::size_t row)
{
    Test test;
    test.exact = true;
    const std::vector<double>& x = row == kSummaryRow ? base.summary : base.lines[row];
    const std::vector<double>& y = row == kSummaryRow ? other.summary : other.lines[row];
    test.differences = pairwiseDifferences(x, y);
    test.shift = middle(test.differences);
    // U: the pairs where the other run is the faster one (ties count half).
    double u = 0;
    for (const double d : test.differences)
        u += d < 0 ? 1 : d == 0 ? 0.5 : 0;
    const double top = static_cast<double>(x.size() * y.size());
    const double lower = u, upper = top - u;
    const long double tail = ranks::lowerTail(x.size(), y.size(), static_cast<std::size_t>(std::floor(std::min(lower, upper))));
    test.p = std::min(1.0, static_cast<double>(2 * tail));
    // The shift's variance for the power, as the runs' spread gives it.
    test.spreadVariance = kShiftVarianceFactor * (sampleVariance(x) / static_cast<double>(x.size()) +
                                                  sampleVariance(y) / static_cast<double>(y.size()));
    return test;
}

void setInterval(RowResult& row, const Test& test, double alpha, std::size_t baseRuns, std::size_t otherRuns)
{
    row.level = 1 - alpha;
    row.confidence = row.level;
    if (test.exact) {
        const std::optional<std::size_t> k = ranks::criticalValue(baseRuns, otherRuns, alpha);
        if (!k) {
            row.low.reset();
            row.high.reset();
            return;
        }
        row.low = std::exp(test.differences[*k]);
        row.high = std::exp(test.differences[test.differences.size() - 1 - *k]);
        row.confidence = static_cast<double>(1 - 2 * ranks::lowerTail(baseRuns, otherRuns, *k));
        return;
    }
    const double half = tQuantileUpper(alpha / 2, test.df) * test.se;
    row.low = std::exp(test.shift - half);
    row.high = std::exp(test.shift + half);
}

// The slowdown found in 3 comparisons of 4 by a two-sided test at alpha:
// the shift that lies the critical value plus the upper quartile's t from
// 0, and beyond the threshold. The exact test: as the normal one with the
// runs' spread, where the runs can reach alpha at all.
std::optional<double> detectableAt(const Test& test, double alpha, double threshold, std::size_t baseRuns,
                                   std::size_t otherRuns)
{
    double shift = 0;
    if (test.exact) {
        if (!ranks::criticalValue(baseRuns, otherRuns, alpha) || !(test.spreadVariance > 0))
            return std::nullopt;
        shift = (-normalQuantile(alpha / 2) - normalQuantile(0.25)) * std::sqrt(test.spreadVariance);
    } else
        shift = (tQuantileUpper(alpha / 2, test.df) + tQuantileUpper(0.25, test.df)) * test.se;
    if (!std::isfinite(shift))
        return std::nullopt;
    return std::max(std::exp(shift), 1 + threshold);
}

} // namespace

double sampleVariance(const std::vector<double>& values)
{
    if (values.size() < 2)
        return 0;
    double sum = 0;
    for (const double v : values)
        sum += v;
    const double mean = sum / static_cast<double>(values.size());
    double squares = 0;
    for (const double v : values)
        squares += (v - mean) * (v - mean);
    return squares / static_cast<double>(values.size() - 1);
}

std::vector<double> summaryOfRuns(const std::vector<std::array<double, kLineCount>>& runs)
{
    std::vector<double> summary;
    for (const auto& run : runs) {
        double sum = 0;
        bool every = true;
        for (const std::size_t l : kHeadlineLines) {
            every = every && std::isfinite(run[l]);
            sum += every ? run[l] : 0;
        }
        if (every)
            summary.push_back(sum / static_cast<double>(kHeadlineLines.size()));
    }
    return summary;
}

SittingSide sideOfRuns(const std::vector<std::array<double, kLineCount>>& runs, const WanderModel& model)
{
    SittingSide side;
    side.model = model;
    for (const auto& run : runs)
        for (std::size_t l = 0; l < kLineCount; ++l)
            if (std::isfinite(run[l]))
                side.lines[l].push_back(run[l]);
    side.summary = summaryOfRuns(runs);
    return side;
}

SittingComparison compareSittings(const SittingSide& base, const SittingSide& other, Pairing pairing,
                                  const VerdictSettings& settings)
{
    SittingComparison result;
    result.pairing = pairing;
    result.baseSource = base.model.source;
    result.otherSource = other.model.source;
    result.familyLevel = settings.level;
    const double alpha = 1 - settings.level;

    std::array<Test, kSittingRows> tests{};
    std::array<double, kSittingRows> weight{};
    std::array<bool, kSittingRows> open{};
    for (std::size_t row = 0; row < kSittingRows; ++row) {
        const std::size_t m = row == kSummaryRow ? base.summary.size() : base.lines[row].size();
        const std::size_t n = row == kSummaryRow ? other.summary.size() : other.lines[row].size();
        RowResult& r = result.rows[row];
        r.judged = m > 0 && n > 0;
        if (!r.judged)
            continue;
        tests[row] = pairing == Pairing::interleaved ? exactTest(base, other, row) : tTest(base, other, row);
        r.ratio = std::exp(tests[row].shift);
        r.p = tests[row].p;
        r.df = tests[row].exact ? 0 : tests[row].df;
        r.wanderShare = tests[row].wanderShare;
        weight[row] = row == kSummaryRow ? kHeadlineWeight : (1 - kHeadlineWeight) / kLineCount;
        open[row] = true;
    }
    double allWeight = 0;
    for (std::size_t row = 0; row < kSittingRows; ++row)
        allWeight += open[row] ? weight[row] : 0;
    for (std::size_t row = 0; row < kSittingRows; ++row)
        if (open[row]) {
            const std::size_t m = row == kSummaryRow ? base.summary.size() : base.lines[row].size();
            const std::size_t n = row == kSummaryRow ? other.summary.size() : other.lines[row].size();
            result.rows[row].detectable = detectableAt(tests[row], alpha * weight[row] / allWeight, settings.threshold, m, n);
        }
    // Weighted Holm: the open row with the smallest p / weight is called
    // when p <= alpha * weight / (the open rows' weights); its weight passes
    // to the rows still open.
    std::array<bool, kSittingRows> rejected{};
    for (;;) {
        double openWeight = 0;
        for (std::size_t row = 0; row < kSittingRows; ++row)
            openWeight += open[row] ? weight[row] : 0;
        std::optional<std::size_t> next;
        for (std::size_t row = 0; row < kSittingRows; ++row)
            if (open[row] && (!next || tests[row].p / weight[row] < tests[*next].p / weight[*next]))
                next = row;
        if (!next || !(openWeight > 0))
            break;
        for (std::size_t row = 0; row < kSittingRows; ++row)
            if (open[row])
                result.rows[row].level = 1 - alpha * weight[row] / openWeight;
        if (tests[*next].p > alpha * weight[*next] / openWeight)
            break;
        rejected[*next] = true;
        open[*next] = false;
    }
    const double up = std::log1p(settings.threshold), down = std::log1p(-settings.threshold);
    for (std::size_t row = 0; row < kSittingRows; ++row) {
        RowResult& r = result.rows[row];
        if (!r.judged)
            continue;
        const std::size_t m = row == kSummaryRow ? base.summary.size() : base.lines[row].size();
        const std::size_t n = row == kSummaryRow ? other.summary.size() : other.lines[row].size();
        setInterval(r, tests[row], 1 - r.level, m, n);
        const double shift = tests[row].shift;
        if (rejected[row] && shift > up)
            r.verdict = Verdict::slower;
        else if (rejected[row] && shift < down)
            r.verdict = Verdict::faster;
        else if (r.low && *r.low >= std::exp(down) && *r.high <= std::exp(up))
            r.verdict = Verdict::same;
        else
            r.doubt = rejected[row] ? Doubt::smallDifference : r.low ? Doubt::tooMuchSpread : Doubt::tooFewRuns;
    }
    return result;
}

} // namespace cpubench
