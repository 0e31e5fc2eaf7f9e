// The history's sentences (phrases.h).
#include "phrases.h"

#include "join.h"
#include "numbers.h"
#include "steps.h"

#include <algorithm>

#include <cmath>

namespace cpubench {

namespace {

using Kind = HistoryNote::Kind;

std::string wrongFromText(const MachineHistory& h)
{
    const std::size_t s = *h.wrongFrom;
    return h.name + ": values wrong from session " + h.sessions[s].name + " on" +
           (s > 0 ? ", exact in every session before it: a fault of the machine's hardware or software that started "
                    "then"
                  : ", its first session");
}

std::string undecidedNoteText(const MachineHistory& h, const Undecided& u)
{
    return h.name + ", " + lineLabel(u.line) + ", from session " + h.sessions[u.session].name + ": undecided, " +
           format("%.2fx", u.estimate.estimate) + " the level before it; " + undecidedReason(u) +
           (u.facts.empty() ? "" : "; changed then: " + factsText(u.facts, ", ")) + ".";
}

// Which wander between sessions the machine's tests used, in words.
std::string wanderNoteText(const MachineHistory& h)
{
    const WanderModel& model = h.wander;
    const auto [low, high] = std::minmax_element(model.scale.begin(), model.scale.end());
    const std::string range = shareText(*low) + " to " + shareText(*high) + " by line";
    if (model.source == WanderSource::sessions)
        return h.name + ": its wander between sessions from its " + std::to_string(model.sessions) + " sessions (" +
               range + ", " + format("%.0f%%", 100 * model.share) + " of it shared by all lines)";
    return h.name + ": fewer than " + std::to_string(kFewestWanderSessions) +
           " sessions, so its tests count the default wander measured on another machine (" + range +
           "); only large changes are found until it has more";
}

std::string newestRuleText(const MachineHistory& h, const NewestAlarm& alarm)
{
    return h.name + ", " + lineLabel(alarm.line) + ": the newest session is " + format("%.2fx", alarm.ratio) +
           " the level it had settled at, slower by the one-sided rule on the newest " +
           std::to_string(NewestRule::kWindow) + " sessions (from " + h.sessions[alarm.from].name +
           "); not yet a change: a later session tells whether it stays";
}

} // namespace

std::string machineSessionsText(const MachineHistory& h)
{
    const std::size_t count = h.sessions.size();
    std::string text = h.name + " " + counted(count, "session", "sessions");
    if (count > 0)
        text += " (" + h.sessions.front().name + (count > 1 ? " .. " + h.sessions.back().name : "") + ")";
    return text;
}

std::string historyNoteText(const MachineHistory& h, const HistoryNote& note, bool keepDisturbed)
{
    const std::string session = note.session < h.sessions.size() ? h.name + "/" + h.sessions[note.session].name : "";
    switch (note.kind) {
    case Kind::infoUnusable:
        return readIssueText(note.issue) + "; the session's runs are used without its description";
    case Kind::recordUnusable: return recordNoteText(note.issue);
    case Kind::wrongFrom: return wrongFromText(h);
    case Kind::undecided: return undecidedNoteText(h, h.undecided[note.index]);
    case Kind::wander: return wanderNoteText(h);
    case Kind::newestRule: return newestRuleText(h, h.alarms[note.index]);
    case Kind::notSession: return readIssueText(note.issue);
    case Kind::incomplete:
        return session + ": the recorded session is incomplete: " + recordingText(note.state, note.reason);
    case Kind::disturbed:
        return session + ": " + std::to_string(note.count) + " of its " + std::to_string(note.lines) +
               " lines disturbed by others, " +
               (keepDisturbed ? "kept by --keep-disturbed" : "left out (--keep-disturbed keeps them)");
    case Kind::irregular:
        return session + ": " + std::to_string(note.count) + " of its " + std::to_string(note.lines) +
               " lines irregular (far from the line's other runs, with no outside cause), kept";
    case Kind::disturbedLines:
        return session + ": " + std::to_string(note.count) +
               (note.count == 1 ? " line was" : " lines were") +
               " disturbed in most runs, which are kept: its verdicts rest on disturbed runs and are weaker";
    case Kind::leftOut: return "left out: " + readIssueText(note.issue);
    }
    return "";
}

std::string historyMethod(const VerdictSettings& settings)
{
    return "A change: the sessions from one on against the sessions before it differ at " +
           percentText(settings.level) + " confidence (for the machine's nine lines and every place looked at) by "
           "more than " + percentText(settings.threshold) + ", against the machine's wander from session to session "
           "(one model of its lines); the ratio is of their levels, with the interval its verdict rests on. An "
           "excursion: one session off and then back, no change. The newest sessions are also held against the "
           "level each line had settled at by a one-sided sequential rule.";
}

std::string historyJsonMethod()
{
    return "sessions as the unit: each session's mean log-time off its level by the machine's wander between "
           "sessions (a part common to all lines and a part per line, each line its own scale, pooled over the "
           "lines and sessions) and by its runs' spread; each line segmented from the top at the critical value of "
           "the largest step over its boundaries, on its own series and less the machine-wide part, the model "
           "refitted until the levels settle; the newest sessions by a one-sided sequential rule";
}

std::string historyHeading(const std::vector<std::string>& machines)
{
    return "History of " + counted(machines.size(), "machine: ", "machines: ") + joined(machines, ", ") + ".";
}

std::string factsText(const std::vector<FactChange>& facts, const char* separator)
{
    std::vector<std::string> texts;
    for (const FactChange& fact : facts)
        texts.push_back(fact.key + " " + (fact.before.empty() ? "(none)" : fact.before) + " -> " +
                        (fact.after.empty() ? "(none)" : fact.after));
    return joined(texts, separator);
}

std::string changeText(const MachineHistory& h, const Change& change, const VerdictSettings& settings)
{
    return h.name + ", " + lineLabel(change.line) + ", from " + h.sessions[change.session].name + ": " +
           verdictName(change.verdict) + ", " + format("%.3f", change.before) + " s -> " +
           format("%.3f", change.after) + " s, " + ratioWithInterval(change.estimate, settings);
}

std::string changedThenText(const Change& change)
{
    return change.facts.empty() ? "no machine.json fact changed then" : "changed then: " + factsText(change.facts, "; ");
}

std::string excursionText(const MachineHistory& h, const Excursion& excursion, const VerdictSettings& settings)
{
    return h.name + ", " + lineLabel(excursion.line) + ", at " + h.sessions[excursion.session].name + ": " +
           ratioWithInterval(excursion.estimate, settings) + " the sessions around it; the host may have been busy";
}

std::string machineSummaryText(const MachineHistory& h)
{
    std::size_t runs = 0, good = 0;
    for (const SessionSummary& session : h.sessions) {
        runs += session.runs;
        good += session.goodRuns;
    }
    std::string text = h.name + ": " + std::to_string(h.sessions.size()) + " sessions, " + std::to_string(runs) +
                       " runs (" + std::to_string(good) + " good), " +
                       (h.changes.empty() ? "no change" : counted(h.changes.size(), "change", "changes"));
    if (!h.sessions.empty())
        text += "; newest " + h.sessions.back().name + ", " + std::to_string(h.sessions.back().goodRuns) +
                " good runs";
    return text;
}

std::string undecidedReason(const Undecided& u)
{
    return "a change if the machine's sessions wandered by less than " + shareText(u.wanderNeeded) +
           " on this line (its " + std::to_string(u.sessions) + " sessions say " + shareText(u.wander) +
           "); more sessions tell";
}

std::string runProblemText(const RunProblem& problem)
{
    return problem.run + ": " + problemText(problem.problem);
}

std::string historyCountsText(std::size_t machines, std::size_t changes, std::size_t excursions)
{
    return counted(machines, "machine", "machines") + ", " + counted(changes, "change", "changes") + ", " +
           counted(excursions, "excursion", "excursions") + ".";
}

std::string historyProblemsText(std::size_t problems)
{
    return counted(problems, "problem", "problems") + " (see Problems).";
}

std::string machineCountsText(const MachineHistory& h)
{
    return std::to_string(h.sessions.size()) + " sessions, " + counted(h.changes.size(), "change", "changes") + ", " +
           counted(h.excursions.size(), "excursion", "excursions");
}

std::string valuesWrongText(const MachineHistory& h)
{
    return "Values wrong from session " + h.sessions[*h.wrongFrom].name + " on.";
}

std::string trendChangeTitle(const MachineHistory& h, const Change& change, const VerdictSettings& settings)
{
    return "from " + h.sessions[change.session].name + ": " + verdictName(change.verdict) + ", " +
           ratioWithInterval(change.estimate, settings);
}

std::string trendExcursionTitle(const MachineHistory& h, const Excursion& excursion)
{
    return h.sessions[excursion.session].name + ": an excursion, " + format("%.2fx", excursion.estimate.estimate) +
           " the sessions around it";
}

std::vector<Span> trendLegend()
{
    using Style = Span::Style;
    return {{" Each chart: a session's median (line), its fastest..slowest run (band), a change as a dashed line "
             "before the session where it starts ("},
            {"slower", Style::slower},
            {", "},
            {"faster", Style::faster},
            {"), an excursion ringed."}};
}

Verdict fleetVerdict(analyse::FleetVerdict verdict)
{
    switch (verdict) {
    case analyse::FleetVerdict::slower: return Verdict::slower;
    case analyse::FleetVerdict::faster: return Verdict::faster;
    case analyse::FleetVerdict::same: return Verdict::same;
    case analyse::FleetVerdict::undecided: break;
    }
    return Verdict::undecided;
}

namespace {

std::string fleetFactsText(const std::vector<analyse::FactChange>& facts)
{
    std::vector<FactChange> shown;
    for (const analyse::FactChange& fact : facts)
        shown.push_back({fact.key, fact.before, fact.after});
    return factsText(shown, "; ");
}

std::string shiftRatioText(const analyse::LevelShift& shift)
{
    return format("%.3f", std::exp(shift.logRatio)) + "x";
}

} // namespace

std::string fleetFindingText(const FleetFindings& fleet, const analyse::FleetFinding& finding,
                             const VerdictSettings& settings)
{
    RatioEstimate estimate;
    estimate.estimate = finding.ratio;
    estimate.low = finding.low;
    estimate.high = finding.high;
    estimate.confidence = finding.confidence;
    estimate.verdict = fleetVerdict(finding.verdict);
    return fleetFactsText(fleet.report.groups[finding.group].facts) + ", " + std::to_string(finding.machines.size()) +
           " of " + counted(fleet.machines.size(), "machine", "machines") + ": " + lineLabel(finding.line) + " " +
           ratioWithInterval(estimate, settings) + ", " + verdictName(estimate.verdict);
}

std::string movedDifferentlyText(const FleetFindings& fleet, const analyse::FleetFinding& finding)
{
    std::vector<std::string> names;
    for (const analyse::Contribution& c : finding.machines)
        if (c.movedDifferently)
            names.push_back(fleet.machines[c.machine].name + " " + shiftRatioText(c.shift));
    return names.empty() ? "" : "moved differently from the rest: " + joined(names, ", ");
}

std::string unexplainedText(const FleetFindings& fleet, const analyse::Unexplained& unexplained)
{
    const FleetPart& machine = fleet.machines[unexplained.machine];
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < unexplained.lines.size(); ++i)
        lines.push_back(lineLabel(unexplained.lines[i]) + " " + shiftRatioText(unexplained.shifts[i]));
    return machine.name + ", from " + machine.sessionName(unexplained.session) + ": " + joined(lines, ", ") +
           "; no machine.json fact changed then";
}

std::string fleetMethod(const FleetFindings& fleet, const VerdictSettings& settings)
{
    return "Each fact change that " + std::to_string(analyse::kFewestMachines) +
           " machines or more made, tested on every line across them (" +
           counted(fleet.report.tests, "test", "tests") + "): each machine's sessions after it against those before "
           "it, with its own wander, combined by a random-effects estimate; slower or faster when the interval at " +
           percentText(settings.level) + " confidence (corrected for the tests) leaves out 1 and the ratio is beyond " +
           percentText(settings.threshold) + ". Machines that changed with no fact changed are named where their "
           "shift holds at the level corrected for every machine and line.";
}

const char kFleetNewestSlower[] =
    "A fact change makes machines slower from their newest sessions on (see Fleet).";

} // namespace cpubench
