// One saved cpubench transcript as typed values: each line's values and
// time, and what makes the run flawed, checked against the values every
// correct run prints.
#pragma once

#include "lines.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cpubench {

// A time as the transcript printed it: its seconds, and how many digits it
// printed before and after the point, to show it as printed. A time worked
// out from others (the mean of the middle two) has no printed digits.
struct Time {
    double seconds = 0;
    int integers = 0; // 0: not printed
    int decimals = 0;
};

enum class Mark {
    missing,   // the line is not in the transcript
    exact,     // fixed values, all as expected
    wrong,     // fixed values that differ, or the wrong number of values
    unchecked, // no fixed values (the log fingerprint, the copy time)
};

struct LineResult {
    bool present = false;
    std::vector<std::string> values; // as printed
    std::optional<Time> time;        // none when the line has none, or an impossible one
    bool outOfMemory = false;        // "nicht genug Speicher" in place of the time
    Mark mark = Mark::missing;
};

// What makes a run flawed: a wrong value, or a sign of an incomplete run.
struct TranscriptProblem {
    enum class Kind {
        notBound,       // GMP could not be bound: found[0] is the message
        noBanner,
        outOfMemory,    // `line` ran out of memory
        impossibleTime, // `line`'s time, found[0] as printed, is 0 or a day or more
        noTime,         // `line` has no time (cut off)
        valueCount,     // `line` has found.size() values, not its count
        wrongValue,     // `line`'s value number `value` is found[0]
        endsEarly,      // no end prompt: `line` is the last line printed (kLineCount: the banner)
        linesMissing,   // the lines `missing` are not in the run
    };
    Kind kind;
    std::size_t line = kLineCount;
    std::size_t value = 0;
    std::vector<std::string> found;
    std::vector<std::size_t> missing;
};

struct Transcript {
    std::array<LineResult, kLineCount> lines; // in the order of kLines
    bool banner = false;
    bool endPrompt = false;
    std::string bindingFailure; // the message, when GMP could not be bound
    // In the order the lines show them; none for a complete run with exact values.
    std::vector<TranscriptProblem> problems;

    // Whether anything in the text came from cpubench.
    bool recognised() const;
    // Complete, with exact values.
    bool good() const { return problems.empty(); }
};

// Accepts the text as saved from a file or copied from a console: CR LF
// line ends, trailing blanks, blank lines lost or added, a byte order mark
// (UTF-8, or UTF-16 LE as Windows PowerShell writes it). When the text holds
// several runs, the last one counts.
Transcript readTranscript(std::string_view text);

} // namespace cpubench
