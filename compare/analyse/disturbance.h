// Which lines of a recorded session others disturbed, and which ran
// irregularly by themselves: each line judged against its own usual figures
// on its machine, from the session's runs and the machine's earlier
// sessions.
//
// Numbers in, numbers and enums out: the readers fill the figures the
// recorder kept (session.json) and the times the transcripts print; the
// writers phrase the findings. Nothing here reads a file or makes a
// sentence.
//
// The rule, for one line of one run (its constants below; the measurements
// that chose them are in doc/recording.md):
//
//  1. The lost share h: the part of the line's wall time others took from
//     the processors it uses. A team of at least as many threads as the
//     machine has processors uses them all: h = (others' CPU + steal) /
//     (cpus * wall). A smaller team uses `threads` of them: the steal that
//     falls on its processors (the steal in proportion to their busy time)
//     and the CPU others took beyond the idle processors, or the time its
//     threads waited for a processor when that is more, over threads * wall.
//  2. The line's usual share: the median m and the spread d (the median
//     absolute deviation, scaled to a standard deviation) of h over the
//     line's runs in this session and the machine's earlier sessions, the
//     median at most kUsualShareCeiling (a machine whose others always take
//     more is busy, not quiet: a first session under load is named).
//     A share is unusual above m + kShareSpreads * d, with d at least
//     kShareSpreadFloor and two clock ticks of the processors the line uses.
//  3. The line's time spread s: per session, the median absolute deviation
//     of the log-times of its runs whose shares are not unusual from their
//     median (scaled, corrected for the session's few runs), the median of that over the sessions with three
//     runs or more; at least kTimeSpreadFloor. Between sessions a line may
//     wander far more than within one, so only runs of one session are set
//     against each other.
//  4. Disturbed: the share is unusual, the slowdown its excess over the
//     usual share predicts (ln (1 - m) - ln (1 - h)) is at least
//     kPredictedSpreads * s and kLeastPredicted, and the time moved: it lies
//     at least kMovedSpreads * s above the median of the session's other
//     runs whose shares are not unusual; where fewer than two such runs
//     are, at least kMovedSpreads times the spread within a session and the
//     sessions' wander together above the median of the earlier sessions'
//     medians (from kLevelSessions earlier sessions on; else the figures
//     alone decide). Thermal
//     throttling events beyond the line's usual count are a disturbance
//     whose time moved in the same way. The cause is the larger excess:
//     others' CPU or steal.
//  5. Irregular: the time lies more than kIrregularSpreads * s (and at
//     least kIrregularLeast) from that median, or more than
//     kIrregularAlways above it in any case, and no outside cause explains
//     half of it (the slowdown its share predicts against the median share
//     of those runs). Its figures: the time against that median, and for a
//     team its threads' run delay against the run delay of those runs,
//     which for a team as busy as the machine grows with its time.
//  6. Disturbed runs are left out of the statistics, unless more than half
//     of the line's timed runs would be: then none is, and the line is
//     disturbed in this session, which weakens its verdict. Irregular runs
//     are the line's own: they stay in, named, as the outlier rule keeps a
//     run far off.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>


namespace cpubench::analyse {

// What the recorder saw while a line ran (session.json): the window from
// the end of the output before the line to the end of its own. Absent
// figures are what the system does not tell.
struct Figures {
    double wall = 0;                   // seconds the window took
    std::optional<double> othersCpu;   // CPU seconds other processes and the kernel took
    std::optional<double> steal;       // CPU seconds the hypervisor gave to other guests
    std::optional<double> runDelay;    // seconds the benchmark's threads waited, ready, for a processor (summed)
    std::optional<long long> throttle; // thermal throttling events
};

// One run's result on one line.
struct LineRun {
    std::optional<double> time;       // seconds as the transcript prints them; absent: no usable time
    std::optional<Figures> figures;   // absent: the run was not recorded with figures
};

// One line of one session: its runs in the session's order.
struct SessionLine {
    int threads = 1; // the benchmark's threads on the line
    std::vector<LineRun> runs;
};

// One session: its lines in a fixed order, the same in every session of a
// machine, and the processors online.
struct SessionInput {
    int cpus = 0;
    std::vector<SessionLine> lines;
};

// The rule's constants (see the rule above; chosen and measured on real
// quiet and disturbed sessions, doc/recording.md).
inline constexpr double kShareSpreads = 3;         // an unusual share: spreads above the line's usual
inline constexpr double kShareSpreadFloor = 0.005; // the least spread of a line's shares
inline constexpr double kClockTick = 0.01;         // the CPU times' resolution in seconds (/proc/stat)
inline constexpr double kPredictedSpreads = 2;     // the predicted slowdown must reach this many time spreads
inline constexpr double kLeastPredicted = 0.03;    // and this much (3%)
inline constexpr double kMovedSpreads = 2;         // the time must have moved this many spreads
inline constexpr double kIrregularSpreads = 4;     // an irregular time: this many spreads off
inline constexpr double kIrregularLeast = 0.08;    // and at least 8% off
inline constexpr double kIrregularAlways = 0.15;   // more than 15% slower is always irregular
inline constexpr double kTimeSpreadFloor = 0.01;   // the least time spread of a line (1%)
inline constexpr double kTimeSpreadUnknown = 0.03; // the time spread when no session has three runs
inline constexpr std::size_t kLevelSessions = 3;   // earlier sessions that give a line's level
inline constexpr double kUsualShareCeiling = 0.10; // the most a line's usual share can be

// The constants together, so that a study can vary them; the judgement
// uses the defaults.
struct Rule {
    double shareSpreads = kShareSpreads;
    double shareSpreadFloor = kShareSpreadFloor;
    double predictedSpreads = kPredictedSpreads;
    double leastPredicted = kLeastPredicted;
    double movedSpreads = kMovedSpreads;
    double irregularSpreads = kIrregularSpreads;
    double irregularLeast = kIrregularLeast;
    double irregularAlways = kIrregularAlways;
    double timeSpreadFloor = kTimeSpreadFloor;
    double timeSpreadUnknown = kTimeSpreadUnknown;
    std::size_t levelSessions = kLevelSessions;
    double usualShareCeiling = kUsualShareCeiling;
};

enum class Finding {
    none,
    disturbed, // others took an unusual share of the line, and it moved its time
    irregular, // its time lies far from the line's other runs, with no outside cause for it
};

// What took the time from a disturbed line.
enum class Cause { none, othersCpu, steal, throttling };

// Which figure shows an irregular line: its time, or (a team) its threads'
// run delay, which was as far above the others' as its time.
enum class Irregularity { none, time, runDelay };

// The judgement of one run's line.
struct RunJudgement {
    Finding finding = Finding::none;
    Cause cause = Cause::none;
    Irregularity irregularity = Irregularity::none;
    bool leftOut = false; // left out of the statistics: disturbed, unless most runs of the line are

