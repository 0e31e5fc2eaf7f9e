// What the fuzz targets share beside their input: the input's folder tree
// in memory, for the program's own reader, the settings of its options, and
// the checks of what the program writes.
#pragma once

#include "files.h"
#include "fuzz_input.h"
#include "verdict.h"

#include <string>
#include <string_view>

namespace fuzz {

cpubench::MemoryTree memoryTree(const Tree& tree);
cpubench::VerdictSettings settings(const Options& options);

// Aborts (a finding) when the text holds a control character other than
// tab and line feed, or is not valid UTF-8.
void requireTerminalSafe(std::string_view text, const char* what);
// Aborts when the HTML page is not valid UTF-8, holds a control character,
// an element other than the report's own, or an event-handler attribute.
void requireSafeHtml(std::string_view html);
// Aborts when the text is not one JSON document.
void requireJson(const std::string& text);

} // namespace fuzz
