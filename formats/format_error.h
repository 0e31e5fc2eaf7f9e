// Why a machine.json or session.json cannot be used, as typed values.
#pragma once

#include <optional>
#include <string>

namespace cpubench {

struct FormatError {
    enum class Kind {
        notJson,          // `detail`: the JSON library's message
        notObject,        // the document is no JSON object
        mustBeString,     // the field `key` (of run `run`, when named)
        mustBeWholeNumber,
        mustBeNumber,
        mustBeObject,
        mustBeList,
        flawMustBeString, // the mitigation `key`
        unknownState,     // "state" is none of the session's states
        badCounts,        // "runs_planned" or "logical_cpus"
        runWithoutFile,   // a run that is no object with its "file"
        unknownStatus,    // run `run`'s "status"
        lineWithoutLabel, // a line of run `run` that is no object with its "line"
        badFigure,        // a figure of line `key` of run `run`: no number of 0 or more
    };
    Kind kind;
    std::string key;
    std::optional<std::string> run; // the run's file, for a fault in a run's entry
    std::string detail;
};

} // namespace cpubench
