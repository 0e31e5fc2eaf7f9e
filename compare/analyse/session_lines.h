// A machine's sessions as the wander model sees them: each session's lines
// from the runs its statistics take (summaries.h decides which runs go in),
// the side a compared session is in a comparison of sittings, and the
// machine's wander between sittings from all its sessions.
#pragma once

#include "sitting.h"
#include "summaries.h"
#include "wander.h"

#include <vector>

namespace cpubench {

// One session's figures for the model: per line, the count, mean and
// standard deviation of the log-times of the runs that went into its
// statistics (its good runs, lines the recorder saw disturbed left out
// unless kept), less the runs the outlier rule names (a run far off its
// session's others would carry the session's mean). No line at all when
// no run of the session is good.
SessionLines sessionLines(const MachineStats& stats);

// A compared session as one side: the log-times of each line's runs that
// went in, and of the runs' summary scores, with the machine's wander.
SittingSide sittingSide(const MachineStats& stats, const WanderModel& model);

// A machine's wander between sittings from its sessions in time order:
// with kFewestWanderSessions or more, fitted around the levels (and
// excursions) its history's steps find, so that a change of the machine is
// no wander; with fewer, the measured default with the spread of the
// machine's own runs.
WanderModel machineWander(const std::vector<SessionLines>& sessions);

} // namespace cpubench
