#include "table.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

using expected::kLines;

std::string markdownEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string_view("\\`*_[]<>|#~").find(c) != std::string_view::npos)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string padded(const std::string& text, std::size_t width, bool right = false)
{
    const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
    return right ? fill + text : text + fill;
}

void trimEnd(std::string& line)
{
    line.erase(line.find_last_not_of(' ') + 1);
}

// The parts of a cell in their order; the noise mark follows the ratio
// without a gap.
using Parts = std::array<std::string, 5>;
using Widths = std::array<std::size_t, 5>;
constexpr std::size_t kNoisePart = 3;

Parts partsOf(const Cell& cell)
{
    return {cell.time, cell.range, cell.ratio, cell.noise, cell.mark};
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
        content += widths[part] == 0 ? 0 : (part == kNoisePart ? 0 : 2) + widths[part];
    return content;
}

// The time right-aligned, the other parts each in the width of its own.
std::string aligned(const Parts& parts, const Widths& widths)
{
    std::string text = padded(parts[0], widths[0], true);
    for (std::size_t part = 1; part < parts.size(); ++part)
        if (widths[part] > 0)
            text += (part == kNoisePart ? "" : "  ") + padded(parts[part], widths[part], part == 1 || part == 2);
    return text;
}

std::size_t labelWidth()
{
    std::size_t width = 0;
    for (const expected::ResultLine& known : kLines)
        width = std::max(width, known.label.size());
    return width;
}

// A row per line, a column per machine as wide as its widest cell or name.
std::vector<std::string> plainRows(const Comparison& c)
{
    const std::size_t machines = c.machines.size();
    std::vector<Widths> widths(machines, Widths{});
    std::vector<std::size_t> columnWidths(machines);
    for (std::size_t m = 0; m < machines; ++m) {
        for (std::size_t line = 0; line < kLines.size(); ++line)
            widen(widths[m], partsOf(tableCell(c, m, line)));
        columnWidths[m] = std::max(contentWidth(widths[m]), c.machines[m].name.size());
    }
    std::vector<std::string> rows;
    std::string header(labelWidth(), ' ');
    for (std::size_t m = 0; m < machines; ++m)
        header += "  " + padded(c.machines[m].name, columnWidths[m]);
    rows.push_back(header);
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        std::string row = padded(std::string(kLines[line].label), labelWidth());
        for (std::size_t m = 0; m < machines; ++m)
            row += "  " + padded(aligned(partsOf(tableCell(c, m, line)), widths[m]), columnWidths[m]);
        rows.push_back(row);
    }
    for (std::string& row : rows)
        trimEnd(row);
    return rows;
}

// A row per machine, a column per line; with several runs, a second row
// under each machine holds its ranges.
std::vector<std::string> turnedRows(const Comparison& c)
{
    const std::size_t machines = c.machines.size();
    std::size_t nameWidth = std::string_view("machine").size();
    for (const Machine& machine : c.machines)
        nameWidth = std::max(nameWidth, machine.name.size());
    std::array<Widths, expected::kLineCount> widths{};
    std::array<std::size_t, expected::kLineCount> columnWidths{};
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        std::size_t rangeWidth = 0;
        for (std::size_t m = 0; m < machines; ++m) {
            Cell cell = tableCell(c, m, line);
            rangeWidth = std::max(rangeWidth, cell.range.size());
            cell.range.clear();
            widen(widths[line], partsOf(cell));
        }
        columnWidths[line] = std::max({contentWidth(widths[line]), rangeWidth, kLines[line].label.size()});
    }
    std::vector<std::string> rows;
    std::string header = padded("machine", nameWidth);
    for (std::size_t line = 0; line < kLines.size(); ++line)
        header += "  " + padded(std::string(kLines[line].label), columnWidths[line]);
    rows.push_back(header);
    for (std::size_t m = 0; m < machines; ++m) {
        std::string row = padded(c.machines[m].name, nameWidth);
        std::string ranges(nameWidth, ' ');
        bool anyRange = false;
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            Cell cell = tableCell(c, m, line);
            ranges += "  " + padded(cell.range, columnWidths[line]);
            anyRange = anyRange || !cell.range.empty();
            cell.range.clear();
            row += "  " + padded(aligned(partsOf(cell), widths[line]), columnWidths[line]);
        }
        rows.push_back(row);
        if (anyRange)
            rows.push_back(ranges);
    }
    for (std::string& row : rows)
        trimEnd(row);
    return rows;
}

std::string markdownCell(Cell cell)
{
    if (!cell.range.empty())
        cell.range = "(" + cell.range + ")";
    if (cell.mark == "WRONG")
        cell.mark = "**WRONG**";
    else
        cell.mark = markdownEscaped(cell.mark);
    cell.ratio += markdownEscaped(cell.noise);
    cell.noise.clear();
    std::string text;
    for (const std::string& part : partsOf(cell))
        if (!part.empty())
            text += (text.empty() ? "" : " ") + part;
    return text;
}

