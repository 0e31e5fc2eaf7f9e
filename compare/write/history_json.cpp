// The history as one JSON document (write.h); the manual page describes its
// structure.
#include "write.h"

#include "escape.h"
#include "json_values.h"
#include "phrases.h"
#include "spool.h"

#include <cmath>

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

json shiftJson(const analyse::LevelShift& shift)
{
    return {{"ratio", std::exp(shift.logRatio)}, {"log_ratio_error", shift.standardError}, {"df", shift.df}};
}

// The findings across the machines: every fact change and line tested,
// and the machines that changed with no fact changed.
json fleetJson(const FleetFindings& fleet)
{
    json findings = json::array();
    for (const analyse::FleetFinding& finding : fleet.report.findings) {
        json facts = json::object();
        for (const analyse::FactChange& fact : fleet.report.groups[finding.group].facts)
            facts[fact.key] = {{"before", textOrNull(fact.before)}, {"after", textOrNull(fact.after)}};
        json machines = json::array();
        for (const analyse::Contribution& c : finding.machines) {
            json entry = shiftJson(c.shift);
            entry["machine"] = fleet.machines[c.machine].name;
            entry["session"] = fleet.machines[c.machine].sessionName(c.session);
            entry["moved_differently"] = c.movedDifferently;
            machines.push_back(entry);
        }
        const auto optional = [](const std::optional<double>& value) { return value ? json(*value) : json(nullptr); };
        findings.push_back({{"facts", facts},
                            {"line", lineLabel(finding.line)},
                            {"machines", machines},
                            {"ratio", finding.ratio},
                            {"ratio_low", finding.low},
                            {"ratio_high", finding.high},
                            {"confidence", finding.confidence},
                            {"tau", finding.tau},
                            {"prediction_low", optional(finding.predictionLow)},
                            {"prediction_high", optional(finding.predictionHigh)},
                            {"verdict", verdictName(fleetVerdict(finding.verdict))}});
    }
    json unexplained = json::array();
    for (const analyse::Unexplained& u : fleet.report.unexplained) {
        json lines = json::array();
        for (std::size_t i = 0; i < u.lines.size(); ++i) {
            json entry = shiftJson(u.shifts[i]);
            entry["line"] = lineLabel(u.lines[i]);
            lines.push_back(entry);
        }
        unexplained.push_back({{"machine", fleet.machines[u.machine].name},
                               {"session", fleet.machines[u.machine].sessionName(u.session)},
                               {"lines", lines},
                               {"confirmed", u.confirmed}});
    }
    return {{"machines", fleet.machines.size()},
            {"tests", fleet.report.tests},
            {"findings", findings},
            {"unexplained", unexplained},
            {"newest_slower", fleet.newestSlower}};
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

json excursionJson(const MachineHistory& h, const Excursion& excursion)
{
    json entry = placeJson(h, excursion.line, excursion.session);
    entry["verdict"] = verdictName(excursion.verdict);
    entry["ratio"] = excursion.estimate.estimate;
    addInterval(entry, excursion.estimate);
    return entry;
}

json undecidedJson(const MachineHistory& h, const Undecided& u)
{
    json entry = placeJson(h, u.line, u.session);
    entry["verdict"] = "undecided";
    entry["ratio"] = u.estimate.estimate;
    entry["undecided_because"] = undecidedReason(u);
    entry["doubt"] = doubtName(u.estimate.doubt);
    addInterval(entry, u.estimate);
    return entry;
}

// The document is nlohmann::json's dump of one object with two spaces
// indented (its keys in name order), written a part at a time: each
// machine's entries of its lists are dumped by themselves and indented as
// deep as they stand in the document. A dump holds no raw line feed but
// between its lines, so indenting is exact.
std::string dumped(const json& value, std::size_t depth)
{
    const std::string text = terminalSafeJson(value.dump(2, ' ', false, json::error_handler_t::replace));
    const std::string indent(2 * depth, ' ');
    std::string result = indent;
    result.reserve(text.size() + text.size() / 4);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        result.append(text, at, end - at);
        if (end < text.size())
            result.append("\n").append(indent);
        at = end + 1;
    }
    return result;
}

