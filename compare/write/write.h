// The outputs: the comparison as a text or Markdown table, an HTML page and
// a JSON document, and the history as text, JSON and HTML.
#pragma once

#include "comparison.h"
#include "fleet_history.h"
#include "history.h"
#include "table.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cpubench {

void writeText(std::ostream& out, const Comparison& comparison, const TableOptions& options);
void writeMarkdown(std::ostream& out, const Comparison& comparison, const TableOptions& options);
void writeHtml(std::ostream& out, const Comparison& comparison, const TableOptions& options);
void writeJson(std::ostream& out, const Comparison& comparison);

// The history's outputs, written machine by machine so that a fleet's
// machines are never all in memory: what an output shows of one machine is
// made from that machine alone (pieces, which any thread may call), the
// pieces are added in the machines' order (add), and finish puts the output
// together. What grows with the machines' sessions (the JSON document's
// sessions, the page's charts) waits in a Spool (spool.h); the rest, a few
// lines a machine, in memory.
class HistoryWriter {
public:
    using Pieces = std::vector<std::string>;
    virtual ~HistoryWriter() = default;
    virtual Pieces pieces(const MachineHistory& machine) const = 0;
    virtual void add(const MachineHistory& machine, Pieces pieces) = 0;
    // The whole output to `out`; the reason when its spool failed.
    virtual std::optional<std::string> finish(std::ostream& out) = 0;
    // The findings across the machines, once all are added (before finish);
    // none for a history of one machine.
    void fleet(const FleetFindings* fleet) { fleet_ = fleet; }

protected:
    const FleetFindings* fleet_ = nullptr;
};

// What a fleet's findings show: those slower or faster, and the machines
// that changed with no fact changed whose shift holds across the fleet.
bool shownFinding(const analyse::FleetFinding& finding);
bool anyFleetFinding(const FleetFindings* fleet);

std::unique_ptr<HistoryWriter> historyTextWriter(const VerdictSettings& settings, bool keepDisturbed);
std::unique_ptr<HistoryWriter> historyJsonWriter(const VerdictSettings& settings, bool keepDisturbed);
std::unique_ptr<HistoryWriter> historyHtmlWriter(const VerdictSettings& settings, bool keepDisturbed);

// A whole report through one of them.
void writeHistoryText(std::ostream& out, const HistoryReport& report);
void writeHistoryJson(std::ostream& out, const HistoryReport& report);
void writeHistoryHtml(std::ostream& out, const HistoryReport& report);

} // namespace cpubench
