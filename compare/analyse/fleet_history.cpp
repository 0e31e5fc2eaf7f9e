#include "fleet_history.h"

#include "analyse/session_means.h"

#include <algorithm>
#include <map>
#include <set>

namespace cpubench {

namespace {

using analyse::LevelShift;
using analyse::Place;
using analyse::PlaceKind;

// A machine's answers, as its part keeps them: the shift at each session
// where a level may start, between the bounds around it.
class KeptLevels final : public analyse::MachineLevels {
public:
    explicit KeptLevels(const FleetPart& part) : part_(part) {}
    std::size_t sessionCount() const override { return part_.sessions; }
    std::optional<LevelShift> shift(std::size_t line, std::size_t from, std::size_t at,
                                    std::size_t to) const override
    {
        const FleetPart::Shift* kept = find(line, at);
        if (kept == nullptr || kept->from != from || kept->to != to)
            return std::nullopt;
        return kept->shift;
    }
    const FleetPart::Shift* find(std::size_t line, std::size_t at) const
    {
        const auto it = std::lower_bound(part_.shifts.begin(), part_.shifts.end(), std::pair{line, at},
                                         [](const FleetPart::Shift& s, const std::pair<std::size_t, std::size_t>& key) {
                                             return std::pair{s.line, s.at} < key;
                                         });
        return it != part_.shifts.end() && it->line == line && it->at == at ? &*it : nullptr;
    }

private:
    const FleetPart& part_;
};

} // namespace

std::string FleetPart::sessionName(std::size_t session) const
{
    const auto it = std::lower_bound(sessionNames.begin(), sessionNames.end(), session,
                                     [](const auto& named, std::size_t s) { return named.first < s; });
    return it != sessionNames.end() && it->first == session ? it->second : std::string();
}

FleetPart fleetPartOf(const MachineHistory& history)
{
    FleetPart part;
    part.name = history.name;
    part.sessions = history.sessions.size();
    // Facts in full where they changed; a session without any stands for
    // the one before it (fleet.h), and so is passed over.
    std::vector<analyse::Facts> facts(part.sessions);
    analyse::Facts last;
    for (std::size_t s = 0; s < part.sessions; ++s) {
        analyse::Facts now = machineFacts(history.sessions[s].info);
        if (!now.empty() && (s == 0 || now != last)) {
            part.facts.emplace_back(s, now);
            last = now;
        }
        if (s == 0 || !now.empty())
            facts[s] = std::move(now);
    }
    const std::vector<std::size_t> factBounds = analyse::factBounds(facts);
    for (const Change& change : history.changes)
        part.places.push_back({0, change.line, change.session, PlaceKind::change});
    for (const Undecided& undecided : history.undecided)
        part.places.push_back({0, undecided.line, undecided.session, PlaceKind::undecided});

    // Each session's level on a line: its median.
    std::vector<std::vector<std::vector<double>>> times(part.sessions, std::vector<std::vector<double>>(kLineCount));
    for (std::size_t s = 0; s < part.sessions; ++s)
        for (std::size_t line = 0; line < kLineCount; ++line)
            if (history.sessions[s].lines[line].runs > 0)
                times[s][line].push_back(history.sessions[s].lines[line].median);
    analyse::SessionMeans means(times, kLineCount);
    std::vector<std::vector<std::size_t>> bounds(kLineCount, factBounds);
    for (const Place& place : part.places)
        if (place.kind == PlaceKind::change)
            bounds[place.line].push_back(place.session);
    for (auto& line : bounds) {
        std::sort(line.begin(), line.end());
        line.erase(std::unique(line.begin(), line.end()), line.end());
    }
    means.estimate(bounds);
    std::set<std::size_t> named(factBounds.begin(), factBounds.end());
    for (std::size_t line = 0; line < kLineCount; ++line)
        for (std::size_t b = 0; b < bounds[line].size(); ++b) {
            const std::size_t at = bounds[line][b], from = b == 0 ? 0 : bounds[line][b - 1];
            const std::size_t to = b + 1 < bounds[line].size() ? bounds[line][b + 1] : part.sessions;
            named.insert(at);
            if (const std::optional<LevelShift> shift = means.shift(line, from, at, to))
                part.shifts.push_back({line, from, at, to, *shift});
        }
    for (const Place& place : part.places)
        named.insert(place.session);
    for (const std::size_t s : named)
        if (s < part.sessions)
            part.sessionNames.emplace_back(s, history.sessions[s].name);
    return part;
}

FleetFindings analyseFleetParts(std::vector<FleetPart> parts, const VerdictSettings& settings)
{
    FleetFindings found;
    found.machines = std::move(parts);
    std::vector<KeptLevels> levels;
    levels.reserve(found.machines.size());
    std::vector<analyse::FleetMachine> machines;
    std::vector<Place> places;
    for (std::size_t m = 0; m < found.machines.size(); ++m) {
        const FleetPart& part = found.machines[m];
        levels.emplace_back(part);
        analyse::FleetMachine machine;
        machine.facts.resize(part.sessions);
        for (const auto& [s, facts] : part.facts)
            machine.facts[s] = facts;
        machine.levels = &levels.back();
        machines.push_back(std::move(machine));
        for (Place place : part.places) {
            place.machine = m;
            places.push_back(place);
        }
    }
    found.report = analyse::analyseFleet(machines, places, kLineCount, {settings.level, settings.threshold});
    for (const analyse::FleetFinding& finding : found.report.findings)
        if (finding.verdict == analyse::FleetVerdict::slower)
            for (const analyse::Contribution& c : finding.machines)
                if (const FleetPart::Shift* kept = levels[c.machine].find(finding.line, c.session))
                    found.newestSlower = found.newestSlower || kept->to == found.machines[c.machine].sessions;
    return found;
}

int historyStatus(const HistoryReport& report)
{
    HistoryStatus status;
    std::vector<FleetPart> parts;
    for (const MachineHistory& machine : report.machines) {
        status.add(machine);
        parts.push_back(fleetPartOf(machine));
    }
    if (parts.size() >= analyse::kFewestMachines)
        status.addFleet(analyseFleetParts(std::move(parts), report.settings).newestSlower);
    return status.code();
}

} // namespace cpubench
