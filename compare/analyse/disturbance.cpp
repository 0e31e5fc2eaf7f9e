#include "disturbance.h"

#include "read.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>

namespace cpubench::analyse {

namespace {

// The median absolute deviation times this is the standard deviation of a
// normal distribution.
constexpr double kMadToSigma = 1.4826;

bool usable(const std::optional<double>& value)
{
    return value && std::isfinite(*value) && *value >= 0;
}

double orZero(const std::optional<double>& value)
{
    return usable(value) ? *value : 0;
}

std::optional<double> goodTime(const LineRun& run)
{
    if (run.time && std::isfinite(*run.time) && *run.time > 0)
        return std::log(*run.time);
    return std::nullopt;
}

// The median of sorted values; with an even count, the mean of the middle two.
double sortedMedian(const std::vector<double>& sorted)
{
    const std::size_t n = sorted.size(), middle = n / 2;
    return n % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return sortedMedian(values);
}

// The median of sorted values without the one at `skip` (none: all of
// them); needs at least one value left.
double medianWithout(const std::vector<double>& sorted, std::optional<std::size_t> skip)
{
    const std::size_t n = sorted.size() - (skip ? 1 : 0), middle = n / 2;
    const auto at = [&](std::size_t i) { return sorted[skip && i >= *skip ? i + 1 : i]; };
    return n % 2 == 1 ? at(middle) : (at(middle - 1) + at(middle)) / 2;
}

double mad(const std::vector<double>& values, double centre)
{
    std::vector<double> deviations;
    deviations.reserve(values.size());
    for (const double value : values)
        deviations.push_back(std::abs(value - centre));
    return median(std::move(deviations));
}

// Makes the scaled median absolute deviation of n values an unbiased
// estimate of a normal standard deviation (Croux and Rousseeuw's factors).
double smallSampleFactor(std::size_t n)
{
    constexpr double kFactors[] = {1, 1, 1.196, 1.495, 1.363, 1.206, 1.200, 1.140, 1.129, 1.107};
    return n < std::size(kFactors) ? kFactors[n] : static_cast<double>(n) / (static_cast<double>(n) - 0.8);
}

// A sorted list of values, each with the run it came from in the session
// judged (none for an earlier session's run).
struct Ranked {
    std::vector<double> values;
    std::vector<std::optional<std::size_t>> runs;
    std::vector<std::optional<std::size_t>> positions; // by run: where its value lies

    void sortByValue()
    {
        std::vector<std::size_t> order(values.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
        std::vector<double> sortedValues;
        std::vector<std::optional<std::size_t>> sortedRuns;
        for (const std::size_t i : order) {
            sortedValues.push_back(values[i]);
            sortedRuns.push_back(runs[i]);
        }
        values = std::move(sortedValues);
        runs = std::move(sortedRuns);
        for (std::size_t i = 0; i < runs.size(); ++i)
            if (runs[i]) {
                if (*runs[i] >= positions.size())
                    positions.resize(*runs[i] + 1);
                positions[*runs[i]] = i;
            }
    }
    std::optional<std::size_t> positionOf(std::size_t run) const
    {
        return run < positions.size() ? positions[run] : std::nullopt;
    }
    // The median without `run`'s own value; none when fewer than `least` remain.
    std::optional<double> medianWithoutRun(std::size_t run, std::size_t least) const
    {
        const std::optional<std::size_t> own = positionOf(run);
        if (values.size() - (own ? 1 : 0) < least || values.size() - (own ? 1 : 0) == 0)
            return std::nullopt;
        return medianWithout(values, own);
    }
};

// The sessions whose runs of line `line` go into its usual figures: the
// session itself first, then the matching earlier ones.
std::vector<const SessionLine*> referenceLines(const SessionInput& session, const std::vector<SessionInput>& earlier,
                                               std::size_t line)
{
    std::vector<const SessionLine*> lines = {&session.lines[line]};
    for (const SessionInput& other : earlier)
        if (other.cpus == session.cpus && other.lines.size() == session.lines.size() &&
            other.lines[line].threads == session.lines[line].threads)
            lines.push_back(&other.lines[line]);
    return lines;
}

// The thread counts of one line, with everything judged about it.
class LineJudge {
public:
    LineJudge(const SessionInput& session, const std::vector<SessionInput>& earlier, std::size_t line,
              const Rule& rule)
        : session_(session), line_(session.lines[line]), threads_(std::max(1, line_.threads)), rule_(rule)
    {
        const std::vector<const SessionLine*> lines = referenceLines(session, earlier, line);
        result_.historySessions = lines.size() - 1;
        result_.basis = lines.size() > 1 ? Basis::withHistory : Basis::session;
        collectShares(lines);
        result_.timeSpread = timeSpread(lines);
        historyLevel({lines.begin() + 1, lines.end()});
    }

