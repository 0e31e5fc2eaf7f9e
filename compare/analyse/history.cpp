#include "history.h"

#include "session_lines.h"
#include "steps.h"
#include "summaries.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

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
// problems and notes; returns its lines as the wander model sees them.
SessionLines addSession(MachineHistory& own, const Session& session, std::size_t s, bool keepDisturbed,
                        std::vector<analyse::SessionInput>& earlier, std::vector<HistoryNote>& sessionNotes)
{
    const Machine& machine = session.machine;
    const MachineStats stats = machineStats(machine, keepDisturbed, earlier);
    if (earlier.size() == kDisturbanceHistory)
        earlier.erase(earlier.begin());
    earlier.push_back(disturbanceInput(machine, stats.used));
    SessionSummary summary{session.name, machine.info, machine.runs.size(), stats.goodRuns(), {}};
    for (std::size_t line = 0; line < kLineCount && !stats.fromFlawedRuns; ++line) {
        const LineStats& ls = stats.lines[line];
        if (ls.runs > 0)
            summary.lines[line] = {ls.runs, ls.median.seconds, ls.fastest.seconds, ls.slowest.seconds};
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
    return sessionLines(stats);
}

// The session before `s` that has times on the line and is no excursion of
// it: the facts of a change are between that one and `s`.
std::size_t sessionBefore(const std::vector<SessionLines>& sessions, const LineSteps& steps, std::size_t line,
                          std::size_t s)
{
    for (std::size_t before = s; before-- > 0;) {
        const bool excursion = std::any_of(steps.excursions.begin(), steps.excursions.end(),
                                           [&](const LineExcursion& e) { return e.session == before; });
        if (sessions[before][line].runs > 0 && !excursion)
            return before;
    }
    return s > 0 ? s - 1 : 0;
}

Verdict verdictOf(Direction direction)
{
    return direction == Direction::slower ? Verdict::slower : Verdict::faster;
}

// One line's steps as the outputs show them.
void addLine(MachineHistory& own, const std::vector<SessionLines>& sessions, const StepReport& report,
             std::size_t line, const VerdictSettings& settings)
{
    const LineSteps& steps = report.lines[line];
    for (std::size_t c = 0; c < steps.changes.size(); ++c) {
        const LineChange& found = steps.changes[c];
        Change change;
        change.line = line;
        change.session = found.session;
        change.before = std::exp(found.before);
        change.after = std::exp(found.after);
        change.verdict = verdictOf(found.direction);
        change.estimate.estimate = found.ratio;
        change.estimate.low = found.low;
        change.estimate.high = found.high;
        change.estimate.confidence = settings.level;
        change.estimate.verdict = change.verdict;
        change.facts = factChanges(own.sessions[sessionBefore(sessions, steps, line, found.session)].info,
                                   own.sessions[found.session].info);
        own.changes.push_back(std::move(change));
    }
    for (const LineExcursion& found : steps.excursions) {
        Excursion excursion;
        excursion.line = line;
        excursion.session = found.session;
        excursion.verdict = verdictOf(found.direction);
        excursion.estimate.estimate = found.ratio;
        excursion.estimate.verdict = excursion.verdict;
        own.excursions.push_back(std::move(excursion));
    }
    for (const LineUndecided& found : steps.undecided) {
        Undecided undecided;
        undecided.line = line;
        undecided.session = found.session;
        for (const SessionLines& session : sessions)
            undecided.sessions += session[line].runs > 0 ? 1 : 0;
        undecided.estimate.estimate = found.ratio;
        undecided.estimate.doubt = Doubt::tooFewSessions;
        undecided.wanderNeeded = found.scaleNeeded;
        undecided.wander = report.model.scale[line];
        undecided.facts = factChanges(own.sessions[sessionBefore(sessions, steps, line, found.session)].info,
                                      own.sessions[found.session].info);
        own.notes.emplace_back(HistoryNote::Kind::undecided, undecided.session).index = own.undecided.size();
        own.undecided.push_back(std::move(undecided));
    }
    // The rule's alarm where no change of the line already starts in its window.
    const bool changedInWindow = std::any_of(steps.changes.begin(), steps.changes.end(), [&](const LineChange& c) {
        return c.direction == Direction::slower && c.session >= steps.newest.from;
    });
    if (steps.newest.alarm && !changedInWindow) {
        own.notes.emplace_back(HistoryNote::Kind::newestRule, sessions.size() - 1).index = own.alarms.size();
        own.alarms.push_back({line, steps.newest.from, steps.newest.ratio, steps.newest.score});
    }
}

// The newest level of a line: the level after its last change, or without
// one the mean log-time of its sessions, excursions left out.
std::optional<double> newestLevel(const std::vector<SessionLines>& sessions, const LineSteps& steps, std::size_t line)
{
    if (!steps.changes.empty())
        return std::exp(steps.changes.back().after);
    const std::size_t from = steps.starts.empty() ? 0 : steps.starts.back();
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t s = from; s < sessions.size(); ++s) {
        const bool excursion = std::any_of(steps.excursions.begin(), steps.excursions.end(),
                                           [&](const LineExcursion& e) { return e.session == s; });
        if (sessions[s][line].runs > 0 && !excursion) {
            sum += sessions[s][line].mean;
            ++count;
        }
    }
    if (count == 0)
        return std::nullopt;
    return std::exp(sum / static_cast<double>(count));
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
    std::vector<SessionLines> lines;
    std::vector<HistoryNote> sessionNotes;
    std::vector<analyse::SessionInput> earlier;
    bool wrongBefore = false;
    for (std::size_t s = 0; s < history.sessions.size(); ++s) {
        const Machine& machine = history.sessions[s].machine;
        lines.push_back(addSession(own, history.sessions[s], s, keepDisturbed, earlier, sessionNotes));
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
    if (lines.size() >= 2) {
        StepSettings steps;
        steps.level = settings.level;
        steps.threshold = settings.threshold;
        const StepReport report = findSteps(lines, steps);
        own.wander = report.model;
        own.notes.emplace_back(HistoryNote::Kind::wander, 0);
        for (std::size_t line = 0; line < kLineCount; ++line) {
            addLine(own, lines, report, line, settings);
            own.newestLevels[line] = newestLevel(lines, report.lines[line], line);
        }
        own.newestSlower = report.newestSlower;
    } else {
        for (std::size_t line = 0; line < kLineCount; ++line)
            own.newestLevels[line] = newestLevel(lines, LineSteps{}, line);
    }
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
