#include "session_lines.h"

#include "robust.h"
#include "steps.h"

#include <algorithm>
#include <cmath>

namespace cpubench {

SessionLines sessionLines(const MachineStats& stats)
{
    SessionLines lines{};
    if (stats.fromFlawedRuns)
        return lines;
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const LineStats& own = stats.lines[line];
        std::vector<double> logs;
        for (std::size_t i = 0; i < own.times.size(); ++i)
            if (std::none_of(own.outliers.begin(), own.outliers.end(), [&](const Outlier& o) { return o.index == i; }))
                logs.push_back(logTime(own.times[i]));
        if (logs.empty())
            continue;
        double sum = 0;
        for (const double value : logs)
            sum += value;
        lines[line].runs = logs.size();
        lines[line].mean = sum / static_cast<double>(logs.size());
        lines[line].spread = std::sqrt(sampleVariance(logs));
    }
    return lines;
}

SittingSide sittingSide(const MachineStats& stats, const WanderModel& model)
{
    SittingSide side;
    side.model = model;
    for (std::size_t line = 0; line < kLineCount; ++line)
        side.lines[line] = logTimes(stats.lines[line].times);
    side.summary = logTimes(stats.summary.scores);
    return side;
}

WanderModel machineWander(const std::vector<SessionLines>& sessions)
{
    if (sessions.size() < kFewestWanderSessions)
        return fitWander(sessions);
    return findSteps(sessions).model;
}

} // namespace cpubench
