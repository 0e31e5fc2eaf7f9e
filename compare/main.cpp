// cpubench-compare: compares saved cpubench transcripts of several machines,
// each with one or more runs, or shows each machine's history of lab runs.
// Exit status: 0 every run complete with exact values, 1 a wrong value or an
// incomplete run (everything is still written; for a history, in a
// machine's newest session), 2 a usage error, an input that cannot be read
// or holds no transcript (then nothing is written), or output that cannot be
// written, 3 (history) a machine's newest session is slower than before.
#include "history_report.h"
#include "html_report.h"
#include "json_output.h"
#include "machine.h"
#include "printable.h"
#include "stats.h"
#include "table.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kUsage[] = R"(Usage: cpubench-compare [--markdown | --json] [--by-machine] [--html FILE]
                        [--threshold PERCENT] [--confidence PERCENT]
                        [--keep-disturbed] PATH...
       cpubench-compare --history [--json] [--html FILE] [--threshold PERCENT]
                        [--confidence PERCENT] DIR...
Compares saved cpubench transcripts ("cpubench </dev/null > FILE", or the text
of a console window) of several machines in one table, the first machine the
baseline. A PATH that is a file is one machine with one run, named by the
file ('-' reads standard input). A PATH that is a directory is one machine
named by the directory: its runs are the *.txt files in it, and an optional
machine.json describes it (processor, logical_cpus, memory_mib, os, kernel,
virtualization, microcode, firmware_vendor, firmware_version, firmware_date,
mitigations, glibc, c_runtime, gmp, gmp_version, governor, cpubench_version). A
directory whose sub-directories hold *.txt files is a machine's history, a
session folder per lab run named by its start (2026-12-08T14.05Z): its newest
session is compared, with its own machine.json, and a note says which.

For each machine and timed line the table shows the median time of its good
runs in seconds, with the fastest..slowest run when it has two or more, the
ratio of its median to the baseline's (lower is faster), and whether the
fixed values are exact. A run with a wrong value or an incomplete run is
named, left out of its machine's statistics, and the machine is flagged.

Each ratio comes with a 95% confidence interval (the Hodges-Lehmann shift of
the log-times with its exact Mann-Whitney interval) and a verdict: slower or
faster (the interval leaves out 1 and the ratio is beyond the threshold, 2%),
same (the interval lies within the threshold), or undecided (too few runs:
a decision needs 4 runs per machine or more; or too much spread). A summary
row gives the geometric mean of the ratios of the lines that measure one
thread's work, with its own interval and verdict. A run far from its
machine's other runs is named in the notes. The values of the first line,
double mul log, depend on the C library's log: machines are grouped by them.

With --history, each DIR is one machine's history as the lab playbook keeps
it: a folder per lab run (session), named by its start in UTC, each with its
runs and machine.json. It lists every change in a line's speed (a difference
between the runs before and after a session, tested like a comparison) with
the machine.json facts that changed at that session, one-session excursions
apart, and the session where a machine's values turned wrong.

A session recorded by cpubench-record has a session.json with what else the
system did while each line ran. A line that others took more than 3% of its
time from, or that ran during thermal throttling, is named "disturbed" and
left out of its machine's statistics; a session whose recording was stopped
early is named incomplete.

Options:
  --history     show each DIR's sessions over time, with the changes
  --markdown    print the table as Markdown
  --by-machine  turn the table: a row per machine, a column per line (chosen
                by itself when the table would be wider than 100 columns)
  --html FILE   also write a self-contained HTML report with a bar chart per
                line to FILE
  --json        print every value, time, statistic and problem as one JSON
                document in place of the table
  --threshold PERCENT
                the smallest difference that counts as slower or faster, and
                the width of "same" (default 2)
  --confidence PERCENT
                the level of the intervals (default 95; 50 to 99.9)
  --keep-disturbed
                name disturbed lines but keep them in the statistics
  --help        print this help and exit

Exit status: 0 every run complete with exact values; 1 a wrong value or an
incomplete run (all output is still written; with --history, in a machine's
newest session); 2 a usage error, a path that cannot be read or holds no
cpubench transcript, or output that cannot be written; 3 with --history, no
such problem, but a machine's newest session is slower than the sessions
before it (for a scheduled job's alert).
)";

// A percentage such as "2", "2.5" or "2%" within [low, high]; none when it
// is not one.
std::optional<double> percentage(const std::string& text, double low, double high)
{
    std::string digits = text;
    if (!digits.empty() && digits.back() == '%')
        digits.pop_back();
    if (digits.empty() || digits.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size() || !(value >= low && value <= high))
        return std::nullopt;
    return value / 100;
}

int usageError(const std::string& message)
{
    std::cerr << "cpubench-compare: " << printable(message) << "\nTry 'cpubench-compare --help'.\n";
    return 2;
}

