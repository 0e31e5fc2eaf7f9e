#include "json_output.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace {

using expected::kLines;
using nlohmann::json;

const char* markName(Mark mark)
{
    switch (mark) {
    case Mark::exact:
        return "exact";
    case Mark::wrong:
        return "wrong";
    case Mark::unchecked:
        return "unchecked";
    case Mark::missing:
        break;
    }
    return "missing";
}

json textOrNull(const std::string& text)
{
    return text.empty() ? json(nullptr) : json(text);
}

// What the recorder saw while the line ran, and whether that makes it
// disturbed.
json figuresJson(const session::LineFigures& f, const session::LineJudgement& judgement)
{
    const auto optional = [](const auto& value) { return value ? json(*value) : json(nullptr); };
    const char* by = judgement.kind == session::Disturbance::throttling ? "throttling"
                     : judgement.kind == session::Disturbance::load     ? "load"
                                                                        : nullptr;
    return {{"seconds", f.seconds},
            {"other_cpu_s", optional(f.otherCpu)},
            {"steal_s", optional(f.steal)},
            {"run_delay_s", optional(f.runDelay)},
            {"throttle_events", optional(f.throttle)},
            {"lost_share", judgement.share},
            {"disturbed", by == nullptr ? json(nullptr) : json(by)}};
}

json runJson(const Run& run, bool used)
{
    json lines = json::array();
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        const LineResult& result = run.transcript.lines[line];
        json entry = {{"line", std::string(kLines[line].label)},
                      {"present", result.present},
                      {"values", result.values},
                      {"time", result.time.empty() ? json(nullptr) : json(std::strtod(result.time.c_str(), nullptr))},
                      {"mark", markName(result.mark)}};
        if (result.outOfMemory)
            entry["out_of_memory"] = true;
        if (run.figures[line])
            entry["recorded"] = figuresJson(*run.figures[line], run.disturbance[line]);
        lines.push_back(entry);
    }
    return {{"name", run.name},
            {"used", used},
            {"complete", run.transcript.problems.empty()},
            {"problems", run.transcript.problems},
            {"lines", lines}};
}

// The interval and verdict of a ratio; all null for the baseline.
void addEstimate(json& entry, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings)
{
    if (!estimate) {
        for (const char* key : {"verdict", "ratio_low", "ratio_high", "confidence", "estimate", "undecided_because",
                                "runs_needed"})
            entry[key] = nullptr;
        return;
    }
    entry["verdict"] = verdictName(estimate->verdict);
    entry["ratio_low"] = nullable(estimate->low);
    entry["ratio_high"] = nullable(estimate->high);
    entry["confidence"] = estimate->low ? json(estimate->confidence) : json(nullptr);
    entry["estimate"] = estimate->estimate;
    entry["undecided_because"] = estimate->verdict == Verdict::undecided ? json(doubtText(*estimate, settings))
                                                                         : json(nullptr);
    entry["runs_needed"] = estimate->runsNeeded ? json(*estimate->runsNeeded) : json(nullptr);
}

json statsJson(const Machine& machine, const LineStats& stats, std::size_t line, const VerdictSettings& settings)
{
    json entry = {{"line", std::string(kLines[line].label)}, {"runs", stats.runs}, {"mark", markName(stats.mark)}};
    if (stats.runs > 0) {
        entry["median"] = stats.median;
        entry["fastest"] = stats.fastest;
        entry["slowest"] = stats.slowest;
    } else
        entry["median"] = entry["fastest"] = entry["slowest"] = nullptr;
    entry["ratio"] = nullable(stats.ratio);
    entry["median_ratio"] = nullable(stats.medianRatio);
    addEstimate(entry, stats.estimate, settings);
    json far = json::array();
    for (const Outlier& outlier : outliers(stats.times))
        far.push_back({{"run", machine.runs[stats.timeRuns[outlier.index]].name}, {"factor", outlier.factor}});
    entry["outliers"] = far;
    if (kLines[line].kind == expected::Values::fingerprint) {
        json groups = json::array();
        for (std::size_t group : stats.groups)
            groups.push_back(groupName(group));
        entry["fingerprints"] = groups;
    }
    return entry;
}

} // namespace

json nullable(const std::optional<double>& value)
{
    return value ? json(*value) : json(nullptr);
}

json infoJson(const MachineInfo& info)
{
    json object = json::object();
    for (const auto& [key, field] : kInfoTexts)
        if (!(info.*field).empty())
            object[key] = info.*field;
    if (info.logicalCpus)
        object["logical_cpus"] = *info.logicalCpus;
    if (info.memoryMib)
        object["memory_mib"] = *info.memoryMib;
    if (!info.mitigations.empty())
        object["mitigations"] = info.mitigations;
    return object;
}

void writeJson(std::ostream& out, const Comparison& c)
{
    json machines = json::array();
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const Machine& machine = c.machines[m];
        const MachineStats& stats = c.stats[m];
        json runs = json::array();
        for (std::size_t r = 0; r < machine.runs.size(); ++r)
            runs.push_back(runJson(machine.runs[r], stats.used[r]));
        json lines = json::array();
        for (std::size_t line = 0; line < kLines.size(); ++line)
            lines.push_back(statsJson(machine, stats.lines[line], line, c.settings));
        json summary = {{"ratio", nullable(stats.summary.ratio)}, {"median_ratio", nullable(stats.summary.medianRatio)}};
        addEstimate(summary, stats.summary.estimate, c.settings);
        machines.push_back({{"name", machine.name},
                            {"source", machine.source},
                            {"session", textOrNull(machine.session)},
                            {"info", infoJson(machine.info)},
                            {"info_error", textOrNull(machine.infoError)},
                            {"flagged", stats.flagged},
                            {"from_flawed_runs", stats.fromFlawedRuns},
                            {"runs", runs},
                            {"statistics", lines},
                            {"summary", m == 0 ? json(nullptr) : summary},
                            // The level each of its rows was judged at, and
                            // whether its ten rows were judged together.
                            {"row_level", m == 0 ? json(nullptr) : json(stats.rowLevel)},
                            {"rows_together", m == 0 ? json(nullptr) : json(stats.rowsTogether)}});
    }
    json groups = json::array();
    for (std::size_t g = 0; g < c.groups.size(); ++g)
        groups.push_back(
            {{"name", groupName(g)}, {"values", c.groups[g].values}, {"members", c.groups[g].members}});
    json lines = json::array();
    for (const expected::ResultLine& known : kLines)
        lines.push_back(std::string(known.label));
    json summaryLines = json::array();
    for (const std::size_t line : kSummaryLines)
        summaryLines.push_back(std::string(kLines[line].label));
    const json settings = {{"level", c.settings.level},
                           {"threshold", c.settings.threshold},
                           {"method", "Hodges-Lehmann shift of the log-times with the exact Mann-Whitney interval"},
                           {"summary_lines", summaryLines},
                           // From this many runs per machine the ten rows are judged together.
                           {"rows_together_runs", kRowsTogetherRuns}};
    const json document = {{"baseline", c.machines.empty() ? json(nullptr) : json(c.machines[0].name)},
                           {"settings", settings},
                           {"lines", lines},
                           {"machines", machines},
                           {"fingerprints", groups},
                           {"problems", c.problems},
                           {"notes", c.notes},
                           {"complete", c.problems.empty()}};
    // File names and transcripts need not be UTF-8: such bytes become U+FFFD.
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}
