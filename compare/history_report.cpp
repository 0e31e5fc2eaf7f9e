#include "history_report.h"

#include "html_report.h"
#include "json_output.h"
#include "printable.h"
#include "table.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

using expected::kLines;
using nlohmann::json;

std::string format(const char* pattern, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string ratioWithInterval(const RatioEstimate& estimate, const VerdictSettings& settings)
{
    const std::string text = ratioText(estimate.estimate, estimate, settings);
    const std::string interval = intervalText(estimate, text);
    return interval.empty() ? text : text + " (" + interval + ")";
}

std::string factText(const FactChange& fact)
{
    return fact.key + " " + (fact.before.empty() ? "(none)" : fact.before) + " -> " +
           (fact.after.empty() ? "(none)" : fact.after);
}

std::string percent(double fraction)
{
    return format("%g", fraction * 100) + "%";
}

std::string method(const HistoryReport& r)
{
    return "A change: the sessions from one on against the sessions before it differ at " +
           percent(r.settings.level) + " confidence (corrected for the places and lines looked at) by more than " +
           percent(r.settings.threshold) + ", against the machine's own wander from session to session; the ratio "
           "is of their levels, with the interval its verdict rests on. An excursion: one session off and then back, "
           "no change.";
}

void print(std::ostream& out, const std::string& text, const std::string& indent = "  ")
{
    for (const std::string& line : wrapped(text, kTableWidth, indent))
        out << line << '\n';
}

// The trend chart's geometry in SVG user units.
constexpr double kTrendWidth = 320, kTrendHeight = 120;
constexpr double kLeft = 44, kRight = 8, kTop = 14, kBottom = 18;

std::string number(double value)
{
    return format("%.1f", value);
}

// One line of one machine: each session's median as a point on a line, its
// fastest..slowest as a band, each change as a dashed line at its session,
// each excursion ringed.
void writeTrend(std::ostream& out, const HistoryReport& r, std::size_t m, std::size_t line)
{
    const MachineHistory& h = r.machines[m];
    double low = 0, high = 0;
    bool any = false;
    for (const auto& session : h.lines) {
        const SessionLine& s = session[line];
        if (s.runs == 0)
            continue;
        low = any ? std::min(low, s.fastest) : s.fastest;
        high = any ? std::max(high, s.slowest) : s.slowest;
        any = true;
    }
    const std::string label(kLines[line].label);
    out << "<figure class=\"trend\"><figcaption>" << htmlEscaped(label) << "</figcaption>\n";
    if (!any) {
        out << "<p class=\"muted\">no good run</p></figure>\n";
        return;
    }
    const double pad = std::max((high - low) * 0.08, high * 0.01);
    low = std::max(0.0, low - pad);
    high += pad;
    const double plotWidth = kTrendWidth - kLeft - kRight, plotHeight = kTrendHeight - kTop - kBottom;
    const std::size_t count = h.sessions.size();
    const auto x = [&](std::size_t s) {
        return kLeft + (count > 1 ? plotWidth * static_cast<double>(s) / static_cast<double>(count - 1) : plotWidth / 2);
    };
    const auto y = [&](double seconds) { return kTop + plotHeight * (high - seconds) / (high - low); };
    out << "<svg class=\"trend\" data-line=\"" << htmlEscaped(label) << "\" viewBox=\"0 0 " << kTrendWidth << ' '
        << kTrendHeight << "\" role=\"img\" aria-label=\"" << htmlEscaped(h.name + ", " + label)
        << ": median time per session\">\n";
    out << "<text class=\"axis-label\" x=\"" << kLeft - 4 << "\" y=\"" << number(kTop + 4) << "\">"
        << format("%.3g", high) << "</text><text class=\"axis-label\" x=\"" << kLeft - 4 << "\" y=\""
        << number(kTop + plotHeight) << "\">" << format("%.3g", low) << "</text>\n";
    out << "<text class=\"session-label\" x=\"" << kLeft << "\" y=\"" << kTrendHeight - 4 << "\">"
        << htmlEscaped(h.sessions.front()) << "</text>";
    if (count > 1)
        out << "<text class=\"session-label end\" x=\"" << kTrendWidth - kRight << "\" y=\"" << kTrendHeight - 4
            << "\">" << htmlEscaped(h.sessions.back()) << "</text>";
    out << '\n';
    // The band, as one path of a vertical stroke per session.
    std::string band, points;
    for (std::size_t s = 0; s < count; ++s) {
        const SessionLine& sl = h.lines[s][line];
        if (sl.runs == 0)
            continue;
        band += "M" + number(x(s)) + ' ' + number(y(sl.slowest)) + "V" + number(y(sl.fastest));
        points += (points.empty() ? "" : " ") + number(x(s)) + ',' + number(y(sl.median));
    }
    out << "<path class=\"band\" d=\"" << band << "\"/>\n<polyline class=\"median\" points=\"" << points << "\"/>\n";
    for (const Change& change : r.changes) {
        if (change.machine != m || change.line != line)
            continue;
        const std::string at = number(x(change.session) - (count > 1 ? plotWidth / static_cast<double>(count - 1) / 2 : 0));
        out << "<line class=\"change " << verdictName(change.verdict) << "\" data-session=\""
            << htmlEscaped(h.sessions[change.session]) << "\" x1=\"" << at << "\" y1=\"" << kTop - 4 << "\" x2=\"" << at
            << "\" y2=\"" << number(kTop + plotHeight) << "\"><title>from " << htmlEscaped(h.sessions[change.session])
            << ": " << verdictName(change.verdict) << ", " << htmlEscaped(ratioWithInterval(change.estimate, r.settings))
            << "</title></line>\n";
    }
    for (const Excursion& excursion : r.excursions) {
        if (excursion.machine != m || excursion.line != line)
            continue;
        const SessionLine& sl = h.lines[excursion.session][line];
        out << "<circle class=\"excursion\" cx=\"" << number(x(excursion.session)) << "\" cy=\"" << number(y(sl.median))
            << "\" r=\"5\"><title>" << htmlEscaped(h.sessions[excursion.session]) << ": an excursion, "
            << format("%.2fx", excursion.estimate.estimate) << " the sessions around it</title></circle>\n";
    }
    out << "</svg>\n";
    for (const Change& change : r.changes) {
        if (change.machine != m || change.line != line)
            continue;
        std::string facts;
        for (const FactChange& fact : change.facts)
            facts += (facts.empty() ? "" : "; ") + factText(fact);
        out << "<p class=\"change-note\"><span class=\"verdict " << verdictName(change.verdict) << "\">"
            << verdictName(change.verdict) << "</span> from " << htmlEscaped(h.sessions[change.session]) << ": "
            << htmlEscaped(ratioWithInterval(change.estimate, r.settings))
            << (facts.empty() ? "" : "<br><span class=\"facts\">" + htmlEscaped(facts) + "</span>") << "</p>\n";
    }
    out << "</figure>\n";
}

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

void writeHistoryLines(std::ostream& out, const HistoryReport& r)
{
    std::string sessions;
    for (const MachineHistory& h : r.machines)
        sessions += (sessions.empty() ? "" : ", ") + h.name + " " + std::to_string(h.sessions.size()) +
                    (h.sessions.size() == 1 ? " session" : " sessions") +
                    (h.sessions.empty() ? "" : " (" + h.sessions.front() +
                                                   (h.sessions.size() > 1 ? " .. " + h.sessions.back() : "") + ")");
    print(out, "History of " + std::to_string(r.machines.size()) + (r.machines.size() == 1 ? " machine: " : " machines: ") +
                   sessions + ".");
    print(out, method(r));
    out << "\nChanges:\n";
    if (r.changes.empty())
        out << "  none\n";
    for (const Change& change : r.changes) {
        const MachineHistory& h = r.machines[change.machine];
        print(out, "  " + h.name + ", " + std::string(kLines[change.line].label) + ", from " +
                       h.sessions[change.session] + ": " + verdictName(change.verdict) + ", " +
                       format("%.3f", change.before) + " s -> " + format("%.3f", change.after) + " s, " +
                       ratioWithInterval(change.estimate, r.settings),
              "    ");
        std::string facts;
        for (const FactChange& fact : change.facts)
            facts += (facts.empty() ? "" : "; ") + factText(fact);
        print(out, "    " + (facts.empty() ? std::string("no machine.json fact changed then") : "changed then: " + facts),
              "      ");
    }
    if (!r.excursions.empty()) {
        out << "\nExcursions (one session off, then back; no change):\n";
        for (const Excursion& excursion : r.excursions) {
            const MachineHistory& h = r.machines[excursion.machine];
            print(out, "  " + h.name + ", " + std::string(kLines[excursion.line].label) + ", at " +
                           h.sessions[excursion.session] + ": " +
                           ratioWithInterval(excursion.estimate, r.settings) +
                           " the sessions around it; the host may have been busy",
                  "    ");
        }
    }
    out << "\nMachines:\n";
    for (std::size_t m = 0; m < r.machines.size(); ++m) {
        const MachineHistory& h = r.machines[m];
        std::size_t runs = 0, good = 0, changes = 0;
        for (std::size_t s = 0; s < h.sessions.size(); ++s) {
            runs += h.runs[s];
            good += h.goodRuns[s];
        }
        for (const Change& change : r.changes)
            changes += change.machine == m ? 1 : 0;
        std::string text = "  " + h.name + ": " + std::to_string(h.sessions.size()) + " sessions, " +
                           std::to_string(runs) + " runs (" + std::to_string(good) + " good), " +
                           (changes == 0 ? "no change" : std::to_string(changes) + (changes == 1 ? " change" : " changes"));
        if (!h.sessions.empty())
            text += "; newest " + h.sessions.back() + ", " + std::to_string(h.goodRuns.back()) + " good runs";
        print(out, text, "    ");
    }
    if (!r.notes.empty()) {
        out << '\n';
        for (const std::string& note : r.notes)
            print(out, note);
    }
    if (r.newestSlower)
        out << "\nA machine's newest session is slower than the sessions before it.\n";
    if (r.problems.empty())
        out << "\nAll transcripts complete, all fixed values exact.\n";
    else {
        out << "\nProblems:\n";
        for (const std::string& problem : r.problems)
            print(out, "  " + problem, "    ");
    }
}

} // namespace

