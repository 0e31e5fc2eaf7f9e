#include "disturbance.h"

#include "read.h"

#include <algorithm>

namespace cpubench {

std::optional<double> lostShare(const LineFigures& f, int threads, int cpus)
{
    if (!(f.seconds > 0) || cpus < 1)
        return std::nullopt;
    std::optional<double> share;
    if (f.otherCpu || f.steal) {
        const int used = std::min(threads, cpus);
        const double taken = f.otherCpu.value_or(0) + f.steal.value_or(0);
        const double idle = static_cast<double>(cpus - used) * f.seconds;
        share = std::max(0.0, taken - idle) / (static_cast<double>(used) * f.seconds);
    }
    // A lone thread that waited for a processor lost that time, whichever
    // processor the others ran on. A team waits by design: more threads
    // than processors.
    if (threads == 1 && f.runDelay)
        share = std::max(share.value_or(0), *f.runDelay / f.seconds);
    return share;
}

LineJudgement judgeLine(const LineFigures& figures, std::size_t line, int cpus)
{
    LineJudgement judgement;
    judgement.share = lostShare(figures, kLines[line].threads, cpus).value_or(0);
    if (figures.throttle.value_or(0) > 0)
        judgement.kind = Disturbance::throttling;
    else if (judgement.share >= kDisturbedShare)
        judgement.kind = Disturbance::load;
    return judgement;
}

std::array<LineJudgement, kLineCount> judgeRun(const Run& run, int cpus)
{
    std::array<LineJudgement, kLineCount> judged{};
    for (std::size_t line = 0; line < kLineCount; ++line)
        if (run.figures[line] && cpus > 0)
            judged[line] = judgeLine(*run.figures[line], line, cpus);
    return judged;
}

} // namespace cpubench
