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
    std::string time;  // the median; "-" when there is none
    std::string range; // "fastest..slowest" when two or more runs went in
    std::string ratio; // "0.97x"; empty for the baseline
    std::string noise; // "~" within run-to-run noise
    std::string mark;  // ok, WRONG, or the log fingerprint group(s)
};

Cell tableCell(const Comparison& comparison, std::size_t machine, std::size_t line);

// The sentences that explain the table, and those that follow it (the
// fingerprint groups and the notes; not the problems).
std::vector<std::string> tableLegend(const Comparison& comparison);
std::vector<std::string> tableFootnotes(const Comparison& comparison);

struct TableOptions {
    bool markdown = false;
    bool byMachine = false; // turn the table even when it fits
};

// Whether the table is turned: asked for, or too wide for kTableWidth.
bool tableTurned(const Comparison& comparison, const TableOptions& options);

void writeTable(std::ostream& out, const Comparison& comparison, const TableOptions& options);
