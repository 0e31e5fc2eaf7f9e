// A recording: the session folder, each run of the benchmark into it with
// what the system did while each line ran, and session.json and
// machine.json kept up to date as the runs end.
#pragma once

#include "machine_info.h"
#include "options.h"
#include "probe.h"
#include "report.h"
#include "session_record.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace cpubench {

// The signal that stops the recording (SIGINT, SIGTERM), 0 while none came.
extern volatile std::sig_atomic_t gSignal;
// Catches SIGINT and SIGTERM into gSignal (and ignores SIGPIPE).
void catchSignals();

class Child;

// Why a run stopped before its end, if it did.
enum class Stop { none, signal, timeout, disk };

// A run as it goes: its transcript file, the output so far, the line now
// running (none before the banner) and the system's figures at the end of
// the output before it.
struct Running {
    std::FILE* file = nullptr;
    std::filesystem::path path;
    std::string text, line;
    std::size_t next = kLineCount;
    Sample last;
    double start = 0;
};

struct Recorder {
    RecordOptions options;
    std::filesystem::path folder;
    MachineInfo info;
    bool gmpFound = false;
    SessionRecord record;
    std::vector<RecordedRun> runs;
    std::string diskError; // set when a file could not be written
    double started;

    explicit Recorder(RecordOptions chosen);
    // Makes a new session folder in the options' DIR; never one that exists.
    bool makeSession(std::string& error);
    bool save();     // session.json
    bool saveInfo(); // machine.json
    // Run `number` into run-K.txt; false when recording must stop.
    bool run(int number, Progress& progress);

private:
    // The child's output until it ends or the run must stop.
    Stop follow(Child& child, Running& running, RunRecord& entry, int number, Progress& progress);
    void keepTranscript(const Running& running, RunRecord& entry, int number);
};

// Seconds of a steady clock.
double now();

} // namespace cpubench
