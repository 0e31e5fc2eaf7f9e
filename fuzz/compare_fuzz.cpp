// The whole comparison: the input's folder tree (machines of runs with their
// machine.json and session.json, maybe in session folders) read by the
// program's own reader, through the statistics and verdicts into every
// output: the table as text and as Markdown, plain and turned, the HTML page
// and the JSON document.
#include "comparison.h"
#include "escape.h"
#include "fuzz_checks.h"
#include "phrases.h"
#include "read.h"
#include "write.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

using namespace cpubench;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::Tree tree = fuzz::treeOf(fuzz::splitParts(data, size), {12, 160, 96});
    const MemoryTree files = fuzz::memoryTree(tree);
    std::vector<Machine> machines;
    for (const std::string& root : tree.roots) {
        MachineRead read = readMachine(files, root);
        for (const ReadIssue& error : read.errors)
            fuzz::requireTerminalSafe(printable(readIssueText(error)), "read error");
        // The program stops at a read error; the target goes on with what the
        // reader gave, so that one odd file does not hide the rest.
        if (!read.machine.runs.empty())
            machines.push_back(std::move(read.machine));
    }
    if (machines.empty())
        return 0;

    const Comparison c = compare(std::move(machines), fuzz::settings(tree.options), tree.options.keepDisturbed);
    for (bool markdown : {false, true})
        for (bool byMachine : {false, true}) {
            std::ostringstream text;
            (markdown ? writeMarkdown : writeText)(text, c, {markdown, byMachine || tree.options.byMachine});
            fuzz::requireTerminalSafe(text.str(), markdown ? "Markdown table" : "text table");
        }
    std::ostringstream html, json;
    writeHtml(html, c, {tree.options.markdown, tree.options.byMachine});
    fuzz::requireSafeHtml(html.str());
    writeJson(json, c);
    fuzz::requireJson(json.str());
    fuzz::requireTerminalSafe(json.str(), "JSON");
    return 0;
}
