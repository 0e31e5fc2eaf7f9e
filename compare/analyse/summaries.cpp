#include "summaries.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

namespace {

// The statistics of one line over the runs taken.
LineStats lineStats(const Machine& machine, const MachineStats& stats, std::size_t line, bool keepDisturbed)
{
    std::vector<Time> times;
    LineStats result;
    // The good runs' times in run order, for the verdicts and outliers.
    for (std::size_t r = 0; r < machine.runs.size(); ++r) {
        if (!stats.used[r])
            continue;
        const LineResult& own = machine.runs[r].transcript.lines[line];
        if (own.mark == Mark::wrong)
            result.mark = Mark::wrong;
        else if (result.mark == Mark::missing)
            result.mark = own.mark;
        if (own.time && (keepDisturbed || !stats.disturbance.lines[line].runs[r].leftOut)) {
            times.push_back(*own.time);
            result.times.push_back(own.time->seconds);
            result.timeRuns.push_back(r);
        }
    }
    result.runs = times.size();
    result.outliers = outliers(result.times);
    if (times.empty())
        return result;
    std::stable_sort(times.begin(), times.end(), [](const Time& a, const Time& b) { return a.seconds < b.seconds; });
    result.fastest = times.front();
    result.slowest = times.back();
    // The middle run's time as printed, or the mean of the middle two.
    result.median = times.size() % 2 == 1 ? times[times.size() / 2] : Time{medianOf(result.times), 0, 0};
    return result;
}

// Per good run that has every summary line: the geometric mean of their times.
void summaryScores(const Machine& machine, MachineStats& stats)
{
    for (std::size_t r = 0; r < machine.runs.size(); ++r) {
        if (!stats.used[r])
            continue;
        double logSum = 0;
        bool every = true;
        for (std::size_t line = 0; line < kLineCount && every; ++line) {
            if (!kLines[line].inSummary)
                continue;
            const std::optional<Time>& time = machine.runs[r].transcript.lines[line].time;
            every = time.has_value();
            if (every)
                logSum += logTime(time->seconds);
        }
        if (every)
            stats.summary.scores.push_back(std::exp(logSum / static_cast<double>(kSummaryLineCount)));
    }
}

} // namespace

std::size_t MachineStats::goodRuns() const
{
    return fromFlawedRuns ? 0 : static_cast<std::size_t>(std::count(used.begin(), used.end(), true));
}

MachineStats machineStats(const Machine& machine, bool keepDisturbed, const std::vector<analyse::SessionInput>& earlier)
{
    MachineStats stats;
    std::size_t good = 0;
    for (const Run& run : machine.runs) {
        stats.used.push_back(run.transcript.good());
        good += run.transcript.good() ? 1 : 0;
    }
    stats.flagged = good != machine.runs.size();
    stats.fromFlawedRuns = good == 0;
    if (stats.fromFlawedRuns)
        stats.used.assign(machine.runs.size(), true);
    stats.disturbance = analyse::judgeSession(disturbanceInput(machine, stats.used), earlier);
    for (std::size_t line = 0; line < kLineCount; ++line)
        stats.lines[line] = lineStats(machine, stats, line, keepDisturbed);
    summaryScores(machine, stats);
    return stats;
}

} // namespace cpubench
