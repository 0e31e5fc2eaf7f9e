#include "table.h"

#include "join.h"
#include "numbers.h"
#include "phrases.h"

#include <algorithm>

namespace cpubench {

namespace {

bool hasSummary(const Comparison& c)
{
    return c.machines.size() > 1;
}

// Seconds in at most seven characters.
std::string shortTime(const LineStats& stats)
{
    if (stats.runs == 0)
        return "-";
    if (stats.median.seconds < 999.9995) {
        const std::string text = timeText(stats.median);
        return text.size() <= 7 ? text : format("%.3f", stats.median.seconds);
    }
    return format(stats.median.seconds < 99999.95 ? "%.1f" : "%.0f", stats.median.seconds);
}

std::string markText(const Cell& cell)
{
    if (cell.mark == Mark::exact)
        return "ok";
    if (cell.mark == Mark::wrong)
        return "WRONG";
    std::vector<std::string> names;
    for (const std::size_t group : cell.groups)
        names.push_back(groupName(group));
    return joined(names, ",");
}

// A word of `wrapped` longer than a line, cut where no UTF-8 sequence is
// split, each part on a line of its own but the last; a line starts with
// `first` when it is the first, else with `indent`.
void cutWord(std::string& word, std::size_t width, const std::string& first, const std::string& indent,
             std::vector<std::string>& lines)
{
    for (;;) {
        const std::string& lead = lines.empty() ? first : indent;
        if (!(lead.size() + word.size() > width && width > lead.size()))
            return;
        std::size_t take = width - lead.size();
        for (std::size_t back = take; back > 0; --back)
            if ((static_cast<unsigned char>(word[back]) & 0xC0) != 0x80) {
                take = back;
                break;
            }
        lines.push_back(lead + word.substr(0, take));
        word.erase(0, take);
    }
}

} // namespace

Cell tableCell(const Comparison& c, std::size_t machine, std::size_t line)
{
    const LineStats& stats = c.stats[machine].lines[line];
    Cell cell;
    if (stats.runs > 0)
        cell.time = stats.median;
    if (stats.runs >= 2)
        cell.range = std::pair{stats.fastest, stats.slowest};
    cell.againstBaseline = machine > 0;
    cell.ratio = stats.ratio;
    cell.estimate = stats.estimate;
    cell.mark = stats.mark;
    if (kLines[line].kind == Values::fingerprint)
        cell.groups = stats.groups;
    return cell;
}

Cell summaryCell(const Comparison& c, std::size_t machine)
{
    Cell cell;
    cell.line = false;
    if (machine == 0)
        return cell;
    const Summary& summary = c.stats[machine].summary;
    cell.againstBaseline = true;
    cell.ratio = summary.ratio;
    cell.estimate = summary.estimate;
    return cell;
}

CellText cellText(const Cell& cell, const VerdictSettings& settings)
{
    CellText text;
    if (cell.line)
        text.time = cell.time ? timeText(*cell.time) : "-";
    if (cell.range)
        text.range = timeText(cell.range->first) + ".." + timeText(cell.range->second);
    if (cell.againstBaseline) {
        const int decimals = cell.ratio ? ratioDecimals(*cell.ratio, cell.estimate, settings) : 0;
        text.ratio = cell.ratio ? fixed(*cell.ratio, decimals) + "x" : "-";
        if (cell.estimate) {
            text.verdict = verdictMark(cell.estimate->verdict);
            text.interval = intervalText(*cell.estimate, *cell.ratio, decimals);
        }
    }
    text.mark = markText(cell);
    return text;
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

TurnedTable turnedTable(const Comparison& c)
{
    TurnedTable table;
    table.headings.push_back("fp");
    for (const ResultLine& line : kLines)
        table.headings.emplace_back(line.shortLabel);
    if (hasSummary(c))
        table.headings.emplace_back(kShortSummary);
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const Cell fingerprint = tableCell(c, m, 0);
        std::vector<TurnedTable::Entry> row{{cellText(fingerprint, c.settings).mark, fingerprint.mark == Mark::wrong}};
        for (std::size_t line = 0; line < kLineCount; ++line) {
            const LineStats& stats = c.stats[m].lines[line];
            const CellText cell = cellText(tableCell(c, m, line), c.settings);
            if (stats.mark == Mark::wrong)
                row.push_back({"WRONG", true});
            else
                row.push_back({m == 0 ? shortTime(stats) : cell.ratio + cell.verdict});
        }
        if (hasSummary(c)) {
            const CellText cell = cellText(summaryCell(c, m), c.settings);
            row.push_back({m == 0 ? "" : cell.ratio + cell.verdict});
        }
        table.rows.push_back(row);
    }
    return table;
}

bool tableTurned(const Comparison& c, const TableOptions& options)
{
    if (options.byMachine)
        return true;
    const std::vector<std::string> rows = options.markdown ? markdownRows(c) : textRows(c);
    return std::any_of(rows.begin(), rows.end(), [](const std::string& row) { return row.size() > kTableWidth; });
}

std::vector<std::string> legendLines(const Comparison& c, bool turned)
{
    std::vector<std::string> legend = tableLegend(c, false);
    if (turned)
        legend.insert(legend.end() - (c.severalRuns ? 2 : 1), turnedLegend());
    return legend;
}

std::vector<std::string> footnoteLines(const Comparison& c)
{
    std::vector<std::string> notes;
    for (std::size_t g = 0; g < c.groups.size(); ++g)
        notes.push_back(groupText(c, g));
    for (std::string& note : noteTexts(c))
        notes.push_back(std::move(note));
    if (c.problems.empty())
        notes.push_back(kAllTranscriptsComplete);
    return notes;
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
        cutWord(word, width, first, indent, lines);
        line = lead() + word;
    }
    if (!line.empty() || lines.empty())
        lines.push_back(line);
    return lines;
}

} // namespace cpubench
