// cpubench-record: runs the benchmark several times, one run after another,
// into a session folder of DIR with each run's transcript, machine.json and
// session.json (what else the system did while each line ran).
//
// Exit status: 0 every run complete with exact values; 1 a run with a wrong
// value, a failed run or one stopped after the timeout (all kept); 2 nothing
// could be recorded (usage, DIR, the benchmark, the disk); 130 or 143
// stopped by SIGINT or SIGTERM (the runs recorded so far are kept).
#include "child.h"
#include "facts.h"
#include "probe.h"
#include "report.h"
#include "session.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kUsage[] = R"(Usage: cpubench-record [--runs N] [--pause SECONDS] [--timeout SECONDS]
                       [--benchmark PROGRAM] [--session NAME] DIR
Runs the benchmark N times, one run after another, and keeps each run's
transcript, unchanged, in a new session folder of DIR named by the start in
UTC (2026-12-08T14.05Z; -2, -3, ... when taken), with machine.json (the
machine's facts) and session.json (how the recording went, and what else the
system did while each line ran: the CPU time other processes took, the time
the hypervisor stole, the time the benchmark's threads waited for a
processor, thermal throttling). Each call adds a session: cpubench-compare
DIR compares the newest, cpubench-compare --history DIR shows them all.

Options:
  --runs N            runs in the session (default @RUNS@)
  --pause SECONDS     wait this long before each run but the first, so that
                      no run starts while the system still clears up after
                      the one before (default @PAUSE@; 0 for none)
  --timeout SECONDS   a run still going after this is stopped, and its
                      transcript kept as run-K.partial.txt (default @TIMEOUT@)
  --benchmark PROGRAM the benchmark to run (default: cpubench beside this
                      program)
  --session NAME      the session folder's name, in the form above (the lab
                      gives all hosts one name); it must not exist yet
  --help              print this help and exit

Exit status: 0 every run complete with exact values; 1 a wrong value, a
failed run or a run stopped after the timeout; 2 nothing could be recorded
(a usage error, DIR cannot be written, the benchmark is missing, the disk is
full); 130 or 143 stopped by SIGINT or SIGTERM, the runs so far kept and the
session marked incomplete.
)";

// The help, with the defaults filled in.
std::string usage()
{
    std::string text = kUsage;
    for (const auto& [name, value] : {std::pair{"@RUNS@", session::kDefaultRuns},
                                      std::pair{"@PAUSE@", session::kDefaultPause},
                                      std::pair{"@TIMEOUT@", session::kDefaultTimeout}})
        text.replace(text.find(name), std::string_view(name).size(), std::to_string(value));
    return text;
}

#ifndef CPUBENCH_VERSION
#define CPUBENCH_VERSION "unknown"
#endif

volatile std::sig_atomic_t gSignal = 0;

extern "C" void onSignal(int number)
{
    gSignal = number;
}

void catchSignals()
{
#ifdef _WIN32
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a wait for output returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int fail(const std::string& message)
{
    std::cerr << "cpubench-record: " << message << '\n';
    return 2;
}

// Writes `text` to `path` through a file beside it, so that a reader never
// sees half of it; the error, empty when written.
std::string writeWhole(const fs::path& path, const std::string& text)
{
    const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".new");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return path.string() + ": cannot write" + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        return path.string() + ": cannot write: " + error.message();
    }
    return "";
}

struct Options {
    int runs = session::kDefaultRuns;
    int pause = session::kDefaultPause;
    int timeout = session::kDefaultTimeout;
    std::string benchmark;
    std::string session;
    std::string dir;
};

// A whole number from 1 to `high`; 0 when the text is none.
int count(const std::string& text, int high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int value = std::stoi(text);
    return value <= high ? value : 0;
}

bool validSessionName(const std::string& name)
{
    // 2026-12-08T14.05Z, maybe with -2, -3, ...
    const std::string shape = "dddd-dd-ddTdd.ddZ";
    if (name.size() < shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(name[i])) : name[i] != shape[i])
            return false;
    if (name.size() == shape.size())
        return true;
    return name[shape.size()] == '-' && name.size() > shape.size() + 1 &&
           name.find_first_not_of("0123456789", shape.size() + 1) == std::string::npos;
}

// Makes a new session folder in `dir`; never one that exists.
bool makeSession(const Options& options, fs::path& folder, std::string& error)
{
    std::error_code code;
    fs::create_directories(options.dir, code);
    if (code) {
        error = options.dir + ": cannot make the folder: " + code.message();
        return false;
    }
    const std::string base = options.session.empty() ? session::baseName(std::time(nullptr)) : options.session;
    for (int n = 1; n <= (options.session.empty() ? 1000 : 1); ++n) {
        folder = fs::path(options.dir) / session::numberedName(base, n);
        if (fs::create_directory(folder, code))
            return true;
        if (code) {
            error = folder.string() + ": cannot make the session folder: " + code.message();
            return false;
        }
    }
    error = folder.string() + ": the session exists already";
    return false;
}

