// The comparison as one self-contained HTML page (write.h): no script, no
// external file, nothing loaded from a network. It holds the machines'
// descriptions, the table, a bar chart per timed line as inline SVG, the
// log fingerprint groups, and every problem.
#include "write.h"

#include "escape.h"
#include "html_page.h"
#include "join.h"
#include "numbers.h"
#include "phrases.h"

#include <algorithm>

namespace cpubench {

namespace {

// The chart's geometry in SVG user units (the chart scales with the page).
constexpr double kChartWidth = 680;
constexpr double kLabelWidth = 160; // machine names, right-aligned before the bars
constexpr double kTextWidth = 210;  // the time, ratio and verdict after the longest whisker
constexpr double kPlotWidth = kChartWidth - kLabelWidth - kTextWidth;
constexpr double kRowHeight = 22;
constexpr double kBarHeight = 14;
constexpr double kTop = 8;
constexpr std::size_t kNameLength = 24; // longer names are cut, the full one in a tooltip

std::string number(double value, const char* pattern = "%.1f")
{
    return format(pattern, value);
}

// Cut where no UTF-8 sequence is split.
std::string shortName(const std::string& name)
{
    if (name.size() <= kNameLength)
        return name;
    std::size_t cut = kNameLength - 3;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut) + "...";
}

bool isBad(const Comparison& c, std::size_t m, std::size_t line)
{
    return c.stats[m].lines[line].mark == Mark::wrong;
}

std::string mitigationsHtml(const std::map<std::string, std::string>& mitigations)
{
    std::size_t vulnerable = 0;
    std::string items;
    for (const auto& [flaw, status] : mitigations) {
        const bool bad = status.rfind("Vulnerable", 0) == 0;
        vulnerable += bad ? 1 : 0;
        items += "<li>" + htmlEscaped(flaw) + ": " + (bad ? "<span class=\"bad\">" : "") + htmlEscaped(status) +
                 (bad ? "</span>" : "") + "</li>";
    }
    return "<details><summary>mitigations: " + std::to_string(mitigations.size()) + " flaws" +
           (vulnerable > 0 ? ", " + std::to_string(vulnerable) + " vulnerable" : "") + "</summary><ul>" + items +
           "</ul></details>";
}

// The facts that change with updates, compactly: a line each, the GMP
// library's file in a tooltip, the mitigations folded.
std::string updatesHtml(const MachineInfo& info)
{
    std::vector<std::string> lines;
    const auto add = [&](const char* label, const std::string& value) {
        if (!value.empty())
            lines.push_back(std::string(label) + " " + htmlEscaped(value));
    };
    add("microcode", info.microcode);
    std::vector<std::string> firmware;
    for (const std::string& part : {info.firmwareVendor, info.firmwareVersion,
                                    info.firmwareDate.empty() ? "" : "(" + info.firmwareDate + ")"})
        if (!part.empty())
            firmware.push_back(part);
    add("firmware", joined(firmware, " "));
    add("glibc", info.glibc);
    if (!info.gmpVersion.empty() || !info.gmp.empty())
        lines.push_back("<span title=\"" + htmlEscaped(info.gmp) + "\">GMP " +
                        htmlEscaped(info.gmpVersion.empty() ? info.gmp : info.gmpVersion) + "</span>");
    add("governor", info.governor);
    add("cpubench", info.cpubenchVersion);
    return joined(lines, "<br>") + (info.mitigations.empty() ? "" : mitigationsHtml(info.mitigations));
}

void writeMachineRow(std::ostream& out, const Comparison& c, std::size_t m)
{
    const Machine& machine = c.machines[m];
    const MachineStats& stats = c.stats[m];
    const std::size_t good = stats.goodRuns();
    const MachineInfo& info = machine.info;
    std::vector<std::string> groups;
    for (const std::size_t group : stats.lines[0].groups)
        groups.push_back(groupName(group));
    out << "<tr" << (stats.flagged ? " class=\"flagged\"" : "") << "><th" << (stats.flagged ? " class=\"bad\"" : "")
        << ">" << htmlEscaped(machine.name) << (m == 0 ? " <span class=\"muted\">(baseline)</span>" : "")
        << "</th><td class=\"num" << (good != machine.runs.size() ? " bad" : "") << "\">" << good << " of "
        << machine.runs.size() << "</td><td>" << htmlEscaped(info.processor) << "</td><td class=\"num\">"
        << (info.logicalCpus ? std::to_string(*info.logicalCpus) : "") << "</td><td class=\"num\">"
        << (info.memoryMib ? number(static_cast<double>(*info.memoryMib) / 1024) + " GiB" : "") << "</td><td>"
        << htmlEscaped(info.os) << "</td><td>" << htmlEscaped(info.kernel) << "</td><td>"
        << htmlEscaped(info.virtualization) << "</td><td class=\"updates\">" << updatesHtml(info) << "</td><td>"
        << joined(groups, ", ") << "</td></tr>\n";
}

void writeMachines(std::ostream& out, const Comparison& c)
{
    out << "<h2>Machines</h2>\n<div class=\"scroll\"><table class=\"machines\">\n<tr><th>machine</th><th>good runs</th>"
           "<th>processor</th><th>logical CPUs</th><th>memory</th><th>operating system</th><th>kernel</th>"
           "<th>virtualization</th><th>firmware and software</th><th>log fingerprint</th></tr>\n";
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        writeMachineRow(out, c, m);
    out << "</table></div>\n";
    for (const Machine& machine : c.machines)
        if (machine.infoError)
            out << "<p class=\"bad\">" << htmlEscaped(readIssueText(*machine.infoError)) << "</p>\n";
}

// The verdict in words, coloured, with its reason as a tooltip.
std::string verdictHtml(const Comparison& c, const std::optional<RatioEstimate>& estimate)
{
    if (!estimate)
        return "";
    const std::string name = verdictName(estimate->verdict);
    const std::string why = doubtText(*estimate, c.settings);
    return " <span class=\"verdict " + name + "\"" + (why.empty() ? "" : " title=\"" + htmlEscaped(why) + "\"") + ">" +
           name + "</span>";
}

std::string cellHtml(const Comparison& c, const Cell& cell, bool bad)
{
    const CellText text = cellText(cell, c.settings);
    std::string html = "<td class=\"num" + std::string(bad ? " wrong" : "") + "\">" + text.time;
    if (!text.ratio.empty())
        html += (cell.line ? " " : "") + text.ratio + verdictHtml(c, cell.estimate);
    if (cell.mark == Mark::wrong)
        html += " <span class=\"bad\">WRONG</span>";
    else if (!text.mark.empty())
        html += " " + htmlEscaped(text.mark);
    if (!text.range.empty())
        html += "<span class=\"range\">runs " + text.range + "</span>";
    if (!text.interval.empty())
        html += "<span class=\"range\">ratio " + text.interval + "</span>";
    return html + "</td>";
}

std::string summaryHtml(const Comparison& c, std::size_t m)
{
    return m == 0 ? "<td class=\"num\"></td>" : cellHtml(c, summaryCell(c, m), false);
}

void writeTurnedTable(std::ostream& out, const Comparison& c)
{
    out << "<tr><th>machine</th>";
    for (const ResultLine& known : kLines)
        out << "<th>" << htmlEscaped(std::string(known.label)) << "</th>";
    if (c.machines.size() > 1)
        out << "<th>" << kSummaryLabel << "</th>";
    out << "</tr>\n";
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        out << "<tr" << (c.stats[m].flagged ? " class=\"flagged\"" : "") << "><th>" << htmlEscaped(c.machines[m].name)
            << "</th>";
        for (std::size_t line = 0; line < kLineCount; ++line)
            out << cellHtml(c, tableCell(c, m, line), isBad(c, m, line));
        if (c.machines.size() > 1)
            out << summaryHtml(c, m);
        out << "</tr>\n";
    }
}

