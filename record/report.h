// What the recorder shows while it works and when it is done: progress in
// place on a terminal, one plain line per run elsewhere, and a summary.
#pragma once

#include "session_record.h"
#include "transcript.h"

#include <string>
#include <vector>

namespace cpubench {

class Progress {
public:
    // `pause`: the seconds waited before each run but the first.
    Progress(bool terminal, int runs, int pause = 0);
    // Redraws the line on a terminal (at most every half second): the run,
    // the line now running (kLineCount before the banner), the time
    // elapsed and about how long is left.
    void show(int run, std::size_t nextLine, double runSeconds, double totalSeconds);
    // The pause before run `run`, `elapsed` of `seconds` over (a terminal only).
    void pause(int run, double elapsed, int seconds);
    // A run ended after `seconds`: one plain line.
    void runDone(int run, const std::string& file, const std::string& outcome, double seconds);
    // Clears the progress line before other output.
    void clear();

private:
    bool terminal_;
    int runs_;
    int pause_;
    std::vector<double> durations_; // of the runs that ended by themselves
    double lastDraw_ = -1;
    bool drawn_ = false;
};

// One recorded run as the summary sees it.
struct RecordedRun {
    RunRecord record;
    Transcript transcript;
};

// Each line's median and fastest..slowest over the good runs (disturbed
// lines left out), about how many runs per machine a verdict would need at
// this spread (what cpubench-compare says of two machines with runs like
// these), and the disturbed lines.
std::string summaryText(const std::vector<RecordedRun>& runs, int cpus);

} // namespace cpubench