    // The figures behind it; shares are fractions of the line's wall time.
    std::optional<double> share;     // the lost share h; absent without figures
    double shareSteal = 0;           // its part from steal
    double shareOthers = 0;          // its part from others' CPU (or a lone thread's wait)
    double usualShare = 0;           // the line's median share
    double shareSpreads = 0;         // (h - usual) in the line's spreads of shares: how unusual
    std::size_t asLarge = 0;         // how many of the line's other runs (this and earlier sessions) lost as much
    std::size_t shareRuns = 0;       // of how many with figures
    double predicted = 1;            // the time factor the excess share predicts
    // The time over the median of the session's ordinary other runs; with
    // fewer than two of them, over the line's level in the earlier sessions.
    std::optional<double> timeFactor;
    bool againstHistory = false;         // timeFactor is over that level
    std::optional<double> runDelay;      // a team's run delay, seconds
    std::optional<double> usualRunDelay; // the median run delay of those runs
    long long throttle = 0;          // thermal throttling events
};

// Why the verdict on a line of this session is weaker than its runs say.
enum class Weakness {
    none,
    mostRunsDisturbed, // more than half its timed runs were disturbed: all kept, named
};

// What the judgement rested on for a line.
enum class Basis {
    session,     // this session's runs alone (the machine's first, or no earlier session matched)
    withHistory, // this session and the machine's earlier sessions
};

struct LineJudgement {
    std::vector<RunJudgement> runs; // in the session's run order
    Weakness weakness = Weakness::none;
    Cause cause = Cause::none;   // with mostRunsDisturbed: the commonest cause of the disturbed runs
    std::size_t named = 0;       // runs named disturbed or irregular
    std::size_t disturbed = 0;   // of them disturbed
    std::size_t leftOut = 0;     // runs left out of the statistics
    Basis basis = Basis::session;
    double timeSpread = 0;       // s: the line's robust standard deviation of log-times within a session
    double usualShare = 0;       // m
    double shareSpread = 0;      // d, floors included
    // The median of the earlier sessions' medians (seconds), from
    // kLevelSessions of them on, and the spread of a run about it: the
    // spread within a session and the sessions' wander together.
    std::optional<double> historyLevel;
    double historySpread = 0;
    std::size_t historySessions = 0; // earlier sessions that went in
};

struct SessionJudgement {
    std::vector<LineJudgement> lines; // in the input's line order
};

// Judges `session` against itself and the machine's `earlier` sessions
// (oldest first; any order works). An earlier session with another count
// of processors or other lines is not the same machine's and is ignored;
// so are figures that are not finite or negative.
SessionJudgement judgeSession(const SessionInput& session, const std::vector<SessionInput>& earlier = {},
                              const Rule& rule = {});

// The lost share of one line's figures (rule step 1), as its parts; absent
// without the figures it needs.
struct Share {
    double steal = 0, others = 0;
    double total() const { return steal + others; }
};
std::optional<Share> lostShare(const Figures& figures, int threads, int cpus);

} // namespace cpubench::analyse

namespace cpubench {

struct Machine;

// The judgement's input from one session's runs as read: each line's time
// where its run printed one and goes into the statistics (`used`, per run;
// empty: every run), the recorder's figures and the machine's processors.
analyse::SessionInput disturbanceInput(const Machine& machine, const std::vector<bool>& used = {});

} // namespace cpubench
