// What the comparison's and the history's JSON documents share: numbers or
// null, a ratio's interval and verdict, a transcript's finding as fields,
// and the document written safe for a terminal.
#pragma once

#include "transcript.h"
#include "verdict.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>

namespace cpubench {

// A number, or null when there is none.
nlohmann::json nullable(const std::optional<double>& value);
nlohmann::json textOrNull(const std::string& text);
// The nine line labels, in order.
nlohmann::json lineLabels();

// The interval of a ratio: ratio_low, ratio_high and confidence (null without one).
void addInterval(nlohmann::json& entry, const RatioEstimate& estimate);
// The interval, the verdict and why it is undecided; all null for the baseline.
void addEstimate(nlohmann::json& entry, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings);

// A wrong value or a sign of an incomplete run, as fields: its kind, the
// line, what was expected and what was found.
nlohmann::json findingJson(const TranscriptProblem& problem);

// The document as nlohmann::json writes it, two spaces indented, and safe
// for a terminal; file names and transcripts need not be UTF-8: such bytes
// become U+FFFD.
void writeDocument(std::ostream& out, const nlohmann::json& document);

} // namespace cpubench
