// The comparison's sentences (phrases.h).
#include "phrases.h"

#include "join.h"
#include "numbers.h"

#include <algorithm>
#include <utility>

namespace cpubench {

namespace {

using Kind = ComparisonNote::Kind;

std::vector<std::string> runNames(const Machine& machine, const std::vector<std::size_t>& runs)
{
    std::vector<std::string> names;
    for (const std::size_t r : runs)
        names.push_back(machine.runs[r].name);
    return names;
}

const analyse::RunJudgement& judgementOf(const Comparison& c, const ComparisonNote& note)
{
    return c.stats[note.machine].disturbance.lines[note.line].runs[note.run];
}

// "1.64 times the median of the session's other runs" (or the line's level
// in the earlier sessions).
std::string timeFactorText(const analyse::RunJudgement& judgement)
{
    if (!judgement.timeFactor)
        return "";
    return format("%.2f", *judgement.timeFactor) + " times " +
           (judgement.againstHistory ? "the line's level in the earlier sessions" : "the median of its other runs");
}

std::string disturbedText(const Comparison& c, const ComparisonNote& note)
{
    const Run& run = c.machines[note.machine].runs[note.run];
    const analyse::RunJudgement& judgement = judgementOf(c, note);
    std::string what;
    if (judgement.cause == analyse::Cause::throttling)
        what = std::to_string(judgement.throttle) + " thermal throttling event(s)";
    else
        what = std::string(judgement.cause == analyse::Cause::steal ? "the hypervisor stole " : "others took ") +
               shareText(judgement.share.value_or(0)) + " of its time (usually " + shareText(judgement.usualShare) +
               ")";
    if (const std::string factor = timeFactorText(judgement); !factor.empty())
        what += ", and it took " + factor;
    std::string kept = "; left out of the statistics (--keep-disturbed keeps it)";
    if (c.keepDisturbed)
        kept = " (kept in the statistics by --keep-disturbed)";
    else if (!judgement.leftOut)
        kept = " (kept in the statistics: most of the line's runs were disturbed)";
    return "disturbed: " + run.name + ": " + lineLabel(note.line) + ": " + what + kept;
}

std::string irregularText(const Comparison& c, const ComparisonNote& note)
{
    const Run& run = c.machines[note.machine].runs[note.run];
    const analyse::RunJudgement& judgement = judgementOf(c, note);
    std::string what = "took " + timeFactorText(judgement);
    if (judgement.irregularity == analyse::Irregularity::runDelay)
        what += "; its threads waited " + format("%.2f", judgement.runDelay.value_or(0)) +
                " s for a processor, against " + format("%.2f", judgement.usualRunDelay.value_or(0)) + " s";
    return "irregular: " + run.name + ": " + lineLabel(note.line) + ": " + what +
           ", with no outside cause (the run stays in the statistics)";
}

std::string disturbedSessionText(const Comparison& c, const ComparisonNote& note)
{
    const Machine& machine = c.machines[note.machine];
    const analyse::LineJudgement& line = c.stats[note.machine].disturbance.lines[note.line];
    return machine.name + ": " + lineLabel(note.line) + " was disturbed in this session: " +
           std::to_string(line.disturbed) + " of its " + std::to_string(line.runs.size()) +
           " runs; all are kept in the statistics, so its verdict rests on disturbed runs and is weaker";
}

std::string runsLeftOutText(const Machine& machine)
{
    std::vector<std::string> names;
    for (const Run& run : machine.runs)
        if (!run.transcript.good())
            names.push_back(run.name);
    return machine.name + ": left out of its statistics: " + joined(names, ", ");
}

// Which session of each machine read from a history is compared.
std::string newestSessionsText(const Comparison& c)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> bySession;
    for (const Machine& machine : c.machines) {
        if (machine.newestSession.empty())
            continue;
        auto at = std::find_if(bySession.begin(), bySession.end(),
                               [&](const auto& entry) { return entry.first == machine.newestSession; });
        if (at == bySession.end())
            at = bySession.insert(bySession.end(), {machine.newestSession, {}});
        at->second.push_back(machine.name);
    }
    std::vector<std::string> parts;
    for (const auto& [session, names] : bySession)
        parts.push_back(session + " for " + joined(names, ", "));
    return "Newest session compared: " + joined(parts, "; ");
}

std::string mixedFingerprintsText(const Comparison& c, std::size_t m)
{
    std::vector<std::string> parts;
    for (const std::size_t g : c.stats[m].lines[0].groups)
        for (const FingerprintGroup::Member& member : c.groups[g].members)
            if (member.machine == m)
                parts.push_back(groupName(g) + ": " + joined(runNames(c.machines[m], member.runs), ", "));
    return c.machines[m].name + ": its runs differ in the log fingerprint, so they did not all run the same "
                                "program on the same C library (" + joined(parts, "; ") + ")";
}

// The machine's undecided rows grouped by the reason; where it can be told,
// each row's count of runs per machine that would decide follows it in
// brackets.
std::string undecidedText(const Comparison& c, std::size_t m)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> reasons;
    bool counted = false;
    std::size_t judged = 0, undecided = 0;
    const auto add = [&](const std::optional<RatioEstimate>& estimate, const std::string& row) {
        judged += estimate ? 1 : 0;
        if (!estimate || estimate->verdict != Verdict::undecided)
            return;
        ++undecided;
        std::string item = row;
        RatioEstimate bare = *estimate;
        if (estimate->doubt == Doubt::tooMuchSpread || estimate->doubt == Doubt::smallDifference) {
            bare.runsNeeded.reset();
            if (estimate->runsNeeded) {
                item += " (" + std::to_string(*estimate->runsNeeded) + ")";
                counted = true;
            }
        }
        const std::string reason = doubtText(bare, c.settings);
        auto at = std::find_if(reasons.begin(), reasons.end(), [&](const auto& r) { return r.first == reason; });
        if (at == reasons.end())
            at = reasons.insert(reasons.end(), {reason, {}});
        at->second.push_back(item);
    };
    for (std::size_t line = 0; line < kLineCount; ++line)
        add(c.stats[m].lines[line].estimate, lineLabel(line));
    add(c.stats[m].summary.estimate, "the summary");
    std::string text = c.machines[m].name + ": undecided";
    if (reasons.size() == 1 && undecided == judged && !counted)
        text += " on every line: " + reasons[0].first;
    else
        for (std::size_t i = 0; i < reasons.size(); ++i)
            text += std::string(i == 0 ? ", " : "; ") + reasons[i].first + ": " + joined(reasons[i].second, ", ");
    if (counted)
        text += "; in brackets, about how many runs per machine would decide";
    return text + ".";
}

