// Whether others disturbed a line while it ran: what the recorder saw
// (session.json's figures per run and line), judged against a threshold.
#pragma once

#include "lines.h"
#include "session_record.h"

#include <array>
#include <optional>

namespace cpubench {

struct Run;

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

// Each line of a run with figures, on a machine of `cpus` processors (0:
// not known, and no line judged).
std::array<LineJudgement, kLineCount> judgeRun(const Run& run, int cpus);

} // namespace cpubench
