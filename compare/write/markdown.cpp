// The comparison as a Markdown table (write.h).
#include "write.h"

#include "escape.h"
#include "join.h"
#include "phrases.h"

#include <sstream>

namespace cpubench {

namespace {

std::string markdownCell(const Cell& cell, const VerdictSettings& settings)
{
    CellText text = cellText(cell, settings);
    if (!text.range.empty())
        text.range = "(" + text.range + ")";
    text.mark = cell.mark == Mark::wrong ? "**WRONG**" : markdownEscaped(text.mark);
    std::vector<std::string> parts;
    for (const std::string& part : {text.time, text.range, text.ratio + text.verdict, text.interval, text.mark})
        if (!part.empty())
            parts.push_back(part);
    return joined(parts, " ");
}

// Compact: no padding. A name too long to fit is replaced by m<number>,
// spelled out in a list under the table.
std::vector<std::string> turnedRows(const Comparison& c, std::vector<std::string>& keys)
{
    const TurnedTable table = turnedTable(c);
    std::vector<std::string> rows;
    std::string header = "|machine|", rule = "|---|";
    for (const std::string& heading : table.headings) {
        header += heading + "|";
        rule += "---|";
    }
    rows.push_back(header);
    rows.push_back(rule);
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        std::string figures;
        for (const TurnedTable::Entry& entry : table.rows[m])
            figures += (entry.wrong ? "**WRONG**" : markdownEscaped(entry.text)) + "|";
        std::string name = markdownEscaped(c.machines[m].name);
        if (2 + name.size() + figures.size() > kTableWidth) {
            const std::string key = "m" + std::to_string(m + 1);
            keys.push_back(key + ": " + c.machines[m].name);
            name = key;
        }
        rows.push_back("|" + name + "|" + figures);
    }
    return rows;
}

void writeList(std::ostream& out, const std::vector<std::string>& items)
{
    for (const std::string& item : items)
        for (const std::string& part : wrapped("- " + markdownEscaped(item), kTableWidth, "  "))
            out << part << '\n';
}

} // namespace

std::vector<std::string> markdownRows(const Comparison& c)
{
    std::vector<std::string> rows;
    std::string header = "| run |";
    std::string rule = "|---|";
    for (const Machine& machine : c.machines) {
        header += " " + markdownEscaped(machine.name) + " |";
        rule += "---|";
    }
    rows.push_back(header);
    rows.push_back(rule);
    for (std::size_t line = 0; line <= kLineCount; ++line) {
        if (line == kLineCount && c.machines.size() < 2)
            break;
        std::string text = "| " + markdownEscaped(line < kLineCount ? lineLabel(line) : std::string(kSummaryLabel)) + " |";
        for (std::size_t m = 0; m < c.machines.size(); ++m)
            text += " " + markdownCell(line < kLineCount ? tableCell(c, m, line) : summaryCell(c, m), c.settings) + " |";
        rows.push_back(text);
    }
    return rows;
}

// Names, values and facts come from other machines: no control character
// of theirs reaches the terminal.
void writeMarkdown(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    const bool turned = tableTurned(c, {true, options.byMachine});
    std::ostringstream text;
    for (const std::string& line : legendLines(c, turned)) {
        for (const std::string& part : wrapped(markdownEscaped(line), kTableWidth, ""))
            text << part << '\n';
        text << '\n';
    }
    std::vector<std::string> keys;
    for (const std::string& row : turned ? turnedRows(c, keys) : markdownRows(c))
        text << row << '\n';
    text << '\n';
    writeList(text, keys);
    if (!keys.empty())
        text << '\n';
    writeList(text, footnoteLines(c));
    if (!c.problems.empty()) {
        text << "\nProblems:\n\n";
        writeList(text, problemTexts(c));
    }
    out << printable(text.str());
}

} // namespace cpubench