// A list's entries as they stand in the document's lists (two deep), one
// after the other.
class Entries {
public:
    void add(const std::string& entry)
    {
        text_ += text_.empty() ? "" : ",\n";
        text_ += entry;
    }
    void add(const Entries& entries)
    {
        if (!entries.text_.empty())
            add(entries.text_);
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// `"key": value` as a member of the document.
void member(std::ostream& out, const char* key, const std::string& value, bool last = false)
{
    out << "  \"" << key << "\": " << value << (last ? "\n" : ",\n");
}

void member(std::ostream& out, const char* key, const json& value)
{
    member(out, key, dumped(value, 1).substr(2));
}

// A list of the document from its entries.
std::string list(const std::string& entries)
{
    return entries.empty() ? "[]" : "[\n" + entries + "\n  ]";
}

class JsonWriter : public HistoryWriter {
public:
    JsonWriter(const VerdictSettings& settings, bool keepDisturbed) : settings_(settings), keepDisturbed_(keepDisturbed)
    {
    }

    enum Piece { changes, excursions, undecided, machine, notes, readNotes, problems, count };

    Pieces pieces(const MachineHistory& h) const override
    {
        Entries entries[count];
        for (const Change& change : h.changes)
            entries[changes].add(dumped(changeJson(h, change), 2));
        for (const Excursion& excursion : h.excursions)
            entries[excursions].add(dumped(excursionJson(h, excursion), 2));
        for (const Undecided& u : h.undecided)
            entries[undecided].add(dumped(undecidedJson(h, u), 2));
        entries[machine].add(dumped(machineJson(h), 2));
        for (const HistoryNote& note : h.notes)
            entries[notes].add(dumped(historyNoteText(h, note, keepDisturbed_), 2));
        for (const HistoryNote& note : h.readNotes)
            entries[readNotes].add(dumped(historyNoteText(h, note, keepDisturbed_), 2));
        for (const RunProblem& problem : h.problems)
            entries[problems].add(dumped(runProblemText(problem), 2));
        Pieces result;
        for (const Entries& e : entries)
            result.push_back(e.text());
        return result;
    }

    void add(const MachineHistory& h, Pieces pieces) override
    {
        if (!machines_.empty())
            machines_.append(",\n");
        machines_.append(pieces[machine]);
        for (std::size_t piece = 0; piece < count; ++piece)
            if (piece != machine && !pieces[piece].empty())
                lists_[piece].add(pieces[piece]);
        newestSlower_ = newestSlower_ || h.newestSlower;
    }

    std::optional<std::string> finish(std::ostream& out) override
    {
        Entries allNotes = lists_[notes];
        allNotes.add(lists_[readNotes]);
        const bool complete = lists_[problems].text().empty();
        out << "{\n";
        member(out, "changes", list(lists_[changes].text()));
        member(out, "complete", json(complete));
        member(out, "excursions", list(lists_[excursions].text()));
        member(out, "fleet", fleet_ != nullptr ? fleetJson(*fleet_) : json(nullptr));
        member(out, "lines", lineLabels());
        if (machines_.empty())
            member(out, "machines", std::string("[]"));
        else {
            out << "  \"machines\": [\n";
            if (std::optional<std::string> error = machines_.copyTo(out))
                return error;
            out << "\n  ],\n";
        }
        member(out, "newest_slower", json(newestSlower_));
        member(out, "notes", list(allNotes.text()));
        member(out, "problems", list(lists_[problems].text()));
        member(out, "settings",
               json{{"level", settings_.level},
                    {"threshold", settings_.threshold},
                    {"method", historyJsonMethod()},
                    {"fewest_sessions", kFewestSessions}});
        member(out, "undecided", list(lists_[undecided].text()), true);
        out << "}\n";
        return std::nullopt;
    }

private:
    VerdictSettings settings_;
    bool keepDisturbed_;
    Spool machines_;
    Entries lists_[count];
    bool newestSlower_ = false;
};

} // namespace

std::unique_ptr<HistoryWriter> historyJsonWriter(const VerdictSettings& settings, bool keepDisturbed)
{
    return std::make_unique<JsonWriter>(settings, keepDisturbed);
}

} // namespace cpubench