    LineJudgement judge()
    {
        const std::size_t n = line_.runs.size();
        result_.runs.resize(n);
        std::vector<bool> ordinary(n, false);
        for (std::size_t r = 0; r < n; ++r)
            ordinary[r] = goodTime(line_.runs[r]).has_value() && !outsideUnusual(r);
        // The log-times and run delays of the ordinary runs, to set each run against.
        Ranked times, delays, shares;
        for (std::size_t r = 0; r < n; ++r) {
            if (!ordinary[r])
                continue;
            times.values.push_back(*goodTime(line_.runs[r]));
            times.runs.push_back(r);
            if (const std::optional<Share> share = shareOf(r)) {
                shares.values.push_back(share->total());
                shares.runs.push_back(r);
            }
            const auto& figures = line_.runs[r].figures;
            if (figures && usable(figures->runDelay) && *figures->runDelay > 0) {
                delays.values.push_back(std::log(*figures->runDelay));
                delays.runs.push_back(r);
            }
        }
        times.sortByValue();
        delays.sortByValue();
        shares.sortByValue();
        for (std::size_t r = 0; r < n; ++r)
            judgeRun(r, times, delays, shares);
        conclude();
        return result_;
    }

private:
    // Rule step 3: the line's robust standard deviation of log-times within
    // a session, from the runs that nothing from outside may have slowed.
    double timeSpread(const std::vector<const SessionLine*>& lines) const
    {
        std::vector<double> spreads;
        for (const SessionLine* line : lines) {
            std::vector<double> logs;
            for (const LineRun& run : line->runs) {
                const std::optional<double> time = goodTime(run);
                if (time && !(run.figures && outsideUnusual(*run.figures)))
                    logs.push_back(*time);
            }
            if (logs.size() < 3)
                continue;
            std::sort(logs.begin(), logs.end());
            spreads.push_back(kMadToSigma * smallSampleFactor(logs.size()) * mad(logs, sortedMedian(logs)));
        }
        if (spreads.empty())
            return rule_.timeSpreadUnknown;
        return std::max(rule_.timeSpreadFloor, median(std::move(spreads)));
    }

    // The line's level in the earlier sessions: the median of their
    // sessions' medians, and how far a session's median wanders from it,
    // for a run that has too few ordinary runs beside it in its session.
    void historyLevel(const std::vector<const SessionLine*>& earlier)
    {
        std::vector<double> medians;
        for (const SessionLine* line : earlier) {
            std::vector<double> logs;
            for (const LineRun& run : line->runs) {
                const std::optional<double> time = goodTime(run);
                if (time && !(run.figures && outsideUnusual(*run.figures)))
                    logs.push_back(*time);
            }
            if (!logs.empty())
                medians.push_back(median(std::move(logs)));
        }
        if (medians.size() < rule_.levelSessions)
            return;
        std::sort(medians.begin(), medians.end());
        const double level = sortedMedian(medians);
        const double wander = kMadToSigma * smallSampleFactor(medians.size()) * mad(medians, level);
        result_.historyLevel = std::exp(level);
        result_.historySpread = std::hypot(result_.timeSpread, wander);
    }

    void collectShares(const std::vector<const SessionLine*>& lines)
    {
        std::vector<double> walls, steals, others;
        std::vector<double> throttles;
        for (std::size_t s = 0; s < lines.size(); ++s)
            for (std::size_t r = 0; r < lines[s]->runs.size(); ++r) {
                const auto& figures = lines[s]->runs[r].figures;
                if (!figures)
                    continue;
                if (figures->throttle && *figures->throttle >= 0)
                    throttles.push_back(static_cast<double>(*figures->throttle));
                const std::optional<Share> share = lostShare(*figures, threads_, session_.cpus);
                if (!share)
                    continue;
                shares_.values.push_back(share->total());
                shares_.runs.push_back(s == 0 ? std::optional<std::size_t>(r) : std::nullopt);
                steals.push_back(share->steal);
                others.push_back(share->others);
                walls.push_back(figures->wall);
            }
        shares_.sortByValue();
        usualThrottle_ = throttles.empty() ? 0 : median(throttles);
        if (shares_.values.empty())
            return;
        const double middle = sortedMedian(shares_.values), usual = std::min(middle, rule_.usualShareCeiling);
        // Two clock ticks of the processors the line uses are the least
        // difference the CPU times can show.
        const double used = std::min(threads_, std::max(1, session_.cpus));
        const double resolution = 2 * kClockTick / (used * std::max(median(walls), 1e-3));
        result_.usualShare = usual;
        result_.shareSpread =
            std::max({kMadToSigma * mad(shares_.values, middle), rule_.shareSpreadFloor, resolution});
        // The usual parts, in proportion when the usual share is capped.
        const double scale = middle > 0 ? usual / middle : 1;
        usualSteal_ = scale * median(steals);
        usualOthers_ = scale * median(others);
    }

