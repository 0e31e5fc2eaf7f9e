// session.json: what cpubench-record writes beside a session's transcripts,
// how the recording went and what else the system did while each line ran.
//
//   DIR/<session>/run-1.txt ... run-N.txt   each run's transcript, unchanged
//   DIR/<session>/run-K.partial.txt         a run stopped before its end
//   DIR/<session>/machine.json              the machine's facts (machine_info.h)
//   DIR/<session>/session.json              this file's SessionRecord
//
// <session> is named as session_names.h says.
#pragma once

#include "format_error.h"
#include "lines.h"

#include <nlohmann/json.hpp>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace cpubench {

inline constexpr const char* kRecordFile = "session.json";

// What the system tells about the time a line ran (from the end of the
// output before it to the end of its own line). Absent figures are what the
// system does not tell.
struct LineFigures {
    double seconds = 0;                 // the line's wall time as the recorder saw it
    std::optional<double> otherCpu;     // CPU seconds that other processes and the kernel took
    std::optional<double> steal;        // CPU seconds the hypervisor gave to other guests
    std::optional<double> runDelay;     // seconds the benchmark's threads waited for a processor, summed
    std::optional<long long> throttle;  // thermal throttling events on any processor
};

// How a run ended.
enum class RunStatus {
    complete,    // the benchmark ended by itself with status 0
    failed,      // it ended by itself with another status (a wrong value, no GMP)
    timedOut,    // stopped after the timeout; the transcript is partial
    interrupted, // stopped by a signal to the recorder; the transcript is partial
};
const char* runStatusName(RunStatus status);

struct RunRecord {
    std::string file;   // the transcript's name in the session folder
    RunStatus status = RunStatus::complete;
    int exitStatus = 0; // the benchmark's, or the signal's number + 128
    // Per result line, in kLines' order; absent for a line that was not
    // printed.
    std::array<std::optional<LineFigures>, kLineCount> lines;
};

enum class SessionState {
    recording,   // the recorder is at work, or was killed before it could say more
    complete,    // every planned run ran to its end
    incomplete,  // stopped early: interrupted, or the disk failed
};
const char* sessionStateName(SessionState state);

struct SessionRecord {
    std::string recorder;   // "cpubench-record 1.2.0"
    SessionState state = SessionState::recording;
    std::string reason;     // why incomplete, in a few words
    int runsPlanned = 0;
    std::optional<int> pauseSeconds; // pause_s: the wait before each run but the first; absent in older records
    int cpus = 0;           // logical processors online
    std::vector<RunRecord> runs;
};

// A line's figures as session.json holds them (without the line's label).
nlohmann::json figuresJson(const LineFigures& figures);
std::string writeRecord(const SessionRecord& record);
// Reads session.json's text; on an error `record` is empty.
std::optional<FormatError> parseRecord(const std::string& text, SessionRecord& record);

} // namespace cpubench
