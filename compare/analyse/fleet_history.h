// Findings across the machines of a history (fleet.h), gathered machine by
// machine: of each machine's history only what the fleet analysis asks of
// it is kept (FleetPart: its facts where they changed, its own changes and
// undecided places, and each line's shift at each of those sessions), a
// few hundred numbers whatever its sessions, and the analysis runs once
// every machine is in. A machine's levels are those of SessionMeans over
// its sessions' medians.
#pragma once

#include "analyse/fleet.h"
#include "history.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cpubench {

struct FleetPart {
    std::string name;
    std::size_t sessions = 0;
    // The names of the sessions kept (a fact change or a place), by session.
    std::vector<std::pair<std::size_t, std::string>> sessionNames;
    // The facts of the first session and of each session whose facts changed.
    std::vector<std::pair<std::size_t, analyse::Facts>> facts;
    std::vector<analyse::Place> places; // machine 0: set when the fleet is put together
    struct Shift {
        std::size_t line = 0, from = 0, at = 0, to = 0;
        analyse::LevelShift shift;
    };
    std::vector<Shift> shifts; // by line, then session
    // The name of a session kept; empty for another.
    std::string sessionName(std::size_t session) const;
};

FleetPart fleetPartOf(const MachineHistory& history);

struct FleetFindings {
    analyse::FleetReport report;
    std::vector<FleetPart> machines; // in the order of the report's indices
    // Some finding is slower and starts the newest level on a machine's line
    // (no later bound on that line): as a machine's own slower change, it
    // makes the exit status 3.
    bool newestSlower = false;
};

FleetFindings analyseFleetParts(std::vector<FleetPart> parts, const VerdictSettings& settings);

} // namespace cpubench
