#include "html_report.h"

#include "printable.h"

#include <algorithm>
#include <cstdio>

namespace {

using expected::kLines;

// The chart's geometry in SVG user units (the chart scales with the page).
constexpr double kChartWidth = 680;
constexpr double kLabelWidth = 160; // machine names, right-aligned before the bars
constexpr double kTextWidth = 210;  // the time, ratio and verdict after the longest whisker
constexpr double kPlotWidth = kChartWidth - kLabelWidth - kTextWidth;
constexpr double kRowHeight = 22;
constexpr double kBarHeight = 14;
constexpr double kTop = 8;
constexpr std::size_t kNameLength = 24; // longer names are cut, the full one in a tooltip

const char kStyle[] = R"(
:root { --fg: #1f2328; --bg: #ffffff; --muted: #59636e; --line: #d1d9e0; --bar: #4c78a8;
  --base: #b8731e; --whisker: #1f2328; --bad: #c62828; --badbg: #fdecea; --interval: #7b3fa0;
  --slower: #b3261e; --faster: #1a7f37; }
@media (prefers-color-scheme: dark) {
  :root { --fg: #e6edf3; --bg: #0d1117; --muted: #9198a1; --line: #3d444d; --bar: #6a9fd4;
    --base: #e3a64f; --whisker: #e6edf3; --bad: #ff7b72; --badbg: #3a1d1d; --interval: #c297e0;
    --slower: #ff7b72; --faster: #56d364; }
}
body { font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif; color: var(--fg);
  background: var(--bg); margin: 1.5rem auto; padding: 0 1rem; max-width: 80rem; }
h1 { font-size: 1.5rem; margin: 0 0 .5rem; }
h2 { font-size: 1.2rem; margin: 2rem 0 .5rem; border-bottom: 1px solid var(--line); }
h3 { font-size: 1rem; margin: 1.25rem 0 .25rem; }
p, li { max-width: 52rem; }
.muted { color: var(--muted); }
.bad { color: var(--bad); font-weight: 600; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; }
th, td { border: 1px solid var(--line); padding: .2rem .45rem; text-align: left; vertical-align: top; }
td.num { text-align: right; white-space: nowrap; }
td .range { display: block; font-size: .8em; color: var(--muted); }
tr.flagged th:first-child, td.wrong { background: var(--badbg); }
.charts { display: grid; grid-template-columns: repeat(auto-fill, minmax(32rem, 1fr)); gap: .5rem 2rem; }
figure { margin: 0; break-inside: avoid; page-break-inside: avoid; }
svg.chart { width: 100%; max-width: 44rem; height: auto; display: block; font-size: 12px; }
svg.chart text { fill: var(--fg); }
svg.chart .name { text-anchor: end; }
svg.chart .bar { fill: var(--bar); }
svg.chart .bar.baseline { fill: var(--base); }
svg.chart .bar.bad { fill: var(--bad); }
svg.chart text.bad { fill: var(--bad); font-weight: 600; }
svg.chart text.time { paint-order: stroke; stroke: var(--bg); stroke-width: 3px; stroke-linejoin: round; }
svg.chart .whisker { stroke: var(--whisker); stroke-width: 1.5; }
svg.chart .interval { stroke: var(--interval); stroke-width: 2; fill: none; }
.verdict.slower { color: var(--slower); font-weight: 600; }
.verdict.faster { color: var(--faster); font-weight: 600; }
.verdict.undecided { color: var(--muted); }
.verdict-key { color: var(--interval); }
svg.chart .baseline-mark { stroke: var(--base); stroke-width: 1; stroke-dasharray: 4 3; }
svg.chart .axis { stroke: var(--line); }
ul.problems li { color: var(--bad); }
td.updates { font-size: .9em; white-space: nowrap; }
td.updates details ul { margin: .2rem 0; padding-left: 1.2rem; white-space: normal; min-width: 24rem; }
@media print {
  :root { --fg: #000; --bg: #fff; --muted: #444; --line: #999; --bar: #4c78a8; --base: #b8731e;
    --whisker: #000; --bad: #b00020; --badbg: #fdecea; --interval: #7b3fa0; --slower: #b00020; --faster: #1a7f37; }
  body { margin: 0; max-width: none; font-size: 10pt; }
  .scroll { overflow: visible; }
  .charts { display: block; }
  h2 { break-after: avoid; page-break-after: avoid; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

std::string number(double value, const char* format = "%.1f")
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
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
    std::string firmware = info.firmwareVendor;
    if (!info.firmwareVersion.empty())
        firmware += (firmware.empty() ? "" : " ") + info.firmwareVersion;
    if (!info.firmwareDate.empty())
        firmware += (firmware.empty() ? "" : " ") + ("(" + info.firmwareDate + ")");
    add("firmware", firmware);
    add("glibc", info.glibc);
    if (!info.gmpVersion.empty() || !info.gmp.empty())
        lines.push_back("<span title=\"" + htmlEscaped(info.gmp) + "\">GMP " +
                        htmlEscaped(info.gmpVersion.empty() ? info.gmp : info.gmpVersion) + "</span>");
    add("governor", info.governor);
    add("cpubench", info.cpubenchVersion);
    std::string html;
    for (const std::string& line : lines)
        html += (html.empty() ? "" : "<br>") + line;
    if (!info.mitigations.empty()) {
        std::size_t vulnerable = 0;
        std::string items;
        for (const auto& [flaw, status] : info.mitigations) {
            const bool bad = status.rfind("Vulnerable", 0) == 0;
            vulnerable += bad ? 1 : 0;
            items += "<li>" + htmlEscaped(flaw) + ": " + (bad ? "<span class=\"bad\">" : "") + htmlEscaped(status) +
                     (bad ? "</span>" : "") + "</li>";
        }
        html += "<details><summary>mitigations: " + std::to_string(info.mitigations.size()) + " flaws" +
                (vulnerable > 0 ? ", " + std::to_string(vulnerable) + " vulnerable" : "") + "</summary><ul>" + items +
                "</ul></details>";
    }
    return html;
}

void writeMachines(std::ostream& out, const Comparison& c)
{
    out << "<h2>Machines</h2>\n<div class=\"scroll\"><table class=\"machines\">\n<tr><th>machine</th><th>good runs</th>"
           "<th>processor</th><th>logical CPUs</th><th>memory</th><th>operating system</th><th>kernel</th>"
           "<th>virtualization</th><th>firmware and software</th><th>log fingerprint</th></tr>\n";
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const Machine& machine = c.machines[m];
        const MachineStats& stats = c.stats[m];
        std::size_t good = 0;
        for (bool used : stats.used)
            good += used && !stats.fromFlawedRuns ? 1 : 0;
        const MachineInfo& info = machine.info;
        out << "<tr" << (stats.flagged ? " class=\"flagged\"" : "") << "><th" << (stats.flagged ? " class=\"bad\"" : "")
            << ">" << htmlEscaped(machine.name) << (m == 0 ? " <span class=\"muted\">(baseline)</span>" : "")
            << "</th><td class=\"num" << (good != machine.runs.size() ? " bad" : "") << "\">" << good << " of "
            << machine.runs.size() << "</td><td>" << htmlEscaped(info.processor) << "</td><td class=\"num\">"
            << (info.logicalCpus ? std::to_string(*info.logicalCpus) : "") << "</td><td class=\"num\">"
            << (info.memoryMib ? number(static_cast<double>(*info.memoryMib) / 1024) + " GiB" : "") << "</td><td>"
            << htmlEscaped(info.os) << "</td><td>" << htmlEscaped(info.kernel) << "</td><td>"
            << htmlEscaped(info.virtualization) << "</td><td class=\"updates\">" << updatesHtml(info) << "</td><td>";
        std::string groups;
        for (std::size_t group : stats.lines[0].groups)
            groups += (groups.empty() ? "" : ", ") + groupName(group);
        out << groups << "</td></tr>\n";
    }
    out << "</table></div>\n";
    for (const Machine& machine : c.machines)
        if (!machine.infoError.empty())
            out << "<p class=\"bad\">" << htmlEscaped(machine.infoError) << "</p>\n";
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

std::string cellHtml(const Comparison& c, std::size_t m, std::size_t line)
{
    const Cell cell = tableCell(c, m, line);
    std::string html = "<td class=\"num" + std::string(isBad(c, m, line) ? " wrong" : "") + "\">" + cell.time;
    if (!cell.ratio.empty())
        html += " " + cell.ratio + verdictHtml(c, c.stats[m].lines[line].estimate);
    if (!cell.mark.empty())
        html += cell.mark == "WRONG" ? " <span class=\"bad\">WRONG</span>" : " " + htmlEscaped(cell.mark);
    if (!cell.range.empty())
        html += "<span class=\"range\">runs " + cell.range + "</span>";
    if (!cell.interval.empty())
        html += "<span class=\"range\">ratio " + cell.interval + "</span>";
    return html + "</td>";
}

std::string summaryHtml(const Comparison& c, std::size_t m)
{
    const Cell cell = summaryCell(c, m);
    if (m == 0)
        return "<td class=\"num\"></td>";
    std::string html = "<td class=\"num\">" + cell.ratio + verdictHtml(c, c.stats[m].summary.estimate);
    if (!cell.interval.empty())
        html += "<span class=\"range\">ratio " + cell.interval + "</span>";
    return html + "</td>";
}

void writeTableSection(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    out << "<h2>Table</h2>\n";
    for (const std::string& line : tableLegend(c, true))
        out << "<p class=\"muted\">" << htmlEscaped(line) << "</p>\n";
    out << "<div class=\"scroll\"><table class=\"results\">\n";
    if (tableTurned(c, options)) {
        out << "<tr><th>machine</th>";
        for (const expected::ResultLine& known : kLines)
            out << "<th>" << htmlEscaped(std::string(known.label)) << "</th>";
        if (c.machines.size() > 1)
            out << "<th>" << kSummaryLabel << "</th>";
        out << "</tr>\n";
        for (std::size_t m = 0; m < c.machines.size(); ++m) {
            out << "<tr" << (c.stats[m].flagged ? " class=\"flagged\"" : "") << "><th>"
                << htmlEscaped(c.machines[m].name) << "</th>";
            for (std::size_t line = 0; line < kLines.size(); ++line)
                out << cellHtml(c, m, line);
            if (c.machines.size() > 1)
                out << summaryHtml(c, m);
            out << "</tr>\n";
        }
    } else {
        out << "<tr><th>run</th>";
        for (const Machine& machine : c.machines)
            out << "<th>" << htmlEscaped(machine.name) << "</th>";
        out << "</tr>\n";
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            out << "<tr><th>" << htmlEscaped(std::string(kLines[line].label)) << "</th>";
            for (std::size_t m = 0; m < c.machines.size(); ++m)
                out << cellHtml(c, m, line);
            out << "</tr>\n";
        }
        if (c.machines.size() > 1) {
            out << "<tr><th>" << kSummaryLabel << "</th>";
            for (std::size_t m = 0; m < c.machines.size(); ++m)
                out << summaryHtml(c, m);
            out << "</tr>\n";
        }
    }
    out << "</table></div>\n";
}

// Where a bar's text starts: after the bar, its whisker and its interval.
template <typename X>
double textStart(const LineStats& stats, const LineStats& base, X x)
{
    double end = std::max(x(stats.median), x(stats.slowest));
    if (stats.estimate && stats.estimate->high)
        end = std::max(end, x(base.median * *stats.estimate->high));
    return end;
}

// A horizontal bar per machine: its median, a whisker from its fastest to
// its slowest run, a bracket over the interval of its ratio, the baseline's
// median as a dashed line.
void writeChart(std::ostream& out, const Comparison& c, std::size_t line)
{
    double scale = 0;
    const LineStats& base = c.stats[0].lines[line];
    for (const MachineStats& stats : c.stats) {
        const LineStats& own = stats.lines[line];
        if (own.runs > 0)
            scale = std::max(scale, own.slowest);
        if (own.estimate && own.estimate->high)
            scale = std::max(scale, base.median * *own.estimate->high);
    }
    const auto x = [&](double seconds) { return kLabelWidth + (scale > 0 ? seconds / scale * kPlotWidth : 0); };
    const double height = kTop * 2 + kRowHeight * static_cast<double>(c.machines.size());
    const std::string label(kLines[line].label);

    out << "<figure>\n<h3>" << htmlEscaped(label) << " <span class=\"muted\">(seconds, lower is faster)</span></h3>\n"
        << "<svg class=\"chart\" data-line=\"" << htmlEscaped(label) << "\" viewBox=\"0 0 " << number(kChartWidth, "%.0f")
        << ' ' << number(height, "%.0f") << "\" role=\"img\" aria-label=\"" << htmlEscaped(label)
        << ": median time per machine\">\n";
    out << "<line class=\"axis\" x1=\"" << kLabelWidth << "\" y1=\"" << kTop / 2 << "\" x2=\"" << kLabelWidth
        << "\" y2=\"" << number(height - kTop / 2) << "\"/>\n";
    // Under the bars and texts.
    if (base.runs > 0 && c.machines.size() > 1)
        out << "<line class=\"baseline-mark\" x1=\"" << number(x(base.median), "%.3f") << "\" y1=\"" << kTop / 2
            << "\" x2=\"" << number(x(base.median), "%.3f") << "\" y2=\"" << number(height - kTop / 2) << "\"/>\n";
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const LineStats& stats = c.stats[m].lines[line];
        const std::string name = htmlEscaped(c.machines[m].name);
        const double top = kTop + kRowHeight * static_cast<double>(m);
        const double middle = top + kRowHeight / 2;
        const bool bad = isBad(c, m, line);
        out << "<text class=\"name" << (c.stats[m].flagged ? " bad" : "") << "\" x=\"" << kLabelWidth - 6
            << "\" y=\"" << number(middle + 4) << "\"><title>" << name << "</title>" << htmlEscaped(shortName(c.machines[m].name))
            << "</text>\n";
        if (stats.runs == 0) {
            out << "<text class=\"bad\" x=\"" << kLabelWidth + 6 << "\" y=\"" << number(middle + 4) << "\">no time</text>\n";
            continue;
        }
        out << "<rect class=\"bar" << (m == 0 ? " baseline" : "") << (bad ? " bad" : "") << "\" data-machine=\"" << name
            << "\" data-median=\"" << stats.medianText << "\" x=\"" << kLabelWidth << "\" y=\""
            << number(middle - kBarHeight / 2) << "\" width=\"" << number(x(stats.median) - kLabelWidth, "%.3f")
            << "\" height=\"" << kBarHeight << "\"><title>" << name << ": median " << stats.medianText << " s";
        if (stats.runs >= 2)
            out << ", fastest " << stats.fastestText << " s, slowest " << stats.slowestText << " s, " << stats.runs
                << " runs";
        out << "</title></rect>\n";
        if (stats.runs >= 2) {
            const std::string y = number(middle), y1 = number(middle - 4), y2 = number(middle + 4);
            const std::string from = number(x(stats.fastest), "%.3f"), to = number(x(stats.slowest), "%.3f");
            out << "<path class=\"whisker\" d=\"M" << from << ' ' << y << "H" << to << "M" << from << ' ' << y1 << "V"
                << y2 << "M" << to << ' ' << y1 << "V" << y2 << "\"/>\n";
        }
        // The ratio's interval, drawn in seconds as the baseline's median
        // times its ends, as a bracket above the bar.
        if (stats.estimate && stats.estimate->low) {
            const double from = x(base.median * *stats.estimate->low), to = x(base.median * *stats.estimate->high);
            const std::string y = number(middle - kBarHeight / 2 - 2), y2 = number(middle - kBarHeight / 2 + 2);
            out << "<path class=\"interval\" data-machine=\"" << name << "\" data-low=\"" << number(*stats.estimate->low, "%.4f") << "\" data-high=\""
                << number(*stats.estimate->high, "%.4f") << "\" d=\"M" << number(from, "%.3f") << ' ' << y2 << "V" << y
                << "H" << number(to, "%.3f") << "V" << y2 << "\"/>\n";
        }
        const Cell cell = tableCell(c, m, line);
        std::string text = stats.medianText + " s";
        if (!cell.ratio.empty())
            text += "  " + cell.ratio;
        if (stats.estimate)
            text += std::string(" ") + verdictName(stats.estimate->verdict);
        if (bad)
            text += "  WRONG";
        else if (c.stats[m].fromFlawedRuns)
            text += "  (no good run)";
        out << "<text class=\"time" << (bad ? " bad" : "") << "\" x=\""
            << number(textStart(stats, base, x) + 6) << "\" y=\"" << number(middle + 4) << "\">"
            << htmlEscaped(text) << "</text>\n";
    }
    out << "</svg>\n</figure>\n";
}

} // namespace

std::string htmlEscaped(const std::string& text)
{
    std::string escaped;
    for (char ch : printable(text)) {
        switch (ch) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += ch;
        }
    }
    return escaped;
}

void writeHtmlHead(std::ostream& out, const std::string& title, const std::string& style)
{
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"color-scheme\" content=\"light dark\">\n"
           "<title>"
        << htmlEscaped(title) << "</title>\n<style>" << kStyle << style << "</style>\n</head>\n<body>\n<h1>"
        << htmlEscaped(title) << "</h1>\n";
}

void writeHtmlTail(std::ostream& out, const std::vector<std::string>& notes, const std::vector<std::string>& problems)
{
    if (!notes.empty()) {
        out << "<h2>Notes</h2>\n<ul>\n";
        for (const std::string& note : notes)
            out << "<li>" << htmlEscaped(note) << "</li>\n";
        out << "</ul>\n";
    }
    out << "<h2>Problems</h2>\n";
    if (problems.empty())
        out << "<p>None: every run is complete with exact values.</p>\n";
    else {
        out << "<ul class=\"problems\">\n";
        for (const std::string& problem : problems)
            out << "<li>" << htmlEscaped(problem) << "</li>\n";
        out << "</ul>\n";
    }
    out << "</body>\n</html>\n";
}

void writeHtml(std::ostream& out, const Comparison& c, const TableOptions& options)
{
    writeHtmlHead(out, "cpubench comparison", "");
    out << "<p>" << c.machines.size() << (c.machines.size() == 1 ? " machine" : " machines");
    if (!c.machines.empty())
        out << ", baseline <strong>" << htmlEscaped(c.machines[0].name) << "</strong>";
    out << ". "
        << (c.problems.empty() ? "All runs complete, all fixed values exact."
                               : "<span class=\"bad\">" + std::to_string(c.problems.size()) +
                                     (c.problems.size() == 1 ? " problem" : " problems") +
                                     ": wrong values or incomplete runs (see Problems).</span>")
        << "</p>\n";
    writeMachines(out, c);
    writeTableSection(out, c, options);

    const std::string level = number(c.settings.level * 100, "%g") + "%";
    const std::string threshold = number(c.settings.threshold * 100, "%g") + "%";
    out << "<h2>Charts</h2>\n<p class=\"muted\">Bar: the median of the machine's good runs. Whisker: its fastest to "
           "slowest run, where it has two or more. <span class=\"verdict-key\">Bracket above a bar</span>: the "
        << level << " confidence interval of its ratio to the baseline, drawn as the baseline's median times the "
           "interval's ends. Dashed line: the baseline's median. After the ratio, the verdict: "
           "<span class=\"verdict slower\">slower</span> or <span class=\"verdict faster\">faster</span> (a "
           "difference at "
        << level << " confidence, beyond " << threshold << "), <span class=\"verdict same\">same</span> (within "
        << threshold << "), <span class=\"verdict undecided\">undecided</span> (see the notes). Red: wrong values or "
           "incomplete runs.</p>\n";
    out << "<div class=\"charts\">\n";
    for (std::size_t line = 0; line < kLines.size(); ++line)
        writeChart(out, c, line);
    out << "</div>\n";

    out << "<h2>log fingerprints</h2>\n<p class=\"muted\">The values of double mul log depend on the C library's log. "
           "Compare that line's time only between machines of one group.</p>\n<ul>\n";
    for (std::size_t g = 0; g < c.groups.size(); ++g) {
        std::string values, members;
        for (const std::string& value : c.groups[g].values)
            values += (values.empty() ? "" : " ") + value;
        for (const std::string& member : c.groups[g].members)
            members += (members.empty() ? "" : ", ") + member;
        out << "<li><strong>" << groupName(g) << "</strong>: " << htmlEscaped(members) << " <span class=\"muted\">("
            << htmlEscaped(values) << ")</span></li>\n";
    }
    out << "</ul>\n";
    writeHtmlTail(out, c.notes, c.problems);
}
