// A whole history report through its writer (write.h).
#include "write.h"

namespace cpubench {

namespace {

// A spool that failed leaves the stream failed.
void writeAll(HistoryWriter& writer, std::ostream& out, const HistoryReport& report)
{
    for (const MachineHistory& machine : report.machines)
        writer.add(machine, writer.pieces(machine));
    if (writer.finish(out))
        out.setstate(std::ios::failbit);
}

} // namespace

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
