#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

std::string clock(double seconds)
{
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string format(const char* pattern, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

Progress::Progress(bool terminal, int runs, int pause) : terminal_(terminal), runs_(runs), pause_(pause) {}

void Progress::show(int run, std::size_t nextLine, double runSeconds, double totalSeconds)
{
    if (!terminal_ || (lastDraw_ >= 0 && totalSeconds - lastDraw_ < 0.5))
        return;
    lastDraw_ = totalSeconds;
    std::string text = "run " + std::to_string(run) + "/" + std::to_string(runs_) + "  ";
    text += nextLine < expected::kLineCount ? std::string(expected::kLines[nextLine].label) : "starting";
    text += "  " + clock(totalSeconds) + " elapsed";
    if (!durations_.empty()) {
        const double perRun = median(durations_);
        const double left = std::max(0.0, perRun - runSeconds) + (perRun + pause_) * (runs_ - run);
        text += ", about " + clock(left) + " left";
    }
    std::cout << "\r\033[K" << text << std::flush;
    drawn_ = true;
}

void Progress::pause(int run, double elapsed, int seconds)
{
    if (!terminal_)
        return;
    std::cout << "\r\033[Kpause before run " << run << "/" << runs_ << "  " << clock(elapsed) << " of "
              << clock(seconds) << std::flush;
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

std::optional<int> runsForVerdict(const std::vector<double>& times, double threshold)
{
    if (times.size() < 2)
        return std::nullopt;
    double mean = 0;
    for (double t : times)
        mean += std::log(std::max(t, 0.0005));
    mean /= static_cast<double>(times.size());
    double squares = 0;
    for (double t : times)
        squares += std::pow(std::log(std::max(t, 0.0005)) - mean, 2);
    const double sigma = std::sqrt(squares / static_cast<double>(times.size() - 1));
    // The 95% interval of the shift between two machines of n runs each
    // must fit within the threshold: 1.96 sigma sqrt(2/n), the rank
    // estimate's variance pi/3 times the mean's.
    const double width = std::log1p(threshold);
    const double n = 2.0 * (3.14159265358979 / 3.0) * std::pow(1.96 * sigma / width, 2);
    return std::max(4, static_cast<int>(std::ceil(std::min(n, 1e6))));
}

std::string summaryText(const std::vector<RecordedRun>& runs, int cpus)
{
    std::string text;
    std::vector<std::string> disturbed;
    char row[160];
    std::snprintf(row, sizeof row, "%-16s %9s  %-17s %s\n", "line", "median", "fastest..slowest", "runs for 2%");
    text += row;
    for (std::size_t line = 0; line < expected::kLineCount; ++line) {
        std::vector<double> times;
        std::string named; // the runs in which others disturbed the line
        for (const RecordedRun& run : runs) {
            const LineResult& result = run.transcript.lines[line];
            const auto& figures = run.record.lines[line];
            bool left = false;
            if (figures) {
                const session::LineJudgement judgement = session::judgeLine(*figures, line, cpus);
                if (judgement.kind != session::Disturbance::none) {
                    left = true;
                    named += std::string(named.empty() ? "" : ", ") + run.record.file + " (" +
                             (judgement.kind == session::Disturbance::throttling
                                  ? std::to_string(figures->throttle.value_or(0)) + " throttling events"
                                  : format("%.1f%%", judgement.share * 100)) +
                             ")";
                }
            }
            if (!left && run.transcript.problems.empty() && !result.time.empty())
                times.push_back(std::strtod(result.time.c_str(), nullptr));
        }
        std::string medianText = named.empty() ? "-" : "disturbed", range, needed;
        if (!times.empty()) {
            medianText = format("%.3f s", median(times));
            const auto [low, high] = std::minmax_element(times.begin(), times.end());
            if (times.size() > 1)
                range = format("%.3f", *low) + ".." + format("%.3f", *high);
            if (const auto n = runsForVerdict(times, 0.02))
                needed = "about " + std::to_string(*n);
        }
        std::snprintf(row, sizeof row, "%-16s %9s  %-17s %s\n", std::string(expected::kLines[line].label).c_str(),
                      medianText.c_str(), range.c_str(), needed.c_str());
        text += row;
        if (!named.empty())
            disturbed.push_back(std::string(expected::kLines[line].label) + ": " + named);
    }
    if (disturbed.empty())
        text += "No line disturbed.\n";
    else {
        text += "Disturbed (the share of the line's time others took), left out above:\n";
        for (const std::string& entry : disturbed)
            text += "  " + entry + "\n";
    }
    return text;
}