std::string outlierText(const Comparison& c, const ComparisonNote& note)
{
    const Machine& machine = c.machines[note.machine];
    const LineStats& stats = c.stats[note.machine].lines[note.line];
    const Outlier& outlier = stats.outliers[note.index];
    const Run& run = machine.runs[stats.timeRuns[outlier.index]];
    return run.name + ": " + lineLabel(note.line) + " took " + timeText(*run.transcript.lines[note.line].time) +
           " s, " + format("%.2f", outlier.factor) + " times the median of " + machine.name +
           "'s other runs; the host may have been busy (the run stays in the statistics, which a single run moves "
           "little).";
}

// The range of a model's scales by line, "1.4% to 5.1%".
std::string scalesText(const WanderModel& model)
{
    const auto [low, high] = std::minmax_element(model.scale.begin(), model.scale.end());
    return shareText(*low) + " to " + shareText(*high);
}

// A machine whose verdicts count its own wander between sittings, in words.
std::string wanderText(const Comparison& c, std::size_t m)
{
    return c.machines[m].name + ": its speed between sittings wanders by " + scalesText(c.wander[m]) +
           " by line, measured on its own " + std::to_string(c.wander[m].sessions) +
           " sessions; a verdict counts that wander.";
}

// The machines with too few sessions of their own, and what they count instead.
std::string defaultWanderText(const Comparison& c)
{
    std::vector<std::string> names;
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        if (c.wander[m].source == WanderSource::measuredDefault)
            names.push_back(c.machines[m].name);
    const std::string fewest = std::to_string(kFewestWanderSessions);
    return joined(names, ", ") + ": fewer than " + fewest + " sessions" + (names.size() > 1 ? " each" : "") +
           ", too few to measure " + (names.size() > 1 ? "a machine's" : "its") +
           " own wander between sittings, so a verdict counts the default wander measured on another machine (" +
           scalesText(measuredDefaultWander()) +
           " by line): a sitting is then rarely called different from another of the same machine, but only large "
           "differences are found. To compare more finely, record " + fewest +
           " or more sessions of each machine at different times (cpubench-record into the machine's folder, once "
           "per sitting): then each machine's own wander counts.";
}