// The line a result line starts with, or kLineCount.
std::size_t resultLine(const std::string& text)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return expected::kLineCount;
    for (std::size_t i = 0; i < expected::kLineCount; ++i)
        if (text.compare(start, expected::kLines[i].label.size(), expected::kLines[i].label) == 0)
            return i;
    return expected::kLineCount;
}

struct Recorder {
    Options options;
    fs::path folder;
    MachineInfo info;
    bool gmpFound = false;
    session::SessionRecord record;
    std::vector<RecordedRun> runs;
    std::string diskError; // set when a file could not be written
    double started = now();

    bool save()
    {
        const std::string error = writeWhole(folder / session::kRecordFile, session::writeRecord(record));
        if (!error.empty() && diskError.empty())
            diskError = error;
        return error.empty();
    }

    bool saveInfo()
    {
        const std::string error = writeWhole(folder / "machine.json", writeMachineInfo(info));
        if (!error.empty() && diskError.empty())
            diskError = error;
        return error.empty();
    }

    // One run into run-K.txt; false when recording must stop.
    bool run(int number, Progress& progress)
    {
        RecordedRun recorded;
        session::RunRecord& entry = recorded.record;
        entry.file = "run-" + std::to_string(number) + ".txt";
        const fs::path path = folder / entry.file;
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        if (file == nullptr) {
            diskError = path.string() + ": cannot write: " + std::strerror(errno);
            return false;
        }
        Child child;
        std::string error;
        if (!child.start(options.benchmark, error)) {
            std::fclose(file);
            std::error_code ignored;
            fs::remove(path, ignored);
            diskError = error;
            return false;
        }
        const double runStart = now();
        Sample last = takeSample(child.id());
        std::string text, line;
        std::size_t next = expected::kLineCount; // the line now running; none before the banner
        enum class Stop { none, signal, timeout, disk } stop = Stop::none;
        for (;;) {
            if (gSignal != 0) {
                stop = Stop::signal;
                break;
            }
            if (now() - runStart > options.timeout) {
                stop = Stop::timeout;
                break;
            }
            std::string chunk;
            const Child::Read got = child.read(chunk, 200);
            if (got == Child::Read::end || got == Child::Read::error)
                break;
            if (got == Child::Read::data) {
                // The bytes as they came, at once: a recorder stopped in the
                // middle leaves every line printed so far.
                if (std::fwrite(chunk.data(), 1, chunk.size(), file) != chunk.size() || std::fflush(file) != 0) {
                    diskError = path.string() + ": cannot write: " + std::strerror(errno);
                    stop = Stop::disk;
                    break;
                }
                text += chunk;
                for (char c : chunk) {
                    if (c != '\n') {
                        if (line.size() < 4096)
                            line += c;
                        continue;
                    }
                    const Sample sample = takeSample(child.id());
                    const std::size_t index = resultLine(line);
                    if (index < expected::kLineCount) {
                        entry.lines[index] = figuresBetween(last, sample);
                        next = index + 1;
                    } else if (next == expected::kLineCount && line.find(expected::kBanner) != std::string::npos)
                        next = 0;
                    last = sample;
                    line.clear();
                }
                if (!gmpFound && addProcessFacts(info, child.id())) {
                    gmpFound = true;
                    saveInfo();
                }
            }
            progress.show(number, next, now() - runStart, now() - started);
        }
        if (stop != Stop::none)
            child.stop();
        entry.exitStatus = child.wait();
        // What is left in the pipe after the end.
        std::fclose(file);
        recorded.transcript = readTranscript(text);
        std::string outcome;
        switch (stop) {
        case Stop::none:
            entry.status = entry.exitStatus == 0 && recorded.transcript.problems.empty() ? session::RunStatus::complete
                                                                                         : session::RunStatus::failed;
            outcome = entry.status == session::RunStatus::complete ? "complete"
                      : recorded.transcript.problems.empty()       ? "failed (status " + std::to_string(entry.exitStatus) + ")"
                                                                   : "WRONG or incomplete: " + recorded.transcript.problems[0];
            break;
        case Stop::timeout:
            entry.status = session::RunStatus::timedOut;
            outcome = "stopped after the timeout of " + std::to_string(options.timeout) + " s";
            break;
        case Stop::signal:
        case Stop::disk:
            entry.status = session::RunStatus::interrupted;
            outcome = stop == Stop::disk ? "stopped: " + diskError : "interrupted";
            break;
        }
        // A transcript that was cut short is named so; one that never got a
        // byte is no transcript at all and goes.
        if (text.empty() && entry.status != session::RunStatus::complete) {
            std::error_code ignored;
            fs::remove(path, ignored);
        } else if (entry.status == session::RunStatus::timedOut || entry.status == session::RunStatus::interrupted) {
            const std::string partial = "run-" + std::to_string(number) + ".partial.txt";
            std::error_code code;
            fs::rename(path, folder / partial, code);
            if (!code)
                entry.file = partial;
        }
        progress.runDone(number, entry.file, outcome, now() - runStart);
        record.runs.push_back(entry);
        runs.push_back(std::move(recorded));
        save();
        return stop == Stop::none || stop == Stop::timeout;
    }
};

