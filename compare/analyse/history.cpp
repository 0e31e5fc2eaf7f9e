#include "history.h"

#include "levels.h"
#include "summaries.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

// Per session and line: the good runs' times (none when no run is good).
using SessionTimesByLine = std::array<std::vector<double>, kLineCount>;

bool hasWrongValue(const Machine& machine)
{
    for (const Run& run : machine.runs)
        for (const LineResult& line : run.transcript.lines)
            if (line.mark == Mark::wrong)
                return true;
    return false;
}

// The earlier sessions a session's lines are judged against: the newest
// this many, which bounds the work of a long history.
constexpr std::size_t kDisturbanceHistory = 30;

// A session's disturbance notes: its lines (run x line) left out as
// disturbed, those named irregular, of how many; and its lines disturbed in
// most runs.
void disturbanceNotes(const MachineStats& stats, std::size_t s, std::vector<HistoryNote>& notes)
{
    std::size_t leftOut = 0, irregular = 0, lines = 0, weak = 0;
    for (const analyse::LineJudgement& line : stats.disturbance.lines) {
        weak += line.weakness != analyse::Weakness::none ? 1 : 0;
        for (const analyse::RunJudgement& run : line.runs) {
            ++lines;
            leftOut += run.leftOut ? 1 : 0;
            irregular += run.finding == analyse::Finding::irregular ? 1 : 0;
        }
    }
    const std::pair<HistoryNote::Kind, std::size_t> counts[] = {
        {HistoryNote::Kind::disturbed, leftOut},
        {HistoryNote::Kind::irregular, irregular},
        {HistoryNote::Kind::disturbedLines, weak},
    };
    for (const auto& [kind, count] : counts)
        if (count > 0) {
            HistoryNote& note = notes.emplace_back(kind, s);
            note.count = count;
            note.lines = lines;
        }
}

// Session `s` into the machine's history: what the outputs show of it, its
// problems and notes; returns its times per line.
SessionTimesByLine addSession(MachineHistory& own, const Session& session, std::size_t s, bool keepDisturbed,
                              std::vector<analyse::SessionInput>& earlier, std::vector<HistoryNote>& sessionNotes)
{
    const Machine& machine = session.machine;
    const MachineStats stats = machineStats(machine, keepDisturbed, earlier);
    if (earlier.size() == kDisturbanceHistory)
        earlier.erase(earlier.begin());
    earlier.push_back(disturbanceInput(machine, stats.used));
    SessionSummary summary{session.name, machine.info, machine.runs.size(), stats.goodRuns(), {}};
    SessionTimesByLine times;
    for (std::size_t line = 0; line < kLineCount && !stats.fromFlawedRuns; ++line) {
        const LineStats& ls = stats.lines[line];
        if (ls.runs > 0)
            summary.lines[line] = {ls.runs, ls.median.seconds, ls.fastest.seconds, ls.slowest.seconds};
        times[line] = ls.times;
    }
    own.sessions.push_back(std::move(summary));
    for (const Run& run : machine.runs)
        for (const TranscriptProblem& problem : run.transcript.problems)
            own.problems.push_back({run.name, problem});
    if (machine.infoError)
        own.notes.emplace_back(HistoryNote::Kind::infoUnusable, s, *machine.infoError);
    if (machine.recordError)
        own.notes.emplace_back(HistoryNote::Kind::recordUnusable, s, *machine.recordError);
    if (machine.recording != SessionState::complete) {
        HistoryNote& note = sessionNotes.emplace_back(HistoryNote::Kind::incomplete, s);
        note.state = machine.recording;
        note.reason = machine.stopReason;
    }
    disturbanceNotes(stats, s, sessionNotes);
    return times;
}

void addChanges(MachineHistory& own, const std::vector<SessionTimes>& data, const LineFindings& found, std::size_t line)
{
    std::vector<std::size_t> kept; // the sessions of the levels
    for (const std::size_t i : found.kept)
        kept.push_back(data[i].session);
    const std::vector<std::size_t>& starts = found.levels.starts;
    for (std::size_t c = 0; c < starts.size(); ++c) {
        const std::size_t cut = starts[c], from = c == 0 ? 0 : starts[c - 1];
        const std::size_t to = c + 1 < starts.size() ? starts[c + 1] : kept.size();
        Change change;
        change.line = line;
        change.session = kept[cut];
        change.before = std::exp(stretchOf(found.model, from, cut).mean);
        change.after = std::exp(stretchOf(found.model, cut, to).mean);
        change.estimate = found.levels.estimates[c];
        change.verdict = change.estimate.verdict;
        // Between the last session before it that was no excursion and this one.
        change.facts = factChanges(own.sessions[kept[cut - 1]].info, own.sessions[change.session].info);
        // The alarm: while the newest level is slower than the one before it.
        if (change.verdict == Verdict::slower && c + 1 == starts.size())
            own.newestSlower = true;
        own.changes.push_back(std::move(change));
    }
}

