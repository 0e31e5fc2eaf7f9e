#include "steps.h"

#include "distributions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace cpubench {

namespace {

// How often the model is fitted again around the levels found, at most.
constexpr int kMostRounds = 5;
// A line's history is tested at this share of 1 - level (4.25% at 95%);
// the series less the machine-wide part gets kCommonShare of that, the
// line's own series the rest. The tests are conservative (each line's
// wander has only its own sessions' degrees of freedom, the largest of the
// boundaries' statistics is referred to its own distribution, and every
// change must pass again between its neighbouring levels): measured on
// generated histories of 8 sessions without a step, under 1% of the line
// histories show a change and 3% to 4% of the histories end with status 3
// (wander_bench histories).
constexpr double kLineShare = 0.85;
// Up to this many sessions in a stretch, the largest step's distribution is
// computed exactly.
constexpr std::size_t kExactSessions = 64;
constexpr double kCommonShare = 0.7;

struct Series {
    std::vector<double> value, variance;
    std::vector<bool> present;
};

bool leftOutAt(const Segments& segments, std::size_t s, std::size_t l)
{
    return segments.leftOut.size() > s && segments.leftOut[s][l];
}

Series rawSeries(const std::vector<SessionLines>& sessions, const WanderModel& model, const Segments& segments,
                 std::size_t l)
{
    Series series;
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        const SessionLine& at = sessions[s][l];
        const bool present = at.runs > 0 && std::isfinite(at.mean) && !leftOutAt(segments, s, l);
        series.present.push_back(present);
        series.value.push_back(present ? at.mean : 0);
        series.variance.push_back(present ? sessionVariance(model, l, at.runs) : 1);
    }
    return series;
}

Series commonSeries(const std::vector<SessionLines>& sessions, const WanderModel& model, const Segments& segments,
                    std::size_t l)
{
    const Adjusted adjusted = adjustedSeries(sessions, model, segments, l);
    Series series{adjusted.value, adjusted.variance, adjusted.present};
    for (std::size_t s = 0; s < sessions.size(); ++s)
        if (leftOutAt(segments, s, l))
            series.present[s] = false;
    return series;
}

// A stretch's weighted mean and that mean's variance.
struct Level {
    double mean = 0, variance = 0;
    std::size_t count = 0;
};

Level levelOf(const Series& series, std::size_t from, std::size_t to, std::size_t skip = SIZE_MAX)
{
    Level level;
    double weights = 0, sum = 0;
    for (std::size_t s = from; s < to; ++s)
        if (series.present[s] && s != skip) {
            weights += 1 / series.variance[s];
            sum += series.value[s] / series.variance[s];
            ++level.count;
        }
    if (weights > 0) {
        level.mean = sum / weights;
        level.variance = 1 / weights;
    }
    return level;
}

struct Split {
    bool found = false;
    std::size_t at = 0;    // the session where the later stretch starts
    double t = 0;          // the standardised difference, later less earlier
    double shift = 0, se = 0;
    std::size_t count = 0; // present sessions in the stretch
};

Split bestSplit(const Series& series, std::size_t from, std::size_t to)
{
    Split best;
    std::vector<std::size_t> present;
    for (std::size_t s = from; s < to; ++s)
        if (series.present[s])
            present.push_back(s);
    best.count = present.size();
    if (present.size() < 2)
        return best;
    double totalWeight = 0, totalSum = 0;
    for (const std::size_t s : present) {
        totalWeight += 1 / series.variance[s];
        totalSum += series.value[s] / series.variance[s];
    }
    double weight = 0, sum = 0;
    for (std::size_t b = 1; b < present.size(); ++b) {
        const std::size_t s = present[b - 1];
        weight += 1 / series.variance[s];
        sum += series.value[s] / series.variance[s];
        const double before = sum / weight, after = (totalSum - sum) / (totalWeight - weight);
        const double se = std::sqrt(1 / weight + 1 / (totalWeight - weight));
        const double t = (after - before) / se;
        if (!best.found || std::abs(t) > std::abs(best.t)) {
            best.found = true;
            best.at = present[b];
            best.t = t;
            best.shift = after - before;
            best.se = se;
        }
    }
    return best;
}

