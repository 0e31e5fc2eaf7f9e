// The outputs: the comparison as a text or Markdown table, an HTML page and
// a JSON document, and the history as text, JSON and HTML.
#pragma once

#include "comparison.h"
#include "history.h"
#include "table.h"

#include <ostream>

namespace cpubench {

void writeText(std::ostream& out, const Comparison& comparison, const TableOptions& options);
void writeMarkdown(std::ostream& out, const Comparison& comparison, const TableOptions& options);
void writeHtml(std::ostream& out, const Comparison& comparison, const TableOptions& options);
void writeJson(std::ostream& out, const Comparison& comparison);

void writeHistoryText(std::ostream& out, const HistoryReport& report);
void writeHistoryJson(std::ostream& out, const HistoryReport& report);
void writeHistoryHtml(std::ostream& out, const HistoryReport& report);

} // namespace cpubench
