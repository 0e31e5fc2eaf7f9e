#include "html_page.h"

#include "escape.h"

namespace cpubench {

namespace {

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

} // namespace

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
        out << "<p>" << kNoProblem << "</p>\n";
    else {
        out << "<ul class=\"problems\">\n";
        for (const std::string& problem : problems)
            out << "<li>" << htmlEscaped(problem) << "</li>\n";
        out << "</ul>\n";
    }
    out << "</body>\n</html>\n";
}

std::string spansHtml(const std::vector<Span>& spans)
{
    using Style = Span::Style;
    std::string html;
    for (const Span& span : spans) {
        const char* kind = span.style == Style::key      ? "verdict-key"
                           : span.style == Style::slower ? "verdict slower"
                           : span.style == Style::faster ? "verdict faster"
                           : span.style == Style::same   ? "verdict same"
                           : span.style == Style::undecided ? "verdict undecided"
                                                            : nullptr;
        html += kind == nullptr ? span.text : "<span class=\"" + std::string(kind) + "\">" + span.text + "</span>";
    }
    return html;
}

} // namespace cpubench
