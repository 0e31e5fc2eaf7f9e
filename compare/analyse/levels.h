// The numbers behind a history's changes, per machine and line: sessions
// are the unit. Each session's mean log-time sits on the level of its
// stretch of sessions, off it by the machine's own wander from session to
// session and by the spread of its runs (which say how well the session's
// mean is known). The spread is pooled over the sessions; the wander is
// estimated from the history itself, first from the differences of
// neighbouring sessions (by their median, so that a step moves it little),
// then from the sessions around the levels found, until the levels settle.
// Levels are merged bottom up: every session starts as a level of its own,
// and while some boundary between two neighbouring levels is not a change
// (the levels on its two sides called slower or faster by Welch's t with
// Satterthwaite's degrees of freedom, at the level divided by the
// boundaries looked at and by the nine lines, so that looking at many
// places does not make noise a change), the two levels closest merge. A
// level of one session between boundaries of opposite directions that
// differs from both sides is an excursion, not two changes; so is a session
// that differs from the rest of its level. Excursions are left out and the
// levels found again.
#pragma once

#include "verdict.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace cpubench {

// The good runs' times of one session on one line.
struct SessionTimes {
    std::size_t session; // in the machine's sessions
    std::vector<double> times;
};

// One line of one machine as a model: a level per stretch of sessions, on
// which each session sits off by its own random amount (the machine's
// wander from session to session, variance `wander`), and each run off its
// session by the spread inside sessions (variance `spread`). All in log-times.
struct Model {
    std::vector<std::size_t> runs; // per session
    std::vector<double> means;     // per session: the mean of its log-times
    double spread = 0;             // pooled over the sessions
    double spreadDf = 0;
    double wander = 0;
    double wanderDf = 0;
};

// The sessions [from, to) of the model but `skip` (none when past the end).
struct Stretch {
    double mean = 0, variance = 0; // of the weighted mean
    double wanderPart = 0, spreadPart = 0;
};

// The levels of `data`: where each starts (an index into `data`), and
// whether that boundary is a confirmed change. Bottom up: every session
// starts as a level of its own; while some boundary between two
// neighbouring levels is not called slower or faster (at the level
// corrected for every boundary looked at), the one of those whose levels
// are closest goes, and its neighbours are tested again. So a level that
// comes back (a step up and a step down) is found as well as a single step.
struct Levels {
    std::vector<std::size_t> starts;
    std::vector<RatioEstimate> estimates; // each boundary's, later against earlier
};

struct LineFindings {
    std::vector<std::size_t> kept;       // the indices into the data that are no excursion
    Model model;                         // of the kept sessions
    Levels levels;                       // of the kept sessions, indices into `kept`
    std::vector<std::size_t> excursions; // indices into the data
};

Model modelOf(const std::vector<SessionTimes>& data);
Stretch stretchOf(const Model& model, std::size_t from, std::size_t to, std::size_t skip = SIZE_MAX);

// B against A, sessions as the unit: the difference of their levels against
// the wander and the spread, with Welch and Satterthwaite's degrees of
// freedom, at the level corrected for `tries` places and the nine lines.
// The estimate is the ratio of the levels, its interval the one the
// verdict rests on.
RatioEstimate judgeLevels(const Model& model, const Stretch& a, const Stretch& b, std::size_t tries,
                          const VerdictSettings& settings);

// The levels of the model's sessions (see Levels), each boundary corrected
// for every boundary looked at, or (not `perBoundary`) for the nine lines only.
Levels levelsOf(const Model& model, const VerdictSettings& settings, bool perBoundary = true);

// The stretch of data[] of the level that data[at] belongs to.
std::pair<std::size_t, std::size_t> levelAround(const Levels& levels, std::size_t at, std::size_t size);

// Changes and excursions of one line's sessions.
LineFindings findChanges(const std::vector<SessionTimes>& data, const VerdictSettings& settings);

// The excursion data[s] against the level of the sessions around it; none
// when no level is around it.
std::optional<RatioEstimate> excursionEstimate(const LineFindings& found, const std::vector<SessionTimes>& data,
                                               std::size_t s, const VerdictSettings& settings);

} // namespace cpubench
