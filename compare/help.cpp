#include "help.h"

#include "disturbance.h"
#include "join.h"
#include "machine_info.h"
#include "numbers.h"
#include "openmetrics.h"
#include "ranks.h"
#include "session_names.h"
#include "table.h"

namespace cpubench {

namespace {

std::string number(double value)
{
    return format("%g", value);
}

std::string synopsisAndPaths()
{
    std::vector<std::string> keys;
    for (const InfoField& field : kInfoFields)
        keys.emplace_back(field.key);
    return "Usage: cpubench-compare [--markdown | --json] [--by-machine] [--html FILE]\n"
           "                        [--threshold PERCENT] [--confidence PERCENT]\n"
           "                        [--keep-disturbed] PATH...\n"
           "       cpubench-compare --history [--json] [--html FILE] [--openmetrics FILE]\n"
           "                        [--threshold PERCENT] [--confidence PERCENT] DIR...\n"
           "Compares saved cpubench transcripts (\"cpubench </dev/null > FILE\", or the text\n"
           "of a console window) of several machines in one table, the first machine the\n"
           "baseline. A PATH that is a file is one machine with one run, named by the\n"
           "file ('-' reads standard input). A PATH that is a directory is one machine\n"
           "named by the directory: its runs are the *.txt files in it, and an optional\n" +
           joined(wrapped("machine.json describes it (" + joined(keys, ", ") + "). A", 79, ""), "\n") +
           "\ndirectory whose sub-directories hold *.txt files is a machine's history, a\n"
           "session folder per lab run named by its start (" + std::string(kSessionNameExample) + "): its newest\n"
           "session is compared, with its own machine.json, and a note says which.\n\n"
           "For each machine and timed line the table shows the median time of its good\n"
           "runs in seconds, with the fastest..slowest run when it has two or more, the\n"
           "ratio of its median to the baseline's (lower is faster), and whether the\n"
           "fixed values are exact. A run with a wrong value or an incomplete run is\n"
           "named, left out of its machine's statistics, and the machine is flagged.\n\n";
}

// --openmetrics: its series and labels, from the writer's own lists.
std::string openMetricsHelp()
{
    std::vector<std::string> families, facts;
    for (const MetricFamily& family : kMetricFamilies)
        families.emplace_back(family.name);
    for (const char* key : kFactLabels)
        facts.emplace_back(key);
    const std::string text = "                with --history, also write the newest session of each machine and "
                             "line as OpenMetrics text for Prometheus's node_exporter: " +
                             joined(families, ", ") + "; labelled machine, line, and " + joined(facts, ", ") +
                             " where machine.json has them. FILE is replaced at once, when written whole";
    return joined(wrapped(text, 79, std::string(16, ' ')), "\n") + "\n";
}

std::string verdictsAndHistory()
{
    const VerdictSettings defaults;
    return "Each ratio comes with a " + percentText(defaults.level) +
           " confidence interval (the Hodges-Lehmann shift of\n"
           "the log-times with its exact Mann-Whitney interval) and a verdict: slower or\n"
           "faster (the interval leaves out 1 and the ratio is beyond the threshold, " +
           percentText(defaults.threshold) + "),\n"
           "same (the interval lies within the threshold), or undecided (too few runs:\n"
           "a decision needs " + std::to_string(ranks::fewestRunsToDecide(1 - defaults.level)) +
           " runs per machine or more; or too much spread). A summary\n"
           "row gives the geometric mean of the ratios of the lines that measure one\n"
           "thread's work, with its own interval and verdict. A run far from its\n"
           "machine's other runs is named in the notes. The values of the first line,\n"
           "double mul log, depend on the C library's log: machines are grouped by them.\n\n"
           "With --history, each DIR is one machine's history as the lab playbook keeps\n"
           "it: a folder per lab run (session), named by its start in UTC, each with its\n"
           "runs and machine.json. It lists every change in a line's speed (a difference\n"
           "between the runs before and after a session, tested like a comparison) with\n"
           "the machine.json facts that changed at that session, one-session excursions\n"
           "apart, and the session where a machine's values turned wrong.\n\n"
           "A session recorded by cpubench-record has a session.json with what else the\n"
           "system did while each line ran. A line that others (or the hypervisor, or\n"
           "thermal throttling) took an unusual share of time from, for that line on\n"
           "that machine, and whose time moved beyond the line's spread, is named\n"
           "\"disturbed\" and left out of its machine's statistics, unless most of the\n"
           "line's runs are: then all are kept and the line's verdict is weaker. A run\n"
           "far from the line's other runs with no outside cause is named \"irregular\"\n"
           "and kept. A session whose recording was stopped early is named incomplete.\n\n";
}

std::string optionsAndStatus()
{
    const VerdictSettings defaults;
    return "Options:\n"
           "  --history     show each DIR's sessions over time, with the changes\n"
           "  --markdown    print the table as Markdown\n"
           "  --by-machine  turn the table: a row per machine, a column per line (chosen\n"
           "                by itself when the table would be wider than " + std::to_string(kTableWidth) +
           " columns)\n"
           "  --html FILE   also write a self-contained HTML report with a bar chart per\n"
           "                line to FILE\n"
           "  --json        print every value, time, statistic and problem as one JSON\n"
           "                document in place of the table\n"
           "  --openmetrics FILE\n" + openMetricsHelp() +
           "  --threshold PERCENT\n"
           "                the smallest difference that counts as slower or faster, and\n"
           "                the width of \"same\" (default " + number(defaults.threshold * 100) + ")\n"
           "  --confidence PERCENT\n"
           "                the level of the intervals (default " + number(defaults.level * 100) + "; " +
           number(kLowestConfidence) + " to " + number(kHighestConfidence) + ")\n"
           "  --keep-disturbed\n"
           "                name disturbed lines but keep them in the statistics\n"
           "  --help        print this help and exit\n\n"
           "Exit status: 0 every run complete with exact values; 1 a wrong value or an\n"
           "incomplete run (all output is still written; with --history, in a machine's\n"
           "newest session); 2 a usage error, a path that cannot be read or holds no\n"
           "cpubench transcript, or output that cannot be written; 3 with --history, no\n"
           "such problem, but a machine's newest session is slower than the sessions\n"
           "before it, alone or in a fact change across machines (for a scheduled job's\n"
           "alert).\n";
}

} // namespace

std::string helpText()
{
    return synopsisAndPaths() + verdictsAndHistory() + optionsAndStatus();
}

std::string usageErrorText(const UsageError& error)
{
    using Kind = UsageError::Kind;
    switch (error.kind) {
    case Kind::htmlNeedsFile: return "--html needs a file name";
    case Kind::openMetricsNeedsFile: return "--openmetrics needs a file name";
    case Kind::openMetricsNeedsHistory: return "--openmetrics needs --history";
    case Kind::needsPercentage: return error.option + " needs a percentage";
    case Kind::badPercentage: {
        const bool threshold = error.option == "--threshold";
        return error.option + " takes a percentage from " +
               number(threshold ? kLowestThreshold : kLowestConfidence) + " to " +
               number(threshold ? kHighestThreshold : kHighestConfidence) + ", not '" + error.value + "'";
    }
    case Kind::unknownOption: return "unknown option '" + error.option + "'";
    case Kind::jsonAndMarkdown: return "--json and --markdown exclude each other";
    case Kind::noPaths: return error.history ? "no history folder given" : "no transcript files given";
    case Kind::historyTakesNoTable: return "--history takes no --markdown or --by-machine";
    }
    return "";
}

} // namespace cpubench
