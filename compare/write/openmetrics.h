// The history as OpenMetrics text, for Prometheus through node_exporter's
// textfile collector: per machine and line, the newest session's median
// time, the newest level, its ratio to the level before it, and whether a
// change or an alarm stands; per machine, whether its newest session is
// flawed and when it started.
//
// Every series has the labels `machine` and, for a line's, `line` (the
// line's label as the transcript prints it, "INT64MulDiv128"), and the facts
// of kFactLabels that the machine's newest session has. Label values come
// from other machines: backslash, double quote and line feed are escaped,
// invalid UTF-8 and control characters become U+FFFD, and a value is cut
// to kMaxLabelBytes. The text is also valid in Prometheus's own text format
// (what the textfile collector reads): only gauges, no time stamps, HELP
// texts without escapes, and `# EOF` read as a comment there.
//
// Metric families (all gauges):
//   cpubench_line_median_seconds   the newest session's median time of the line
//   cpubench_line_level_seconds    the newest level (the geometric mean of its sessions)
//   cpubench_line_level_ratio      the newest level divided by the level before it
//   cpubench_line_change           1 while the newest level starts at a change (slower or faster)
//   cpubench_line_alarm            1 while the newest level is slower than the one before it
//   cpubench_machine_flawed        1 when the newest session has a wrong value or an incomplete run
//   cpubench_machine_newest_session_timestamp_seconds  the newest session's start, Unix time
// A value that is not known (no level before, no good run in the newest
// session) is left out, not written as NaN.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cpubench::write {

// The machine.json facts written as labels, by their machine.json keys (also
// the label names): the few a dashboard filters by.
inline constexpr const char* kFactLabels[] = {"processor", "os", "kernel", "microcode", "gmp_version",
                                              "cpubench_version"};

// The longest label value written, in bytes; a longer one is cut at a
// character and ends in "..." (a scraper may refuse a whole scrape over one
// long value, and a label is no place for a long text).
inline constexpr std::size_t kMaxLabelBytes = 128;

struct MetricsLine {
    std::string line; // the line's label, "INT64MulDiv128"
    std::optional<double> median;     // seconds
    std::optional<double> level;      // seconds
    std::optional<double> levelRatio; // newest level / the level before it
    bool change = false;
    bool alarm = false;
};

struct MetricsMachine {
    std::string name;
    // The newest session's machine.json facts as (key, text); only those of
    // kFactLabels are written, empty texts left out.
    std::vector<std::pair<std::string, std::string>> facts;
    std::optional<double> newestSessionStart; // seconds since 1970-01-01 UTC
    bool flawed = false;
    std::vector<MetricsLine> lines;
};

struct MetricsText {
    std::string text;
    // Machines left out because an earlier one has the same name (after
    // escaping and cutting): their series would be duplicates, which makes
    // the textfile collector drop the whole file. Indices into the input.
    std::vector<std::size_t> duplicates;
};

MetricsText writeOpenMetrics(const std::vector<MetricsMachine>& machines);

// A label value as written between the quotes.
std::string labelValue(std::string_view text);

// The start of a session named as the lab names them, "2026-12-08T14.05Z"
// (or with "-2" and so on after it), as Unix time; none for another name.
std::optional<double> sessionStart(std::string_view name);

} // namespace cpubench::write
