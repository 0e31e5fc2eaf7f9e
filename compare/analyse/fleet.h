// Findings across machines: one per fact change and line, not one per
// machine. Numbers in, numbers out: what a report says of them is written
// elsewhere.
//
// The machines' changes and undecided places are grouped by the fact change
// at their session: the same machine.json fact going from the same old text
// to the same new one. Each fact change that two machines or more made is
// then tested on every line across all the machines that made it, whether
// or not each machine alone found a change there: each machine's level
// after the change against its level before it (in log-time, with the
// standard error its own wander and spread give, from its MachineLevels),
// combined by a random-effects estimate, so that machines may differ in how
// much they moved. The between-machine variance tau^2 is Paule and
// Mandel's; the interval is Hartung and Knapp's (the t distribution with
// k - 1 degrees of freedom, its variance never below the usual one), which
// keeps its level with few machines. The level is corrected for every
// fact change and line tested (Bonferroni). Fact changes that the same
// machines made at the same sessions (a kernel and the mitigations it
// brings) are one group.
//
// The verdict is that of the project's comparisons: slower or faster when
// the interval leaves out 1 and the ratio is beyond the threshold, same
// when the interval lies within the threshold, else undecided.
//
// A machine moved differently from the rest when its own log-ratio lies
// outside the prediction the others make of it (leave one out: their
// estimate, tau^2 and standard error, and the machine's own error; t with
// k - 2 degrees of freedom, or the machine's own if fewer, at the level
// corrected for the machines and the tests) and by more than the threshold.
//
// Machines whose speed changed while none of their facts did: each change
// of a machine at a session where no fact changed, confirmed when its shift
// holds at the level corrected for the fleet's machines and lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cpubench::analyse {

// One line's level from a session on against the level before it.
struct LevelShift {
    double logRatio = 0;      // log(level after / level before)
    double standardError = 0; // of logRatio, from the machine's wander and spread
    double df = 0;            // the degrees of freedom of that error
};

// What the fleet analysis asks of one machine's model of its sessions.
class MachineLevels {
public:
    virtual ~MachineLevels() = default;
    virtual std::size_t sessionCount() const = 0;
    // The level of `line` over the sessions [at, to) against the level over
    // [from, at), from < at < to <= sessionCount(); none when a side has no
    // session with a time on that line.
    virtual std::optional<LevelShift> shift(std::size_t line, std::size_t from, std::size_t at,
                                            std::size_t to) const = 0;
};

// A machine's facts of one session (machine.json's keys and texts; a key
// that is absent is an empty text). A session with no facts at all (no
// machine.json) counts as unchanged from the session before it.
using Facts = std::vector<std::pair<std::string, std::string>>;

struct FleetMachine {
    std::vector<Facts> facts;             // per session, in time order
    const MachineLevels* levels = nullptr; // sessionCount() == facts.size()
};

enum class PlaceKind { change, undecided };

// Where a machine's own history found a change on a line, or a place it
// could not decide; `session` is where the new level starts.
struct Place {
    std::size_t machine = 0, line = 0, session = 0;
    PlaceKind kind = PlaceKind::change;
};

struct FactChange {
    std::string key, before, after;
    bool operator==(const FactChange& other) const
    {
        return key == other.key && before == other.before && after == other.after;
    }
};

// Each session's fact changes against the session before it (none for the
// first), in key order. A session without facts is the one before it again.
std::vector<std::vector<FactChange>> factChangesBySession(const std::vector<Facts>& sessions);

enum class FleetVerdict { slower, faster, same, undecided };

struct FleetSettings {
    double level = 0.95;     // of the intervals, before the corrections
    double threshold = 0.02; // the smallest difference that counts
};

// One machine's part in a finding.
struct Contribution {
    std::size_t machine = 0, session = 0;
    LevelShift shift;
    bool movedDifferently = false;
};

// One group of fact changes on one line, across the machines that made it.
struct FleetFinding {
    std::size_t group = 0; // into FleetReport::groups
    std::size_t line = 0;
    std::vector<Contribution> machines; // those with a time on the line on both sides
    double ratio = 1;                   // exp of the random-effects estimate
    double low = 1, high = 1;           // its interval
    double confidence = 0;              // the interval's level, corrected
    double tau = 0;                     // between machines: the standard deviation of the log-ratios
    // Where a further machine's ratio would lie (k >= 3; else none).
    std::optional<double> predictionLow, predictionHigh;
    FleetVerdict verdict = FleetVerdict::undecided;
    // The machines' own places (indices into the input) at this group's
    // sessions on this line: what this finding sums up.
    std::vector<std::size_t> places;
};

// Fact changes made by the same machines at the same sessions.
struct FleetGroup {
    std::vector<FactChange> facts;
    std::vector<std::pair<std::size_t, std::size_t>> sessions; // (machine, session), in machine order
};

// A change of a machine at a session where none of its facts changed.
struct Unexplained {
    std::size_t machine = 0, session = 0;
    std::vector<std::size_t> lines; // in line order
    // Its shift on each of those lines (the levels around the session,
    // between the machine's fact changes and other changes on the line).
    std::vector<LevelShift> shifts;
    // Some line's shift holds at the level corrected for every machine and
    // line of the fleet, not only for those of the machine itself: in a
    // large fleet, the machine's own rule alone names a few machines by
    // chance every night.
    bool confirmed = false;
};

struct FleetReport {
    std::vector<FleetGroup> groups;
    std::vector<FleetFinding> findings; // every group and line tested, by group and line
    std::vector<Unexplained> unexplained;
    std::size_t tests = 0; // groups x lines: what the level is corrected for
};

// Two machines or more make a fleet finding.
inline constexpr std::size_t kFewestMachines = 2;

FleetReport analyseFleet(const std::vector<FleetMachine>& machines, const std::vector<Place>& places,
                         std::size_t lineCount, const FleetSettings& settings);

// The random-effects estimate of log-ratios y with variances v (k >= 2):
// Paule-Mandel tau^2, Hartung-Knapp interval at `alpha` (two-sided).
struct RandomEffects {
    double estimate = 0, standardError = 0, tau2 = 0, low = 0, high = 0;
    double df = 0; // of the interval's t: k - 1
};
RandomEffects randomEffects(const std::vector<double>& y, const std::vector<double>& v, double alpha);

} // namespace cpubench::analyse
