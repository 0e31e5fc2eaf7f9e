// One model of a machine's wander between sittings, used by the comparison
// and by the history. All figures are in natural logs of seconds.
//
// A session's mean log-time on line l sits off the line's level by an
// offset, plus the spread of its runs:
//
//     mean[s][l] = level[l] + scale[l] * (sqrt(share) * z[s] + sqrt(1 - share) * e[s][l]) + noise
//
// z[s] is the part common to the whole machine (that day the whole machine
// was slower), e[s][l] the line's own part, both standard normal; noise has
// variance spread[l]^2 / runs. Each line has its own scale: lines do not
// wander alike, and the copy line wanders most.
//
// The model is estimated from everything the machine has: every line and
// every session, around the levels (and the changes) the history found.
// The lines are pooled: each line's scale is its own estimate drawn towards
// the machine's typical scale, as far as its own degrees of freedom are
// few. A busy session moves it little: residuals far out are clipped. With
// too few sessions, the measured default stands in (and says so).
#pragma once

#include "lines.h"

#include <array>
#include <cstddef>
#include <vector>

namespace cpubench {

// One session's figures on one line: how many runs, the mean and the
// standard deviation of their log-times (0 with one run). runs == 0: the
// line has no time in the session.
struct SessionLine {
    std::size_t runs = 0;
    double mean = 0;
    double spread = 0;
};
using SessionLines = std::array<SessionLine, kLineCount>;

enum class WanderSource {
    sessions,        // estimated from the machine's own sessions
    measuredDefault, // too few sessions: the default measured on real sessions
};

struct WanderModel {
    WanderSource source = WanderSource::measuredDefault;
    std::size_t sessions = 0; // sessions it was estimated from (the default's own count for the default)
    // Per line: the standard deviation of a session's offset, and the
    // pooled standard deviation of the runs inside a session.
    std::array<double, kLineCount> scale{};
    std::array<double, kLineCount> spread{};
    std::array<double, kLineCount> spreadDf{};
    double share = 0;   // the machine-wide part of each line's offset variance
    double typical = 0; // the typical scale: the geometric mean of the lines' scales
    // Degrees of freedom of each line's scale, and of the typical scale:
    // what a t statistic that uses them is referred to.
    std::array<double, kLineCount> scaleDf{};
    double typicalDf = 0;
};

// Measured on real sessions of this project's machine (AMD EPYC, 2 vCPUs
// under KVM; see the notes that come with this model): the scale per line,
// the machine-wide share and the spread inside a session, with the degrees
// of freedom their sessions hold.
WanderModel measuredDefaultWander();

// What the fit leaves out or knows already, per line.
struct Segments {
    // Per line: the sessions where a new level starts (sorted, > 0).
    std::array<std::vector<std::size_t>, kLineCount> starts{};
    // Per session and line: left out of the fit (an excursion). Empty: none.
    std::vector<std::array<bool, kLineCount>> leftOut{};
    // Per line: degrees of freedom spent on choosing where its changes are,
    // beyond one for each level (a step placed at the best of many boundaries
    // takes more of the residuals than a step placed in advance).
    std::array<double, kLineCount> chosenDf{};
};

// The fewest sessions from which a machine's own wander is used; below,
// the measured default. (Three sessions leave two degrees of freedom per
// line, and the machine-wide part, which every line shares, barely more.)
inline constexpr std::size_t kFewestWanderSessions = 4;

// The model from a machine's sessions in time order, around the levels of
// `segments`. Fewer than kFewestWanderSessions usable sessions: the default,
// with this machine's spread inside sessions where its runs tell it.
// (`fewest` lowers that bound, to measure a default from few sessions.)
WanderModel fitWander(const std::vector<SessionLines>& sessions, const Segments& segments = {},
                      const WanderModel& fallback = measuredDefaultWander(),
                      std::size_t fewest = kFewestWanderSessions);

// Several machines read together: their models' relative scales (each
// line's scale against its machine's typical one) pooled, weighted by
// their degrees of freedom, and applied to `own` as far as its lines know
// less than the others together. Returns `own` unchanged when it is the
// default or stands alone.
WanderModel poolScales(const WanderModel& own, const std::vector<WanderModel>& others);

// A session's offset variance on a line, in log units: the wander alone,
// and the wander plus the mean of `runs` runs.
double wanderVariance(const WanderModel& model, std::size_t line);
double sessionVariance(const WanderModel& model, std::size_t line, std::size_t runs);

// The offset variance of the mean of several lines (the summary row: the
// geometric mean of their times), counting the machine-wide part once.
double meanWanderVariance(const WanderModel& model, const std::vector<std::size_t>& lines);

// The machine-wide part of each session's offset, from the lines' residuals
// around their levels: per session and line, the residual of every other
// line, weighted by what it says about the common part and clipped where
// far out, so that one busy line does not carry the whole machine. The
// result for line l leaves line l out; `variance` is what remains unknown
// of line l's offset once the others are known (its own part, the runs,
// and the common part's error).
struct Adjusted {
    std::vector<double> value;    // per session: the line's mean less the machine-wide part
    std::vector<double> variance; // per session: its variance about the level
    std::vector<bool> present;    // per session: the line has a time
};
Adjusted adjustedSeries(const std::vector<SessionLines>& sessions, const WanderModel& model,
                        const Segments& segments, std::size_t line);

} // namespace cpubench
