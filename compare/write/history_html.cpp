// The history as a self-contained HTML page with a trend chart per machine
// and line (write.h): no script, nothing loaded.
#include "write.h"

#include "escape.h"
#include "html_page.h"
#include "join.h"
#include "numbers.h"
#include "phrases.h"
#include "spool.h"

#include <algorithm>
#include <sstream>

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
void writeMarks(std::ostream& out, const VerdictSettings& settings, const MachineHistory& h, std::size_t line,
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
            << htmlEscaped(trendChangeTitle(h, change, settings)) << "</title></line>\n";
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
void writeTrend(std::ostream& out, const VerdictSettings& settings, const MachineHistory& h, std::size_t line)
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
    writeMarks(out, settings, h, line, *scale);
    out << "</svg>\n";
    for (const Change& change : h.changes) {
        if (change.line != line)
            continue;
        const std::string facts = factsText(change.facts, "; ");
        out << "<p class=\"change-note\"><span class=\"verdict " << verdictName(change.verdict) << "\">"
            << verdictName(change.verdict) << "</span> from " << htmlEscaped(h.sessions[change.session].name) << ": "
            << htmlEscaped(ratioWithInterval(change.estimate, settings))
            << (facts.empty() ? "" : "<br><span class=\"facts\">" + htmlEscaped(facts) + "</span>") << "</p>\n";
    }
    out << "</figure>\n";
}

void writeMachine(std::ostream& out, const VerdictSettings& settings, const MachineHistory& h)
{
    const bool notable = !h.changes.empty() || !h.excursions.empty() || h.wrongFrom.has_value();
    out << "<details" << (notable ? " open" : "") << " data-machine=\"" << htmlEscaped(h.name) << "\"><summary>"
        << htmlEscaped(h.name) << " <span class=\"muted\">" << machineCountsText(h) << "</span></summary>\n";
    if (h.wrongFrom)
        out << "<p class=\"bad\">" << htmlEscaped(valuesWrongText(h)) << "</p>\n";
    out << "<div class=\"trends\">\n";
    for (std::size_t line = 0; line < kLineCount; ++line)
        writeTrend(out, settings, h, line);
    out << "</div>\n</details>\n";
}

// The findings across the machines, before the machines: each fact change
// and line found slower or faster, the machines that moved differently,
// and those that changed with no fact changed.
void writeFleet(std::ostream& out, const VerdictSettings& settings, const FleetFindings& fleet)
{
    out << "<section class=\"fleet\"><h2>Fleet</h2>\n<ul>\n";
    for (const analyse::FleetFinding& finding : fleet.report.findings) {
        if (!shownFinding(finding))
            continue;
        const char* verdict = verdictName(fleetVerdict(finding.verdict));
        const std::string moved = movedDifferentlyText(fleet, finding);
        out << "<li><span class=\"verdict " << verdict << "\">" << verdict << "</span> "
            << htmlEscaped(fleetFindingText(fleet, finding, settings))
            << (moved.empty() ? "" : "<br><span class=\"facts\">" + htmlEscaped(moved) + "</span>") << "</li>\n";
    }
    for (const analyse::Unexplained& unexplained : fleet.report.unexplained)
        if (unexplained.confirmed)
            out << "<li>" << htmlEscaped(unexplainedText(fleet, unexplained)) << "</li>\n";
    out << "</ul>\n<p class=\"muted\">" << htmlEscaped(fleetMethod(fleet, settings)) << "</p></section>\n";
}

class HtmlWriter : public HistoryWriter {
public:
    HtmlWriter(const VerdictSettings& settings, bool keepDisturbed) : settings_(settings), keepDisturbed_(keepDisturbed)
    {
    }

    enum Piece { machine, notes, readNotes, problems, count };

    Pieces pieces(const MachineHistory& h) const override
    {
        std::ostringstream section;
        writeMachine(section, settings_, h);
        Pieces result(count);
        result[machine] = section.str();
        for (const HistoryNote& note : h.notes)
            result[notes] += htmlListItem(historyNoteText(h, note, keepDisturbed_));
        for (const HistoryNote& note : h.readNotes)
            result[readNotes] += htmlListItem(historyNoteText(h, note, keepDisturbed_));
        for (const RunProblem& problem : h.problems)
            result[problems] += htmlListItem(runProblemText(problem));
        return result;
    }

    void add(const MachineHistory& h, Pieces pieces) override
    {
        machines_.append(pieces[machine]);
        for (std::size_t piece = notes; piece < count; ++piece)
            lists_[piece] += pieces[piece];
        ++machineCount_;
        changeCount_ += h.changes.size();
        excursionCount_ += h.excursions.size();
        noteCount_ += h.notes.size() + h.readNotes.size();
        problemCount_ += h.problems.size();
    }

    std::optional<std::string> finish(std::ostream& out) override
    {
        writeHtmlHead(out, "cpubench history", kHistoryStyle);
        out << "<p>" << historyCountsText(machineCount_, changeCount_, excursionCount_) << " "
            << (problemCount_ == 0 ? std::string(kAllRunsComplete)
                                   : "<span class=\"bad\">" + historyProblemsText(problemCount_) + "</span>")
            << "</p>\n<p class=\"muted\">" << htmlEscaped(historyMethod(settings_)) << spansHtml(trendLegend())
            << "</p>\n";
        if (anyFleetFinding(fleet_))
            writeFleet(out, settings_, *fleet_);
        if (std::optional<std::string> error = machines_.copyTo(out))
            return error;
        writeHtmlTailItems(out, noteCount_ > 0 ? lists_[notes] + lists_[readNotes] : "",
                           problemCount_ > 0 ? std::optional<std::string>(lists_[problems]) : std::nullopt);
        return std::nullopt;
    }

private:
    VerdictSettings settings_;
    bool keepDisturbed_;
    Spool machines_;
    std::string lists_[count];
    std::size_t machineCount_ = 0, changeCount_ = 0, excursionCount_ = 0, noteCount_ = 0, problemCount_ = 0;
};

} // namespace

std::unique_ptr<HistoryWriter> historyHtmlWriter(const VerdictSettings& settings, bool keepDisturbed)
{
    return std::make_unique<HtmlWriter>(settings, keepDisturbed);
}

} // namespace cpubench
