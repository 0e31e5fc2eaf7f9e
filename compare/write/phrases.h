// Every sentence the comparison and the history write: the typed findings
// of reading and of the analysis put into words, the legends that explain
// the tables and charts, and the messages of the command line. The writers
// lay them out; nothing else makes a sentence.
#pragma once

#include "comparison.h"
#include "fleet_history.h"
#include "history.h"
#include "read.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cpubench {

// The names of the verdicts, marks, disturbances, doubts and problems, as
// the JSON documents and the pages' classes give them.
const char* verdictName(Verdict verdict);
const char* markName(Mark mark);
const char* causeName(analyse::Cause cause);                       // a disturbance's; nullptr for none
const char* irregularityName(analyse::Irregularity irregularity); // nullptr for none
const char* doubtName(Doubt doubt);                   // nullptr for none
const char* problemName(TranscriptProblem::Kind kind);

// The files, the formats and the transcripts.
std::string fileErrorText(const FileError& error);
std::string formatErrorText(const FormatError& error);
std::string readIssueText(const ReadIssue& issue);
std::string problemText(const TranscriptProblem& problem);
// Why a recorded session is incomplete.
std::string recordingText(SessionState state, const std::string& reason);
// The note on a session.json that could not be used: its path, then why
// (a file that could not be read names its path again).
std::string recordNoteText(const ReadIssue& issue);
std::string lineLabel(std::size_t line);
// "1 machine", "2 machines".
std::string counted(std::size_t count, const char* one, const char* many);

// Where every run is fine.
extern const char kAllTranscriptsComplete[];
extern const char kAllRunsComplete[];
extern const char kNoProblem[];

// The comparison.
std::string doubtText(const RatioEstimate& estimate, const VerdictSettings& settings);
std::vector<std::string> noteTexts(const Comparison& comparison);
std::vector<std::string> problemTexts(const Comparison& comparison);
std::string problemsText(std::size_t problems); // "2 problems: wrong values or incomplete runs (see Problems)."
// The summary row's label, in full and in a turned table's heading.
inline constexpr std::string_view kSummaryLabel = "geometric mean";
inline constexpr std::string_view kShortSummary = "geomean";
// A group's members: each machine, with its runs when not all of them print the group's values.
std::vector<std::string> memberTexts(const Comparison& comparison, const FingerprintGroup& group);
std::string groupText(const Comparison& comparison, std::size_t group); // "log fingerprint A: ..."
// The sentences that explain the table. `words`: for a table that gives
// verdicts in words and intervals in full.
std::vector<std::string> tableLegend(const Comparison& comparison, bool words);
std::string turnedLegend(); // what the turned table's columns are
std::string comparisonMethod();
extern const char kFingerprintsExplained[];

// A stretch of a sentence, and how a page shows it.
struct Span {
    enum class Style { words, key, slower, faster, same, undecided };
    std::string text;
    Style style = Style::words;
};
std::vector<Span> chartLegend(const VerdictSettings& settings);
std::vector<Span> trendLegend();

// The history.
std::string historyMethod(const VerdictSettings& settings);
std::string historyJsonMethod();
// A machine's sessions as the heading names them, "alpha 6 sessions (first .. last)".
std::string machineSessionsText(const MachineHistory& machine);
std::string historyHeading(const std::vector<std::string>& machines); // "History of 2 machines: ..."
std::string changeText(const MachineHistory& machine, const Change& change, const VerdictSettings& settings);
std::string factsText(const std::vector<FactChange>& facts, const char* separator);
std::string changedThenText(const Change& change); // the facts that changed then, or that none did
std::string excursionText(const MachineHistory& machine, const Excursion& excursion, const VerdictSettings& settings);
std::string machineSummaryText(const MachineHistory& machine);
std::string undecidedReason(const Undecided& undecided);
// A note of the machine's notes or readNotes (told in that order, every
// machine's notes before the first machine's readNotes).
std::string historyNoteText(const MachineHistory& machine, const HistoryNote& note, bool keepDisturbed);
std::string runProblemText(const RunProblem& problem);
extern const char kNewestSlower[];
// The history page's sentences.
std::string historyCountsText(std::size_t machines, std::size_t changes,
                              std::size_t excursions); // "2 machines, 1 change, 0 excursions."
std::string historyProblemsText(std::size_t problems);       // "2 problems (see Problems)."
std::string machineCountsText(const MachineHistory& machine); // "6 sessions, 1 change, 0 excursions"
std::string valuesWrongText(const MachineHistory& machine);
std::string trendChangeTitle(const MachineHistory& machine, const Change& change, const VerdictSettings& settings);
std::string trendExcursionTitle(const MachineHistory& machine, const Excursion& excursion);

// Findings across the machines of a history.
Verdict fleetVerdict(analyse::FleetVerdict verdict);
// "kernel 6.1.0-25-amd64 -> 6.1.0-26-amd64, 212 of 230 machines: INT64MulDiv128 1.031x (1.027..1.035), slower"
std::string fleetFindingText(const FleetFindings& fleet, const analyse::FleetFinding& finding,
                             const VerdictSettings& settings);
// Its machines that moved differently from the rest, with their own ratios.
std::string movedDifferentlyText(const FleetFindings& fleet, const analyse::FleetFinding& finding);
// "beta, from 2026-06-01T02.00Z: INT64MulDiv128 1.10x, ...; no machine.json fact changed then"
std::string unexplainedText(const FleetFindings& fleet, const analyse::Unexplained& unexplained);
std::string fleetMethod(const FleetFindings& fleet, const VerdictSettings& settings);
extern const char kFleetNewestSlower[];

// The command line.
std::string cannotWriteText(const std::string& what);
// --openmetrics: a machine of a name an earlier one has.
std::string duplicateMachineText(const std::string& machine);

} // namespace cpubench
