#include "comparison.h"

#include "ranks.h"
#include "session_lines.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

using Kind = ComparisonNote::Kind;

void addNote(Comparison& c, Kind kind, std::size_t machine, std::size_t run = 0, std::size_t line = 0,
             std::size_t index = 0)
{
    c.notes.push_back({kind, machine, run, line, index});
}

// What reading machine `m` left out, its runs' problems, its disturbed
// lines and the runs left out of its statistics.
void machineFindings(Comparison& c, std::size_t m)
{
    const Machine& machine = c.machines[m];
    const MachineStats& stats = c.stats[m];
    c.severalRuns = c.severalRuns || machine.runs.size() > 1;
    if (machine.infoError)
        addNote(c, Kind::infoUnusable, m);
    for (std::size_t i = 0; i < machine.notes.size(); ++i)
        addNote(c, Kind::read, m, 0, 0, i);
    if (machine.recordError)
        addNote(c, Kind::recordUnusable, m);
    for (std::size_t r = 0; r < machine.runs.size(); ++r)
        for (std::size_t p = 0; p < machine.runs[r].transcript.problems.size(); ++p)
            c.problems.push_back({ComparisonProblem::Kind::run, m, r, p});
    if (machine.recording != SessionState::complete)
        c.problems.push_back({ComparisonProblem::Kind::incompleteSession, m});
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const analyse::LineJudgement& judged = stats.disturbance.lines[line];
        for (std::size_t r = 0; r < judged.runs.size(); ++r)
            if (judged.runs[r].finding == analyse::Finding::disturbed)
                addNote(c, Kind::disturbed, m, r, line);
            else if (judged.runs[r].finding == analyse::Finding::irregular)
                addNote(c, Kind::irregular, m, r, line);
        if (judged.weakness != analyse::Weakness::none)
            addNote(c, Kind::disturbedSession, m, 0, line);
    }
    if (stats.flagged && machine.runs.size() > 1)
        addNote(c, stats.fromFlawedRuns ? Kind::noGoodRun : Kind::runsLeftOut, m);
}

// The log fingerprint of a run, when its first line prints all its values.
const std::vector<std::string>* fingerprint(const Run& run)
{
    const LineResult& line = run.transcript.lines[0];
    return line.present && line.values.size() == kLines[0].count ? &line.values : nullptr;
}

void groupFingerprints(Comparison& c)
{
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        // The machine's fingerprints, in the order its runs show them, each
        // with the runs that print it.
        std::vector<std::pair<std::size_t, std::vector<std::size_t>>> own;
        for (std::size_t r = 0; r < c.machines[m].runs.size(); ++r) {
            const std::vector<std::string>* values = fingerprint(c.machines[m].runs[r]);
            if (values == nullptr)
                continue;
            auto at = std::find_if(c.groups.begin(), c.groups.end(),
                                   [&](const FingerprintGroup& g) { return g.values == *values; });
            if (at == c.groups.end())
                at = c.groups.insert(c.groups.end(), {*values, {}});
            const auto group = static_cast<std::size_t>(at - c.groups.begin());
            auto mine = std::find_if(own.begin(), own.end(), [&](const auto& g) { return g.first == group; });
            if (mine == own.end())
                mine = own.insert(own.end(), {group, {}});
            mine->second.push_back(r);
        }
        for (const auto& [group, runs] : own) {
            c.stats[m].lines[0].groups.push_back(group);
            c.groups[group].members.push_back({m, runs, own.size() == 1});
        }
        if (own.size() > 1)
            addNote(c, Kind::mixedFingerprints, m);
    }
}

// A row of the comparison of sittings as the verdict the tables show.
RatioEstimate estimateOf(const RowResult& row, std::size_t baseRuns, std::size_t otherRuns, bool flawed,
                         const VerdictSettings& settings)
{
    RatioEstimate estimate;
    estimate.baseRuns = baseRuns;
    estimate.otherRuns = otherRuns;
    estimate.estimate = row.ratio;
    estimate.low = row.low;
    estimate.high = row.high;
    estimate.confidence = row.confidence;
    estimate.verdict = row.verdict;
    estimate.doubt = row.doubt;
    if (flawed) {
        estimate.verdict = Verdict::undecided;
        estimate.doubt = Doubt::flawedRuns;
        return estimate;
    }
    if (estimate.verdict != Verdict::undecided)
        return estimate;
    const double alpha = 1 - row.level;
    if (estimate.doubt == Doubt::tooFewRuns) {
        // The fewest runs per machine, the same on both, that reach the row's level.
        for (std::size_t n = std::max(baseRuns, otherRuns) + 1; n <= kMostRuns; ++n)
            if (ranks::criticalValue(n, n, alpha)) {
                estimate.runsNeeded = n;
                break;
            }
        return estimate;
    }
    // Between sittings, where the wander is most of the interval, runs do
    // not decide: sessions do.
    if (row.wanderShare > 0.5 && estimate.doubt == Doubt::tooMuchSpread) {
        estimate.doubt = Doubt::tooMuchWander;
        return estimate;
    }
    if (estimate.low && estimate.high) {
        const double up = 1 + settings.threshold, down = 1 - settings.threshold;
        const double shift = std::log(row.ratio);
        const double halfWidth = (std::log(*estimate.high) - std::log(*estimate.low)) / 2;
        const double room = row.ratio > up || row.ratio < down ? std::abs(shift)
                                                               : std::min(std::log(up) - shift, shift - std::log(down));
        estimate.runsNeeded = runsNeeded(halfWidth, room, (baseRuns + otherRuns + 1) / 2);
    }
    return estimate;
}

