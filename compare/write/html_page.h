// What the comparison's and the history's pages share: the head with the
// style sheet, the notes and problems at their end, and sentences with
// styled words in them.
#pragma once

#include "phrases.h"

#include <ostream>
#include <string>
#include <vector>

namespace cpubench {

// The page up to its heading: the document's head with the report's style
// sheet and `style` after it, and the title as the first heading.
void writeHtmlHead(std::ostream& out, const std::string& title, const std::string& style);

// The page from its notes on: the notes (if any), the problems (or that
// there are none), and the end of the document.
void writeHtmlTail(std::ostream& out, const std::vector<std::string>& notes, const std::vector<std::string>& problems);

// Our own words with the styled ones in their spans.
std::string spansHtml(const std::vector<Span>& spans);

} // namespace cpubench
