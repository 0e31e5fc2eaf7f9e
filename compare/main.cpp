// cpubench-compare: compares saved cpubench transcripts of several machines
// in one table. Exit status: 0 every transcript complete with exact values,
// 1 a wrong value or an incomplete transcript, 2 a usage error, or a file
// that cannot be read or is no transcript (then no table).
#include "report.h"
#include "transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char kUsage[] = R"(Usage: cpubench-compare [--markdown] FILE...
Compares saved cpubench transcripts ("cpubench </dev/null > FILE", or the text
of a console window) in one table: a column per FILE, the first the baseline,
and a row per timed run. '-' reads standard input.

Each cell holds the run's time in seconds, its ratio to the baseline's time
(time / baseline time: lower is faster), and whether the fixed values are
exact. The values of the first line, double mul log, depend on the C
library's log: files are grouped by them. Wrong values and incomplete
transcripts (ended early, out of memory, GMP not bound, lines missing) are
listed below the table.

Options:
  --markdown  print the table as Markdown
  --help      print this help and exit

Exit status: 0 every transcript complete with exact values; 1 a wrong value
or an incomplete transcript; 2 a usage error, or a file that cannot be read
or is not a cpubench transcript.
)";

int usageError(const std::string& message)
{
    std::cerr << "cpubench-compare: " << message << "\nTry 'cpubench-compare --help'.\n";
    return 2;
}

// The whole file as bytes (binary mode: the reader handles CR LF itself).
bool readAll(const std::string& name, std::string& bytes)
{
    std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (file == nullptr)
        return false;
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, count);
    const bool failed = std::ferror(file) != 0;
    if (file != stdin)
        std::fclose(file);
    return !failed;
}

} // namespace

int main(int argc, char** argv)
{
    bool markdown = false;
    bool optionsEnd = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-')
            names.push_back(arg);
        else if (arg == "--")
            optionsEnd = true;
        else if (arg == "--markdown")
            markdown = true;
        else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else
            return usageError("unknown option '" + arg + "'");
    }
    if (names.empty())
        return usageError("no transcript files given");

    std::vector<NamedTranscript> files;
    bool unusable = false;
    for (const std::string& name : names) {
        std::string bytes;
        errno = 0;
        if (!readAll(name, bytes)) {
            std::cerr << "cpubench-compare: " << name << ": cannot read"
                      << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << '\n';
            unusable = true;
            continue;
        }
        files.push_back({name, readTranscript(bytes)});
        if (!files.back().transcript.recognised()) {
            std::cerr << "cpubench-compare: " << name << ": not a cpubench transcript\n";
            unusable = true;
        }
    }
    if (unusable)
        return 2;

    writeReport(std::cout, files, markdown);
    if (!std::cout.flush()) {
        std::cerr << "cpubench-compare: cannot write the table\n";
        return 2;
    }
    for (const NamedTranscript& file : files)
        if (!file.transcript.problems.empty())
            return 1;
    return 0;
}
