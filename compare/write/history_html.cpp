// The history as a self-contained HTML page with a trend chart per machine
// and line (write.h): no script, nothing loaded.
#include "write.h"

#include "escape.h"
#include "html_page.h"
#include "join.h"
#include "numbers.h"
#include "phrases.h"

#include <algorithm>

namespace cpubench {

namespace {

// The trend chart's geometry in SVG user units.
constexpr double kTrendWidth = 320, kTrendHeight = 120;
constexpr double kLeft = 44, kRight = 8, kTop = 14, kBottom = 18;
constexpr double kPlotWidth = kTrendWidth - kLeft - kRight, kPlotHeight = kTrendHeight - kTop - kBottom;

const char kHistoryStyle[] = R"(
.trends { display: grid; grid-template-columns: repeat(auto-fill, minmax(18rem, 1fr)); gap: .25rem 1.25rem; }
figure.trend { margin: .25rem 0; }
figure.trend figcaption { font-weight: 600; font-size: .9rem; }
svg.trend { width: 100%; max-width: 26rem; height: auto; display: block; font-size: 9px; }
svg.trend text { fill: var(--muted); }
svg.trend .axis-label { text-anchor: end; }
svg.trend .session-label.end { text-anchor: end; }
svg.trend .band { stroke: var(--bar); stroke-opacity: .35; stroke-width: 3; }
svg.trend .median { fill: none; stroke: var(--bar); stroke-width: 1.5; }
svg.trend .change { stroke-width: 1.5; stroke-dasharray: 4 2; }
svg.trend .change.slower { stroke: var(--slower); }
svg.trend .change.faster { stroke: var(--faster); }
svg.trend .excursion { fill: none; stroke: var(--base); stroke-width: 1.5; }
p.change-note { margin: .1rem 0; font-size: .85rem; }
.facts { color: var(--muted); }
details { margin: .5rem 0; border-bottom: 1px solid var(--line); }
summary { cursor: pointer; font-size: 1.05rem; font-weight: 600; padding: .25rem 0; }
)";

std::string number(double value)
{
    return format("%.1f", value);
}

// Where a line's chart puts a session and a time.
struct Scale {
    double low = 0, high = 0;
    std::size_t count = 0; // sessions
    double x(std::size_t s) const
    {
        return kLeft + (count > 1 ? kPlotWidth * static_cast<double>(s) / static_cast<double>(count - 1) : kPlotWidth / 2);
    }
    double y(double seconds) const { return kTop + kPlotHeight * (high - seconds) / (high - low); }
};

// The range of the line's times over the sessions, with some room; none
// without a good run.
std::optional<Scale> scaleOf(const MachineHistory& h, std::size_t line)
{
    Scale scale;
    bool any = false;
    for (const SessionSummary& session : h.sessions) {
        const SessionRange& s = session.lines[line];
        if (s.runs == 0)
            continue;
        scale.low = any ? std::min(scale.low, s.fastest) : s.fastest;
        scale.high = any ? std::max(scale.high, s.slowest) : s.slowest;
        any = true;
    }
    if (!any)
        return std::nullopt;
    const double pad = std::max((scale.high - scale.low) * 0.08, scale.high * 0.01);
    scale.low = std::max(0.0, scale.low - pad);
    scale.high += pad;
    scale.count = h.sessions.size();
    return scale;
}

// The axis' labels, the band of each session's fastest..slowest run, and
// the line through their medians.
void writeSeries(std::ostream& out, const MachineHistory& h, std::size_t line, const Scale& scale)
{
    out << "<text class=\"axis-label\" x=\"" << kLeft - 4 << "\" y=\"" << number(kTop + 4) << "\">"
        << format("%.3g", scale.high) << "</text><text class=\"axis-label\" x=\"" << kLeft - 4 << "\" y=\""
        << number(kTop + kPlotHeight) << "\">" << format("%.3g", scale.low) << "</text>\n";
    out << "<text class=\"session-label\" x=\"" << kLeft << "\" y=\"" << kTrendHeight - 4 << "\">"
        << htmlEscaped(h.sessions.front().name) << "</text>";
    if (scale.count > 1)
        out << "<text class=\"session-label end\" x=\"" << kTrendWidth - kRight << "\" y=\"" << kTrendHeight - 4
            << "\">" << htmlEscaped(h.sessions.back().name) << "</text>";
    out << '\n';
    // The band, as one path of a vertical stroke per session.
    std::string band;
    std::vector<std::string> points;
    for (std::size_t s = 0; s < scale.count; ++s) {
        const SessionRange& sl = h.sessions[s].lines[line];
        if (sl.runs == 0)
            continue;
        band += "M" + number(scale.x(s)) + ' ' + number(scale.y(sl.slowest)) + "V" + number(scale.y(sl.fastest));
        points.push_back(number(scale.x(s)) + ',' + number(scale.y(sl.median)));
    }
    out << "<path class=\"band\" d=\"" << band << "\"/>\n<polyline class=\"median\" points=\"" << joined(points, " ")
        << "\"/>\n";
}

// Each change as a dashed line before its session, each excursion ringed.
void writeMarks(std::ostream& out, const HistoryReport& r, const MachineHistory& h, std::size_t line,
                const Scale& scale)
{
    for (const Change& change : h.changes) {
        if (change.line != line)
            continue;
        const std::string at = number(scale.x(change.session) -
                                      (scale.count > 1 ? kPlotWidth / static_cast<double>(scale.count - 1) / 2 : 0));
        out << "<line class=\"change " << verdictName(change.verdict) << "\" data-session=\""
            << htmlEscaped(h.sessions[change.session].name) << "\" x1=\"" << at << "\" y1=\"" << kTop - 4
            << "\" x2=\"" << at << "\" y2=\"" << number(kTop + kPlotHeight) << "\"><title>"
            << htmlEscaped(trendChangeTitle(h, change, r.settings)) << "</title></line>\n";
    }
    for (const Excursion& excursion : h.excursions) {
        if (excursion.line != line)
            continue;
        const SessionRange& sl = h.sessions[excursion.session].lines[line];
        out << "<circle class=\"excursion\" cx=\"" << number(scale.x(excursion.session)) << "\" cy=\""
            << number(scale.y(sl.median)) << "\" r=\"5\"><title>" << htmlEscaped(trendExcursionTitle(h, excursion))
            << "</title></circle>\n";
    }
}

// One line of one machine: each session's median as a point on a line, its
// fastest..slowest as a band, the changes and excursions, and under the
// chart each change with the facts that changed then.
void writeTrend(std::ostream& out, const HistoryReport& r, const MachineHistory& h, std::size_t line)
{
    const std::string label = htmlEscaped(lineLabel(line));
    out << "<figure class=\"trend\"><figcaption>" << label << "</figcaption>\n";
    const std::optional<Scale> scale = scaleOf(h, line);
    if (!scale) {
        out << "<p class=\"muted\">no good run</p></figure>\n";
        return;
    }
    out << "<svg class=\"trend\" data-line=\"" << label << "\" viewBox=\"0 0 " << kTrendWidth << ' ' << kTrendHeight
        << "\" role=\"img\" aria-label=\"" << htmlEscaped(h.name + ", " + lineLabel(line))
        << ": median time per session\">\n";
    writeSeries(out, h, line, *scale);
    writeMarks(out, r, h, line, *scale);
    out << "</svg>\n";
    for (const Change& change : h.changes) {
        if (change.line != line)
            continue;
        const std::string facts = factsText(change.facts, "; ");
        out << "<p class=\"change-note\"><span class=\"verdict " << verdictName(change.verdict) << "\">"
            << verdictName(change.verdict) << "</span> from " << htmlEscaped(h.sessions[change.session].name) << ": "
            << htmlEscaped(ratioWithInterval(change.estimate, r.settings))
            << (facts.empty() ? "" : "<br><span class=\"facts\">" + htmlEscaped(facts) + "</span>") << "</p>\n";
    }
    out << "</figure>\n";
}

void writeMachine(std::ostream& out, const HistoryReport& r, const MachineHistory& h)
{
    const bool notable = !h.changes.empty() || !h.excursions.empty() || h.wrongFrom.has_value();
    out << "<details" << (notable ? " open" : "") << " data-machine=\"" << htmlEscaped(h.name) << "\"><summary>"
        << htmlEscaped(h.name) << " <span class=\"muted\">" << machineCountsText(h) << "</span></summary>\n";
    if (h.wrongFrom)
        out << "<p class=\"bad\">" << htmlEscaped(valuesWrongText(h)) << "</p>\n";
    out << "<div class=\"trends\">\n";
    for (std::size_t line = 0; line < kLineCount; ++line)
        writeTrend(out, r, h, line);
    out << "</div>\n</details>\n";
}

} // namespace

void writeHistoryHtml(std::ostream& out, const HistoryReport& r)
{
    writeHtmlHead(out, "cpubench history", kHistoryStyle);
    const std::vector<std::string> problems = historyProblemTexts(r);
    out << "<p>" << historyCountsText(r) << " "
        << (problems.empty() ? std::string(kAllRunsComplete)
                             : "<span class=\"bad\">" + historyProblemsText(problems.size()) + "</span>")
        << "</p>\n<p class=\"muted\">" << htmlEscaped(historyMethod(r.settings)) << spansHtml(trendLegend())
        << "</p>\n";
    for (const MachineHistory& h : r.machines)
        writeMachine(out, r, h);
    writeHtmlTail(out, historyNoteTexts(r), problems);
}

} // namespace cpubench
