// cpubench-compare: compares saved cpubench transcripts of several machines,
// each with one or more runs. Exit status: 0 every run complete with exact
// values, 1 a wrong value or an incomplete run (everything is still
// written), 2 a usage error, an input that cannot be read or holds no
// transcript (then nothing is written), or output that cannot be written.
#include "html_report.h"
#include "json_output.h"
#include "machine.h"
#include "stats.h"
#include "table.h"

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char kUsage[] = R"(Usage: cpubench-compare [--markdown | --json] [--by-machine] [--html FILE] PATH...
Compares saved cpubench transcripts ("cpubench </dev/null > FILE", or the text
of a console window) of several machines in one table, the first machine the
baseline. A PATH that is a file is one machine with one run, named by the
file ('-' reads standard input). A PATH that is a directory is one machine
named by the directory: its runs are the *.txt files in it, and an optional
machine.json describes it (processor, logical_cpus, memory_mib, os, kernel,
virtualization, microcode, firmware_vendor, firmware_version, firmware_date,
mitigations, glibc, gmp, gmp_version, governor, cpubench_version). A
directory whose sub-directories hold *.txt files is a machine's history, a
session folder per lab run named by its start (2026-12-08T14.05Z): its newest
session is compared, with its own machine.json, and a note says which.

For each machine and timed line the table shows the median time of its good
runs in seconds, with the fastest..slowest run when it has two or more, the
ratio of its median to the baseline's (lower is faster), and whether the
fixed values are exact. A run with a wrong value or an incomplete run is
named, left out of its machine's statistics, and the machine is flagged.
A ratio marked '~' is within run-to-run noise: both machines have two or
more good runs and their fastest..slowest ranges overlap. That is a plain
overlap rule, not a significance test; with one run per machine nothing is
said about noise. The values of the first line, double mul log, depend on
the C library's log: machines are grouped by them.

Options:
  --markdown    print the table as Markdown
  --by-machine  turn the table: a row per machine, a column per line (chosen
                by itself when the table would be wider than 100 columns)
  --html FILE   also write a self-contained HTML report with a bar chart per
                line to FILE
  --json        print every value, time, statistic and problem as one JSON
                document in place of the table
  --help        print this help and exit

Exit status: 0 every run complete with exact values; 1 a wrong value or an
incomplete run (all output is still written); 2 a usage error, a path that
cannot be read or holds no cpubench transcript, or output that cannot be
written.
)";

int usageError(const std::string& message)
{
    std::cerr << "cpubench-compare: " << message << "\nTry 'cpubench-compare --help'.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    TableOptions table;
    bool json = false;
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
        else if (arg == "--html" || arg.rfind("--html=", 0) == 0) {
            if (arg == "--html" && i + 1 == argc)
                return usageError("--html needs a file name");
            htmlFile = arg == "--html" ? argv[++i] : arg.substr(7);
            if (htmlFile.empty())
                return usageError("--html needs a file name");
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else
            return usageError("unknown option '" + arg + "'");
    }
    if (json && table.markdown)
        return usageError("--json and --markdown exclude each other");
    if (paths.empty())
        return usageError("no transcript files given");

    std::vector<Machine> machines;
    bool unusable = false;
    for (const std::string& path : paths) {
        ReadResult read = readMachine(path);
        for (const std::string& error : read.errors)
            std::cerr << "cpubench-compare: " << error << '\n';
        unusable = unusable || !read.errors.empty();
        if (!read.machine.infoError.empty())
            std::cerr << "cpubench-compare: " << read.machine.infoError << '\n';
        machines.push_back(std::move(read.machine));
    }
    if (unusable)
        return 2;

    const Comparison comparison = compare(std::move(machines));
    if (!htmlFile.empty()) {
        std::ofstream html(htmlFile, std::ios::binary);
        if (html)
            writeHtml(html, comparison, table);
        if (!html || !html.flush()) {
            std::cerr << "cpubench-compare: " << htmlFile << ": cannot write the report\n";
            return 2;
        }
    }
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
