// The statistics of a comparison: per machine and result line, the median,
// fastest and slowest time of its good runs; ratios of medians to the
// baseline (the first machine); the run-to-run noise rule; the log
// fingerprint groups; and every problem.
#pragma once

#include "machine.h"

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
    std::optional<double> ratio; // median / the baseline's median
    // Both machines have two or more good runs and their ranges
    // (fastest..slowest) overlap: a plain overlap rule, not a significance test.
    bool withinNoise = false;
    std::vector<std::size_t> groups; // log fingerprint groups of its runs (first line only)
};

struct MachineStats {
    std::array<LineStats, expected::kLineCount> lines;
    std::vector<bool> used; // per run: taken into the statistics
    // No run of the machine is complete with exact values: its statistics
    // come from every run that has a time, and must not be trusted.
    bool fromFlawedRuns = false;
    bool flagged = false; // some run has a wrong value or is incomplete
};

struct FingerprintGroup {
    std::vector<std::string> values;
    // The machines whose runs print them, each with the runs when not all of
    // the machine's runs do.
    std::vector<std::string> members;
};

struct Comparison {
    std::vector<Machine> machines; // the first is the baseline
    std::vector<MachineStats> stats; // one per machine
    std::vector<FingerprintGroup> groups;
    // Each wrong value and incomplete run, named with its run.
    std::vector<std::string> problems;
    // Remarks that change no exit status: runs left out, a machine whose
    // runs differ in the log fingerprint, an unusable machine.json.
    std::vector<std::string> notes;
    bool severalRuns = false; // some machine has more than one run
};

Comparison compare(std::vector<Machine> machines);

// "A", "B", ..., "Z", "A2", ...
std::string groupName(std::size_t index);
// A time in seconds with at least three decimals, as cpubench prints them.
std::string formatTime(double seconds);