bool beyondThreshold(double shift, double threshold)
{
    return shift > std::log1p(threshold) || shift < std::log1p(-threshold);
}

struct Tests {
    double alpha = 0; // of the series tested
    double df = 0;
    double threshold = 0;
};

// The tests of a line: its own series and the series less the machine-wide part.
std::pair<Tests, Tests> testsFor(const StepSettings& settings, const WanderModel& model, std::size_t l)
{
    const double alpha = kLineShare * (1 - settings.level);
    return {Tests{alpha * (1 - kCommonShare), model.scaleDf[l], settings.threshold},
            Tests{alpha * kCommonShare, model.scaleDf[l], settings.threshold}};
}

struct Boundary {
    std::size_t at = 0;
    bool byCommon = false;
};

// How far past its critical value a split is: its |t| over the critical value.
double strength(const Split& split, const Tests& tests)
{
    if (!split.found)
        return 0;
    return std::abs(split.t) / largestStepCritical(split.count, tests.alpha, tests.df);
}

bool passes(const Split& split, const Tests& tests)
{
    return split.found && strength(split, tests) > 1 && beyondThreshold(split.shift, tests.threshold);
}

// Top down: a stretch splits at the best boundary of whichever series passes
// its critical value by more, and each side is segmented again.
void segment(const Series& raw, const Series& common, std::size_t from, std::size_t to,
             const std::pair<Tests, Tests>& tests, std::vector<Boundary>& found)
{
    const Split byRaw = bestSplit(raw, from, to), byCommon = bestSplit(common, from, to);
    const bool rawPasses = passes(byRaw, tests.first), commonPasses = passes(byCommon, tests.second);
    if (!rawPasses && !commonPasses)
        return;
    const bool useCommon =
        commonPasses && (!rawPasses || strength(byCommon, tests.second) >= strength(byRaw, tests.first));
    const std::size_t at = useCommon ? byCommon.at : byRaw.at;
    found.push_back({at, useCommon});
    segment(raw, common, from, at, tests, found);
    segment(raw, common, at, to, tests, found);
}

// The test of one boundary between the stretches [from, at) and [at, to).
Split boundaryTest(const Series& series, std::size_t from, std::size_t at, std::size_t to)
{
    const Level before = levelOf(series, from, at), after = levelOf(series, at, to);
    Split split;
    split.count = before.count + after.count;
    if (before.count == 0 || after.count == 0)
        return split;
    split.found = true;
    split.at = at;
    split.shift = after.mean - before.mean;
    split.se = std::sqrt(before.variance + after.variance);
    split.t = split.shift / split.se;
    return split;
}

// Bottom up: a boundary that does not pass between its two neighbouring
// levels (at the critical value for their sessions together) goes, the
// weakest first, so that every change left is confirmed where it stands.
void prune(const Series& raw, const Series& common, std::size_t count, const std::pair<Tests, Tests>& both,
           std::vector<Boundary>& bounds)
{
    std::sort(bounds.begin(), bounds.end(), [](const Boundary& a, const Boundary& b) { return a.at < b.at; });
    for (;;) {
        std::optional<std::size_t> weakest;
        double weakestStrength = 0;
        for (std::size_t i = 0; i < bounds.size(); ++i) {
            const std::size_t from = i == 0 ? 0 : bounds[i - 1].at, to = i + 1 < bounds.size() ? bounds[i + 1].at : count;
            const Split split = boundaryTest(bounds[i].byCommon ? common : raw, from, bounds[i].at, to);
            const Tests& tests = bounds[i].byCommon ? both.second : both.first;
            const double s = strength(split, tests);
            if (!passes(split, tests) && (!weakest || s < weakestStrength)) {
                weakest = i;
                weakestStrength = s;
            }
        }
        if (!weakest)
            return;
        bounds.erase(bounds.begin() + static_cast<std::ptrdiff_t>(*weakest));
    }
}

struct LineState {
    std::vector<Boundary> bounds;
};

