#include "table.h"

#include "printable.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

using expected::kLines;

// The column headings of the turned table, which must fit ten columns and
// the machine's name in kTableWidth.
constexpr std::array<std::string_view, expected::kLineCount> kShortLabels = {
    "log", "SSE2", "GMP", "MulDiv", "4Kern", "8Kern", "18Kern", "MulMod", "Copy"};
constexpr std::string_view kShortSummary = "geomean";

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

std::string joined(const std::vector<std::string>& texts, const char* separator)
{
    std::string text;
    for (const std::string& part : texts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

std::string format(const char* pattern, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// An interval's end with two decimals, or three where two would show 1.00
// for an end that lies off 1 (a verdict rests on that side).
std::string intervalEnd(double end)
{
    const std::string text = format("%.2f", end);
    return text == "1.00" && end != 1 ? format("%.3f", end) : text;
}

} // namespace

std::string intervalText(const std::optional<RatioEstimate>& estimate, const std::string& ratio)
{
    if (!estimate || !estimate->low)
        return "";
    // The interval as shown holds the ratio as shown.
    const double shown = std::strtod(ratio.c_str(), nullptr);
    std::string low = intervalEnd(*estimate->low), high = intervalEnd(*estimate->high);
    if (std::strtod(low.c_str(), nullptr) > shown)
        low = ratio.substr(0, ratio.size() - 1);
    if (std::strtod(high.c_str(), nullptr) < shown)
        high = ratio.substr(0, ratio.size() - 1);
    return low + ".." + high;
}

namespace {

// The parts of a cell in their order: time, range, ratio with its verdict,
// interval, mark.
using Parts = std::array<std::string, 5>;
using Widths = std::array<std::size_t, 5>;

Parts partsOf(const Cell& cell)
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
    for (const expected::ResultLine& known : kLines)
        width = std::max(width, known.label.size());
    return width;
}

bool hasSummary(const Comparison& c)
{
    return c.machines.size() > 1;
}

// A row per line, a column per machine as wide as its widest cell or name;
// the summary row last.
std::vector<std::string> plainRows(const Comparison& c)
{
    const std::size_t machines = c.machines.size();
    std::vector<Widths> widths(machines, Widths{});
    std::vector<std::size_t> columnWidths(machines);
    for (std::size_t m = 0; m < machines; ++m) {
        for (std::size_t line = 0; line < kLines.size(); ++line)
            widen(widths[m], partsOf(tableCell(c, m, line)));
        if (hasSummary(c))
            widen(widths[m], partsOf(summaryCell(c, m)));
        columnWidths[m] = std::max(contentWidth(widths[m]), c.machines[m].name.size());
    }
    std::vector<std::string> rows;
    std::string header(labelWidth(), ' ');
    for (std::size_t m = 0; m < machines; ++m)
        header += "  " + padded(c.machines[m].name, columnWidths[m]);
    rows.push_back(header);
    const auto row = [&](const std::string& label, auto cellOf) {
        std::string text = padded(label, labelWidth());
        for (std::size_t m = 0; m < machines; ++m)
            text += "  " + padded(aligned(partsOf(cellOf(m)), widths[m]), columnWidths[m]);
        rows.push_back(text);
    };
    for (std::size_t line = 0; line < kLines.size(); ++line)
        row(std::string(kLines[line].label), [&](std::size_t m) { return tableCell(c, m, line); });
    if (hasSummary(c))
        row(std::string(kSummaryLabel), [&](std::size_t m) { return summaryCell(c, m); });
    for (std::string& text : rows)
        trimEnd(text);
    return rows;
}

// The turned table's cells: the baseline's median seconds, every other
// machine's ratio with its verdict; the log fingerprint in a column of its own.
struct TurnedTable {
    std::vector<std::string> headings;         // fp, the lines, the summary
    std::vector<std::vector<std::string>> rows; // per machine, as the headings
};

// Seconds in at most seven characters.
std::string shortTime(const LineStats& stats)
{
    if (stats.runs == 0)
        return "-";
    if (stats.median < 999.9995)
        return stats.medianText.size() <= 7 ? stats.medianText : format("%.3f", stats.median);
    return format(stats.median < 99999.95 ? "%.1f" : "%.0f", stats.median);
}

TurnedTable turnedTable(const Comparison& c)
{
    TurnedTable table;
    table.headings.push_back("fp");
    for (const std::string_view label : kShortLabels)
        table.headings.emplace_back(label);
    if (hasSummary(c))
        table.headings.emplace_back(kShortSummary);
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        std::vector<std::string> row{tableCell(c, m, 0).mark};
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            const LineStats& stats = c.stats[m].lines[line];
            const Cell cell = tableCell(c, m, line);
            if (stats.mark == Mark::wrong)
                row.push_back("WRONG");
            else if (m == 0)
                row.push_back(shortTime(stats));
            else
                row.push_back(cell.ratio + cell.verdict);
        }
        if (hasSummary(c)) {
            const Cell cell = summaryCell(c, m);
            row.push_back(m == 0 ? "" : cell.ratio + cell.verdict);
        }
        table.rows.push_back(row);
    }
    return table;
}