// The geometric mean of the summary lines' ratios (and of their ratios of
// medians), where every summary line has one.
void summaryRatios(Comparison& c, std::size_t m)
{
    Summary& summary = c.stats[m].summary;
    double logSum = 0, medianLogSum = 0;
    for (std::size_t line = 0; line < kLineCount; ++line) {
        if (!kLines[line].inSummary)
            continue;
        if (!c.stats[m].lines[line].ratio)
            return;
        logSum += std::log(*c.stats[m].lines[line].ratio);
        medianLogSum += std::log(*c.stats[m].lines[line].medianRatio);
    }
    summary.ratio = std::exp(logSum / static_cast<double>(kSummaryLineCount));
    summary.medianRatio = std::exp(medianLogSum / static_cast<double>(kSummaryLineCount));
}

// Machine `m`'s ratios to the baseline, their intervals and verdicts: its
// newest session against the baseline's as two sittings, each machine's
// wander counted; the ten rows judged together, the summary row the
// headline.
void againstBaseline(Comparison& c, std::size_t m)
{
    const bool flawed = c.stats[0].fromFlawedRuns || c.stats[m].fromFlawedRuns;
    const SittingComparison& sitting = c.sittings[m] =
        compareSittings(sittingSide(c.stats[0], c.wander[0]), sittingSide(c.stats[m], c.wander[m]),
                        Pairing::sittings, c.settings);
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const LineStats& base = c.stats[0].lines[line];
        LineStats& stats = c.stats[m].lines[line];
        if (base.runs == 0 || stats.runs == 0 || !(base.median.seconds > 0) || !sitting.rows[line].judged)
            continue;
        stats.medianRatio = stats.median.seconds / base.median.seconds;
        stats.estimate = estimateOf(sitting.rows[line], base.runs, stats.runs, flawed, c.settings);
        stats.ratio = stats.estimate->estimate;
    }
    summaryRatios(c, m);
    Summary& summary = c.stats[m].summary;
    if (summary.ratio && sitting.rows[kSummaryRow].judged) {
        summary.estimate = estimateOf(sitting.rows[kSummaryRow], c.stats[0].summary.scores.size(),
                                      summary.scores.size(), flawed, c.settings);
        summary.ratio = summary.estimate->estimate;
    }
}

// Each machine's sessions for its wander: the earlier ones its folder
// holds, then the compared one.
WanderModel wanderOf(const Machine& machine, const MachineStats& newest, bool keepDisturbed)
{
    std::vector<SessionLines> sessions;
    for (const Machine& earlier : machine.earlier)
        sessions.push_back(sessionLines(machineStats(earlier, keepDisturbed)));
    sessions.push_back(sessionLines(newest));
    return machineWander(sessions);
}

bool anyUndecided(const MachineStats& stats)
{
    const auto undecided = [](const std::optional<RatioEstimate>& e) { return e && e->verdict == Verdict::undecided; };
    return undecided(stats.summary.estimate) ||
           std::any_of(stats.lines.begin(), stats.lines.end(), [&](const LineStats& l) { return undecided(l.estimate); });
}

} // namespace

Comparison compare(std::vector<Machine> machines, const VerdictSettings& settings, bool keepDisturbed)
{
    Comparison c;
    c.settings = settings;
    c.keepDisturbed = keepDisturbed;
    c.machines = std::move(machines);
    for (const Machine& machine : c.machines) {
        c.stats.push_back(machineStats(machine, keepDisturbed));
        c.wander.push_back(wanderOf(machine, c.stats.back(), keepDisturbed));
    }
    c.sittings.resize(c.machines.size());
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        machineFindings(c, m);
    if (std::any_of(c.machines.begin(), c.machines.end(), [](const Machine& m) { return !m.newestSession.empty(); }))
        addNote(c, Kind::newestSessions, 0);
    groupFingerprints(c);
    // Which wander each machine's verdicts count: a note per machine with
    // its own, one for all those on the default.
    if (c.machines.size() > 1) {
        bool defaultUsed = false;
        for (std::size_t m = 0; m < c.machines.size(); ++m) {
            if (c.wander[m].source == WanderSource::sessions)
                addNote(c, Kind::wander, m);
            defaultUsed = defaultUsed || c.wander[m].source == WanderSource::measuredDefault;
        }
        if (defaultUsed)
            addNote(c, Kind::defaultWander, 0);
    }
    for (std::size_t m = 1; m < c.machines.size(); ++m) {
        againstBaseline(c, m);
        if (anyUndecided(c.stats[m]))
            addNote(c, Kind::undecided, m);
    }
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        for (std::size_t line = 0; line < kLineCount; ++line)
            for (std::size_t i = 0; i < c.stats[m].lines[line].outliers.size(); ++i) {
                // A run named irregular is named once, with its figure.
                const LineStats& ls = c.stats[m].lines[line];
                const std::size_t run = ls.timeRuns[ls.outliers[i].index];
                if (c.stats[m].disturbance.lines[line].runs[run].finding != analyse::Finding::irregular)
                    addNote(c, Kind::outlier, m, 0, line, i);
            }
    return c;
}

} // namespace cpubench
