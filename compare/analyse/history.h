// A machine's history: its sessions (lab runs) in time order, the changes
// in each line's speed with the machine.json facts that changed at the same
// session, sessions that were off once and came back, and the session
// where its values turned wrong (levels.h tells how a change is found).
//
// A history is analysed machine by machine (analyseHistory), and of each
// only numbers and typed findings are kept: a lab's many machines are read
// and analysed one at a time.
#pragma once

#include "read.h"
#include "verdict.h"

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

// A session where the runs alone find a new level that the sessions do not
// confirm, in a history too short to tell that from the machine's wander:
// no change yet.
struct Undecided {
    std::size_t line = 0, session = 0;
    std::size_t sessions = 0; // the line's sessions with times
    RatioEstimate estimate;   // the runs alone: the newest session against those before it
    // The machine.json facts that differ between the session before it that
    // has times and this one.
    std::vector<FactChange> facts;
};

// Fewer sessions than this cannot tell a change from a machine's wander
// between sessions: the wander is estimated from the history itself, and
// with a level of two or three sessions on each side of a step, too few
// degrees of freedom are left to confirm it at the corrected level.
inline constexpr std::size_t kFewestSessions = 6;

// What the history tells of a machine beside its findings, in order.
struct HistoryNote {
    enum class Kind {
        infoUnusable,   // session `session`'s machine.json: `issue`
        recordUnusable, // session `session`'s session.json: `issue`
        wrongFrom,      // the values are wrong from the machine's wrongFrom on
        undecided,      // the machine's undecided[index]
        notSession,     // a folder left out as no session: `issue`
        incomplete,     // session `session`'s recording did not end: `state`, `reason`
        disturbed,      // `count` of session `session`'s `lines` lines disturbed by others
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
    std::vector<RunProblem> problems; // wrong values and incomplete runs, of every session
    // The notes of the analysis, and those of reading (told after every
    // machine's notes of the analysis).
    std::vector<HistoryNote> notes, readNotes;
    bool newestSlower = false; // its newest level is slower than the one before it
    bool newestFlawed = false; // its newest session has a wrong value or an incomplete run
};

struct HistoryReport {
    VerdictSettings settings;
    bool keepDisturbed = false;
    std::vector<MachineHistory> machines;
};

MachineHistory analyseHistory(const History& history, const VerdictSettings& settings, bool keepDisturbed);

// The exit status of a history: 1 when a machine's newest session has a
// wrong value or an incomplete run, else 3 when a machine's newest session
// is slower than the sessions before it, else 0.
int historyStatus(const HistoryReport& report);

} // namespace cpubench
