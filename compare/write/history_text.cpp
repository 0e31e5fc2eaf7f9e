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

// Names, values and facts come from other machines: no control character
// of theirs reaches the terminal. Each piece is whole lines, so each can be
// made printable by itself.
class TextWriter : public HistoryWriter {
public:
    TextWriter(const VerdictSettings& settings, bool keepDisturbed) : settings_(settings), keepDisturbed_(keepDisturbed)
    {
    }

    // The machine's part of the heading, then its lines of each section.
    enum Piece { heading, changes, excursions, summary, notes, readNotes, problems, count };

    Pieces pieces(const MachineHistory& h) const override
    {
        std::ostringstream section[count];
        for (const Change& change : h.changes) {
            print(section[changes], "  " + changeText(h, change, settings_), "    ");
            print(section[changes], "    " + changedThenText(change), "      ");
        }
        for (const Excursion& excursion : h.excursions)
            print(section[excursions], "  " + excursionText(h, excursion, settings_), "    ");
        print(section[summary], "  " + machineSummaryText(h), "    ");
        for (const HistoryNote& note : h.notes)
            print(section[notes], historyNoteText(h, note, keepDisturbed_));
        for (const HistoryNote& note : h.readNotes)
            print(section[readNotes], historyNoteText(h, note, keepDisturbed_));
        for (const RunProblem& problem : h.problems)
            print(section[problems], "  " + runProblemText(problem), "    ");
        Pieces result(count);
        result[heading] = machineSessionsText(h);
        for (std::size_t piece = changes; piece < count; ++piece)
            result[piece] = printable(section[piece].str());
        return result;
    }

    void add(const MachineHistory& h, Pieces pieces) override
    {
        headings_.push_back(std::move(pieces[heading]));
        for (std::size_t piece = changes; piece < count; ++piece)
            sections_[piece] += pieces[piece];
        newestSlower_ = newestSlower_ || h.newestSlower;
        anyChange_ = anyChange_ || !h.changes.empty();
        anyExcursion_ = anyExcursion_ || !h.excursions.empty();
        anyNote_ = anyNote_ || !h.notes.empty() || !h.readNotes.empty();
        anyProblem_ = anyProblem_ || !h.problems.empty();
    }

    std::optional<std::string> finish(std::ostream& out) override
    {
        std::ostringstream top;
        print(top, historyHeading(headings_));
        print(top, historyMethod(settings_));
        out << printable(top.str()) << "\nChanges:\n" << (anyChange_ ? sections_[changes] : "  none\n");
        if (anyFleetFinding(fleet_)) {
            std::ostringstream fleet;
            fleet << "Fleet (findings across machines):\n";
            for (const analyse::FleetFinding& finding : fleet_->report.findings)
                if (shownFinding(finding)) {
                    print(fleet, "  " + fleetFindingText(*fleet_, finding, settings_), "    ");
                    if (const std::string moved = movedDifferentlyText(*fleet_, finding); !moved.empty())
                        print(fleet, "    " + moved, "      ");
                }
            for (const analyse::Unexplained& unexplained : fleet_->report.unexplained)
                if (unexplained.confirmed)
                    print(fleet, "  " + unexplainedText(*fleet_, unexplained), "    ");
            fleet << '\n';
            print(fleet, fleetMethod(*fleet_, settings_), "");
            out << '\n' << printable(fleet.str());
        }
        if (anyExcursion_)
            out << "\nExcursions (one session off, then back; no change):\n" << sections_[excursions];
        out << "\nMachines:\n" << sections_[summary];
        if (anyNote_)
            out << '\n' << sections_[notes] << sections_[readNotes];
        if (newestSlower_)
            out << '\n' << kNewestSlower << '\n';
        else if (fleet_ != nullptr && fleet_->newestSlower)
            out << '\n' << kFleetNewestSlower << '\n';
        if (!anyProblem_)
            out << '\n' << kAllTranscriptsComplete << '\n';
        else
            out << "\nProblems:\n" << sections_[problems];
        return std::nullopt;
    }

private:
    VerdictSettings settings_;
    bool keepDisturbed_;
    std::vector<std::string> headings_;
    std::string sections_[count];
    bool newestSlower_ = false, anyChange_ = false, anyExcursion_ = false, anyNote_ = false, anyProblem_ = false;
};

} // namespace

std::unique_ptr<HistoryWriter> historyTextWriter(const VerdictSettings& settings, bool keepDisturbed)
{
    return std::make_unique<TextWriter>(settings, keepDisturbed);
}

} // namespace cpubench