void writePlainTable(std::ostream& out, const Comparison& c)
{
    out << "<tr><th>run</th>";
    for (const Machine& machine : c.machines)
        out << "<th>" << htmlEscaped(machine.name) << "</th>";
    out << "</tr>\n";
    for (std::size_t line = 0; line < kLineCount; ++line) {
        out << "<tr><th>" << htmlEscaped(lineLabel(line)) << "</th>";
        for (std::size_t m = 0; m < c.machines.size(); ++m)
            out << cellHtml(c, tableCell(c, m, line), isBad(c, m, line));
        out << "</tr>\n";
    }
    if (c.machines.size() > 1) {
        out << "<tr><th>" << kSummaryLabel << "</th>";
        for (std::size_t m = 0; m < c.machines.size(); ++m)
            out << summaryHtml(c, m);
        out << "</tr>\n";
    }
}

void writeTableSection(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    out << "<h2>Table</h2>\n";
    for (const std::string& line : tableLegend(c, true))
        out << "<p class=\"muted\">" << htmlEscaped(line) << "</p>\n";
    out << "<div class=\"scroll\"><table class=\"results\">\n";
    if (tableTurned(c, options))
        writeTurnedTable(out, c);
    else
        writePlainTable(out, c);
    out << "</table></div>\n";
}

