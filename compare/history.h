// A lab's history: each machine's sessions (lab runs) in time order, the
// changes in each line's speed with the machine.json facts that changed at
// the same session, sessions that were off once and came back, and the
// session where a machine's values turned wrong.
//
// How a change is found, per machine and line: sessions are the unit. Each
// session's mean log-time sits on the level of its stretch of sessions, off
// it by the machine's own wander from session to session and by the spread
// of its runs (which say how well the session's mean is known). The spread
// is pooled over the sessions; the wander is estimated from the history
// itself, first from the differences of neighbouring sessions (by their
// median, so that a step moves it little), then from the sessions around
// the levels found, until the levels settle. Levels are merged bottom up:
// every session starts as a level of its own, and while some boundary
// between two neighbouring levels is not a change (the levels on its two
// sides called slower or faster by Welch's t with Satterthwaite's degrees
// of freedom, at the level divided by the boundaries looked at and by the
// nine lines, so that looking at many places does not make noise a
// change), the two levels closest merge. A level of one session between
// boundaries of opposite directions that differs from both sides is an
// excursion, not two changes; so is a session that differs from the rest
// of its level. Excursions are left out and the levels found again.
#pragma once

#include "machine.h"
#include "stats.h"
#include "verdict.h"

#include <optional>
#include <string>
#include <vector>

// One session's figures for one line.
struct SessionLine {
    std::size_t runs = 0; // good runs with a time
    double median = 0, fastest = 0, slowest = 0;
};

struct Change {
    std::size_t machine = 0, line = 0;
    std::size_t session = 0; // where the new level starts
    double before = 0, after = 0; // the levels before and from it on (geometric means, seconds)
    RatioEstimate estimate; // after / before, with the interval its verdict rests on
    Verdict verdict = Verdict::undecided; // slower or faster
    // The machine.json facts that differ between the session before and this one.
    std::vector<FactChange> facts;
};

// A newest session whose runs differ from the sessions before it, in a
// history too short to tell that from the machine's wander: no change yet.
struct Undecided {
    std::size_t machine = 0, line = 0, session = 0;
    RatioEstimate estimate; // the runs alone: the newest session against those before it
    std::string reason;
};

// Fewer sessions than this cannot tell a change from a machine's wander
// between sessions: the wander is estimated from the history itself.
inline constexpr std::size_t kFewestSessions = 4;

struct Excursion {
    std::size_t machine = 0, line = 0, session = 0;
    RatioEstimate estimate; // the session against the sessions around it
    Verdict verdict = Verdict::undecided; // slower or faster
};

struct MachineHistory {
    std::string name, source;
    std::vector<std::string> sessions; // names, in time order
    std::vector<MachineInfo> infos;    // per session
    std::vector<std::size_t> runs, goodRuns; // per session
    std::vector<std::array<SessionLine, expected::kLineCount>> lines; // per session
    // The first session with a wrong value after sessions whose values were
    // all exact (0 when the first session has one already).
    std::optional<std::size_t> wrongFrom;
};

struct HistoryReport {
    VerdictSettings settings;
    std::vector<MachineHistory> machines;
    std::vector<Change> changes;
    std::vector<Excursion> excursions;
    std::vector<Undecided> undecided;
    std::vector<std::string> problems; // wrong values and incomplete runs, named with their runs
    std::vector<std::string> notes;
    bool newestSlower = false; // some machine's newest level is slower than the one before it
    bool newestFlawed = false; // some machine's newest session has a wrong value or an incomplete run
};

HistoryReport analyseHistories(const std::vector<History>& histories, const VerdictSettings& settings);

// The exit status of a history: 1 when a machine's newest session has a
// wrong value or an incomplete run, else 3 when a machine's newest session
// is slower than the sessions before it, else 0.
int historyStatus(const HistoryReport& report);