// A row per machine; a name too long to fit stands on a row of its own
// above its figures.
std::vector<std::string> turnedRows(const Comparison& c)
{
    const TurnedTable table = turnedTable(c);
    std::vector<std::size_t> widths;
    for (const std::string& heading : table.headings)
        widths.push_back(heading.size());
    for (const std::vector<std::string>& row : table.rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
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
        const std::string& name = c.machines[m].name;
        if (name.size() > nameWidth) {
            for (const std::string& part : wrapped(name, kTableWidth, ""))
                rows.push_back(part);
            rows.push_back(line("", table.rows[m]));
        } else
            rows.push_back(line(name, table.rows[m]));
    }
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
    std::string text;
    for (const std::string& part : partsOf(cell))
        if (!part.empty())
            text += (text.empty() ? "" : " ") + part;
    return text;
}

std::vector<std::string> markdownPlainRows(const Comparison& c)
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
    const auto row = [&](const std::string& label, auto cellOf) {
        std::string text = "| " + markdownEscaped(label) + " |";
        for (std::size_t m = 0; m < c.machines.size(); ++m)
            text += " " + markdownCell(cellOf(m)) + " |";
        rows.push_back(text);
    };
    for (std::size_t line = 0; line < kLines.size(); ++line)
        row(std::string(kLines[line].label), [&](std::size_t m) { return tableCell(c, m, line); });
    if (hasSummary(c))
        row(std::string(kSummaryLabel), [&](std::size_t m) { return summaryCell(c, m); });
    return rows;
}

// Compact: no padding. A name too long to fit is replaced by m<number>,
// spelled out in a list under the table.
std::vector<std::string> markdownTurnedRows(const Comparison& c, std::vector<std::string>& keys)
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
        for (const std::string& cell : table.rows[m])
            figures += (cell == "WRONG" ? "**WRONG**" : markdownEscaped(cell)) + "|";
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

std::string summaryLineNames()
{
    std::vector<std::string> names;
    for (const std::size_t line : kSummaryLines)
        names.emplace_back(kLines[line].label);
    return joined(names, ", ");
}

std::string percent(double fraction)
{
    std::string text = format("%.1f", fraction * 100);
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0)
        text.resize(text.size() - 2);
    return text + "%";
}

} // namespace

std::string ratioText(double ratio, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings)
{
    std::string text = format(ratio < 9.995 ? "%.2f" : ratio < 99.95 ? "%.1f" : "%.0f", ratio);
    // A ratio called slower or faster is beyond the threshold also as shown:
    // 1.0204 is 1.0204, not 1.02.
    if (estimate && (estimate->verdict == Verdict::slower || estimate->verdict == Verdict::faster)) {
        const bool slower = estimate->verdict == Verdict::slower;
        for (int digits = 3; digits <= 6; ++digits) {
            const double shown = std::strtod(text.c_str(), nullptr);
            if (slower ? shown > 1 + settings.threshold : shown < 1 - settings.threshold)
                break;
            text = format(("%." + std::to_string(digits) + "f").c_str(), ratio);
        }
    }
    return text + "x";
}

