#include "comparison.h"

#include "ranks.h"

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

// The summary row against the baseline: the geometric mean of the summary
// lines' ratios (and of their ratios of medians), and the verdict on the
// runs' scores where both machines have some.
template <typename Judge>
void summaryAgainstBaseline(Comparison& c, std::size_t m, Judge judged)
{
    Summary& summary = c.stats[m].summary;
    double logSum = 0, medianLogSum = 0;
    bool every = true;
    for (std::size_t line = 0; line < kLineCount && every; ++line) {
        if (!kLines[line].inSummary)
            continue;
        every = c.stats[m].lines[line].ratio.has_value();
        if (every) {
            logSum += std::log(*c.stats[m].lines[line].ratio);
            medianLogSum += std::log(*c.stats[m].lines[line].medianRatio);
        }
    }
    if (every) {
        summary.ratio = std::exp(logSum / static_cast<double>(kSummaryLineCount));
        summary.medianRatio = std::exp(medianLogSum / static_cast<double>(kSummaryLineCount));
    }
    if (every && !c.stats[0].summary.scores.empty() && !summary.scores.empty()) {
        summary.estimate = judged(c.stats[0].summary.scores, summary.scores);
        summary.ratio = summary.estimate->estimate;
    }
}

// Machine `m`'s ratios to the baseline, their intervals and verdicts.
void againstBaseline(Comparison& c, std::size_t m)
{
    const bool flawed = c.stats[0].fromFlawedRuns || c.stats[m].fromFlawedRuns;
    // The fewest times of any row decide whether the rows can be judged together.
    std::size_t baseRuns = c.stats[0].summary.scores.size(), otherRuns = c.stats[m].summary.scores.size();
    for (std::size_t line = 0; line < kLineCount; ++line) {
        baseRuns = std::min(baseRuns, c.stats[0].lines[line].runs);
        otherRuns = std::min(otherRuns, c.stats[m].lines[line].runs);
    }
    const VerdictSettings rows = rowSettings(baseRuns, otherRuns, c.settings);
    c.stats[m].rowLevel = rows.level;
    c.stats[m].rowsTogether = rows.level != c.settings.level;
    const auto judged = [&](const std::vector<double>& base, const std::vector<double>& other) {
        RatioEstimate estimate = compareTimes(base, other, rows);
        if (flawed) {
            estimate.verdict = Verdict::undecided;
            estimate.doubt = Doubt::flawedRuns;
            estimate.runsNeeded.reset();
        }
        return estimate;
    };
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const LineStats& base = c.stats[0].lines[line];
        LineStats& stats = c.stats[m].lines[line];
        if (base.runs == 0 || stats.runs == 0 || !(base.median.seconds > 0))
            continue;
        stats.medianRatio = stats.median.seconds / base.median.seconds;
        stats.estimate = judged(base.times, stats.times);
        stats.ratio = stats.estimate->estimate;
    }
    summaryAgainstBaseline(c, m, judged);
}

bool anyUndecided(const MachineStats& stats)
{
    const auto undecided = [](const std::optional<RatioEstimate>& e) { return e && e->verdict == Verdict::undecided; };
    return undecided(stats.summary.estimate) ||
           std::any_of(stats.lines.begin(), stats.lines.end(), [&](const LineStats& l) { return undecided(l.estimate); });
}

} // namespace

double togetherLevel(const VerdictSettings& settings)
{
    return 1 - (1 - settings.level) / static_cast<double>(kRows);
}

VerdictSettings rowSettings(std::size_t baseRuns, std::size_t otherRuns, const VerdictSettings& settings)
{
    VerdictSettings together = settings;
    together.level = togetherLevel(settings);
    if (std::min(baseRuns, otherRuns) >= kRowsTogetherRuns && ranks::criticalValue(baseRuns, otherRuns, 1 - together.level))
        return together;
    return settings;
}

Comparison compare(std::vector<Machine> machines, const VerdictSettings& settings, bool keepDisturbed)
{
    Comparison c;
    c.settings = settings;
    c.keepDisturbed = keepDisturbed;
    c.machines = std::move(machines);
    for (const Machine& machine : c.machines)
        c.stats.push_back(machineStats(machine, keepDisturbed));
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        machineFindings(c, m);
    if (std::any_of(c.machines.begin(), c.machines.end(), [](const Machine& m) { return !m.newestSession.empty(); }))
        addNote(c, Kind::newestSessions, 0);
    groupFingerprints(c);
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
