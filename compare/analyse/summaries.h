// One machine's runs summed up: which runs go in (the good ones; all when
// none is), each line's median, fastest and slowest time with the runs far
// off, whether the recorder saw a line disturbed, and the runs' scores for
// the summary figure.
#pragma once

#include "disturbance.h"
#include "read.h"
#include "robust.h"
#include "verdict.h"

#include <array>
#include <optional>
#include <vector>

namespace cpubench {

struct LineStats {
    std::size_t runs = 0;       // how many times went in; 0: no time at all
    // As the runs printed them; the median of an even count is the mean of
    // the middle two.
    Time median, fastest, slowest;
    Mark mark = Mark::missing;  // wrong when a run taken here has a wrong value in this line
    std::vector<double> times;  // of the runs that went in, in the machine's run order
    std::vector<std::size_t> timeRuns; // the index of each time's run
    std::vector<Outlier> outliers;     // among `times`
    // Against the baseline: the estimate the verdict rests on (the median of
    // the pairwise ratios), and the ratio of the medians beside it.
    std::optional<double> ratio, medianRatio;
    // Against the baseline: the interval of the ratio and the verdict. Not
    // for the baseline itself, nor where either machine has no time.
    std::optional<RatioEstimate> estimate;
    std::vector<std::size_t> groups; // log fingerprint groups of its runs (first line only)
};

// One figure per machine: the ratio of the geometric means of its summary
// lines' times taken per run, with its interval and verdict (without a
// score per run, the geometric mean of the lines' ratios); and the
// geometric mean of the lines' ratios of medians beside it.
struct Summary {
    std::optional<double> ratio, medianRatio;
    std::optional<RatioEstimate> estimate;
    std::vector<double> scores; // per good run with every summary line: the geometric mean of their times
};

struct MachineStats {
    std::array<LineStats, kLineCount> lines;
    Summary summary;
    std::vector<bool> used; // per run: taken into the statistics
    // Per line (kLines' order) and run: disturbed or irregular, judged
    // against the line's usual figures (disturbance.h).
    analyse::SessionJudgement disturbance;
    // No run of the machine is complete with exact values: its statistics
    // come from every run that has a time, and must not be trusted.
    bool fromFlawedRuns = false;
    bool flagged = false; // some run has a wrong value or is incomplete

    // The runs that went in as good runs (none when they come from flawed ones).
    std::size_t goodRuns() const;
};

// One machine's statistics by itself: which runs go in, and each line's
// median, range and times (no ratios). A line the recorder saw disturbed is
// left out of its line's times unless `keepDisturbed` (or most of the
// line's runs are); `earlier` are the machine's earlier sessions, which the
// disturbance judgement sets the line against.
MachineStats machineStats(const Machine& machine, bool keepDisturbed,
                          const std::vector<analyse::SessionInput>& earlier = {});

} // namespace cpubench