void writeMarkdownTable(std::ostream& out, const Comparison& c, bool turned)
{
    const std::size_t machines = c.machines.size();
    if (turned) {
        out << "| machine |";
        for (const expected::ResultLine& known : kLines)
            out << ' ' << markdownEscaped(std::string(known.label)) << " |";
        out << "\n|---|";
        for (std::size_t line = 0; line < kLines.size(); ++line)
            out << "---|";
        out << '\n';
        for (std::size_t m = 0; m < machines; ++m) {
            out << "| " << markdownEscaped(c.machines[m].name) << " |";
            for (std::size_t line = 0; line < kLines.size(); ++line)
                out << ' ' << markdownCell(tableCell(c, m, line)) << " |";
            out << '\n';
        }
        return;
    }
    out << "| run |";
    for (const Machine& machine : c.machines)
        out << ' ' << markdownEscaped(machine.name) << " |";
    out << "\n|---|";
    for (std::size_t m = 0; m < machines; ++m)
        out << "---|";
    out << '\n';
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        out << "| " << markdownEscaped(std::string(kLines[line].label)) << " |";
        for (std::size_t m = 0; m < machines; ++m)
            out << ' ' << markdownCell(tableCell(c, m, line)) << " |";
        out << '\n';
    }
}

} // namespace

Cell tableCell(const Comparison& c, std::size_t machine, std::size_t line)
{
    const LineStats& stats = c.stats[machine].lines[line];
    Cell cell;
    cell.time = stats.runs == 0 ? "-" : stats.medianText;
    if (stats.runs >= 2)
        cell.range = stats.fastestText + ".." + stats.slowestText;
    if (machine > 0) {
        if (stats.ratio) {
            char text[40];
            std::snprintf(text, sizeof text, "%.2fx", *stats.ratio);
            cell.ratio = text;
            if (stats.withinNoise)
                cell.noise = "~";
        } else
            cell.ratio = "-";
    }
    if (stats.mark == Mark::exact)
        cell.mark = "ok";
    else if (stats.mark == Mark::wrong)
        cell.mark = "WRONG";
    else if (kLines[line].kind == expected::Values::fingerprint)
        for (std::size_t group : stats.groups)
            cell.mark += (cell.mark.empty() ? "" : ",") + groupName(group);
    return cell;
}

std::vector<std::string> tableLegend(const Comparison& c)
{
    std::vector<std::string> legend;
    legend.push_back(c.severalRuns ? "Time: the median of each machine's good runs in seconds, with the fastest..slowest "
                                     "run where it has two or more."
                                   : "Time of each run in seconds.");
    if (c.machines.size() > 1) {
        legend.push_back(std::string(c.severalRuns ? "Ratio = median / median" : "Ratio = time / time") + " of " +
                         c.machines[0].name + ": lower is faster.");
        if (c.severalRuns)
            legend.back() += " ~ = within run-to-run noise: both machines have two or more good runs and their "
                             "ranges overlap (a plain overlap rule, not a significance test).";
    }
    legend.push_back("Values: ok = exact, WRONG = differ (see Problems), A, B, ... = log fingerprint.");
    if (c.severalRuns) {
        std::string runs;
        for (std::size_t m = 0; m < c.machines.size(); ++m) {
            std::size_t good = 0;
            for (bool used : c.stats[m].used)
                good += used && !c.stats[m].fromFlawedRuns ? 1 : 0;
            runs += (runs.empty() ? "" : ", ") + c.machines[m].name + " " + std::to_string(good);
            if (good != c.machines[m].runs.size())
                runs += " of " + std::to_string(c.machines[m].runs.size());
        }
        legend.push_back("Good runs: " + runs + ".");
    }
    return legend;
}

std::vector<std::string> tableFootnotes(const Comparison& c)
{
    std::vector<std::string> notes;
    for (std::size_t g = 0; g < c.groups.size(); ++g) {
        std::string names, values;
        for (const std::string& name : c.groups[g].members)
            names += (names.empty() ? "" : ", ") + name;
        for (const std::string& value : c.groups[g].values)
            values += (values.empty() ? "" : " ") + value;
        notes.push_back("log fingerprint " + groupName(g) + ": " + names + " (" + values + ")");
    }
    notes.insert(notes.end(), c.notes.begin(), c.notes.end());
    if (c.problems.empty())
        notes.push_back("All transcripts complete, all fixed values exact.");
    return notes;
}

bool tableTurned(const Comparison& c, const TableOptions& options)
{
    if (options.byMachine)
        return true;
    for (const std::string& row : plainRows(c))
        if (row.size() > kTableWidth)
            return true;
    return false;
}

void writeTable(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    const bool turned = tableTurned(c, options);

    if (options.markdown) {
        for (const std::string& line : tableLegend(c))
            out << markdownEscaped(line) << "\n\n";
        writeMarkdownTable(out, c, turned);
        out << '\n';
        for (const std::string& line : tableFootnotes(c))
            out << "- " << markdownEscaped(line) << '\n';
        if (!c.problems.empty()) {
            out << "\nProblems:\n\n";
            for (const std::string& problem : c.problems)
                out << "- " << markdownEscaped(problem) << '\n';
        }
        return;
    }

    const std::vector<std::string> rows = turned ? turnedRows(c) : plainRows(c);
    for (const std::string& line : tableLegend(c))
        out << line << '\n';
    out << '\n';
    for (const std::string& row : rows)
        out << row << '\n';
    out << '\n';
    for (const std::string& line : tableFootnotes(c))
        out << line << '\n';
    if (!c.problems.empty()) {
        out << "\nProblems:\n";
        for (const std::string& problem : c.problems)
            out << "  " << problem << '\n';
    }
}