// Where the wander cannot be told yet: in a history of too few sessions to
// tell a change from the machine's wander, each place where the runs alone
// (as if sessions did not wander) find a new level that the sessions do not
// confirm is named as undecided, not called a change.
void tooFewSessions(MachineHistory& own, std::size_t line, const std::vector<SessionTimes>& data,
                    const Levels& confirmed, const VerdictSettings& settings)
{
    const Model runsOnly = modelOf(data);
    if (data.size() >= kFewestSessions || runsOnly.spreadDf < 1)
        return;
    // A hint where to look, not a change: corrected for the nine lines only.
    const Levels byRuns = levelsOf(runsOnly, settings, false);
    for (std::size_t c = 0; c < byRuns.starts.size(); ++c) {
        const std::size_t at = byRuns.starts[c];
        if (std::find(confirmed.starts.begin(), confirmed.starts.end(), at) != confirmed.starts.end())
            continue;
        Undecided undecided;
        undecided.line = line;
        undecided.session = data[at].session;
        undecided.sessions = data.size();
        undecided.estimate = byRuns.estimates[c];
        undecided.estimate.verdict = Verdict::undecided;
        undecided.estimate.doubt = Doubt::tooFewSessions;
        undecided.facts = factChanges(own.sessions[data[at - 1].session].info, own.sessions[undecided.session].info);
        own.notes.emplace_back(HistoryNote::Kind::undecided, undecided.session).index = own.undecided.size();
        own.undecided.push_back(std::move(undecided));
    }
}

void addExcursions(MachineHistory& own, const std::vector<SessionTimes>& data, const LineFindings& found,
                   std::size_t line, const VerdictSettings& settings)
{
    for (const std::size_t s : found.excursions) {
        // Against the level of the sessions around it.
        const std::optional<RatioEstimate> estimate = excursionEstimate(found, data, s, settings);
        if (!estimate)
            continue;
        own.excursions.push_back(
            {line, data[s].session, *estimate, estimate->estimate > 1 ? Verdict::slower : Verdict::faster});
    }
}

void analyseLine(MachineHistory& own, const std::vector<SessionTimesByLine>& times, std::size_t line,
                 const VerdictSettings& settings)
{
    std::vector<SessionTimes> data;
    for (std::size_t s = 0; s < times.size(); ++s)
        if (!times[s][line].empty())
            data.push_back({s, times[s][line]});
    if (data.size() < 2) {
        if (!data.empty())
            own.newestLevels[line] = std::exp(modelOf(data).means[0]);
        return;
    }
    const LineFindings found = findChanges(data, settings);
    const std::size_t newest = found.levels.starts.empty() ? 0 : found.levels.starts.back();
    own.newestLevels[line] = std::exp(stretchOf(found.model, newest, found.kept.size()).mean);
    addChanges(own, data, found, line);
    if (found.excursions.empty())
        tooFewSessions(own, line, data, found.levels, settings);
    addExcursions(own, data, found, line, settings);
}

// What reading the history left out, and how its sessions were recorded.
void addReadNotes(MachineHistory& own, const History& history, const std::vector<HistoryNote>& sessionNotes)
{
    for (const ReadIssue& note : history.notes)
        own.readNotes.emplace_back(HistoryNote::Kind::notSession, 0, note);
    own.readNotes.insert(own.readNotes.end(), sessionNotes.begin(), sessionNotes.end());
    for (const ReadIssue& error : history.errors)
        own.readNotes.emplace_back(HistoryNote::Kind::leftOut, 0, error);
}

} // namespace

MachineHistory analyseHistory(const History& history, const VerdictSettings& settings, bool keepDisturbed)
{
    MachineHistory own;
    own.name = history.name;
    own.source = history.source;
    std::vector<SessionTimesByLine> times;
    std::vector<HistoryNote> sessionNotes;
    std::vector<analyse::SessionInput> earlier;
    bool wrongBefore = false;
    for (std::size_t s = 0; s < history.sessions.size(); ++s) {
        const Machine& machine = history.sessions[s].machine;
        times.push_back(addSession(own, history.sessions[s], s, keepDisturbed, earlier, sessionNotes));
        if (s + 1 == history.sessions.size())
            own.newestFlawed = std::any_of(machine.runs.begin(), machine.runs.end(),
                                           [](const Run& run) { return !run.transcript.good(); });
        const bool wrong = hasWrongValue(machine);
        if (wrong && !wrongBefore)
            own.wrongFrom = s;
        wrongBefore = wrongBefore || wrong;
    }
    if (own.wrongFrom)
        own.notes.emplace_back(HistoryNote::Kind::wrongFrom, *own.wrongFrom);
    for (std::size_t line = 0; line < kLineCount; ++line)
        analyseLine(own, times, line, settings);
    std::stable_sort(own.changes.begin(), own.changes.end(), [](const Change& a, const Change& b) {
        return a.session != b.session ? a.session < b.session : a.line < b.line;
    });
    addReadNotes(own, history, sessionNotes);
    return own;
}

void HistoryStatus::add(const MachineHistory& machine)
{
    flawed_ = flawed_ || machine.newestFlawed;
    slower_ = slower_ || machine.newestSlower;
}

} // namespace cpubench