std::string noteText(const Comparison& c, const ComparisonNote& note)
{
    const Machine& machine = c.machines[note.machine];
    switch (note.kind) {
    case Kind::infoUnusable:
        return readIssueText(*machine.infoError) + "; the machine's runs are compared without its description";
    case Kind::read: {
        const ReadIssue& issue = machine.notes[note.index];
        return (issue.kind == ReadIssue::Kind::file ? "left out: " : "") + readIssueText(issue);
    }
    case Kind::recordUnusable: return recordNoteText(*machine.recordError);
    case Kind::disturbed: return disturbedText(c, note);
    case Kind::irregular: return irregularText(c, note);
    case Kind::disturbedSession: return disturbedSessionText(c, note);
    case Kind::runsLeftOut: return runsLeftOutText(machine);
    case Kind::noGoodRun:
        return machine.name + ": no run is complete with exact values; its figures come from all its runs and are "
                              "not to be trusted";
    case Kind::newestSessions: return newestSessionsText(c);
    case Kind::mixedFingerprints: return mixedFingerprintsText(c, note.machine);
    case Kind::undecided: return undecidedText(c, note.machine);
    case Kind::outlier: return outlierText(c, note);
    case Kind::wander: return wanderText(c, note.machine);
    case Kind::defaultWander: return defaultWanderText(c);
    }
    return "";
}

// The legend's sentence on the ratio and its verdict.
std::string ratioLegend(const Comparison& c, bool words)
{
    const std::string threshold = percentText(c.settings.threshold);
    const std::string ratio =
        std::string(c.severalRuns ? "Ratio = the median of the ratios of each run's time to each of "
                                  : "Ratio = time / time of ") +
        c.machines[0].name + (c.severalRuns ? "'s runs" : "") + ": lower is faster. After it the verdict: ";
    const std::string meaning = " (a difference beyond " + threshold + " that neither the runs' spread nor the "
                                "machines' wander between sittings explains), ";
    if (words)
        return ratio + "slower, faster" + meaning + "same (within " + threshold +
               "), undecided (see the notes); under it the ratio's confidence interval, at the level its row is "
               "judged at.";
    return ratio + "+ slower, - faster" + meaning + "= the same (within " + threshold +
           "), ? undecided (see the notes); then the ratio's confidence interval, at the level its row is judged "
           "at, where the table has room.";
}

// The legend's sentence on the headline and the family of ten rows.
std::string familyLegend(const Comparison& c)
{
    const double alpha = 1 - c.settings.level;
    return std::string(kSummaryLabel) + " is the headline: one verdict for each machine's column, tested at " +
           percentText(alpha * kHeadlineWeight) + "; the lines are details, judged together with it (each at " +
           format("%.2g%%", 100 * alpha * (1 - kHeadlineWeight) / kLineCount) +
           " until the headline is called, then by Holm's steps among them), so that a machine compared with "
           "itself shows a false + or - anywhere in its column in at most " + percentText(alpha) +
           " of comparisons.";
}

// The power of each machine's headline: the slowdown it finds in 3
// comparisons of 4 like this one.
std::string powerLegend(const Comparison& c)
{
    std::vector<std::string> parts;
    for (std::size_t m = 1; m < c.machines.size(); ++m) {
        const std::optional<double>& detectable = c.sittings[m].rows[kSummaryRow].detectable;
        if (c.sittings[m].rows[kSummaryRow].judged)
            parts.push_back(c.machines[m].name + " " +
                            (detectable ? (*detectable < 10 ? shareText(*detectable - 1) : format("%.0fx", *detectable))
                                        : std::string("none with so few runs")));
    }
    if (parts.empty())
        return "";
    return "Power: the slowdown the headline finds in 3 comparisons of 4 like these: " + joined(parts, ", ") + ".";
}

std::string goodRunsLegend(const Comparison& c)
{
    std::vector<std::string> runs;
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const std::size_t good = c.stats[m].goodRuns(), all = c.machines[m].runs.size();
        runs.push_back(c.machines[m].name + " " + std::to_string(good) +
                       (good != all ? " of " + std::to_string(all) : ""));
    }
    return "Good runs: " + joined(runs, ", ") + ".";
}

} // namespace