// Writes the HTML page to `file`; false (with a message) when it cannot.
template <typename Write>
bool writeHtmlFile(const std::string& file, Write write)
{
    std::ofstream html(file, std::ios::binary);
    if (html)
        write(html);
    if (!html || !html.flush()) {
        std::cerr << "cpubench-compare: " << printable(file) << ": cannot write the report\n";
        return false;
    }
    return true;
}

int showHistory(const std::vector<std::string>& paths, const VerdictSettings& verdicts, bool json,
                const std::string& htmlFile, bool keepDisturbed)
{
    std::vector<History> histories;
    bool unusable = false;
    for (const std::string& path : paths) {
        History history = readHistory(path);
        // A file that cannot be read or is no transcript is named, and the
        // rest of the history is still shown; a folder without any session
        // cannot be.
        for (const std::string& error : history.errors)
            std::cerr << "cpubench-compare: " << printable(error) << '\n';
        if (history.sessions.empty())
            unusable = true;
        for (Session& session : history.sessions)
            session.machine.keepDisturbed = keepDisturbed;
        histories.push_back(std::move(history));
    }
    if (unusable)
        return 2;
    HistoryReport report = analyseHistories(histories, verdicts);
    for (const History& history : histories) {
        report.notes.insert(report.notes.end(), history.notes.begin(), history.notes.end());
        for (const std::string& error : history.errors)
            report.notes.push_back("left out: " + error);
    }
    if (!htmlFile.empty() && !writeHtmlFile(htmlFile, [&](std::ostream& out) { writeHistoryHtml(out, report); }))
        return 2;
    if (json)
        writeHistoryJson(std::cout, report);
    else
        writeHistoryText(std::cout, report);
    if (!std::cout.flush()) {
        std::cerr << "cpubench-compare: cannot write the " << (json ? "JSON document" : "history") << '\n';
        return 2;
    }
    return historyStatus(report);
}

} // namespace

int main(int argc, char** argv)
{
    TableOptions table;
    VerdictSettings verdicts;
    bool json = false, history = false, keepDisturbed = false;
    std::string htmlFile;
    bool optionsEnd = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-')
            paths.push_back(arg);
        else if (arg == "--")
            optionsEnd = true;
        else if (arg == "--markdown")
            table.markdown = true;
        else if (arg == "--by-machine")
            table.byMachine = true;
        else if (arg == "--json")
            json = true;
        else if (arg == "--history")
            history = true;
        else if (arg == "--keep-disturbed")
            keepDisturbed = true;
        else if (arg == "--html" || arg.rfind("--html=", 0) == 0) {
            if (arg == "--html" && i + 1 == argc)
                return usageError("--html needs a file name");
            htmlFile = arg == "--html" ? argv[++i] : arg.substr(7);
            if (htmlFile.empty())
                return usageError("--html needs a file name");
        } else if (arg == "--threshold" || arg == "--confidence" || arg.rfind("--threshold=", 0) == 0 ||
                   arg.rfind("--confidence=", 0) == 0) {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (equals == std::string::npos && i + 1 == argc)
                return usageError(name + " needs a percentage");
            const std::string value = equals == std::string::npos ? argv[++i] : arg.substr(equals + 1);
            const bool threshold = name == "--threshold";
            const std::optional<double> fraction =
                threshold ? percentage(value, 0, 50) : percentage(value, 50, 99.9);
            if (!fraction)
                return usageError(name + " takes a percentage " + (threshold ? "from 0 to 50" : "from 50 to 99.9") +
                                  ", not '" + value + "'");
            (threshold ? verdicts.threshold : verdicts.level) = *fraction;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else
            return usageError("unknown option '" + arg + "'");
    }
    if (json && table.markdown)
        return usageError("--json and --markdown exclude each other");
    if (paths.empty())
        return usageError(history ? "no history folder given" : "no transcript files given");
    if (history) {
        if (table.markdown || table.byMachine)
            return usageError("--history takes no --markdown or --by-machine");
        return showHistory(paths, verdicts, json, htmlFile, keepDisturbed);
    }

    std::vector<Machine> machines;
    bool unusable = false;
    for (const std::string& path : paths) {
        ReadResult read = readMachine(path);
        for (const std::string& error : read.errors)
            std::cerr << "cpubench-compare: " << printable(error) << '\n';
        unusable = unusable || !read.errors.empty();
        read.machine.keepDisturbed = keepDisturbed;
        if (!read.machine.infoError.empty())
            std::cerr << "cpubench-compare: " << printable(read.machine.infoError) << '\n';
        machines.push_back(std::move(read.machine));
    }
    if (unusable)
        return 2;

    const Comparison comparison = compare(std::move(machines), verdicts);
    if (!htmlFile.empty() && !writeHtmlFile(htmlFile, [&](std::ostream& out) { writeHtml(out, comparison, table); }))
        return 2;
    if (json)
        writeJson(std::cout, comparison);
    else
        writeTable(std::cout, comparison, table);
    if (!std::cout.flush()) {
        std::cerr << "cpubench-compare: cannot write the " << (json ? "JSON document" : "table") << '\n';
        return 2;
    }
    return comparison.problems.empty() ? 0 : 1;
}
