#include "json_values.h"

#include "escape.h"
#include "phrases.h"

namespace cpubench {

using nlohmann::json;

json nullable(const std::optional<double>& value)
{
    return value ? json(*value) : json(nullptr);
}

json textOrNull(const std::string& text)
{
    return text.empty() ? json(nullptr) : json(text);
}

json lineLabels()
{
    json lines = json::array();
    for (const ResultLine& known : kLines)
        lines.push_back(std::string(known.label));
    return lines;
}

void addInterval(json& entry, const RatioEstimate& estimate)
{
    entry["ratio_low"] = nullable(estimate.low);
    entry["ratio_high"] = nullable(estimate.high);
    entry["confidence"] = estimate.low ? json(estimate.confidence) : json(nullptr);
}

void addEstimate(json& entry, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings)
{
    if (!estimate) {
        for (const char* key : {"verdict", "ratio_low", "ratio_high", "confidence", "estimate", "undecided_because",
                                "doubt", "runs_needed"})
            entry[key] = nullptr;
        return;
    }
    const bool undecided = estimate->verdict == Verdict::undecided;
    const char* doubt = doubtName(estimate->doubt);
    entry["verdict"] = verdictName(estimate->verdict);
    addInterval(entry, *estimate);
    entry["estimate"] = estimate->estimate;
    entry["undecided_because"] = undecided ? json(doubtText(*estimate, settings)) : json(nullptr);
    entry["doubt"] = undecided && doubt != nullptr ? json(doubt) : json(nullptr);
    entry["runs_needed"] = estimate->runsNeeded ? json(*estimate->runsNeeded) : json(nullptr);
}

json findingJson(const TranscriptProblem& problem)
{
    using Kind = TranscriptProblem::Kind;
    json entry = {{"kind", problemName(problem.kind)},
                  {"line", problem.line < kLineCount ? json(lineLabel(problem.line)) : json(nullptr)}};
    switch (problem.kind) {
    case Kind::wrongValue:
        entry["value"] = problem.value;
        entry["expected"] = std::string(kLines[problem.line].values[problem.value]);
        entry["found"] = problem.found.at(0);
        break;
    case Kind::valueCount:
        entry["expected_count"] = kLines[problem.line].count;
        entry["found"] = problem.found;
        break;
    case Kind::impossibleTime:
    case Kind::notBound:
        entry["found"] = problem.found.at(0);
        break;
    case Kind::linesMissing: {
        json lines = json::array();
        for (const std::size_t line : problem.missing)
            lines.push_back(lineLabel(line));
        entry["lines"] = lines;
        break;
    }
    default:
        break;
    }
    return entry;
}

void writeDocument(std::ostream& out, const json& document)
{
    out << terminalSafeJson(document.dump(2, ' ', false, json::error_handler_t::replace)) << '\n';
}

} // namespace cpubench
