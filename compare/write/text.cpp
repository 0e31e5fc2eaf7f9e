// The comparison as a plain text table (write.h).
#include "write.h"

#include "escape.h"
#include "phrases.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace cpubench {

namespace {

std::string padded(const std::string& text, std::size_t width, bool right = false)
{
    const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
    return right ? fill + text : text + fill;
}

void trimEnd(std::string& line)
{
    line.erase(line.find_last_not_of(' ') + 1);
}

// The parts of a cell in their order: time, range, ratio with its verdict,
// interval, mark.
using Parts = std::array<std::string, 5>;
using Widths = std::array<std::size_t, 5>;

Parts partsOf(const CellText& cell)
{
    return {cell.time, cell.range, cell.ratio + cell.verdict, cell.interval, cell.mark};
}

void widen(Widths& widths, const Parts& parts)
{
    for (std::size_t i = 0; i < parts.size(); ++i)
        widths[i] = std::max(widths[i], parts[i].size());
}

std::size_t contentWidth(const Widths& widths)
{
    std::size_t content = widths[0];
    for (std::size_t part = 1; part < widths.size(); ++part)
        content += widths[part] == 0 ? 0 : 2 + widths[part];
    return content;
}

// The time right-aligned, the other parts each in the width of its own.
std::string aligned(const Parts& parts, const Widths& widths)
{
    std::string text = padded(parts[0], widths[0], true);
    for (std::size_t part = 1; part < parts.size(); ++part)
        if (widths[part] > 0)
            text += "  " + padded(parts[part], widths[part], part == 1 || part == 3);
    return text;
}

std::size_t labelWidth()
{
    std::size_t width = kSummaryLabel.size();
    for (const ResultLine& known : kLines)
        width = std::max(width, known.label.size());
    return width;
}

// Every row's cells as text parts: a row per line, the summary last.
std::vector<std::vector<Parts>> cellParts(const Comparison& c)
{
    std::vector<std::vector<Parts>> rows;
    for (std::size_t line = 0; line < kLineCount; ++line) {
        rows.emplace_back();
        for (std::size_t m = 0; m < c.machines.size(); ++m)
            rows.back().push_back(partsOf(cellText(tableCell(c, m, line), c.settings)));
    }
    if (c.machines.size() > 1) {
        rows.emplace_back();
        for (std::size_t m = 0; m < c.machines.size(); ++m)
            rows.back().push_back(partsOf(cellText(summaryCell(c, m), c.settings)));
    }
    return rows;
}

// A row per machine; a name too long to fit stands on a row of its own
// above its figures.
std::vector<std::string> turnedRows(const Comparison& c)
{
    const TurnedTable table = turnedTable(c);
    std::vector<std::size_t> widths;
    for (const std::string& heading : table.headings)
        widths.push_back(heading.size());
    for (const auto& row : table.rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].text.size());
    std::size_t figures = 0;
    for (const std::size_t width : widths)
        figures += 1 + width;
    const std::size_t room = kTableWidth > figures ? kTableWidth - figures : 0;
    std::size_t nameWidth = std::string_view("machine").size();
    for (const Machine& machine : c.machines)
        if (machine.name.size() <= room)
            nameWidth = std::max(nameWidth, machine.name.size());

    const auto line = [&](const std::string& name, const std::vector<std::string>& cells) {
        std::string text = padded(name, nameWidth);
        for (std::size_t i = 0; i < cells.size(); ++i)
            text += " " + padded(cells[i], widths[i], i > 0);
        trimEnd(text);
        return text;
    };
    std::vector<std::string> rows{line("machine", table.headings)};
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        std::vector<std::string> cells;
        for (const TurnedTable::Entry& entry : table.rows[m])
            cells.push_back(entry.text);
        const std::string& name = c.machines[m].name;
        if (name.size() > nameWidth) {
            for (const std::string& part : wrapped(name, kTableWidth, ""))
                rows.push_back(part);
            rows.push_back(line("", cells));
        } else
            rows.push_back(line(name, cells));
    }
    return rows;
}

} // namespace

// A row per line, a column per machine as wide as its widest cell or name;
// the summary row last.
std::vector<std::string> textRows(const Comparison& c)
{
    const std::size_t machines = c.machines.size();
    const std::vector<std::vector<Parts>> cells = cellParts(c);
    std::vector<Widths> widths(machines, Widths{});
    std::vector<std::size_t> columnWidths(machines);
    for (std::size_t m = 0; m < machines; ++m) {
        for (const std::vector<Parts>& row : cells)
            widen(widths[m], row[m]);
        columnWidths[m] = std::max(contentWidth(widths[m]), c.machines[m].name.size());
    }
    std::vector<std::string> rows;
    std::string header(labelWidth(), ' ');
    for (std::size_t m = 0; m < machines; ++m)
        header += "  " + padded(c.machines[m].name, columnWidths[m]);
    rows.push_back(header);
    for (std::size_t r = 0; r < cells.size(); ++r) {
        std::string text = padded(r < kLineCount ? lineLabel(r) : std::string(kSummaryLabel), labelWidth());
        for (std::size_t m = 0; m < machines; ++m)
            text += "  " + padded(aligned(cells[r][m], widths[m]), columnWidths[m]);
        rows.push_back(text);
    }
    for (std::string& text : rows)
        trimEnd(text);
    return rows;
}

// Names, values and facts come from other machines: no control character
// of theirs reaches the terminal.
void writeText(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    const bool turned = tableTurned(c, {false, options.byMachine});
    std::ostringstream text;
    for (const std::string& line : legendLines(c, turned))
        for (const std::string& part : wrapped(line, kTableWidth, "  "))
            text << part << '\n';
    text << '\n';
    for (const std::string& row : turned ? turnedRows(c) : textRows(c))
        text << row << '\n';
    text << '\n';
    for (const std::string& line : footnoteLines(c))
        for (const std::string& part : wrapped(line, kTableWidth, "  "))
            text << part << '\n';
    if (!c.problems.empty()) {
        text << "\nProblems:\n";
        for (const std::string& problem : problemTexts(c))
            for (const std::string& part : wrapped("  " + problem, kTableWidth, "    "))
                text << part << '\n';
    }
    out << printable(text.str());
}

} // namespace cpubench
