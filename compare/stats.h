// The statistics of a comparison: per machine and result line, the median,
// fastest and slowest time of its good runs; ratios of medians to the
// baseline (the first machine), each with its interval and verdict; one
// summary figure per machine; the log fingerprint groups; and every problem.
#pragma once

#include "machine.h"
#include "verdict.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

struct LineStats {
    std::size_t runs = 0;       // how many times went in; 0: no time at all
    double median = 0, fastest = 0, slowest = 0;
    std::string medianText;     // as printed when one run's time, else the mean of the middle two
    std::string fastestText, slowestText;
    Mark mark = Mark::missing;  // wrong when a run taken here has a wrong value in this line
    std::vector<double> times;  // of the runs that went in, in the machine's run order
    std::vector<std::size_t> timeRuns; // the index of each time's run
    // Against the baseline: the estimate the verdict rests on (the median of
    // the pairwise ratios), and the ratio of the medians beside it.
    std::optional<double> ratio, medianRatio;
    // Against the baseline: the interval of the ratio and the verdict. Not
    // for the baseline itself, nor where either machine has no time.
    std::optional<RatioEstimate> estimate;
    std::vector<std::size_t> groups; // log fingerprint groups of its runs (first line only)
};

// The lines whose ratios make a machine's summary figure: the work of one
// thread on the processor (the scalar, vector, big-number, multiply-divide
// and multiply-modulo lines). The team lines repeat the multiply-divide work
// and measure how the system shares cores among more threads than it has;
// the copy line is mostly the first touch of fresh memory, which varies by a
// fifth from run to run on one machine.
inline constexpr std::array<std::size_t, 5> kSummaryLines = {0, 1, 2, 3, 7};

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
    std::array<LineStats, expected::kLineCount> lines;
    Summary summary;
    std::vector<bool> used; // per run: taken into the statistics
    // No run of the machine is complete with exact values: its statistics
    // come from every run that has a time, and must not be trusted.
    bool fromFlawedRuns = false;
    bool flagged = false; // some run has a wrong value or is incomplete
    // Against the baseline: the level of each row's interval. The lines and
    // the summary of one machine are judged together where the runs allow
    // (each at the level divided by their number); else each by itself.
    double rowLevel = 0;
    bool rowsTogether = false;
};

struct FingerprintGroup {
    std::vector<std::string> values;
    // The machines whose runs print them, each with the runs when not all of
    // the machine's runs do.
    std::vector<std::string> members;
};

struct Comparison {
    VerdictSettings settings;
    std::vector<Machine> machines; // the first is the baseline
    std::vector<MachineStats> stats; // one per machine
    std::vector<FingerprintGroup> groups;
    // Each wrong value and incomplete run, named with its run.
    std::vector<std::string> problems;
    // Remarks that change no exit status: runs left out, a machine whose
    // runs differ in the log fingerprint, an unusable machine.json, runs far
    // from their machine's others, why verdicts are undecided.
    std::vector<std::string> notes;
    bool severalRuns = false; // some machine has more than one run
};

// The rows a machine's verdicts are corrected for: the nine lines and the summary.
inline constexpr std::size_t kRows = expected::kLineCount + 1;
// From this many runs per machine on, the rows are judged together: each
// at 99.5% for 95% over the ten, so that a machine compared with itself
// shows a false + or - in about one comparison in twenty, not one in five.
// With fewer runs that level cannot be reached (at five runs the smallest
// two-sided p is 2/252) or finds less than five runs judged row by row do:
// measured on real runs, a 10% slowdown is found on 78% of the lines at
// five runs row by row, 56% at six and 72% at seven together, 84% at eight.
inline constexpr std::size_t kRowsTogetherRuns = 8;

Comparison compare(std::vector<Machine> machines, const VerdictSettings& settings = {});
// The settings each row of a machine with `baseRuns` and `otherRuns` runs is
// judged at: the level divided among the rows when that level can still be
// reached with so many runs, else the level itself.
VerdictSettings rowSettings(std::size_t baseRuns, std::size_t otherRuns, const VerdictSettings& settings);
// One machine's statistics by itself: which runs go in, and each line's
// median, range and times (no ratios).
MachineStats machineStats(const Machine& machine);

// "A", "B", ..., "Z", "A2", ...
std::string groupName(std::size_t index);
// A time in seconds with at least three decimals, as cpubench prints them.
std::string formatTime(double seconds);
