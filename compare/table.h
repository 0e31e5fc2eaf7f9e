// The comparison as a table, in plain text or Markdown: a row per result
// line and a column per machine, or turned (a row per machine) when asked or
// when the columns would not fit in kTableWidth characters.
#pragma once

#include "stats.h"

#include <ostream>
#include <string>
#include <vector>

inline constexpr std::size_t kTableWidth = 100;

// One machine's figures for one line, as the tables show them.
struct Cell {
    std::string time;     // the median; "-" when there is none
    std::string range;    // "fastest..slowest" when two or more runs went in
    std::string ratio;    // "0.97x"; empty for the baseline
    std::string verdict;  // the verdict's mark after the ratio: + - = ?
    std::string interval; // "0.95..0.99", the ratio's confidence interval
    std::string mark;     // ok, WRONG, or the log fingerprint group(s)
};

// The mark of each verdict: + slower (more time), - faster, = same,
// ? undecided.
const char* verdictMark(Verdict verdict);
// A ratio as the tables show it, "0.97x": two decimals, or as many more as
// keep a ratio called slower or faster beyond the threshold as shown.
std::string ratioText(double ratio, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings);
// The interval "0.95..0.99" of a ratio shown as `ratio`: it holds the ratio
// as shown, and an end off 1 never shows as 1.00. Empty without an interval.
std::string intervalText(const std::optional<RatioEstimate>& estimate, const std::string& ratio);

Cell tableCell(const Comparison& comparison, std::size_t machine, std::size_t line);
// The summary row's cell: the geometric mean of the ratios, with its
// verdict and interval; empty for the baseline.
Cell summaryCell(const Comparison& comparison, std::size_t machine);
// The summary row's label and what it covers.
inline constexpr std::string_view kSummaryLabel = "geometric mean";

// The sentences that explain the table, and those that follow it (the
// fingerprint groups and the notes; not the problems).
// `words`: for a table that gives verdicts in words and intervals in full.
std::vector<std::string> tableLegend(const Comparison& comparison, bool words = false);
std::vector<std::string> tableFootnotes(const Comparison& comparison);

struct TableOptions {
    bool markdown = false;
    bool byMachine = false; // turn the table even when it fits
};

// The text in lines of at most `width` columns, broken between words (a
// word longer than a line is cut); every line but the first starts with
// `indent`.
std::vector<std::string> wrapped(const std::string& text, std::size_t width, const std::string& indent);

// Whether the table is turned: asked for, or too wide for kTableWidth.
bool tableTurned(const Comparison& comparison, const TableOptions& options);

void writeTable(std::ostream& out, const Comparison& comparison, const TableOptions& options);
