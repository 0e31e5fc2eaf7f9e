// A whole history report through its writer (write.h).
#include "write.h"

namespace cpubench {

namespace {

// A spool that failed leaves the stream failed.
void writeAll(HistoryWriter& writer, std::ostream& out, const HistoryReport& report)
{
    std::vector<FleetPart> parts;
    for (const MachineHistory& machine : report.machines) {
        writer.add(machine, writer.pieces(machine));
        parts.push_back(fleetPartOf(machine));
    }
    std::optional<FleetFindings> fleet;
    if (parts.size() >= analyse::kFewestMachines) {
        fleet = analyseFleetParts(std::move(parts), report.settings);
        writer.fleet(&*fleet);
    }
    if (writer.finish(out))
        out.setstate(std::ios::failbit);
}

} // namespace

bool shownFinding(const analyse::FleetFinding& finding)
{
    return finding.verdict == analyse::FleetVerdict::slower || finding.verdict == analyse::FleetVerdict::faster;
}

bool anyFleetFinding(const FleetFindings* fleet)
{
    if (fleet == nullptr)
        return false;
    for (const analyse::FleetFinding& finding : fleet->report.findings)
        if (shownFinding(finding))
            return true;
    for (const analyse::Unexplained& unexplained : fleet->report.unexplained)
        if (unexplained.confirmed)
            return true;
    return false;
}

void writeHistoryText(std::ostream& out, const HistoryReport& report)
{
    writeAll(*historyTextWriter(report.settings, report.keepDisturbed), out, report);
}

void writeHistoryJson(std::ostream& out, const HistoryReport& report)
{
    writeAll(*historyJsonWriter(report.settings, report.keepDisturbed), out, report);
}

void writeHistoryHtml(std::ostream& out, const HistoryReport& report)
{
    writeAll(*historyHtmlWriter(report.settings, report.keepDisturbed), out, report);
}

} // namespace cpubench
