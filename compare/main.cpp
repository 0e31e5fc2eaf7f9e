// cpubench-compare: compares saved cpubench transcripts of several machines,
// each with one or more runs, or shows each machine's history of lab runs.
// Options, then read (read/), analyse (analyse/), write (write/), and the
// exit status: 0 every run complete with exact values, 1 a wrong value or
// an incomplete run (everything is still written; for a history, in a
// machine's newest session), 2 a usage error, an input that cannot be read
// or holds no transcript (then nothing is written), or output that cannot
// be written, 3 (history) a machine's newest session is slower than before.
#include "comparison.h"
#include "escape.h"
#include "help.h"
#include "history.h"
#include "options.h"
#include "phrases.h"
#include "read.h"
#include "write.h"

#include <fstream>
#include <iostream>
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

// Standard output once written: 2 (with a message) when it could not be.
int flushed(const char* what, int status)
{
    if (std::cout.flush())
        return status;
    complain(cannotWriteText(what));
    return 2;
}

// Each history is read and analysed by itself, and only what its analysis
// keeps stays: a lab's machines are never all in memory at once. A file
// that cannot be read or is no transcript is named, and the rest of the
// history is still shown; a folder without any session cannot be.
int showHistory(const FileTree& files, const Options& options)
{
    HistoryReport report{options.verdicts, options.keepDisturbed, {}};
    bool unusable = false;
    for (const std::string& path : options.paths) {
        const History history = readHistory(files, path);
        for (const ReadIssue& error : history.errors)
            complain(readIssueText(error));
        unusable = unusable || history.sessions.empty();
        if (!unusable)
            report.machines.push_back(analyseHistory(history, options.verdicts, options.keepDisturbed));
    }
    if (unusable)
        return 2;
    if (!options.htmlFile.empty() &&
        !writeHtmlFile(options.htmlFile, [&](std::ostream& out) { writeHistoryHtml(out, report); }))
        return 2;
    if (options.json)
        writeHistoryJson(std::cout, report);
    else
        writeHistoryText(std::cout, report);
    return flushed(options.json ? "JSON document" : "history", historyStatus(report));
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