// The segments the model is fitted around: the changes found on each line,
// and on a line without one its best split, counted with what choosing it
// took, so that a step not (yet) confirmed does not inflate the wander.
Segments fitSegments(const std::vector<SessionLines>& sessions, const WanderModel& model, const Segments& base,
                     const std::array<LineState, kLineCount>& lines)
{
    Segments fit = base;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        fit.starts[l].clear();
        fit.chosenDf[l] = 0;
        for (const Boundary& bound : lines[l].bounds)
            fit.starts[l].push_back(bound.at);
        std::sort(fit.starts[l].begin(), fit.starts[l].end());
        if (!fit.starts[l].empty())
            continue;
        const Series raw = rawSeries(sessions, model, base, l);
        const Split best = bestSplit(raw, 0, sessions.size());
        if (best.found && best.count >= 4) {
            fit.starts[l].push_back(best.at);
            fit.chosenDf[l] = std::max(0.0, bestSplitSquares(best.count) - 1);
        }
    }
    return fit;
}

// The segments of the changes found alone: what the machine-wide part of a
// session is taken around. (A split placed only to fit the model would pass
// its stretches' share of the machine-wide part on to the other lines as a
// step.)
Segments confirmedOf(const Segments& base, const std::array<LineState, kLineCount>& lines)
{
    Segments confirmed = base;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        confirmed.starts[l].clear();
        for (const Boundary& bound : lines[l].bounds)
            confirmed.starts[l].push_back(bound.at);
        std::sort(confirmed.starts[l].begin(), confirmed.starts[l].end());
    }
    return confirmed;
}

// Changes found with the model: per line, the boundaries that pass.
std::array<LineState, kLineCount> segmentAll(const std::vector<SessionLines>& sessions, const WanderModel& model,
                                               const Segments& confirmed, const Segments& base,
                                               const StepSettings& settings)
{
    std::array<LineState, kLineCount> lines;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const Series raw = rawSeries(sessions, model, base, l), common = commonSeries(sessions, model, confirmed, l);
        Series masked = common;
        for (std::size_t s = 0; s < sessions.size(); ++s)
            masked.present[s] = masked.present[s] && raw.present[s];
        const auto tests = testsFor(settings, model, l);
        segment(raw, masked, 0, sessions.size(), tests, lines[l].bounds);
        prune(raw, masked, sessions.size(), tests, lines[l].bounds);
    }
    return lines;
}

bool sameStarts(const std::array<LineState, kLineCount>& a, const std::array<LineState, kLineCount>& b)
{
    for (std::size_t l = 0; l < kLineCount; ++l) {
        if (a[l].bounds.size() != b[l].bounds.size())
            return false;
        for (std::size_t i = 0; i < a[l].bounds.size(); ++i)
            if (a[l].bounds[i].at != b[l].bounds[i].at)
                return false;
    }
    return true;
}

struct Settled {
    WanderModel model;
    Segments fitted, confirmed;
    std::array<LineState, kLineCount> lines;
    std::size_t rounds = 0;
};

Settled settle(const std::vector<SessionLines>& sessions, const Segments& base, const StepSettings& settings,
               const WanderModel& fallback)
{
    Settled settled;
    const auto fit = [&](const Segments& segments) {
        return settings.known ? *settings.known : fitWander(sessions, segments, fallback);
    };
    WanderModel model = fit(base);
    std::array<LineState, kLineCount> lines{};
    Segments fitted = fitSegments(sessions, model, base, lines);
    model = fit(fitted);
    for (int round = 0; round < kMostRounds; ++round) {
        ++settled.rounds;
        std::array<LineState, kLineCount> again =
            segmentAll(sessions, model, confirmedOf(base, lines), base, settings);
        const bool same = round > 0 && sameStarts(again, lines);
        lines = std::move(again);
        fitted = fitSegments(sessions, model, base, lines);
        model = fit(fitted);
        if (same)
            break;
    }
    settled.model = model;
    settled.fitted = fitted;
    settled.confirmed = confirmedOf(base, lines);
    settled.lines = lines;
    return settled;
}