const char* verdictMark(Verdict verdict)
{
    switch (verdict) {
    case Verdict::slower:
        return "+";
    case Verdict::faster:
        return "-";
    case Verdict::same:
        return "=";
    case Verdict::undecided:
        break;
    }
    return "?";
}

Cell tableCell(const Comparison& c, std::size_t machine, std::size_t line)
{
    const LineStats& stats = c.stats[machine].lines[line];
    Cell cell;
    cell.time = stats.runs == 0 ? "-" : stats.medianText;
    if (stats.runs >= 2)
        cell.range = stats.fastestText + ".." + stats.slowestText;
    if (machine > 0) {
        cell.ratio = stats.ratio ? ratioText(*stats.ratio, stats.estimate, c.settings) : "-";
        if (stats.estimate) {
            cell.verdict = verdictMark(stats.estimate->verdict);
            cell.interval = intervalText(stats.estimate, cell.ratio);
        }
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

Cell summaryCell(const Comparison& c, std::size_t machine)
{
    Cell cell;
    if (machine == 0)
        return cell;
    const Summary& summary = c.stats[machine].summary;
    cell.ratio = summary.ratio ? ratioText(*summary.ratio, summary.estimate, c.settings) : "-";
    if (summary.estimate) {
        cell.verdict = verdictMark(summary.estimate->verdict);
        cell.interval = intervalText(summary.estimate, cell.ratio);
    }
    return cell;
}

std::vector<std::string> wrapped(const std::string& text, std::size_t width, const std::string& indent)
{
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = text.find_first_not_of(' ');
    const std::string first = text.substr(0, std::min(at, text.size())); // kept as it is
    const auto lead = [&] { return lines.empty() ? first : indent; };
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        std::string word = text.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) {
            line += " " + word;
            continue;
        }
        // A word longer than a line is cut.
        while (lead().size() + word.size() > width && width > lead().size()) {
            std::size_t take = width - lead().size();
            // Not inside a UTF-8 sequence.
            for (std::size_t back = take; back > 0; --back)
                if ((static_cast<unsigned char>(word[back]) & 0xC0) != 0x80) {
                    take = back;
                    break;
                }
            lines.push_back(lead() + word.substr(0, take));
            word.erase(0, take);
        }
        line = lead() + word;
    }
    if (!line.empty() || lines.empty())
        lines.push_back(line);
    return lines;
}