// Names, values and facts come from other machines: no control character
// of theirs reaches the terminal.
void writeHistoryText(std::ostream& out, const HistoryReport& r)
{
    std::ostringstream text;
    writeHistoryLines(text, r);
    out << printable(text.str());
}

void writeHistoryJson(std::ostream& out, const HistoryReport& r)
{
    json machines = json::array();
    for (const MachineHistory& h : r.machines) {
        json sessions = json::array();
        for (std::size_t s = 0; s < h.sessions.size(); ++s) {
            json lines = json::array();
            for (std::size_t line = 0; line < kLines.size(); ++line) {
                const SessionLine& sl = h.lines[s][line];
                json entry = {{"line", std::string(kLines[line].label)}, {"runs", sl.runs}};
                for (const auto& [key, value] : {std::pair<const char*, double>{"median", sl.median},
                                                 {"fastest", sl.fastest}, {"slowest", sl.slowest}})
                    entry[key] = sl.runs > 0 ? json(value) : json(nullptr);
                lines.push_back(entry);
            }
            sessions.push_back({{"name", h.sessions[s]},
                                {"info", infoJson(h.infos[s])},
                                {"runs", h.runs[s]},
                                {"good_runs", h.goodRuns[s]},
                                {"statistics", lines}});
        }
        machines.push_back({{"name", h.name},
                            {"source", h.source},
                            {"sessions", sessions},
                            {"wrong_from", h.wrongFrom ? json(h.sessions[*h.wrongFrom]) : json(nullptr)}});
    }
    const auto estimateJson = [](json& entry, const RatioEstimate& estimate) {
        entry["ratio_low"] = nullable(estimate.low);
        entry["ratio_high"] = nullable(estimate.high);
        entry["confidence"] = estimate.low ? json(estimate.confidence) : json(nullptr);
    };
    json changes = json::array();
    for (const Change& change : r.changes) {
        json facts = json::object();
        for (const FactChange& fact : change.facts)
            facts[fact.key] = {{"before", fact.before.empty() ? json(nullptr) : json(fact.before)},
                               {"after", fact.after.empty() ? json(nullptr) : json(fact.after)}};
        json entry = {{"machine", r.machines[change.machine].name},
                      {"line", std::string(kLines[change.line].label)},
                      {"session", r.machines[change.machine].sessions[change.session]},
                      {"verdict", verdictName(change.verdict)},
                      {"before", change.before},
                      {"after", change.after},
                      {"ratio", change.estimate.estimate},
                      {"facts", facts}};
        estimateJson(entry, change.estimate);
        changes.push_back(entry);
    }
    json excursions = json::array();
    for (const Excursion& excursion : r.excursions) {
        json entry = {{"machine", r.machines[excursion.machine].name},
                      {"line", std::string(kLines[excursion.line].label)},
                      {"session", r.machines[excursion.machine].sessions[excursion.session]},
                      {"verdict", verdictName(excursion.verdict)},
                      {"ratio", excursion.estimate.estimate}};
        estimateJson(entry, excursion.estimate);
        excursions.push_back(entry);
    }
    json undecided = json::array();
    for (const Undecided& u : r.undecided) {
        json entry = {{"machine", r.machines[u.machine].name},
                      {"line", std::string(kLines[u.line].label)},
                      {"session", r.machines[u.machine].sessions[u.session]},
                      {"verdict", "undecided"},
                      {"ratio", u.estimate.estimate},
                      {"undecided_because", u.reason}};
        estimateJson(entry, u.estimate);
        undecided.push_back(entry);
    }
    json lines = json::array();
    for (const expected::ResultLine& known : kLines)
        lines.push_back(std::string(known.label));
    const json document = {
        {"settings",
         {{"level", r.settings.level},
          {"threshold", r.settings.threshold},
          {"method", "levels merged bottom up; sessions as the unit: each session's mean log-time off its level by the "
                     "machine's wander between sessions (estimated from the history) and by its runs' spread; each "
                     "boundary tested with Welch's t and Satterthwaite's degrees of freedom, at the level corrected for "
                     "the boundaries looked at and the nine lines"},
          {"fewest_sessions", kFewestSessions}}},
        {"lines", lines},
        {"machines", machines},
        {"changes", changes},
        {"excursions", excursions},
        {"undecided", undecided},
        {"problems", r.problems},
        {"notes", r.notes},
        {"newest_slower", r.newestSlower},
        {"complete", r.problems.empty()}};
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

void writeHistoryHtml(std::ostream& out, const HistoryReport& r)
{
    writeHtmlHead(out, "cpubench history", kHistoryStyle);
    out << "<p>" << r.machines.size() << (r.machines.size() == 1 ? " machine" : " machines") << ", "
        << r.changes.size() << (r.changes.size() == 1 ? " change" : " changes") << ", " << r.excursions.size()
        << (r.excursions.size() == 1 ? " excursion" : " excursions") << ". "
        << (r.problems.empty() ? "All runs complete, all fixed values exact."
                               : "<span class=\"bad\">" + std::to_string(r.problems.size()) +
                                     (r.problems.size() == 1 ? " problem" : " problems") + " (see Problems).</span>")
        << "</p>\n<p class=\"muted\">" << htmlEscaped(method(r))
        << " Each chart: a session's median (line), its fastest..slowest run (band), a change as a dashed line "
           "before the session where it starts (<span class=\"verdict slower\">slower</span>, <span "
           "class=\"verdict faster\">faster</span>), an excursion ringed.</p>\n";
    for (std::size_t m = 0; m < r.machines.size(); ++m) {
        const MachineHistory& h = r.machines[m];
        std::size_t changes = 0, excursions = 0;
        for (const Change& change : r.changes)
            changes += change.machine == m ? 1 : 0;
        for (const Excursion& excursion : r.excursions)
            excursions += excursion.machine == m ? 1 : 0;
        const bool notable = changes > 0 || excursions > 0 || h.wrongFrom.has_value();
        out << "<details" << (notable ? " open" : "") << " data-machine=\"" << htmlEscaped(h.name) << "\"><summary>"
            << htmlEscaped(h.name) << " <span class=\"muted\">" << h.sessions.size() << " sessions, " << changes
            << (changes == 1 ? " change" : " changes") << ", " << excursions
            << (excursions == 1 ? " excursion" : " excursions") << "</span></summary>\n";
        if (h.wrongFrom)
            out << "<p class=\"bad\">Values wrong from session " << htmlEscaped(h.sessions[*h.wrongFrom]) << " on.</p>\n";
        out << "<div class=\"trends\">\n";
        for (std::size_t line = 0; line < kLines.size(); ++line)
            writeTrend(out, r, m, line);
        out << "</div>\n</details>\n";
    }
    writeHtmlTail(out, r.notes, r.problems);
}