// Excursions: a session (not the newest) that differs from the rest of its
// level by more than the level corrected for the level's sessions allows,
// and a level of one session between changes of opposite directions.
bool markExcursions(const std::vector<SessionLines>& sessions, const Settled& settled, const StepSettings& settings,
                    Segments& base)
{
    bool any = false;
    const std::size_t count = sessions.size();
    if (base.leftOut.size() != count)
        base.leftOut.assign(count, {});
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const Series common = commonSeries(sessions, settled.model, settled.confirmed, l);
        const Series raw = rawSeries(sessions, settled.model, base, l);
        const double alpha = (1 - settings.level) / kLineCount;
        const std::vector<Boundary>& bounds = settled.lines[l].bounds;
        for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
            if (bounds[i + 1].at != bounds[i].at + 1)
                continue;
            const std::size_t s = bounds[i].at;
            const std::size_t from = i == 0 ? 0 : bounds[i - 1].at, to = i + 2 < bounds.size() ? bounds[i + 2].at : count;
            const Split up = boundaryTest(raw, from, s, s + 1), down = boundaryTest(raw, s, s + 1, to);
            if (up.found && down.found && (up.shift > 0) == (down.shift < 0)) {
                base.leftOut[s][l] = true;
                any = true;
            }
        }
        std::vector<std::size_t> starts;
        for (const Boundary& bound : bounds)
            starts.push_back(bound.at);
        for (std::size_t k = 0; k <= starts.size(); ++k) {
            const std::size_t from = k == 0 ? 0 : starts[k - 1], to = k < starts.size() ? starts[k] : count;
            const Level all = levelOf(common, from, to);
            if (all.count < 3)
                continue;
            const double critical =
                tQuantileUpper(alpha / (2 * static_cast<double>(all.count)), settled.model.scaleDf[l]);
            for (std::size_t s = from; s < to && s + 1 < count; ++s) {
                if (!common.present[s] || base.leftOut[s][l])
                    continue;
                const Level others = levelOf(common, from, to, s);
                const double shift = common.value[s] - others.mean;
                const double t = shift / std::sqrt(common.variance[s] + others.variance);
                if (std::abs(t) > critical && beyondThreshold(shift, settings.threshold)) {
                    base.leftOut[s][l] = true;
                    any = true;
                }
            }
        }
    }
    return any;
}

// The sequential rule on one series: the newest kWindow sessions against
// the sessions of the newest level before them.
NewestSlower newestRule(const Series& series, std::size_t levelStart, std::size_t count, double df,
                        const StepSettings& settings)
{
    NewestSlower rule;
    if (count == 0 || !series.present[count - 1])
        return rule;
    const std::size_t window = std::min(NewestRule::kWindow, count);
    const std::size_t first = count - window;
    if (levelStart + 2 > first)
        return rule;
    const Level settledLevel = levelOf(series, levelStart, first);
    if (settledLevel.count < 2)
        return rule;
    double score = 0, z = 0;
    for (std::size_t s = first; s < count; ++s) {
        if (!series.present[s])
            continue;
        const double t = (series.value[s] - settledLevel.mean) / std::sqrt(series.variance[s] + settledLevel.variance);
        z = tToNormalScore(t, df);
        if (score == 0)
            rule.from = s;
        score = std::max(0.0, score + z - NewestRule::kReference);
    }
    rule.score = score;
    rule.newestScore = z;
    rule.ratio = std::exp(series.value[count - 1] - settledLevel.mean);
    rule.alarm = score > NewestRule::kLimit && z > NewestRule::kReference && rule.ratio > 1 + settings.threshold;
    return rule;
}