std::vector<std::string> tableLegend(const Comparison& c, bool words)
{
    std::vector<std::string> legend;
    legend.push_back(c.severalRuns ? "Time: the median of each machine's good runs in seconds, with the fastest..slowest "
                                     "run where it has two or more."
                                   : "Time of each run in seconds.");
    if (c.machines.size() > 1) {
        const std::string threshold = percent(c.settings.threshold);
        // The rows of every machine judged alike: together, or each by itself.
        bool together = false, alone = false;
        for (std::size_t m = 1; m < c.machines.size(); ++m)
            (c.stats[m].rowsTogether ? together : alone) = true;
        const std::string level = together && !alone ? percent(c.stats[1].rowLevel) : percent(c.settings.level);
        const std::string ratio =
            std::string(c.severalRuns ? "Ratio = the median of the ratios of each run's time to each of "
                                      : "Ratio = time / time of ") +
            c.machines[0].name + (c.severalRuns ? "'s runs" : "") + ": lower is faster. After it the verdict: ";
        const std::string meaning = " (a difference at " + level + " confidence, beyond " + threshold + "), ";
        if (words)
            legend.push_back(ratio + "slower, faster" + meaning + "same (within " + threshold +
                             "), undecided (see the notes); under it the ratio's " + level + " confidence interval.");
        else
            legend.push_back(ratio + "+ slower, - faster" + meaning + "= the same (within " + threshold +
                             "), ? undecided (see the notes); then the ratio's " + level +
                             " confidence interval where the table has room.");
        if (together)
            legend.push_back(std::string(alone ? "Machines with " + std::to_string(kRowsTogetherRuns) +
                                                     " runs or more: their"
                                               : "Each machine's") +
                             " ten rows are judged together, each at " + percent(1 - (1 - c.settings.level) / kRows) +
                             ", so that a machine compared with itself shows a false + or - in some row at most 1 time "
                             "in 20.");
        if (alone && c.severalRuns)
            legend.push_back(std::string(together ? "The others'" : "Each") + " row is judged by itself (" +
                             std::to_string(kRowsTogetherRuns) + " runs per machine judge the ten rows together): a "
                             "row is false at most 1 time in 20, but some false + or - shows in about 1 comparison in 5 "
                             "of a machine with itself.");
        legend.push_back(std::string(kSummaryLabel) + " (" + std::string(kShortSummary) +
                         "): the ratio of the runs' geometric means of the lines that measure one thread's work: " + summaryLineNames() + ".");
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
    const std::vector<std::string> rows = options.markdown ? markdownPlainRows(c) : plainRows(c);
    return std::any_of(rows.begin(), rows.end(), [](const std::string& row) { return row.size() > kTableWidth; });
}

namespace {

void writeTableText(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    const bool turned = tableTurned(c, options);
    std::vector<std::string> legend = tableLegend(c);
    if (turned) {
        std::vector<std::string> columns;
        for (std::size_t line = 0; line < kLines.size(); ++line)
            columns.push_back(std::string(kShortLabels[line]) + " = " + std::string(kLines[line].label));
        legend.insert(legend.end() - (c.severalRuns ? 2 : 1),
                      "A row per machine: the baseline's median seconds, the other machines' ratios to it. fp = "
                      "log fingerprint, " + joined(columns, ", ") + ". The intervals are in --json and --html.");
    }

    if (options.markdown) {
        for (const std::string& line : legend) {
            for (const std::string& part : wrapped(markdownEscaped(line), kTableWidth, ""))
                out << part << '\n';
            out << '\n';
        }
        std::vector<std::string> keys;
        for (const std::string& row : turned ? markdownTurnedRows(c, keys) : markdownPlainRows(c))
            out << row << '\n';
        out << '\n';
        for (const std::string& key : keys)
            for (const std::string& part : wrapped("- " + markdownEscaped(key), kTableWidth, "  "))
                out << part << '\n';
        if (!keys.empty())
            out << '\n';
        for (const std::string& line : tableFootnotes(c))
            for (const std::string& part : wrapped("- " + markdownEscaped(line), kTableWidth, "  "))
                out << part << '\n';
        if (!c.problems.empty()) {
            out << "\nProblems:\n\n";
            for (const std::string& problem : c.problems)
                for (const std::string& part : wrapped("- " + markdownEscaped(problem), kTableWidth, "  "))
                    out << part << '\n';
        }
        return;
    }

    for (const std::string& line : legend)
        for (const std::string& part : wrapped(line, kTableWidth, "  "))
            out << part << '\n';
    out << '\n';
    for (const std::string& row : turned ? turnedRows(c) : plainRows(c))
        out << row << '\n';
    out << '\n';
    for (const std::string& line : tableFootnotes(c))
        for (const std::string& part : wrapped(line, kTableWidth, "  "))
            out << part << '\n';
    if (!c.problems.empty()) {
        out << "\nProblems:\n";
        for (const std::string& problem : c.problems)
            for (const std::string& part : wrapped("  " + problem, kTableWidth, "    "))
                out << part << '\n';
    }
}

} // namespace

// Names, values and facts come from other machines: no control character
// of theirs reaches the terminal.
void writeTable(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    std::ostringstream text;
    writeTableText(text, c, options);
    out << printable(text.str());
}
