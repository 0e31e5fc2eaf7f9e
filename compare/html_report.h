// The comparison as one self-contained HTML page: no script, no external
// file, nothing loaded from a network. It holds the machines' descriptions,
// the table, a bar chart per timed line as inline SVG, the log fingerprint
// groups, and every problem.
#pragma once

#include "stats.h"
#include "table.h"

#include <ostream>
#include <string>
#include <vector>

void writeHtml(std::ostream& out, const Comparison& comparison, const TableOptions& options);

// The page up to its heading: the document's head with the report's style
// sheet and `style` after it, and the title as the first heading.
void writeHtmlHead(std::ostream& out, const std::string& title, const std::string& style);

// The page from its notes on: the notes (if any), the problems (or that
// there are none), and the end of the document.
void writeHtmlTail(std::ostream& out, const std::vector<std::string>& notes, const std::vector<std::string>& problems);

// The text with & < > " ' written as character references.
std::string htmlEscaped(const std::string& text);
