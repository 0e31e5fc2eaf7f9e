// A comparison of machines: per machine and result line, the median,
// fastest and slowest time of its good runs; ratios to the baseline (the
// first machine), each with its interval and verdict; one summary figure
// per machine; the log fingerprint groups; and what the notes and the
// problems tell, as typed findings that the writers put into words.
#pragma once

#include "read.h"
#include "sitting.h"
#include "summaries.h"
#include "verdict.h"
#include "wander.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cpubench {

// The machines (with their runs, when not all of the machine's runs that
// print a fingerprint print this one) whose runs print one log fingerprint.
struct FingerprintGroup {
    struct Member {
        std::size_t machine;
        std::vector<std::size_t> runs;
        bool whole; // all the machine's runs with a fingerprint print this one
    };
    std::vector<std::string> values;
    std::vector<Member> members;
};

// What the comparison tells beside the table, in the order it is told.
struct ComparisonNote {
    enum class Kind {
        infoUnusable,      // machines[machine].infoError: compared without its description
        read,              // machines[machine].notes[index]
        recordUnusable,    // machines[machine].recordError: compared without the recorder's figures
        disturbed,         // line `line` of run `run`: stats[machine].disturbance.lines[line].runs[run]
        irregular,         // the same, a run of the line's own far off
        disturbedSession,  // line `line` disturbed in most runs: all kept, its verdict weaker
        runsLeftOut,       // the machine's runs not used (stats[machine].used)
        noGoodRun,         // none of the machine's runs is complete with exact values
        newestSessions,    // the session compared of each machine read from a history
        mixedFingerprints, // the machine's runs print several log fingerprints
        undecided,         // the machine's undecided rows against the baseline
        outlier,           // stats[machine].lines[line].outliers[index]
        wander,            // the machine's verdicts count its own wander between sittings (wander[machine])
        defaultWander,     // the machines with too few sessions count the measured default: which, and how to do better
    };
    Kind kind;
    std::size_t machine = 0, run = 0, line = 0, index = 0;
};

// A wrong value or an incomplete run, or a recorded session that did not
// run to its end.
struct ComparisonProblem {
    enum class Kind {
        run,               // machines[machine].runs[run].transcript.problems[index]
        incompleteSession, // machines[machine].recording is not complete
    };
    Kind kind;
    std::size_t machine = 0, run = 0, index = 0;
};

struct Comparison {
    VerdictSettings settings;
    bool keepDisturbed = false;
    std::vector<Machine> machines;   // the first is the baseline
    std::vector<MachineStats> stats; // one per machine
    std::vector<FingerprintGroup> groups;
    std::vector<ComparisonProblem> problems;
    std::vector<ComparisonNote> notes;
    bool severalRuns = false; // some machine has more than one run
    // Per machine: its wander between sittings (wander.h), from its own
    // sessions where its folder has enough of them, else the measured
    // default; and the comparison of its session with the baseline's (the
    // baseline's own entry unused): how it was paired, and each row's test,
    // level, power and how much of it the wander is.
    std::vector<WanderModel> wander;
    std::vector<SittingComparison> sittings;
};

// The rows of a machine's column: the nine lines and the summary.
inline constexpr std::size_t kRows = kSittingRows;

Comparison compare(std::vector<Machine> machines, const VerdictSettings& settings = {}, bool keepDisturbed = false);

} // namespace cpubench
