#include "report.h"

#include "join.h"
#include "numbers.h"
#include "read.h"
#include "summaries.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace cpubench {

namespace {

std::string clock(double seconds)
{
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

// About how many runs per machine two machines with runs like `times` need
// for a verdict: the comparison of these runs with runs like them.
std::string runsNeededText(const std::vector<double>& times, const VerdictSettings& settings)
{
    const RatioEstimate self = compareTimes(times, times, settings);
    if (self.verdict == Verdict::same)
        return std::to_string(times.size()) + " (enough)";
    if (self.doubt == Doubt::tooFewRuns)
        return std::to_string(self.runsNeeded.value_or(0)) + " or more";
    if (self.runsNeeded)
        return "about " + std::to_string(*self.runsNeeded);
    return "over " + std::to_string(kMostRuns);
}

std::string row(const std::string& line, const std::string& median, const std::string& range, const std::string& runs)
{
    char text[160];
    std::snprintf(text, sizeof text, "%-16s %9s  %-17s %s\n", line.c_str(), median.c_str(), range.c_str(), runs.c_str());
    return text;
}

// The runs of the line named disturbed or irregular, each with its figure:
// "run-2.txt (steal 8.7%, usually 1.3%)", "run-1.txt (irregular, 1.64x)".
std::string namedRuns(const std::vector<RecordedRun>& runs, const MachineStats& stats, std::size_t line)
{
    std::vector<std::string> named;
    const analyse::LineJudgement& judged = stats.disturbance.lines[line];
    for (std::size_t r = 0; r < runs.size() && r < judged.runs.size(); ++r) {
        const analyse::RunJudgement& judgement = judged.runs[r];
        std::string figure;
        if (judgement.finding == analyse::Finding::none)
            continue;
        if (judgement.finding == analyse::Finding::irregular) {
            figure = "irregular, " + format("%.2f", judgement.timeFactor.value_or(1)) + "x";
            if (judgement.irregularity == analyse::Irregularity::runDelay)
                figure += ", run delay " + format("%.2f", judgement.runDelay.value_or(0)) + " s against " +
                          format("%.2f", judgement.usualRunDelay.value_or(0)) + " s";
        } else if (judgement.cause == analyse::Cause::throttling)
            figure = std::to_string(judgement.throttle) + " throttling events";
        else
            figure = std::string(judgement.cause == analyse::Cause::steal ? "steal " : "others ") +
                     shareText(judgement.share.value_or(0)) + ", usually " + shareText(judgement.usualShare);
        named.push_back(runs[r].record.file + " (" + figure + ")");
    }
    return joined(named, ", ");
}

} // namespace

Progress::Progress(bool terminal, int runs, int pause) : terminal_(terminal), runs_(runs), pause_(pause) {}

void Progress::show(int run, std::size_t nextLine, double runSeconds, double totalSeconds)
{
    if (!terminal_ || (lastDraw_ >= 0 && totalSeconds - lastDraw_ < 0.5))
        return;
    lastDraw_ = totalSeconds;
    std::string text = "run " + std::to_string(run) + "/" + std::to_string(runs_) + "  ";
    text += nextLine < kLineCount ? std::string(kLines[nextLine].label) : "starting";
    text += "  " + clock(totalSeconds) + " elapsed";
    if (!durations_.empty()) {
        const double perRun = medianOf(durations_);
        const double left = std::max(0.0, perRun - runSeconds) + (perRun + pause_) * (runs_ - run);
        text += ", about " + clock(left) + " left";
    }
    std::cout << "\r\033[K" << text << std::flush;
    drawn_ = true;
}

void Progress::pause(int run, double elapsed, int seconds)
{
    if (!terminal_ || (lastDraw_ >= 0 && elapsed - lastDraw_ < 0.5 && elapsed >= lastDraw_))
        return;
    lastDraw_ = elapsed;
    std::cout << "\r\033[Kpause before run " << run << "/" << runs_ << "  " << clock(elapsed) << " of " << clock(seconds)
              << std::flush;
    drawn_ = true;
}

void Progress::runDone(int run, const std::string& file, const std::string& outcome, double seconds)
{
    clear();
    if (outcome == "complete")
        durations_.push_back(seconds);
    std::cout << "run " << run << "/" << runs_ << ": " << outcome << " in " << format("%.1f", seconds) << " s ("
              << file << ")\n"
              << std::flush;
}

void Progress::clear()
{
    if (drawn_)
        std::cout << "\r\033[K" << std::flush;
    drawn_ = false;
    lastDraw_ = -1;
}

std::string summaryText(const std::vector<RecordedRun>& runs, int cpus)
{
    const VerdictSettings settings;
    Machine machine;
    machine.cpus = cpus;
    for (const RecordedRun& run : runs)
        machine.runs.push_back({run.record.file, run.transcript, run.record.lines});
    const MachineStats stats = machineStats(machine, false);
    std::string text = row("line", "median", "fastest..slowest", "runs for " + percentText(settings.threshold));
    std::vector<std::string> disturbed;
    bool weak = false;
    for (std::size_t line = 0; line < kLineCount; ++line) {
        const std::string named = namedRuns(runs, stats, line);
        const LineStats& own = stats.lines[line];
        std::string median = named.empty() ? "-" : "disturbed", range, needed;
        if (!stats.fromFlawedRuns && own.runs > 0) {
            median = format("%.3f s", own.median.seconds);
            if (own.runs > 1)
                range = format("%.3f", own.fastest.seconds) + ".." + format("%.3f", own.slowest.seconds);
            needed = runsNeededText(own.times, settings);
        }
        text += row(std::string(kLines[line].label), median, range, needed);
        if (named.empty())
            continue;
        const bool most = stats.disturbance.lines[line].weakness != analyse::Weakness::none;
        weak = weak || most;
        disturbed.push_back(std::string(kLines[line].label) + ": " + named + (most ? "; disturbed in most runs" : ""));
    }
    if (disturbed.empty())
        return text + "No line disturbed.\n";
    text += "Disturbed (the share of the line's time others took, against its usual share; left out above) or\n"
            "irregular (far from the line's other runs with no outside cause; kept):\n";
    for (const std::string& entry : disturbed)
        text += "  " + entry + "\n";
    if (weak)
        text += "A line disturbed in most runs keeps them all above; its figures are weaker.\n";
    return text;
}

} // namespace cpubench
