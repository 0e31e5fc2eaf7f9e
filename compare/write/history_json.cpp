// The history as one JSON document (write.h); the manual page describes its
// structure.
#include "write.h"

#include "json_values.h"
#include "phrases.h"

namespace cpubench {

namespace {

using nlohmann::json;

json sessionJson(const SessionSummary& session)
{
    json lines = json::array();
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const SessionRange& sl = session.lines[line];
        json entry = {{"line", lineLabel(line)}, {"runs", sl.runs}};
        for (const auto& [key, value] : {std::pair<const char*, double>{"median", sl.median},
                                         {"fastest", sl.fastest}, {"slowest", sl.slowest}})
            entry[key] = sl.runs > 0 ? json(value) : json(nullptr);
        lines.push_back(entry);
    }
    return {{"name", session.name},
            {"info", infoJson(session.info)},
            {"runs", session.runs},
            {"good_runs", session.goodRuns},
            {"statistics", lines}};
}

json machineJson(const MachineHistory& h)
{
    json sessions = json::array();
    for (const SessionSummary& session : h.sessions)
        sessions.push_back(sessionJson(session));
    return {{"name", h.name},
            {"source", h.source},
            {"sessions", sessions},
            {"wrong_from", h.wrongFrom ? json(h.sessions[*h.wrongFrom].name) : json(nullptr)}};
}

// Where a finding is: its machine, line and session.
json placeJson(const MachineHistory& h, std::size_t line, std::size_t session)
{
    return {{"machine", h.name}, {"line", lineLabel(line)}, {"session", h.sessions[session].name}};
}

json changeJson(const MachineHistory& h, const Change& change)
{
    json facts = json::object();
    for (const FactChange& fact : change.facts)
        facts[fact.key] = {{"before", textOrNull(fact.before)}, {"after", textOrNull(fact.after)}};
    json entry = placeJson(h, change.line, change.session);
    entry["verdict"] = verdictName(change.verdict);
    entry["before"] = change.before;
    entry["after"] = change.after;
    entry["ratio"] = change.estimate.estimate;
    entry["facts"] = facts;
    addInterval(entry, change.estimate);
    return entry;
}

json findingsJson(const HistoryReport& r)
{
    json changes = json::array(), excursions = json::array(), undecided = json::array();
    for (const MachineHistory& h : r.machines) {
        for (const Change& change : h.changes)
            changes.push_back(changeJson(h, change));
        for (const Excursion& excursion : h.excursions) {
            json entry = placeJson(h, excursion.line, excursion.session);
            entry["verdict"] = verdictName(excursion.verdict);
            entry["ratio"] = excursion.estimate.estimate;
            addInterval(entry, excursion.estimate);
            excursions.push_back(entry);
        }
        for (const Undecided& u : h.undecided) {
            json entry = placeJson(h, u.line, u.session);
            entry["verdict"] = "undecided";
            entry["ratio"] = u.estimate.estimate;
            entry["undecided_because"] = undecidedReason(u);
            entry["doubt"] = doubtName(u.estimate.doubt);
            addInterval(entry, u.estimate);
            undecided.push_back(entry);
        }
    }
    return {{"changes", changes}, {"excursions", excursions}, {"undecided", undecided}};
}

} // namespace

void writeHistoryJson(std::ostream& out, const HistoryReport& r)
{
    json machines = json::array();
    bool newestSlower = false;
    for (const MachineHistory& h : r.machines) {
        machines.push_back(machineJson(h));
        newestSlower = newestSlower || h.newestSlower;
    }
    const std::vector<std::string> problems = historyProblemTexts(r);
    json document = findingsJson(r);
    document["settings"] = {{"level", r.settings.level},
                            {"threshold", r.settings.threshold},
                            {"method", historyJsonMethod()},
                            {"fewest_sessions", kFewestSessions}};
    document["lines"] = lineLabels();
    document["machines"] = machines;
    document["problems"] = problems;
    document["notes"] = historyNoteTexts(r);
    document["newest_slower"] = newestSlower;
    document["complete"] = problems.empty();
    writeDocument(out, document);
}

} // namespace cpubench
