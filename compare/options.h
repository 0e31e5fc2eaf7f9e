// cpubench-compare's command line: what to read, how to judge and what to
// write, or why the command line is wrong.
#pragma once

#include "verdict.h"

#include <optional>
#include <string>
#include <vector>

namespace cpubench {

// The percentages the options take: the threshold from 0 to 50, the level
// of the intervals from 50 to 99.9.
inline constexpr double kLowestThreshold = 0, kHighestThreshold = 50;
inline constexpr double kLowestConfidence = 50, kHighestConfidence = 99.9;

struct Options {
    bool markdown = false, byMachine = false, json = false, history = false, keepDisturbed = false, help = false;
    std::string htmlFile;
    VerdictSettings verdicts;
    std::vector<std::string> paths;
};

struct UsageError {
    enum class Kind {
        htmlNeedsFile,
        needsPercentage,   // `option` has no value
        badPercentage,     // `option`'s `value` is no percentage in its range
        unknownOption,     // `option`
        jsonAndMarkdown,
        noPaths,
        historyTakesNoTable,
    };
    UsageError(Kind what, std::string name = "", std::string given = "", bool ofHistory = false)
        : kind(what), option(std::move(name)), value(std::move(given)), history(ofHistory)
    {
    }

    Kind kind;
    std::string option, value;
    bool history = false; // noPaths: of a history
};

// The options, or the first fault of the command line.
struct ParsedOptions {
    Options options;
    std::optional<UsageError> error;
};
ParsedOptions parseOptions(int argc, char** argv);

} // namespace cpubench
