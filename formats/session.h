// A recorded session: the folder cpubench-record writes for one series of
// runs, and session.json beside its transcripts, which says how the
// recording went and what else the system did while each line ran.
//
//   DIR/<session>/run-1.txt ... run-N.txt   each run's transcript, unchanged
//   DIR/<session>/run-K.partial.txt         a run stopped before its end
//   DIR/<session>/machine.json              the machine's facts (machine.h)
//   DIR/<session>/session.json              this file's SessionRecord
//
// <session> is the start in UTC, 2026-12-08T14.05Z, with -2, -3, ... when
// that name is taken, as the lab names its sessions.
#pragma once

#include "expected.h"

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace session {

// How many runs a session has unless told otherwise: 4, the fewest with
// which a two-sided exact rank test of two machines at 5% can tell them
// apart.
inline constexpr int kDefaultRuns = 4;
// Seconds between one run's end and the next one's start, unless told
// otherwise: a run that follows another at once loses time to the system's
// clearing up after the one before (doc/recording.md).
inline constexpr int kDefaultPause = 30;
// Seconds one run may take before it is stopped, unless told otherwise.
inline constexpr int kDefaultTimeout = 600;

inline constexpr const char* kRecordFile = "session.json";

// The session name of a start time: "%Y-%m-%dT%H.%MZ" in UTC.
std::string baseName(std::time_t start);
// `base`, or base-2, base-3, ... for the n-th session of that minute.
std::string numberedName(const std::string& base, int n);

// The benchmark's threads on each line: the team lines run 4, 8 and 18.
inline constexpr std::array<int, expected::kLineCount> kLineThreads = {1, 1, 1, 1, 4, 8, 18, 1, 1};

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

// How much of a line's time others took from it, as a fraction of the
// line's wall time: the CPU time others and the hypervisor took beyond the
// processors the line leaves idle, spread over the processors it uses; for
// a single-thread line also the time its thread waited for a processor.
// None without the figures it needs.
std::optional<double> lostShare(const LineFigures& figures, int threads, int cpus);

// A line counts as disturbed from this lost share on, or with any thermal
// throttling event. Measured on the project's machine: doc/recording.md.
inline constexpr double kDisturbedShare = 0.03;

enum class Disturbance { none, load, throttling };

struct LineJudgement {
    Disturbance kind = Disturbance::none;
    double share = 0; // lostShare, 0 when unknown
};
LineJudgement judgeLine(const LineFigures& figures, std::size_t line, int cpus);

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
    // Per result line, in expected::kLines' order; absent for a line that
    // was not printed.
    std::array<std::optional<LineFigures>, expected::kLineCount> lines;
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
    std::optional<int> pauseSeconds; // the wait before each run but the first; absent in older records
    int cpus = 0;           // logical processors online
    std::vector<RunRecord> runs;
};

std::string writeRecord(const SessionRecord& record);
// Reads session.json's text; returns the error, empty when usable.
std::string parseRecord(const std::string& text, SessionRecord& record);

} // namespace session