    std::optional<Share> shareOf(std::size_t run) const
    {
        const auto& figures = line_.runs[run].figures;
        return figures ? lostShare(*figures, threads_, session_.cpus) : std::nullopt;
    }

    bool throttled(const Figures& figures) const
    {
        return figures.throttle && *figures.throttle > 0 && static_cast<double>(*figures.throttle) > usualThrottle_;
    }
    bool throttled(std::size_t run) const
    {
        const auto& figures = line_.runs[run].figures;
        return figures && throttled(*figures);
    }

    bool unusualShare(double share) const
    {
        return share > result_.usualShare + rule_.shareSpreads * result_.shareSpread;
    }

    // Whether something from outside might have slowed the run: not a
    // measure of the line's ordinary time.
    bool outsideUnusual(const Figures& figures) const
    {
        const std::optional<Share> share = lostShare(figures, threads_, session_.cpus);
        return throttled(figures) || (share && unusualShare(share->total()));
    }
    bool outsideUnusual(std::size_t run) const
    {
        const auto& figures = line_.runs[run].figures;
        return figures && outsideUnusual(*figures);
    }

    // The slowdown, as a log-factor, of a share beyond another one.
    static double excessOver(double share, double usual)
    {
        return std::max(0.0, std::log1p(-std::min(usual, 0.99)) - std::log1p(-std::min(share, 0.99)));
    }

    void judgeRun(std::size_t r, const Ranked& times, const Ranked& delays, const Ranked& shares)
    {
        RunJudgement& judgement = result_.runs[r];
        const LineRun& run = line_.runs[r];
        const std::optional<double> logTime = goodTime(run);
        if (run.figures && run.figures->throttle)
            judgement.throttle = std::max(0LL, *run.figures->throttle);
        double excess = 0, explained = 0;
        if (const std::optional<Share> share = shareOf(r)) {
            judgement.share = share->total();
            judgement.shareSteal = share->steal;
            judgement.shareOthers = share->others;
            judgement.usualShare = result_.usualShare;
            judgement.shareSpreads = (share->total() - result_.usualShare) / result_.shareSpread;
            // The runs that lost as much, this one left aside.
            const auto first = std::lower_bound(shares_.values.begin(), shares_.values.end(), share->total());
            judgement.asLarge = static_cast<std::size_t>(shares_.values.end() - first) - 1;
            judgement.shareRuns = shares_.values.size() - 1;
            excess = excessOver(share->total(), result_.usualShare);
            judgement.predicted = std::exp(excess);
            // What the share explains of the time against the runs it is set against.
            if (const auto theirs = shares.medianWithoutRun(r, 1))
                explained = excessOver(share->total(), *theirs);
        }
        if (!logTime)
            return;
        const double spread = result_.timeSpread;
        const std::optional<double> centre = times.medianWithoutRun(r, 2);
        const double off = centre ? *logTime - *centre : 0;
        if (centre)
            judgement.timeFactor = std::exp(off);
        // Too few ordinary runs beside it: its time against the line's
        // level in the earlier sessions, within their wander.
        bool moved = true;
        if (centre)
            moved = off >= rule_.movedSpreads * spread;
        else if (result_.historyLevel) {
            const double offLevel = *logTime - std::log(*result_.historyLevel);
            judgement.timeFactor = std::exp(offLevel);
            judgement.againstHistory = true;
            moved = offLevel >= rule_.movedSpreads * result_.historySpread;
        }
        if (threads_ > session_.cpus && run.figures && usable(run.figures->runDelay)) {
            judgement.runDelay = *run.figures->runDelay;
            if (const auto usual = delays.medianWithoutRun(r, 2))
                judgement.usualRunDelay = std::exp(*usual);
        }

        const bool unusual = judgement.share && unusualShare(*judgement.share);
        const bool large = excess >= std::max(rule_.predictedSpreads * spread, std::log1p(rule_.leastPredicted));
        if (throttled(r) && moved) {
            judgement.finding = Finding::disturbed;
            judgement.cause = Cause::throttling;
        } else if (unusual && large && moved) {
            judgement.finding = Finding::disturbed;
            judgement.cause = judgement.shareSteal - usualSteal_ >= judgement.shareOthers - usualOthers_
                                  ? Cause::steal
                                  : Cause::othersCpu;
        }
        // Irregular: far off, and no outside cause explains half of it.
        const double far = std::max(rule_.irregularSpreads * spread, std::log1p(rule_.irregularLeast));
        const double farAbove = std::min(far, std::log1p(rule_.irregularAlways));
        const bool farOff = off > farAbove || -off > far;
        if (centre && farOff && (off < 0 || explained < off / 2) && judgement.cause != Cause::throttling) {
            judgement.finding = Finding::irregular;
            judgement.cause = Cause::none;
            judgement.irregularity =
                judgement.runDelay && judgement.usualRunDelay && *judgement.usualRunDelay > 0 &&
                        std::log(std::max(*judgement.runDelay, 1e-9) / *judgement.usualRunDelay) > farAbove && off > 0
                    ? Irregularity::runDelay
                    : Irregularity::time;
        }
        judgement.leftOut = judgement.finding == Finding::disturbed;
    }

