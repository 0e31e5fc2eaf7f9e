// --history: the input's folder tree (histories of many sessions, with odd
// session names, machine.json facts that change, runs that turn slower or
// wrong) read by the program's own reader, each history analysed by
// itself, into the history's three outputs.
#include "escape.h"
#include "fuzz_checks.h"
#include "history.h"
#include "phrases.h"
#include "read.h"
#include "write.h"

#include <cstddef>
#include <cstdint>
#include <sstream>

using namespace cpubench;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::Tree tree = fuzz::treeOf(fuzz::splitParts(data, size), {8, 160, 320});
    const MemoryTree files = fuzz::memoryTree(tree);
    HistoryReport report{fuzz::settings(tree.options), tree.options.keepDisturbed, {}};
    for (const std::string& root : tree.roots) {
        const History history = readHistory(files, root);
        for (const ReadIssue& error : history.errors)
            fuzz::requireTerminalSafe(printable(readIssueText(error)), "read error");
        // A history without any session ends the program before the
        // analysis; the target goes on with the others.
        if (!history.sessions.empty())
            report.machines.push_back(analyseHistory(history, report.settings, report.keepDisturbed));
    }
    if (report.machines.empty())
        return 0;

    historyStatus(report);
    std::ostringstream text, json, html;
    writeHistoryText(text, report);
    fuzz::requireTerminalSafe(text.str(), "history text");
    writeHistoryJson(json, report);
    fuzz::requireJson(json.str());
    fuzz::requireTerminalSafe(json.str(), "JSON");
    writeHistoryHtml(html, report);
    fuzz::requireSafeHtml(html.str());
    return 0;
}
