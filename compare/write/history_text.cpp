// The history as text, in lines of at most 100 columns (write.h).
#include "write.h"

#include "escape.h"
#include "phrases.h"

#include <sstream>

namespace cpubench {

namespace {

void print(std::ostream& out, const std::string& text, const std::string& indent = "  ")
{
    for (const std::string& line : wrapped(text, kTableWidth, indent))
        out << line << '\n';
}

void writeChanges(std::ostream& out, const HistoryReport& r)
{
    out << "\nChanges:\n";
    bool any = false;
    for (const MachineHistory& h : r.machines)
        for (const Change& change : h.changes) {
            print(out, "  " + changeText(h, change, r.settings), "    ");
            print(out, "    " + changedThenText(change), "      ");
            any = true;
        }
    if (!any)
        out << "  none\n";
}

void writeExcursions(std::ostream& out, const HistoryReport& r)
{
    bool any = false;
    for (const MachineHistory& h : r.machines)
        for (const Excursion& excursion : h.excursions) {
            if (!any)
                out << "\nExcursions (one session off, then back; no change):\n";
            print(out, "  " + excursionText(h, excursion, r.settings), "    ");
            any = true;
        }
}

void writeLines(std::ostream& out, const HistoryReport& r)
{
    print(out, historyHeading(r));
    print(out, historyMethod(r.settings));
    writeChanges(out, r);
    writeExcursions(out, r);
    out << "\nMachines:\n";
    for (const MachineHistory& h : r.machines)
        print(out, "  " + machineSummaryText(h), "    ");
    const std::vector<std::string> notes = historyNoteTexts(r);
    if (!notes.empty()) {
        out << '\n';
        for (const std::string& note : notes)
            print(out, note);
    }
    if (std::any_of(r.machines.begin(), r.machines.end(), [](const MachineHistory& h) { return h.newestSlower; }))
        out << '\n' << kNewestSlower << '\n';
    const std::vector<std::string> problems = historyProblemTexts(r);
    if (problems.empty())
        out << '\n' << kAllTranscriptsComplete << '\n';
    else {
        out << "\nProblems:\n";
        for (const std::string& problem : problems)
            print(out, "  " + problem, "    ");
    }
}

} // namespace

// Names, values and facts come from other machines: no control character
// of theirs reaches the terminal.
void writeHistoryText(std::ostream& out, const HistoryReport& r)
{
    std::ostringstream text;
    writeLines(text, r);
    out << printable(text.str());
}

} // namespace cpubench
