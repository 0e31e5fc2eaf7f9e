// The comparison as a table, shared by the text, Markdown and HTML outputs:
// a row per result line and a column per machine, or turned (a row per
// machine) when asked or when the columns would not fit in kTableWidth
// characters; what each cell holds, and how its parts are written.
#pragma once

#include "comparison.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cpubench {

inline constexpr std::size_t kTableWidth = 100;

struct TableOptions {
    bool markdown = false;
    bool byMachine = false; // turn the table even when it fits
};

// One machine's figures for one line, or for the summary row.
struct Cell {
    bool line = true;         // a line's cell; the summary row's has no time
    std::optional<Time> time; // the median; none when the line has no time
    std::optional<std::pair<Time, Time>> range; // fastest and slowest, when two or more runs went in
    bool againstBaseline = false; // a machine but the baseline: a ratio, or none to give
    std::optional<double> ratio;
    std::optional<RatioEstimate> estimate; // the ratio's interval and verdict
    Mark mark = Mark::missing;
    std::vector<std::size_t> groups; // the log fingerprint groups (first line)
};

Cell tableCell(const Comparison& comparison, std::size_t machine, std::size_t line);
// The summary row's cell: the geometric mean of the ratios, with its
// verdict and interval; empty for the baseline.
Cell summaryCell(const Comparison& comparison, std::size_t machine);

// A cell's parts as the tables write them.
struct CellText {
    std::string time;     // the median; "-" when there is none
    std::string range;    // "fastest..slowest"
    std::string ratio;    // "0.97x", "-" when there is none; empty for the baseline
    std::string verdict;  // the verdict's mark after the ratio: + - = ?
    std::string interval; // "0.95..0.99", the ratio's confidence interval
    std::string mark;     // ok, WRONG, or the log fingerprint group(s)
};
CellText cellText(const Cell& cell, const VerdictSettings& settings);

// The mark of each verdict: + slower (more time), - faster, = same,
// ? undecided.
const char* verdictMark(Verdict verdict);

// The turned table's cells: the baseline's median seconds, every other
// machine's ratio with its verdict; the log fingerprint in a column of its own.
struct TurnedTable {
    struct Entry {
        std::string text;
        bool wrong = false;
    };
    std::vector<std::string> headings;   // fp, the lines, the summary
    std::vector<std::vector<Entry>> rows; // per machine, as the headings
};
TurnedTable turnedTable(const Comparison& comparison);

// The plain (not turned) table's rows as text and as Markdown.
std::vector<std::string> textRows(const Comparison& comparison);
std::vector<std::string> markdownRows(const Comparison& comparison);
// Whether the table is turned: asked for, or too wide for kTableWidth.
bool tableTurned(const Comparison& comparison, const TableOptions& options);

// The sentences before the table (the turned table's columns among them)
// and after it (the fingerprint groups and the notes; not the problems).
std::vector<std::string> legendLines(const Comparison& comparison, bool turned);
std::vector<std::string> footnoteLines(const Comparison& comparison);

// The text in lines of at most `width` columns, broken between words (a
// word longer than a line is cut); every line but the first starts with
// `indent`.
std::vector<std::string> wrapped(const std::string& text, std::size_t width, const std::string& indent);

} // namespace cpubench