    // Rule step 6: never leave out most of a line.
    void conclude()
    {
        std::size_t timed = 0;
        std::map<Cause, std::size_t> causes;
        for (std::size_t r = 0; r < result_.runs.size(); ++r) {
            const RunJudgement& judgement = result_.runs[r];
            timed += goodTime(line_.runs[r]) ? 1 : 0;
            result_.named += judgement.finding != Finding::none ? 1 : 0;
            if (judgement.finding == Finding::disturbed) {
                ++result_.disturbed;
                ++causes[judgement.cause];
            }
        }
        if (2 * result_.disturbed > timed && result_.disturbed > 0) {
            result_.weakness = Weakness::mostRunsDisturbed;
            std::size_t best = 0;
            for (const auto& [cause, count] : causes)
                if (count > best) {
                    best = count;
                    result_.cause = cause;
                }
            for (RunJudgement& judgement : result_.runs)
                judgement.leftOut = false;
        }
        for (const RunJudgement& judgement : result_.runs)
            result_.leftOut += judgement.leftOut ? 1 : 0;
    }

    const SessionInput& session_;
    const SessionLine& line_;
    int threads_;
    const Rule& rule_;
    LineJudgement result_;
    Ranked shares_; // every share of the line, this session's and the earlier ones'
    double usualSteal_ = 0, usualOthers_ = 0, usualThrottle_ = 0;
};

} // namespace

std::optional<Share> lostShare(const Figures& f, int threads, int cpus)
{
    if (!(std::isfinite(f.wall) && f.wall > 0) || cpus < 1 || threads < 1)
        return std::nullopt;
    if (!usable(f.othersCpu) && !usable(f.steal) && !usable(f.runDelay))
        return std::nullopt;
    const double wall = f.wall, others = orZero(f.othersCpu), steal = orZero(f.steal);
    Share share;
    if (threads >= cpus) {
        // A team as large as the machine keeps every processor busy: all
        // that others took is taken from it. Its threads wait by design.
        const double capacity = static_cast<double>(cpus) * wall;
        share.steal = steal / capacity;
        share.others = others / capacity;
    } else {
        // A smaller team leaves processors idle, where others can run
        // unharmed; the hypervisor steals only from busy processors, so the
        // team's part of the steal is in proportion to its busy time.
        const double capacity = static_cast<double>(threads) * wall;
        share.steal = steal * capacity / (capacity + others) / capacity;
        share.others = std::max(0.0, others - static_cast<double>(cpus - threads) * wall) / capacity;
        if (usable(f.runDelay))
            share.others = std::max(share.others, *f.runDelay / capacity);
    }
    // No line loses all of its time: a larger figure is a miscount.
    const double total = share.total();
    if (!std::isfinite(total))
        return std::nullopt;
    if (total > 0.99) {
        share.steal *= 0.99 / total;
        share.others *= 0.99 / total;
    }
    return share;
}

SessionJudgement judgeSession(const SessionInput& session, const std::vector<SessionInput>& earlier, const Rule& rule)
{
    SessionJudgement judgement;
    judgement.lines.reserve(session.lines.size());
    for (std::size_t line = 0; line < session.lines.size(); ++line)
        judgement.lines.push_back(LineJudge(session, earlier, line, rule).judge());
    return judgement;
}

} // namespace cpubench::analyse

namespace cpubench {

analyse::SessionInput disturbanceInput(const Machine& machine, const std::vector<bool>& used)
{
    analyse::SessionInput input;
    input.cpus = machine.cpus;
    input.lines.resize(kLineCount);
    for (std::size_t line = 0; line < kLineCount; ++line) {
        analyse::SessionLine& own = input.lines[line];
        own.threads = kLines[line].threads;
        for (std::size_t r = 0; r < machine.runs.size(); ++r) {
            const Run& run = machine.runs[r];
            analyse::LineRun entry;
            const LineResult& result = run.transcript.lines[line];
            if (result.time && result.mark != Mark::wrong && (used.empty() || (r < used.size() && used[r])))
                entry.time = result.time->seconds;
            if (const std::optional<LineFigures>& f = run.figures[line])
                entry.figures = analyse::Figures{f->seconds, f->otherCpu, f->steal, f->runDelay, f->throttle};
            own.runs.push_back(entry);
        }
    }
    return input;
}

} // namespace cpubench