// The sequential rule: the history without its newest kWindow sessions
// settles first (its model and levels do not know the sessions tested),
// then each line's newest sessions are scored against its newest level.
void newestSessions(const std::vector<SessionLines>& sessions, const Segments& base, const StepSettings& settings,
                    const WanderModel& fallback, StepReport& report)
{
    const std::size_t count = sessions.size();
    if (count < NewestRule::kWindow + 2)
        return;
    const std::size_t first = count - NewestRule::kWindow;
    const std::vector<SessionLines> before(sessions.begin(), sessions.begin() + static_cast<std::ptrdiff_t>(first));
    Segments beforeBase;
    beforeBase.leftOut.assign(base.leftOut.begin(), base.leftOut.begin() + static_cast<std::ptrdiff_t>(first));
    const Settled part = settle(before, beforeBase, settings, fallback);
    Segments known = part.confirmed;
    known.leftOut = base.leftOut;
    for (std::size_t s = first; s < count; ++s)
        known.leftOut[s].fill(true);
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const Series raw = rawSeries(sessions, part.model, base, l);
        const Adjusted adjusted = adjustedSeries(sessions, part.model, known, l);
        Series common{adjusted.value, adjusted.variance, adjusted.present};
        for (std::size_t s = 0; s < count; ++s)
            common.present[s] = common.present[s] && raw.present[s];
        const std::vector<Boundary>& bounds = part.lines[l].bounds;
        std::size_t levelStart = 0;
        for (const Boundary& bound : bounds)
            levelStart = std::max(levelStart, bound.at);
        const double df = std::max(part.model.scaleDf[l], 1.0);
        const NewestSlower byCommon = newestRule(common, levelStart, count, df, settings);
        const NewestSlower byRaw = newestRule(raw, levelStart, count, df, settings);
        LineSteps& steps = report.lines[l];
        steps.newest = byCommon.alarm || !byRaw.alarm ? byCommon : byRaw;
        report.newestSlower = report.newestSlower || steps.newest.alarm;
    }
}

} // namespace

double largestStepCritical(std::size_t sessions, double alpha, double df)
{
    if (sessions < 2)
        return INFINITY;
    static std::map<std::pair<std::size_t, double>, double> normal;
    const auto key = std::pair{sessions, alpha};
    auto at = normal.find(key);
    if (at == normal.end()) {
        // Beyond kExactSessions, Bonferroni over the boundaries: a little
        // stricter, and the bridge's grid would take seconds per count.
        const double critical = sessions == 2               ? -normalQuantile(alpha / 2)
                                : sessions > kExactSessions ? -normalQuantile(alpha / (2 * static_cast<double>(sessions - 1)))
                                                            : noStepCritical(std::vector<double>(sessions, 1.0), alpha);
        at = normal.emplace(key, critical).first;
    }
    // The same per-boundary tail, for t statistics: the correlation of the
    // boundaries' tests is that of the normal case.
    const double tail = normalCdf(-at->second);
    return tQuantileUpper(tail, std::max(df, 1.0));
}

double bestSplitSquares(std::size_t sessions)
{
    if (sessions < 2)
        return 0;
    // Beyond kExactSessions, the value there grown as the largest of
    // independent squares grows (with the log of their count): a little
    // more than the truth, so the wander errs large.
    if (sessions > kExactSessions)
        return bestSplitSquares(kExactSessions) * std::log(static_cast<double>(sessions - 1)) /
               std::log(static_cast<double>(kExactSessions - 1));
    static std::map<std::size_t, double> known;
    auto at = known.find(sessions);
    if (at != known.end())
        return at->second;
    // E[M^2] = integral of 2c P(M > c) dc.
    const std::vector<double> equal(sessions, 1.0);
    constexpr double kStep = 0.05;
    double sum = 0;
    for (double c = kStep / 2; c < 7; c += kStep)
        sum += 2 * c * (1 - noStepProbability(equal, c)) * kStep;
    return known.emplace(sessions, sum).first->second;
}

namespace {

// A history's lines once settled: what the report is made of.
struct Findings {
    const std::vector<SessionLines>& sessions;
    const Settled& settled;
    const Segments& base;
    const StepSettings& settings;
};

// Each confirmed boundary as a change: the levels on both sides (the line's
// own), the ratio and interval of the series it was found in.
void reportChanges(const Findings& f, std::size_t l, const Series& raw, const Series& common, LineSteps& steps)
{
    const std::size_t count = f.sessions.size();
    const auto both = testsFor(f.settings, f.settled.model, l);
    const std::vector<Boundary>& bounds = f.settled.lines[l].bounds;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : bounds[i - 1].at, to = i + 1 < bounds.size() ? bounds[i + 1].at : count;
        const Split split = boundaryTest(bounds[i].byCommon ? common : raw, from, bounds[i].at, to);
        const Tests& tests = bounds[i].byCommon ? both.second : both.first;
        const double critical = largestStepCritical(split.count, tests.alpha, tests.df);
        LineChange change;
        change.session = bounds[i].at;
        change.before = levelOf(raw, from, bounds[i].at).mean;
        change.after = levelOf(raw, bounds[i].at, to).mean;
        change.ratio = std::exp(split.shift);
        change.low = std::exp(split.shift - critical * split.se);
        change.high = std::exp(split.shift + critical * split.se);
        change.direction = split.shift > 0 ? Direction::slower : Direction::faster;
        change.byCommonPart = bounds[i].byCommon;
        steps.changes.push_back(change);
        steps.starts.push_back(bounds[i].at);
    }
}

