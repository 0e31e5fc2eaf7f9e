// Numbers as the outputs show them: times, ratios with their intervals,
// percentages, and the log fingerprint groups' letters.
#pragma once

#include "transcript.h"
#include "verdict.h"

#include <cstddef>
#include <optional>
#include <string>

namespace cpubench {

// One number through a printf pattern ("%.3f").
std::string format(const char* pattern, double value);
// `value` with `decimals` decimals, and the value that text stands for.
std::string fixed(double value, int decimals);
double shown(double value, int decimals);

// A time as the transcript printed it; one worked out here (a median of
// two) with four decimals, or three where the fourth is 0.
std::string timeText(const Time& time);

// How many decimals a ratio shows: two (one from 10 on, none from 100 on),
// or as many more, up to six, as keep a ratio called slower or faster
// beyond the threshold as shown: 1.0204 is 1.0204, not 1.02.
int ratioDecimals(double ratio, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings);
// The ratio as the tables show it, "0.97x".
std::string ratioText(double ratio, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings);
// The interval "0.95..0.99" of a ratio shown with `decimals` decimals: each
// end with two decimals, or three where two would show an end off 1 as
// 1.00 (a verdict rests on that side), and never on the other side of the
// ratio as shown. Empty without an interval.
std::string intervalText(const RatioEstimate& estimate, double ratio, int decimals);
// The ratio with its interval in brackets, "1.15x (1.08..1.22)".
std::string ratioWithInterval(const RatioEstimate& estimate, const VerdictSettings& settings);

// A level or threshold: "95%", "2.5%", "99.75%".
std::string percentText(double fraction);
// A share measured: one decimal, "12.3%".
std::string shareText(double fraction);
// A number of bytes in whole mebibytes, "4 MiB".
std::string mebibytes(std::size_t bytes);

// A log fingerprint group's name: "A", "B", ..., "Z", "A2", ...
std::string groupName(std::size_t index);

} // namespace cpubench
