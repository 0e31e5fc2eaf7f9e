// The fuzz targets' shared input format and checks of their outputs.
//
// The comparison's and the history's inputs are one text cut into parts at
// lines that start with "@@" (so that the seeds are readable and the
// transcript's dictionary works inside them):
//   @@O <letters>   options: m Markdown, b turned table, t<n> threshold n%,
//                   c<n> confidence n% (out-of-range values are clamped)
//   @@M <name>      a new machine (a new history in the history target)
//   @@S <name>      a new session of the current history (history only)
//   @@J             the following lines are the machine.json
//   @@R <name>      the following lines are a run's transcript
// Text before the first header is ignored. The number of machines, sessions
// and runs is capped so that one input stays fast.
#pragma once

#include "verdict.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

struct Part {
    char kind = 0;      // 'O', 'M', 'S', 'J' or 'R'
    std::string name;   // the rest of the header line
    std::string body;   // the lines up to the next header
};

std::vector<Part> splitParts(const std::uint8_t* data, std::size_t size);

struct Options {
    bool markdown = false;
    bool byMachine = false;
    double threshold = 0.02;
    double level = 0.95;
};

Options parseOptions(const std::string& letters);
VerdictSettings settings(const Options& options);

// Aborts (a finding) when the text holds a control character other than
// tab and line feed, or is not valid UTF-8.
void requireTerminalSafe(std::string_view text, const char* what);
// Aborts when the HTML page is not valid UTF-8, holds a control character,
// an element other than the report's own, or an event-handler attribute.
void requireSafeHtml(std::string_view html);
// Aborts when the text is not one JSON document.
void requireJson(const std::string& text);

} // namespace fuzz