// Waits `seconds` before run `number`, showing it; false when a signal came.
bool pauseBefore(int number, int seconds, Progress& progress)
{
    const double start = now();
    while (gSignal == 0 && now() - start < seconds) {
        progress.pause(number, now() - start, seconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return gSignal == 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char* name, std::string& into) {
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
        };
        std::string text;
        try {
            if (value("--runs", text)) {
                if ((options.runs = count(text, 10000)) == 0)
                    throw std::runtime_error("--runs takes a whole number from 1 to 10000, not '" + text + "'");
            } else if (value("--pause", text)) {
                if (text == "0")
                    options.pause = 0;
                else if ((options.pause = count(text, 3600)) == 0)
                    throw std::runtime_error("--pause takes whole seconds from 0 to 3600, not '" + text + "'");
            } else if (value("--timeout", text)) {
                if ((options.timeout = count(text, 86400 * 7)) == 0)
                    throw std::runtime_error("--timeout takes whole seconds from 1 to 604800, not '" + text + "'");
            } else if (value("--benchmark", options.benchmark)) {
                if (options.benchmark.empty())
                    throw std::runtime_error("--benchmark needs a program");
            } else if (value("--session", options.session)) {
                if (!validSessionName(options.session))
                    throw std::runtime_error("--session takes a name like 2026-12-08T14.05Z, not '" + options.session +
                                             "'");
            } else if (arg == "--help" || arg == "-h") {
                std::cout << usage();
                return 0;
            } else if (arg.size() > 1 && arg[0] == '-')
                throw std::runtime_error("unknown option '" + arg + "'");
            else if (!options.dir.empty())
                throw std::runtime_error("one DIR only");
            else
                options.dir = arg;
        } catch (const std::runtime_error& e) {
            std::cerr << "cpubench-record: " << e.what() << "\nTry 'cpubench-record --help'.\n";
            return 2;
        }
    }
    if (options.dir.empty()) {
        std::cerr << "cpubench-record: no folder given\nTry 'cpubench-record --help'.\n";
        return 2;
    }
    const bool ownBenchmark = options.benchmark.empty();
    if (ownBenchmark)
#ifdef _WIN32
        options.benchmark = ownFolder() + "cpubench.exe";
#else
        options.benchmark = ownFolder() + "cpubench";
#endif
    if (!isProgram(options.benchmark))
        return fail("no benchmark to run at " + options.benchmark);

    Recorder recorder;
    recorder.options = options;
    std::string error;
    if (!makeSession(options, recorder.folder, error))
        return fail(error);
    catchSignals();

    recorder.info = gatherFacts();
    if (ownBenchmark)
        recorder.info.cpubenchVersion = CPUBENCH_VERSION;
    recorder.record.recorder = std::string("cpubench-record ") + CPUBENCH_VERSION;
    recorder.record.runsPlanned = options.runs;
    recorder.record.pauseSeconds = options.pause;
    recorder.record.cpus = onlineCpus();
    if (!recorder.saveInfo() || !recorder.save()) {
        // Nothing recorded yet: the new folder goes again.
        std::error_code ignored;
        fs::remove_all(recorder.folder, ignored);
        return fail(recorder.diskError);
    }
    std::cout << "Recording " << options.runs << " run(s) of " << options.benchmark << " into " << recorder.folder.string()
              << '\n'
              << std::flush;

    Progress progress(outputIsTerminal(), options.runs, options.pause);
    bool stopped = false;
    for (int n = 1; n <= options.runs && !stopped; ++n)
        stopped = (n > 1 && !pauseBefore(n, options.pause, progress)) || !recorder.run(n, progress);
    progress.clear();

    session::SessionRecord& record = recorder.record;
    const int done = static_cast<int>(record.runs.size());
    if (!stopped)
        record.state = session::SessionState::complete;
    else {
        record.state = session::SessionState::incomplete;
        const bool inPause = recorder.diskError.empty() && !record.runs.empty() &&
                             record.runs.back().status == session::RunStatus::complete;
        record.reason = gSignal != 0 ? std::string("stopped by ") + (gSignal == SIGINT ? "SIGINT" : "SIGTERM") +
                                           (inPause ? " after run " : " during run ") + std::to_string(done) +
                                           " of " + std::to_string(options.runs)
                                     : recorder.diskError;
    }
    recorder.save();

    std::cout << '\n' << summaryText(recorder.runs, record.cpus);
    int status = 0;
    for (const session::RunRecord& run : record.runs)
        if (run.status != session::RunStatus::complete)
            status = 1;
    if (status != 0)
        std::cout << "Some run is wrong, failed or partial: see above; every transcript is kept.\n";
    std::cout << "Session: " << recorder.folder.string()
              << (stopped ? " (incomplete: " + record.reason + ")" : "") << '\n'
              << std::flush;
    if (!recorder.diskError.empty()) {
        std::cerr << "cpubench-record: " << recorder.diskError << '\n';
        return 2;
    }
    if (gSignal != 0)
        return 128 + gSignal;
    return status;
}