std::vector<std::string> noteTexts(const Comparison& c)
{
    std::vector<std::string> texts;
    for (const ComparisonNote& note : c.notes)
        texts.push_back(noteText(c, note));
    return texts;
}

std::vector<std::string> problemTexts(const Comparison& c)
{
    std::vector<std::string> texts;
    for (const ComparisonProblem& problem : c.problems) {
        const Machine& machine = c.machines[problem.machine];
        if (problem.kind == ComparisonProblem::Kind::run)
            texts.push_back(machine.runs[problem.run].name + ": " +
                            problemText(machine.runs[problem.run].transcript.problems[problem.index]));
        else
            texts.push_back(machine.name + (machine.newestSession.empty() ? "" : "/" + machine.newestSession) +
                            ": the recorded session is incomplete: " +
                            recordingText(machine.recording, machine.stopReason));
    }
    return texts;
}

std::string problemsText(std::size_t problems)
{
    return counted(problems, "problem", "problems") + ": wrong values or incomplete runs (see Problems).";
}

std::vector<std::string> memberTexts(const Comparison& c, const FingerprintGroup& group)
{
    std::vector<std::string> texts;
    for (const FingerprintGroup::Member& member : group.members) {
        const Machine& machine = c.machines[member.machine];
        texts.push_back(member.whole ? machine.name
                                     : machine.name + " (" + joined(runNames(machine, member.runs), ", ") + ")");
    }
    return texts;
}

std::string groupText(const Comparison& c, std::size_t g)
{
    return "log fingerprint " + groupName(g) + ": " + joined(memberTexts(c, c.groups[g]), ", ") + " (" +
           joined(c.groups[g].values, " ") + ")";
}

std::vector<std::string> tableLegend(const Comparison& c, bool words)
{
    std::vector<std::string> legend;
    legend.push_back(c.severalRuns ? "Time: the median of each machine's good runs in seconds, with the fastest..slowest "
                                     "run where it has two or more."
                                   : "Time of each run in seconds.");
    if (c.machines.size() > 1) {
        legend.push_back(ratioLegend(c, words));
        legend.push_back(familyLegend(c));
        const std::string power = powerLegend(c);
        if (!power.empty())
            legend.push_back(power);
        std::vector<std::string> lines;
        for (const ResultLine& line : kLines)
            if (line.inSummary)
                lines.emplace_back(line.label);
        legend.push_back(std::string(kSummaryLabel) + " (" + std::string(kShortSummary) +
                         "): the ratio of the runs' geometric means of the lines that measure one thread's work: " +
                         joined(lines, ", ") + ".");
    }
    legend.push_back("Values: ok = exact, WRONG = differ (see Problems), A, B, ... = log fingerprint.");
    if (c.severalRuns)
        legend.push_back(goodRunsLegend(c));
    return legend;
}

std::string turnedLegend()
{
    std::vector<std::string> columns;
    for (const ResultLine& line : kLines)
        columns.push_back(std::string(line.shortLabel) + " = " + std::string(line.label));
    return "A row per machine: the baseline's median seconds, the other machines' ratios to it. fp = log "
           "fingerprint, " + joined(columns, ", ") + ". The intervals are in --json and --html.";
}

std::string comparisonMethod()
{
    return "Hodges-Lehmann shift of the log-times; Student's t with the runs' spread and each machine's wander "
           "between sittings (Satterthwaite's degrees of freedom); the ten rows kept together by a weighted Holm "
           "procedure, the summary row the headline";
}

std::vector<Span> chartLegend(const VerdictSettings& settings)
{
    using Style = Span::Style;
    const std::string level = percentText(settings.level), threshold = percentText(settings.threshold);
    return {{"Bar: the median of the machine's good runs. Whisker: its fastest to slowest run, where it has two or "
             "more. "},
            {"Bracket above a bar", Style::key},
            {": the confidence interval of its ratio to the baseline (at the level its row is judged at), drawn as "
             "the baseline's median times the interval's ends. Dashed line: the baseline's median. After the ratio, "
             "the verdict: "},
            {"slower", Style::slower},
            {" or "},
            {"faster", Style::faster},
            {" (a difference beyond " + threshold + " that neither the runs' spread nor the machines' wander between "
             "sittings explains; the ten rows judged together at " + level + "), "},
            {"same", Style::same},
            {" (within " + threshold + "), "},
            {"undecided", Style::undecided},
            {" (see the notes). Red: wrong values or incomplete runs."}};
}

} // namespace cpubench
