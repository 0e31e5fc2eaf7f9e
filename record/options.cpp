#include "options.h"

#include "session_names.h"

#include <stdexcept>

namespace cpubench {

namespace {

// A whole number from 1 to `high`; 0 when the text is none.
int count(const std::string& text, int high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int value = std::stoi(text);
    return value <= high ? value : 0;
}

// The value of option `name` in `arg` ("--name=value") or in the next
// argument; false when `arg` is another option.
bool valueOf(const char* name, const std::string& arg, int& i, int argc, char** argv, std::string& into)
{
    const std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) == 0) {
        into = arg.substr(prefix.size());
        return true;
    }
    if (arg != name)
        return false;
    if (i + 1 == argc)
        throw std::runtime_error(std::string(name) + " needs a value");
    into = argv[++i];
    return true;
}

void option(const std::string& arg, int& i, int argc, char** argv, RecordOptions& options)
{
    std::string text;
    if (valueOf("--runs", arg, i, argc, argv, text)) {
        if ((options.runs = count(text, kMaxRuns)) == 0)
            throw std::runtime_error("--runs takes a whole number from 1 to " + std::to_string(kMaxRuns) + ", not '" +
                                     text + "'");
    } else if (valueOf("--pause", arg, i, argc, argv, text)) {
        if (text != "0" && (options.pause = count(text, kMaxPause)) == 0)
            throw std::runtime_error("--pause takes whole seconds from 0 to " + std::to_string(kMaxPause) + ", not '" +
                                     text + "'");
        if (text == "0")
            options.pause = 0;
    } else if (valueOf("--timeout", arg, i, argc, argv, text)) {
        if ((options.timeout = count(text, kMaxTimeout)) == 0)
            throw std::runtime_error("--timeout takes whole seconds from 1 to " + std::to_string(kMaxTimeout) +
                                     ", not '" + text + "'");
    } else if (valueOf("--benchmark", arg, i, argc, argv, options.benchmark)) {
        if (options.benchmark.empty())
            throw std::runtime_error("--benchmark needs a program");
    } else if (valueOf("--session", arg, i, argc, argv, options.session)) {
        if (!isSessionName(options.session))
            throw std::runtime_error("--session takes a name like " + std::string(kSessionNameExample) + ", not '" +
                                     options.session + "'");
    } else if (arg == "--help" || arg == "-h")
        options.help = true;
    else if (arg.size() > 1 && arg[0] == '-')
        throw std::runtime_error("unknown option '" + arg + "'");
    else if (!options.dir.empty())
        throw std::runtime_error("one DIR only");
    else
        options.dir = arg;
}

} // namespace

ParsedRecordOptions parseRecordOptions(int argc, char** argv)
{
    ParsedRecordOptions parsed;
    try {
        for (int i = 1; i < argc && !parsed.options.help; ++i)
            option(argv[i], i, argc, argv, parsed.options);
    } catch (const std::runtime_error& e) {
        parsed.error = e.what();
        return parsed;
    }
    if (!parsed.options.help && parsed.options.dir.empty())
        parsed.error = "no folder given";
    return parsed;
}

std::string recordHelpText()
{
    return "Usage: cpubench-record [--runs N] [--pause SECONDS] [--timeout SECONDS]\n"
           "                       [--benchmark PROGRAM] [--session NAME] DIR\n"
           "Runs the benchmark N times, one run after another, and keeps each run's\n"
           "transcript, unchanged, in a new session folder of DIR named by the start in\n"
           "UTC (" + std::string(kSessionNameExample) + "; -2, -3, ... when taken), with machine.json (the\n"
           "machine's facts) and session.json (how the recording went, and what else the\n"
           "system did while each line ran: the CPU time other processes took, the time\n"
           "the hypervisor stole, the time the benchmark's threads waited for a\n"
           "processor, thermal throttling). Each call adds a session: cpubench-compare\n"
           "DIR compares the newest, cpubench-compare --history DIR shows them all.\n\n"
           "Options:\n"
           "  --runs N            runs in the session (default " + std::to_string(kDefaultRuns) + ")\n"
           "  --pause SECONDS     wait this long before each run but the first (default " +
           std::to_string(kDefaultPause) + ",\n"
           "                      no pause)\n"
           "  --timeout SECONDS   a run still going after this is stopped, and its\n"
           "                      transcript kept as run-K.partial.txt (default " +
           std::to_string(kDefaultTimeout) + ")\n"
           "  --benchmark PROGRAM the benchmark to run (default: cpubench beside this\n"
           "                      program)\n"
           "  --session NAME      the session folder's name, in the form above (the lab\n"
           "                      gives all hosts one name); it must not exist yet\n"
           "  --help              print this help and exit\n\n"
           "Exit status: 0 every run complete with exact values; 1 a wrong value, a\n"
           "failed run or a run stopped after the timeout; 2 nothing could be recorded\n"
           "(a usage error, DIR cannot be written, the benchmark is missing, the disk is\n"
           "full); 130 or 143 stopped by SIGINT or SIGTERM, the runs so far kept and the\n"
           "session marked incomplete.\n";
}

} // namespace cpubench