// Each session left out of a line as an excursion, against its level.
void reportExcursions(const Findings& f, std::size_t l, const Series& raw, LineSteps& steps)
{
    const std::size_t count = f.sessions.size();
    const Series all = rawSeries(f.sessions, f.settled.model, Segments{}, l);
    for (std::size_t s = 0; s < count; ++s) {
        if (!f.base.leftOut[s][l] || !all.present[s])
            continue;
        const std::size_t k = static_cast<std::size_t>(
            std::upper_bound(steps.starts.begin(), steps.starts.end(), s) - steps.starts.begin());
        const std::size_t from = k == 0 ? 0 : steps.starts[k - 1], to = k < steps.starts.size() ? steps.starts[k] : count;
        const Level around = levelOf(raw, from, to);
        if (around.count == 0)
            continue;
        const double shift = all.value[s] - around.mean;
        steps.excursions.push_back({s, std::exp(shift), shift > 0 ? Direction::slower : Direction::faster});
    }
}

// Undecided: the best split of each level that a wander at the low end of
// what the sessions allow (95% one-sided) would call a change, with the
// scale below which it would be one (by bisection).
void reportUndecided(const Findings& f, std::size_t l, LineSteps& steps)
{
    const std::size_t count = f.sessions.size();
    const WanderModel& model = f.settled.model;
    const Tests tests = testsFor(f.settings, model, l).first;
    const double df = std::max(model.scaleDf[l], 1.0);
    WanderModel low = model;
    low.scale[l] = model.scale[l] * std::sqrt(df / chiSquareQuantile(0.95, df));
    const Series lowRaw = rawSeries(f.sessions, low, f.base, l);
    for (std::size_t k = 0; k <= steps.starts.size(); ++k) {
        const std::size_t from = k == 0 ? 0 : steps.starts[k - 1], to = k < steps.starts.size() ? steps.starts[k] : count;
        const Split best = bestSplit(lowRaw, from, to);
        if (!passes(best, tests))
            continue;
        double passing = low.scale[l], failing = model.scale[l];
        for (int i = 0; i < 30; ++i) {
            WanderModel trial = model;
            trial.scale[l] = (passing + failing) / 2;
            const Split at = boundaryTest(rawSeries(f.sessions, trial, f.base, l), from, best.at, to);
            (strength(at, tests) > 1 ? passing : failing) = trial.scale[l];
        }
        steps.undecided.push_back({best.at, std::exp(best.shift), passing});
    }
}

} // namespace

StepReport findSteps(const std::vector<SessionLines>& sessions, const StepSettings& settings,
                     const WanderModel& fallback)
{
    StepReport report;
    Segments base;
    base.leftOut.assign(sessions.size(), {});
    Settled settled = settle(sessions, base, settings, fallback);
    if (markExcursions(sessions, settled, settings, base))
        settled = settle(sessions, base, settings, fallback);
    report.model = settled.model;
    report.rounds = settled.rounds;
    const Findings findings{sessions, settled, base, settings};
    for (std::size_t l = 0; l < kLineCount; ++l) {
        LineSteps& steps = report.lines[l];
        const Series raw = rawSeries(sessions, settled.model, base, l);
        Series common = commonSeries(sessions, settled.model, settled.confirmed, l);
        for (std::size_t s = 0; s < sessions.size(); ++s)
            common.present[s] = common.present[s] && raw.present[s];
        reportChanges(findings, l, raw, common, steps);
        reportExcursions(findings, l, raw, steps);
        reportUndecided(findings, l, steps);
        // The newest level: slower than the one before it.
        if (!steps.changes.empty() && steps.changes.back().direction == Direction::slower)
            report.newestSlower = true;
    }
    newestSessions(sessions, base, settings, fallback, report);
    return report;
}

} // namespace cpubench
