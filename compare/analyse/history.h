// A machine's history: its sessions (lab runs) in time order, the changes
// in each line's speed with the machine.json facts that changed at the same
// session, sessions that were off once and came back, and the session
// where its values turned wrong (steps.h tells how a change is found, with
// the machine's wander model of wander.h).
//
// A history is analysed machine by machine (analyseHistory), and of each
// only numbers and typed findings are kept: a lab's many machines are read
// and analysed one at a time.
#pragma once

#include "read.h"
#include "verdict.h"
#include "wander.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace cpubench {

// One session's figures for one line, of its good runs with a time.
struct SessionRange {
    std::size_t runs = 0;
    double median = 0, fastest = 0, slowest = 0;
};

// What the outputs show of one session.
struct SessionSummary {
    std::string name;
    MachineInfo info;
    std::size_t runs = 0, goodRuns = 0;
    std::array<SessionRange, kLineCount> lines{};
};

struct Change {
    std::size_t line = 0;
    std::size_t session = 0; // where the new level starts
    double before = 0, after = 0; // the levels before and from it on (geometric means, seconds)
    RatioEstimate estimate; // after / before, with the interval its verdict rests on
    Verdict verdict = Verdict::undecided; // slower or faster
    // The machine.json facts that differ between the session before and this one.
    std::vector<FactChange> facts;
};

struct Excursion {
    std::size_t line = 0, session = 0;
    RatioEstimate estimate; // the session against the sessions around it
    Verdict verdict = Verdict::undecided; // slower or faster
};

// A place the sessions cannot tell yet: a change if the machine wandered as
// little as the low end of what its sessions allow, no change at the wander
// estimated. More sessions tell.
struct Undecided {
    std::size_t line = 0, session = 0;
    std::size_t sessions = 0; // the line's sessions with times
    RatioEstimate estimate;   // the levels' ratio there (no interval)
    // The line's wander between sessions (standard deviation of log-times)
    // below which it would be a change, and the one its sessions give.
    double wanderNeeded = 0, wander = 0;
    // The machine.json facts that differ between the session before it that
    // has times and this one.
    std::vector<FactChange> facts;
};

// With fewer sessions than this a machine's wander between sessions is not
// estimated from its history: the measured default stands in.
inline constexpr std::size_t kFewestSessions = kFewestWanderSessions;

// The sequential rule's alarm on a line's newest sessions (steps.h).
struct NewestAlarm {
    std::size_t line = 0;
    std::size_t from = 0; // the first session the rule summed
    double ratio = 1;     // the newest session against the level the line had settled at
    double score = 0;
};

// What the history tells of a machine beside its findings, in order.
struct HistoryNote {
    enum class Kind {
        infoUnusable,   // session `session`'s machine.json: `issue`
        recordUnusable, // session `session`'s session.json: `issue`
        wrongFrom,      // the values are wrong from the machine's wrongFrom on
        undecided,      // the machine's undecided[index]
        wander,         // which wander between sessions the tests used (the machine's wander)
        newestRule,     // the machine's alarms[index]: its newest sessions slower by the sequential rule
        notSession,     // a folder left out as no session: `issue`
        incomplete,     // session `session`'s recording did not end: `state`, `reason`
        disturbed,      // `count` of session `session`'s `lines` lines disturbed by others, left out
        irregular,      // `count` of them irregular (far off with no outside cause), kept
        disturbedLines, // `count` of its lines disturbed in most runs: kept, their verdicts weaker
        leftOut,        // a file or folder that could not be read or is no transcript: `issue`
    };
    HistoryNote(Kind what, std::size_t at = 0, ReadIssue read = {}) : kind(what), session(at), issue(std::move(read)) {}

    Kind kind;
    std::size_t session = 0, index = 0, count = 0, lines = 0;
    ReadIssue issue;
    SessionState state = SessionState::complete;
    std::string reason;
};

struct RunProblem {
    std::string run; // the run's name
    TranscriptProblem problem;
};

struct MachineHistory {
    std::string name, source;
    std::vector<SessionSummary> sessions; // in time order
    // The first session with a wrong value after sessions whose values were
    // all exact (0 when the first session has one already).
    std::optional<std::size_t> wrongFrom;
    std::vector<Change> changes; // by session, then line
    std::vector<Excursion> excursions;
    std::vector<Undecided> undecided;
    std::vector<NewestAlarm> alarms;
    WanderModel wander; // the one the tests used
    std::vector<RunProblem> problems; // wrong values and incomplete runs, of every session
    // The notes of the analysis, and those of reading (told after every
    // machine's notes of the analysis).
    std::vector<HistoryNote> notes, readNotes;
    // Its newest level is slower than the one before it, or the sequential
    // rule calls its newest sessions slower than the level they had settled at.
    bool newestSlower = false;
    bool newestFlawed = false; // its newest session has a wrong value or an incomplete run
    // Per line: the newest level (the geometric mean of the sessions since
    // the line's last change, seconds); none without a session with times.
    std::array<std::optional<double>, kLineCount> newestLevels{};
};

struct HistoryReport {
    VerdictSettings settings;
    bool keepDisturbed = false;
    std::vector<MachineHistory> machines;
};

MachineHistory analyseHistory(const History& history, const VerdictSettings& settings, bool keepDisturbed);

// The exit status of a history: 1 when a machine's newest session has a
// wrong value or an incomplete run, else 3 when a machine's newest session
// is slower than the sessions before it (or a finding across the machines
// is, fleet_history.h), else 0. Told machine by machine.
class HistoryStatus {
public:
    void add(const MachineHistory& machine);
    // A finding across the machines that is slower from their newest
    // sessions on counts as a machine's newest slower level.
    void addFleet(bool newestSlower) { slower_ = slower_ || newestSlower; }
    int code() const { return flawed_ ? 1 : slower_ ? 3 : 0; }

private:
    bool flawed_ = false, slower_ = false;
};
int historyStatus(const HistoryReport& report);

} // namespace cpubench
