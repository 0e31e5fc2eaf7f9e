// The whole comparison as one JSON document (write.h): every machine's runs
// with their parsed values, times and findings, its statistics, marks and
// problems. The manual page describes its structure.
#include "write.h"

#include "escape.h"
#include "json_values.h"
#include "numbers.h"
#include "phrases.h"

namespace cpubench {

namespace {

using nlohmann::json;

json nameOrNull(const char* name)
{
    return name == nullptr ? json(nullptr) : json(name);
}

// What the recorder saw while the line ran, and whether that makes it
// disturbed.
json recordedJson(const LineFigures& figures, const analyse::RunJudgement& judgement)
{
    json entry = figuresJson(figures);
    entry["lost_share"] = judgement.share ? json(*judgement.share) : json(nullptr);
    entry["usual_share"] = judgement.usualShare;
    entry["disturbed"] =
        nameOrNull(judgement.finding == analyse::Finding::disturbed ? causeName(judgement.cause) : nullptr);
    entry["irregular"] = nameOrNull(irregularityName(judgement.irregularity));
    entry["time_factor"] = judgement.timeFactor ? json(*judgement.timeFactor) : json(nullptr);
    entry["left_out"] = judgement.leftOut;
    return entry;
}

json runJson(const Run& run, bool used, const MachineStats& stats, std::size_t r)
{
    json lines = json::array();
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const LineResult& result = run.transcript.lines[line];
        json entry = {{"line", lineLabel(line)},
                      {"present", result.present},
                      {"values", result.values},
                      {"time", result.time ? json(result.time->seconds) : json(nullptr)},
                      {"mark", markName(result.mark)}};
        if (result.outOfMemory)
            entry["out_of_memory"] = true;
        if (run.figures[line])
            entry["recorded"] = recordedJson(*run.figures[line], stats.disturbance.lines[line].runs[r]);
        lines.push_back(entry);
    }
    json problems = json::array(), findings = json::array();
    for (const TranscriptProblem& problem : run.transcript.problems) {
        problems.push_back(problemText(problem));
        findings.push_back(findingJson(problem));
    }
    return {{"name", run.name},
            {"used", used},
            {"complete", run.transcript.good()},
            {"problems", problems},
            {"findings", findings},
            {"lines", lines}};
}

// The machine's wander between sittings: where it comes from, and per line.
json wanderJson(const Comparison& c, std::size_t m)
{
    const WanderModel& model = c.wander[m];
    json scales = json::array();
    for (const double scale : model.scale)
        scales.push_back(scale);
    return {{"source", model.source == WanderSource::sessions ? "sessions" : "default"},
            {"sessions", model.source == WanderSource::sessions ? json(model.sessions) : json(c.machines[m].earlier.size() + 1)},
            {"scales", scales},
            {"share", model.share}};
}

// What the test of a row against the baseline says beside its verdict.
void addTest(json& entry, const Comparison& c, std::size_t m, std::size_t row)
{
    const RowResult* result = m > 0 && c.sittings[m].rows[row].judged ? &c.sittings[m].rows[row] : nullptr;
    entry["level"] = result ? json(result->level) : json(nullptr);
    entry["p"] = result ? json(result->p) : json(nullptr);
    entry["df"] = result && result->df > 0 ? json(result->df) : json(nullptr);
    entry["wander_share"] = result ? json(result->wanderShare) : json(nullptr);
    entry["detectable"] = result ? nullable(result->detectable) : json(nullptr);
}

json statsJson(const Machine& machine, const LineStats& stats, std::size_t line, const VerdictSettings& settings)
{
    json entry = {{"line", lineLabel(line)}, {"runs", stats.runs}, {"mark", markName(stats.mark)}};
    if (stats.runs > 0) {
        entry["median"] = stats.median.seconds;
        entry["fastest"] = stats.fastest.seconds;
        entry["slowest"] = stats.slowest.seconds;
    } else
        entry["median"] = entry["fastest"] = entry["slowest"] = nullptr;
    entry["ratio"] = nullable(stats.ratio);
    entry["median_ratio"] = nullable(stats.medianRatio);
    addEstimate(entry, stats.estimate, settings);
    json far = json::array();
    for (const Outlier& outlier : stats.outliers)
        far.push_back({{"run", machine.runs[stats.timeRuns[outlier.index]].name}, {"factor", outlier.factor}});
    entry["outliers"] = far;
    if (kLines[line].kind == Values::fingerprint) {
        json groups = json::array();
        for (std::size_t group : stats.groups)
            groups.push_back(groupName(group));
        entry["fingerprints"] = groups;
    }
    return entry;
}

json machineJson(const Comparison& c, std::size_t m)
{
    const Machine& machine = c.machines[m];
    const MachineStats& stats = c.stats[m];
    json runs = json::array();
    for (std::size_t r = 0; r < machine.runs.size(); ++r)
        runs.push_back(runJson(machine.runs[r], stats.used[r], stats, r));
    json lines = json::array();
    for (std::size_t line = 0; line < kLineCount; ++line) {
        lines.push_back(statsJson(machine, stats.lines[line], line, c.settings));
        lines.back()["disturbed_in_session"] = stats.disturbance.lines[line].weakness != analyse::Weakness::none;
        if (stats.lines[line].estimate)
            addTest(lines.back(), c, m, line);
    }
    json summary = {{"ratio", nullable(stats.summary.ratio)}, {"median_ratio", nullable(stats.summary.medianRatio)}};
    addEstimate(summary, stats.summary.estimate, c.settings);
    addTest(summary, c, m, kSummaryRow);
    return {{"name", machine.name},
            {"source", machine.source},
            {"session", textOrNull(machine.newestSession)},
            {"info", infoJson(machine.info)},
            {"info_error", machine.infoError ? json(readIssueText(*machine.infoError)) : json(nullptr)},
            {"flagged", stats.flagged},
            {"from_flawed_runs", stats.fromFlawedRuns},
            {"runs", runs},
            {"statistics", lines},
            {"summary", m == 0 ? json(nullptr) : summary},
            {"wander", wanderJson(c, m)}};
}

json settingsJson(const Comparison& c)
{
    json summaryLines = json::array();
    for (const ResultLine& line : kLines)
        if (line.inSummary)
            summaryLines.push_back(std::string(line.label));
    return {{"level", c.settings.level},
            {"threshold", c.settings.threshold},
            {"method", comparisonMethod()},
            {"summary_lines", summaryLines},
            // The ten rows are one family: the summary row (the headline)
            // carries this share of the level, the lines the rest.
            {"family_level", c.settings.level},
            {"headline_weight", kHeadlineWeight}};
}

} // namespace

void writeJson(std::ostream& out, const Comparison& c)
{
    json machines = json::array();
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        machines.push_back(machineJson(c, m));
    json groups = json::array();
    for (std::size_t g = 0; g < c.groups.size(); ++g)
        groups.push_back({{"name", groupName(g)}, {"values", c.groups[g].values}, {"members", memberTexts(c, c.groups[g])}});
    const json document = {{"baseline", c.machines.empty() ? json(nullptr) : json(c.machines[0].name)},
                           {"settings", settingsJson(c)},
                           {"lines", lineLabels()},
                           {"machines", machines},
                           {"fingerprints", groups},
                           {"problems", problemTexts(c)},
                           {"notes", noteTexts(c)},
                           {"complete", c.problems.empty()}};
    writeDocument(out, document);
}

} // namespace cpubench
