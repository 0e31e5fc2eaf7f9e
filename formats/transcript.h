// Reading one saved cpubench transcript and checking it against the values
// every correct run prints.
#pragma once

#include "expected.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

enum class Mark {
    missing,   // the line is not in the transcript
    exact,     // fixed values, all as expected
    wrong,     // fixed values that differ, or the wrong number of values
    unchecked, // no fixed values (the log fingerprint, the copy time)
};

struct LineResult {
    bool present = false;
    std::vector<std::string> values; // as printed
    std::string time;                // as printed; empty when the line has none
    bool outOfMemory = false;        // "nicht genug Speicher" in place of the time
    Mark mark = Mark::missing;
};

struct Transcript {
    std::array<LineResult, expected::kLineCount> lines; // in the order of expected::kLines
    bool banner = false;
    bool endPrompt = false;
    std::string bindingFailure; // the message, when GMP could not be bound
    // One sentence per wrong value or sign of an incomplete run, without
    // the file name; empty for a complete run with exact values.
    std::vector<std::string> problems;

    // Whether anything in the text came from cpubench.
    bool recognised() const;
};

// Accepts the text as saved from a file or copied from a console: CR LF
// line ends, trailing blanks, blank lines lost or added, a byte order mark
// (UTF-8, or UTF-16 LE as Windows PowerShell writes it). When the text holds
// several runs, the last one counts.
Transcript readTranscript(std::string_view text);
