// The whole comparison: machines of runs (and their machine.json) through
// the statistics and verdicts into every output: the table as text and as
// Markdown, plain and turned, the HTML page and the JSON document.
#include "fuzz_checks.h"
#include "html_report.h"
#include "json_output.h"
#include "machine.h"
#include "stats.h"
#include "table.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxMachines = 12, kMaxRuns = 96;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Options options;
    std::vector<Machine> machines;
    std::vector<std::string> records(kMaxMachines); // session.json per machine
    std::size_t runs = 0;
    for (fuzz::Part& part : fuzz::splitParts(data, size)) {
        if (part.kind == 'O')
            options = fuzz::parseOptions(part.name);
        else if (part.kind == 'M' && machines.size() < kMaxMachines) {
            machines.emplace_back();
            machines.back().name = part.name;
            machines.back().source = part.name;
        } else if (machines.empty())
            continue;
        else if (part.kind == 'J') {
            const std::string error = parseMachineInfo(part.body, machines.back().info);
            if (!error.empty())
                machines.back().infoError = machines.back().name + "/machine.json: " + error;
        } else if (part.kind == 'D')
            records[machines.size() - 1] = part.body;
        else if (part.kind == 'R' && runs < kMaxRuns) {
            Transcript t = readTranscript(part.body);
            if (!t.recognised())
                continue; // the reader refuses it
            machines.back().runs.push_back({machines.back().name + "/" + part.name, std::move(t)});
            ++runs;
        }
    }
    // The reader gives no machine without a run; it applies session.json
    // once the runs are read.
    std::vector<Machine> usable;
    for (std::size_t m = 0; m < machines.size(); ++m) {
        Machine& machine = machines[m];
        session::SessionRecord record;
        if (!records[m].empty() && session::parseRecord(records[m], record).empty())
            applyRecord(machine, record, machine.name + "/");
        if (!machine.runs.empty())
            usable.push_back(std::move(machine));
    }
    if (usable.empty())
        return 0;

    const Comparison c = compare(std::move(usable), settings(options));
    for (bool markdown : {false, true})
        for (bool byMachine : {false, true}) {
            std::ostringstream text;
            writeTable(text, c, {markdown, byMachine || options.byMachine});
            fuzz::requireTerminalSafe(text.str(), markdown ? "Markdown table" : "text table");
        }
    std::ostringstream html, json;
    writeHtml(html, c, {options.markdown, options.byMachine});
    fuzz::requireSafeHtml(html.str());
    writeJson(json, c);
    fuzz::requireJson(json.str());
    fuzz::requireTerminalSafe(json.str(), "JSON");
    return 0;
}
