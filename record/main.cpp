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
#include "options.h"
#include "probe.h"
#include "recorder.h"
#include "report.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>

#ifndef CPUBENCH_VERSION
#define CPUBENCH_VERSION "unknown"
#endif

namespace {

using namespace cpubench;

int fail(const std::string& message)
{
    std::cerr << "cpubench-record: " << message << '\n';
    return 2;
}

// The session folder with its machine.json and a session.json that says the
// recording is at work; false (the folder gone again) when it cannot be made.
bool startSession(Recorder& recorder, bool ownBenchmark, std::string& error)
{
    if (!recorder.makeSession(error))
        return false;
    catchSignals();
    recorder.info = gatherFacts();
    if (ownBenchmark)
        recorder.info.cpubenchVersion = CPUBENCH_VERSION;
    recorder.record.recorder = std::string("cpubench-record ") + CPUBENCH_VERSION;
    recorder.record.runsPlanned = recorder.options.runs;
    recorder.record.pauseSeconds = recorder.options.pause;
    recorder.record.cpus = onlineCpus();
    if (recorder.saveInfo() && recorder.save())
        return true;
    // Nothing recorded yet: the new folder goes again.
    std::error_code ignored;
    std::filesystem::remove_all(recorder.folder, ignored);
    error = recorder.diskError;
    return false;
}

// How the recording ended, in session.json.
void endSession(Recorder& recorder, bool stopped)
{
    SessionRecord& record = recorder.record;
    if (!stopped)
        record.state = SessionState::complete;
    else {
        record.state = SessionState::incomplete;
        // A signal in the pause after a complete run stops no run.
        const bool inPause = recorder.diskError.empty() && !record.runs.empty() &&
                             record.runs.back().status == RunStatus::complete;
        record.reason = gSignal != 0 ? std::string("stopped by ") + (gSignal == SIGINT ? "SIGINT" : "SIGTERM") +
                                           (inPause ? " after run " : " during run ") +
                                           std::to_string(record.runs.size()) + " of " +
                                           std::to_string(recorder.options.runs)
                                     : recorder.diskError;
    }
    recorder.save();
}

// The summary, and the exit status of the recording.
int report(const Recorder& recorder, bool stopped)
{
    const SessionRecord& record = recorder.record;
    std::cout << '\n' << summaryText(recorder.runs, record.cpus);
    int status = 0;
    for (const RunRecord& run : record.runs)
        if (run.status != RunStatus::complete)
            status = 1;
    if (status != 0)
        std::cout << "Some run is wrong, failed or partial: see above; every transcript is kept.\n";
    std::cout << "Session: " << recorder.folder.string() << (stopped ? " (incomplete: " + record.reason + ")" : "")
              << '\n'
              << std::flush;
    if (!recorder.diskError.empty())
        return fail(recorder.diskError);
    if (gSignal != 0)
        return 128 + gSignal;
    return status;
}

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
    const ParsedRecordOptions parsed = parseRecordOptions(argc, argv);
    if (parsed.error) {
        std::cerr << "cpubench-record: " << *parsed.error << "\nTry 'cpubench-record --help'.\n";
        return 2;
    }
    if (parsed.options.help) {
        std::cout << recordHelpText();
        return 0;
    }
    Recorder recorder(parsed.options);
    const bool ownBenchmark = recorder.options.benchmark.empty();
    if (ownBenchmark)
#ifdef _WIN32
        recorder.options.benchmark = ownFolder() + "cpubench.exe";
#else
        recorder.options.benchmark = ownFolder() + "cpubench";
#endif
    if (!isProgram(recorder.options.benchmark))
        return fail("no benchmark to run at " + recorder.options.benchmark);
    std::string error;
    if (!startSession(recorder, ownBenchmark, error))
        return fail(error);
    std::cout << "Recording " << recorder.options.runs << " run(s) of " << recorder.options.benchmark << " into "
              << recorder.folder.string() << '\n'
              << std::flush;
    Progress progress(outputIsTerminal(), recorder.options.runs, recorder.options.pause);
    bool stopped = false;
    for (int n = 1; n <= recorder.options.runs && !stopped; ++n)
        stopped = (n > 1 && !pauseBefore(n, recorder.options.pause, progress)) || !recorder.run(n, progress);
    progress.clear();
    endSession(recorder, stopped);
    return report(recorder, stopped);
}