// One machine's bar in a line's chart: its median, a whisker from its
// fastest to its slowest run, a bracket over the interval of its ratio.
template <typename X>
void writeBar(std::ostream& out, const Comparison& c, std::size_t m, std::size_t line, X x)
{
    const LineStats& stats = c.stats[m].lines[line];
    const LineStats& base = c.stats[0].lines[line];
    const std::string name = htmlEscaped(c.machines[m].name), median = timeText(stats.median);
    const double middle = kTop + kRowHeight * static_cast<double>(m) + kRowHeight / 2;
    out << "<rect class=\"bar" << (m == 0 ? " baseline" : "") << (isBad(c, m, line) ? " bad" : "")
        << "\" data-machine=\"" << name << "\" data-median=\"" << median << "\" x=\"" << kLabelWidth << "\" y=\""
        << number(middle - kBarHeight / 2) << "\" width=\"" << number(x(stats.median.seconds) - kLabelWidth, "%.3f")
        << "\" height=\"" << kBarHeight << "\"><title>" << name << ": median " << median << " s";
    if (stats.runs >= 2)
        out << ", fastest " << timeText(stats.fastest) << " s, slowest " << timeText(stats.slowest) << " s, "
            << stats.runs << " runs";
    out << "</title></rect>\n";
    if (stats.runs >= 2) {
        const std::string y = number(middle), y1 = number(middle - 4), y2 = number(middle + 4);
        const std::string from = number(x(stats.fastest.seconds), "%.3f"), to = number(x(stats.slowest.seconds), "%.3f");
        out << "<path class=\"whisker\" d=\"M" << from << ' ' << y << "H" << to << "M" << from << ' ' << y1 << "V"
            << y2 << "M" << to << ' ' << y1 << "V" << y2 << "\"/>\n";
    }
    // The ratio's interval, drawn in seconds as the baseline's median times
    // its ends, as a bracket above the bar.
    if (stats.estimate && stats.estimate->low) {
        const double from = x(base.median.seconds * *stats.estimate->low);
        const double to = x(base.median.seconds * *stats.estimate->high);
        const std::string y = number(middle - kBarHeight / 2 - 2), y2 = number(middle - kBarHeight / 2 + 2);
        out << "<path class=\"interval\" data-machine=\"" << name << "\" data-low=\""
            << number(*stats.estimate->low, "%.4f") << "\" data-high=\"" << number(*stats.estimate->high, "%.4f")
            << "\" d=\"M" << number(from, "%.3f") << ' ' << y2 << "V" << y << "H" << number(to, "%.3f") << "V" << y2
            << "\"/>\n";
    }
}

// The text after a machine's bar: its median, ratio and verdict, and
// whether its values are wrong or its runs all flawed.
template <typename X>
void writeBarText(std::ostream& out, const Comparison& c, std::size_t m, std::size_t line, X x)
{
    const LineStats& stats = c.stats[m].lines[line];
    const bool bad = isBad(c, m, line);
    std::string text = timeText(stats.median) + " s";
    const CellText cell = cellText(tableCell(c, m, line), c.settings);
    if (!cell.ratio.empty())
        text += "  " + cell.ratio;
    if (stats.estimate)
        text += std::string(" ") + verdictName(stats.estimate->verdict);
    if (bad)
        text += "  WRONG";
    else if (c.stats[m].fromFlawedRuns)
        text += "  (no good run)";
    // After the bar, its whisker and its interval.
    double end = std::max(x(stats.median.seconds), x(stats.slowest.seconds));
    if (stats.estimate && stats.estimate->high)
        end = std::max(end, x(c.stats[0].lines[line].median.seconds * *stats.estimate->high));
    const double middle = kTop + kRowHeight * static_cast<double>(m) + kRowHeight / 2;
    out << "<text class=\"time" << (bad ? " bad" : "") << "\" x=\"" << number(end + 6) << "\" y=\""
        << number(middle + 4) << "\">" << htmlEscaped(text) << "</text>\n";
}

