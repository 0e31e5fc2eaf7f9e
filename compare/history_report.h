// A lab's history as text (lines of at most 100 columns), as one JSON
// document, and as a self-contained HTML page with a trend chart per machine
// and line (no script, nothing loaded).
#pragma once

#include "history.h"

#include <ostream>

void writeHistoryText(std::ostream& out, const HistoryReport& report);
void writeHistoryJson(std::ostream& out, const HistoryReport& report);
void writeHistoryHtml(std::ostream& out, const HistoryReport& report);
