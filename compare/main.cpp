// cpubench-compare: compares saved cpubench transcripts of several machines,
// each with one or more runs, or shows each machine's history of lab runs.
// Options, then read (read/), analyse (analyse/), write (write/), and the
// exit status: 0 every run complete with exact values, 1 a wrong value or
// an incomplete run (everything is still written; for a history, in a
// machine's newest session), 2 a usage error, an input that cannot be read
// or holds no transcript (then nothing is written), or output that cannot
// be written, 3 (history) a machine's newest session is slower than before, or
// a finding across the machines is.
#include "comparison.h"
#include "escape.h"
#include "files.h"
#include "fleet_history.h"
#include "help.h"
#include "history.h"
#include "in_order.h"
#include "openmetrics.h"
#include "options.h"
#include "phrases.h"
#include "read.h"
#include "write.h"

#include <atomic>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace cpubench;

void complain(const std::string& message)
{
    std::cerr << "cpubench-compare: " << printable(message) << '\n';
}

// Writes the HTML page to `file`; false (with a message) when it cannot.
template <typename Write>
bool writeHtmlFile(const std::string& file, Write write)
{
    std::ofstream html(file, std::ios::binary);
    if (html)
        write(html);
    if (!html || !html.flush()) {
        complain(file + ": " + cannotWriteText("report"));
        return false;
    }
    return true;
}

// The OpenMetrics text to `file`, through a file beside it that replaces
// it once written whole (node_exporter never reads half of it); false
// (with a message) when it cannot be. Machines left out as duplicates are
// named.
bool writeOpenMetricsFile(const std::string& file, const std::vector<MetricsMachine>& machines)
{
    const MetricsText metrics = writeOpenMetrics(machines);
    for (const std::size_t m : metrics.duplicates)
        complain(file + ": " + duplicateMachineText(machines[m].name));
    if (const std::optional<std::string> error = writeWhole(file, metrics.text)) {
        complain(file + ": " + cannotWriteText("OpenMetrics file") + (error->empty() ? "" : ": " + *error));
        return false;
    }
    return true;
}

// Standard output once written: 2 (with a message) when it could not be.
int flushed(const char* what, int status)
{
    if (std::cout.flush())
        return status;
    complain(cannotWriteText(what));
    return 2;
}

// One history as read and analysed: what reading could not use, and what
// each output shows of it.
struct HistoryDone {
    std::vector<ReadIssue> errors;
    bool unusable = false; // no session
    std::optional<MachineHistory> machine;
    std::vector<HistoryWriter::Pieces> pieces; // per writer
    FleetPart fleet;                           // what the findings across machines keep of it
};

// Each history is read and analysed by itself, on every processor, and
// handed to the writers in the order given; only what the writers keep
// stays, so a lab's machines are never all in memory at once. A file that
// cannot be read or is no transcript is named, and the rest of the history
// is still shown; a folder without any session cannot be (then nothing is
// written, and the histories after it are only read, for their messages).
int showHistory(const FileTree& files, const Options& options)
{
    std::vector<std::unique_ptr<HistoryWriter>> writers;
    if (!options.htmlFile.empty())
        writers.push_back(historyHtmlWriter(options.verdicts, options.keepDisturbed));
    writers.push_back(options.json ? historyJsonWriter(options.verdicts, options.keepDisturbed)
                                   : historyTextWriter(options.verdicts, options.keepDisturbed));
    std::vector<MetricsMachine> metrics;
    std::vector<FleetPart> fleetParts;
    HistoryStatus status;
    std::atomic<bool> unusable{false};
    // A few machines ahead of the writers at most: each holds one history.
    const unsigned threads = usableProcessors();
    inOrder<HistoryDone>(
        options.paths.size(), threads, 2 * static_cast<std::size_t>(threads),
        [&](std::size_t i) {
            HistoryDone done;
            const History history = readHistory(files, options.paths[i]);
            done.errors = history.errors;
            done.unusable = history.sessions.empty();
            if (done.unusable || unusable)
                return done;
            done.machine = analyseHistory(history, options.verdicts, options.keepDisturbed);
            for (const auto& writer : writers)
                done.pieces.push_back(writer->pieces(*done.machine));
            done.fleet = fleetPartOf(*done.machine);
            return done;
        },
        [&](std::size_t, HistoryDone done) {
            for (const ReadIssue& error : done.errors)
                complain(readIssueText(error));
            if (done.unusable)
                unusable = true;
            if (unusable)
                return;
            for (std::size_t w = 0; w < writers.size(); ++w)
                writers[w]->add(*done.machine, std::move(done.pieces[w]));
            status.add(*done.machine);
            if (!options.openMetricsFile.empty())
                metrics.push_back(metricsOf(*done.machine));
            fleetParts.push_back(std::move(done.fleet));
        });
    if (unusable)
        return 2;
    // Findings across the machines, from what each left of itself.
    std::optional<FleetFindings> fleet;
    if (fleetParts.size() >= analyse::kFewestMachines) {
        fleet = analyseFleetParts(std::move(fleetParts), options.verdicts);
        for (const auto& writer : writers)
            writer->fleet(&*fleet);
        status.addFleet(fleet->newestSlower);
    }
    std::optional<std::string> spoolError;
    if (!options.htmlFile.empty() && !writeHtmlFile(options.htmlFile, [&](std::ostream& out) {
            spoolError = writers.front()->finish(out);
        }))
        return 2;
    if (spoolError) {
        complain(options.htmlFile + ": " + cannotWriteText("report") + ": " + *spoolError);
        return 2;
    }
    if (!options.openMetricsFile.empty() && !writeOpenMetricsFile(options.openMetricsFile, metrics))
        return 2;
    if ((spoolError = writers.back()->finish(std::cout))) {
        std::cout.flush();
        complain(cannotWriteText(options.json ? "JSON document" : "history") + ": " + *spoolError);
        return 2;
    }
    return flushed(options.json ? "JSON document" : "history", status.code());
}

int showComparison(const FileTree& files, const Options& options)
{
    std::vector<Machine> machines;
    bool unusable = false;
    for (const std::string& path : options.paths) {
        MachineRead read = readMachine(files, path);
        for (const ReadIssue& error : read.errors)
            complain(readIssueText(error));
        unusable = unusable || !read.errors.empty();
        if (read.machine.infoError)
            complain(readIssueText(*read.machine.infoError));
        machines.push_back(std::move(read.machine));
    }
    if (unusable)
        return 2;
    const Comparison comparison = compare(std::move(machines), options.verdicts, options.keepDisturbed);
    const TableOptions table{options.markdown, options.byMachine};
    if (!options.htmlFile.empty() &&
        !writeHtmlFile(options.htmlFile, [&](std::ostream& out) { writeHtml(out, comparison, table); }))
        return 2;
    if (options.json)
        writeJson(std::cout, comparison);
    else if (options.markdown)
        writeMarkdown(std::cout, comparison, table);
    else
        writeText(std::cout, comparison, table);
    return flushed(options.json ? "JSON document" : "table", comparison.problems.empty() ? 0 : 1);
}

} // namespace

int main(int argc, char** argv)
{
    const ParsedOptions parsed = parseOptions(argc, argv);
    if (parsed.error) {
        std::cerr << "cpubench-compare: " << printable(usageErrorText(*parsed.error))
                  << "\nTry 'cpubench-compare --help'.\n";
        return 2;
    }
    if (parsed.options.help) {
        std::cout << helpText();
        return 0;
    }
    const SystemTree files;
    return parsed.options.history ? showHistory(files, parsed.options) : showComparison(files, parsed.options);
}