// A horizontal bar per machine, the baseline's median as a dashed line.
void writeChart(std::ostream& out, const Comparison& c, std::size_t line)
{
    double scale = 0;
    const LineStats& base = c.stats[0].lines[line];
    for (const MachineStats& stats : c.stats) {
        const LineStats& own = stats.lines[line];
        if (own.runs > 0)
            scale = std::max(scale, own.slowest.seconds);
        if (own.estimate && own.estimate->high)
            scale = std::max(scale, base.median.seconds * *own.estimate->high);
    }
    const auto x = [&](double seconds) { return kLabelWidth + (scale > 0 ? seconds / scale * kPlotWidth : 0); };
    const double height = kTop * 2 + kRowHeight * static_cast<double>(c.machines.size());
    const std::string label = htmlEscaped(lineLabel(line));
    out << "<figure>\n<h3>" << label << " <span class=\"muted\">(seconds, lower is faster)</span></h3>\n"
        << "<svg class=\"chart\" data-line=\"" << label << "\" viewBox=\"0 0 " << number(kChartWidth, "%.0f") << ' '
        << number(height, "%.0f") << "\" role=\"img\" aria-label=\"" << label << ": median time per machine\">\n";
    out << "<line class=\"axis\" x1=\"" << kLabelWidth << "\" y1=\"" << kTop / 2 << "\" x2=\"" << kLabelWidth
        << "\" y2=\"" << number(height - kTop / 2) << "\"/>\n";
    // Under the bars and texts.
    if (base.runs > 0 && c.machines.size() > 1)
        out << "<line class=\"baseline-mark\" x1=\"" << number(x(base.median.seconds), "%.3f") << "\" y1=\"" << kTop / 2
            << "\" x2=\"" << number(x(base.median.seconds), "%.3f") << "\" y2=\"" << number(height - kTop / 2)
            << "\"/>\n";
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const double middle = kTop + kRowHeight * static_cast<double>(m) + kRowHeight / 2;
        out << "<text class=\"name" << (c.stats[m].flagged ? " bad" : "") << "\" x=\"" << kLabelWidth - 6 << "\" y=\""
            << number(middle + 4) << "\"><title>" << htmlEscaped(c.machines[m].name) << "</title>"
            << htmlEscaped(shortName(c.machines[m].name)) << "</text>\n";
        if (c.stats[m].lines[line].runs == 0) {
            out << "<text class=\"bad\" x=\"" << kLabelWidth + 6 << "\" y=\"" << number(middle + 4)
                << "\">no time</text>\n";
            continue;
        }
        writeBar(out, c, m, line, x);
        writeBarText(out, c, m, line, x);
    }
    out << "</svg>\n</figure>\n";
}

void writeFingerprints(std::ostream& out, const Comparison& c)
{
    out << "<h2>log fingerprints</h2>\n<p class=\"muted\">" << kFingerprintsExplained << "</p>\n<ul>\n";
    for (std::size_t g = 0; g < c.groups.size(); ++g)
        out << "<li><strong>" << groupName(g) << "</strong>: " << htmlEscaped(joined(memberTexts(c, c.groups[g]), ", "))
            << " <span class=\"muted\">(" << htmlEscaped(joined(c.groups[g].values, " ")) << ")</span></li>\n";
    out << "</ul>\n";
}

} // namespace

void writeHtml(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    writeHtmlHead(out, "cpubench comparison", "");
    out << "<p>" << counted(c.machines.size(), "machine", "machines");
    if (!c.machines.empty())
        out << ", baseline <strong>" << htmlEscaped(c.machines[0].name) << "</strong>";
    out << ". "
        << (c.problems.empty() ? std::string(kAllRunsComplete)
                               : "<span class=\"bad\">" + problemsText(c.problems.size()) + "</span>")
        << "</p>\n";
    writeMachines(out, c);
    writeTableSection(out, c, options);
    out << "<h2>Charts</h2>\n<p class=\"muted\">" << spansHtml(chartLegend(c.settings)) << "</p>\n";
    out << "<div class=\"charts\">\n";
    for (std::size_t line = 0; line < kLineCount; ++line)
        writeChart(out, c, line);
    out << "</div>\n";
    writeFingerprints(out, c);
    writeHtmlTail(out, noteTexts(c), problemTexts(c));
}

} // namespace cpubench
