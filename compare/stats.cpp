#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using expected::kLines;

bool isGood(const Run& run)
{
    return run.transcript.problems.empty();
}

std::string joined(const std::vector<std::string>& texts, const char* separator)
{
    std::string text;
    for (const std::string& part : texts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

// A line the recorder saw disturbed is left out of the statistics unless
// the machine keeps such lines.
bool leftOutDisturbed(const Machine& machine, const Run& run, std::size_t line)
{
    return !machine.keepDisturbed && run.disturbance[line].kind != session::Disturbance::none;
}

// One note per disturbed line: the run, the line, what the system saw.
void disturbanceNotes(Comparison& c, std::size_t m)
{
    const Machine& machine = c.machines[m];
    for (std::size_t r = 0; r < machine.runs.size(); ++r) {
        const Run& run = machine.runs[r];
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            const session::LineJudgement& judgement = run.disturbance[line];
            if (judgement.kind == session::Disturbance::none || !run.figures[line])
                continue;
            char share[32];
            std::snprintf(share, sizeof share, "%.1f%%", judgement.share * 100);
            const std::string what =
                judgement.kind == session::Disturbance::throttling
                    ? std::to_string(run.figures[line]->throttle.value_or(0)) + " thermal throttling event(s)"
                    : std::string("others took ") + share + " of its time";
            c.notes.push_back("disturbed: " + run.name + ": " + std::string(kLines[line].label) + ": " + what +
                              (machine.keepDisturbed ? " (kept in the statistics by --keep-disturbed)"
                                                     : "; left out of the statistics (--keep-disturbed keeps it)"));
        }
    }
}

// The statistics of one line over the runs marked in `used`.
LineStats lineStats(const Machine& machine, const std::vector<bool>& used, std::size_t line)
{
    struct Time {
        double seconds;
        const std::string* text;
    };
    std::vector<Time> times;
    LineStats stats;
    // The good runs' times in run order, for the verdicts and outliers.
    for (std::size_t r = 0; r < machine.runs.size(); ++r) {
        if (!used[r])
            continue;
        const LineResult& result = machine.runs[r].transcript.lines[line];
        if (result.mark == Mark::wrong)
            stats.mark = Mark::wrong;
        else if (stats.mark == Mark::missing)
            stats.mark = result.mark;
        if (!result.time.empty() && !leftOutDisturbed(machine, machine.runs[r], line)) {
            times.push_back({std::strtod(result.time.c_str(), nullptr), &result.time});
            stats.times.push_back(times.back().seconds);
            stats.timeRuns.push_back(r);
        }
    }
    stats.runs = times.size();
    if (times.empty())
        return stats;
    std::stable_sort(times.begin(), times.end(), [](const Time& a, const Time& b) { return a.seconds < b.seconds; });
    stats.fastest = times.front().seconds;
    stats.slowest = times.back().seconds;
    stats.fastestText = *times.front().text;
    stats.slowestText = *times.back().text;
    const std::size_t middle = times.size() / 2;
    if (times.size() % 2 == 1) {
        stats.median = times[middle].seconds;
        stats.medianText = *times[middle].text;
    } else {
        stats.median = (times[middle - 1].seconds + times[middle].seconds) / 2;
        stats.medianText = formatTime(stats.median);
    }
    return stats;
}

std::string logValues(const Run& run)
{
    const LineResult& line = run.transcript.lines[0];
    if (!line.present || line.values.size() != kLines[0].count)
        return "";
    return joined(line.values, " ");
}

void groupFingerprints(Comparison& c)
{
    std::vector<std::string> keys;
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const Machine& machine = c.machines[m];
        // The machine's fingerprints, in the order its runs show them, each
        // with the runs that print it.
        std::vector<std::pair<std::size_t, std::vector<std::string>>> own;
        for (const Run& run : machine.runs) {
            const std::string key = logValues(run);
            if (key.empty())
                continue;
            auto at = std::find(keys.begin(), keys.end(), key);
            if (at == keys.end()) {
                at = keys.insert(keys.end(), key);
                c.groups.push_back({run.transcript.lines[0].values, {}});
            }
            const auto group = static_cast<std::size_t>(at - keys.begin());
            auto mine = std::find_if(own.begin(), own.end(), [&](const auto& g) { return g.first == group; });
            if (mine == own.end())
                mine = own.insert(own.end(), {group, {}});
            mine->second.push_back(run.name);
        }
        for (const auto& [group, runs] : own) {
            c.stats[m].lines[0].groups.push_back(group);
            c.groups[group].members.push_back(own.size() == 1 ? machine.name
                                                               : machine.name + " (" + joined(runs, ", ") + ")");
        }
        if (own.size() > 1) {
            std::string names;
            for (const auto& [group, runs] : own)
                names += (names.empty() ? "" : "; ") + groupName(group) + ": " + joined(runs, ", ");
            c.notes.push_back(machine.name +
                              ": its runs differ in the log fingerprint, so they did not all run the same "
                              "program on the same C library (" + names + ")");
        }
    }
}

// Per good run that has every summary line: the geometric mean of their times.
void summaryScores(const Machine& machine, MachineStats& stats)
{
    for (std::size_t r = 0; r < machine.runs.size(); ++r) {
        if (!stats.used[r])
            continue;
        double logSum = 0;
        bool every = true;
        for (const std::size_t line : kSummaryLines) {
            const std::string& time = machine.runs[r].transcript.lines[line].time;
            every = every && !time.empty();
            if (every)
                logSum += std::log(std::max(std::strtod(time.c_str(), nullptr), 0.0005));
        }
        if (every)
            stats.summary.scores.push_back(std::exp(logSum / static_cast<double>(kSummaryLines.size())));
    }
}

// One note per machine naming its undecided lines, grouped by the reason;
// where it can be told, each line's count of runs per machine that would
// decide follows it in brackets.
void undecidedNote(Comparison& c, std::size_t m)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> reasons;
    bool counted = false;
    std::size_t judged = 0, undecided = 0;
    const auto add = [&](const std::optional<RatioEstimate>& estimate, const std::string& label) {
        judged += estimate ? 1 : 0;
        if (!estimate || estimate->verdict != Verdict::undecided)
            return;
        ++undecided;
        std::string reason, item = label;
        if (estimate->doubt == Doubt::tooMuchSpread || estimate->doubt == Doubt::smallDifference) {
            RatioEstimate bare = *estimate;
            bare.runsNeeded.reset();
            reason = doubtText(bare, c.settings);
            if (estimate->runsNeeded) {
                item += " (" + std::to_string(*estimate->runsNeeded) + ")";
                counted = true;
            }
        } else
            reason = doubtText(*estimate, c.settings);
        auto at = std::find_if(reasons.begin(), reasons.end(), [&](const auto& r) { return r.first == reason; });
        if (at == reasons.end())
            at = reasons.insert(reasons.end(), {reason, {}});
        at->second.push_back(item);
    };
    for (std::size_t line = 0; line < kLines.size(); ++line)
        add(c.stats[m].lines[line].estimate, std::string(kLines[line].label));
    add(c.stats[m].summary.estimate, "the summary");
    if (reasons.empty())
        return;
    std::string text = c.machines[m].name + ": undecided";
    if (reasons.size() == 1 && undecided == judged && !counted)
        text += " on every line: " + reasons[0].first;
    else
        for (std::size_t i = 0; i < reasons.size(); ++i)
            text += std::string(i == 0 ? ", " : "; ") + reasons[i].first + ": " + joined(reasons[i].second, ", ");
    if (counted)
        text += "; in brackets, about how many runs per machine would decide";
    c.notes.push_back(text + ".");
}

// A note for each run whose time on a line is far from the machine's others.
void outlierNotes(Comparison& c, std::size_t m)
{
    const Machine& machine = c.machines[m];
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        const LineStats& stats = c.stats[m].lines[line];
        for (const Outlier& outlier : outliers(stats.times)) {
            char factor[32];
            std::snprintf(factor, sizeof factor, "%.2f", outlier.factor);
            const Run& run = machine.runs[stats.timeRuns[outlier.index]];
            c.notes.push_back(run.name + ": " + std::string(kLines[line].label) + " took " +
                              run.transcript.lines[line].time + " s, " + factor + " times the median of " +
                              machine.name + "'s other runs; the host may have been busy (the run stays in the "
                              "statistics, which a single run moves little).");
        }
    }
}

// One note for all machines read from a history: which session of each is
// compared.
void sessionNote(Comparison& c)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> bySession;
    for (const Machine& machine : c.machines) {
        if (machine.session.empty())
            continue;
        auto at = std::find_if(bySession.begin(), bySession.end(),
                               [&](const auto& entry) { return entry.first == machine.session; });
        if (at == bySession.end())
            at = bySession.insert(bySession.end(), {machine.session, {}});
        at->second.push_back(machine.name);
    }
    std::string note;
    for (const auto& [session, names] : bySession)
        note += (note.empty() ? "" : "; ") + session + " for " + joined(names, ", ");
    if (!note.empty())
        c.notes.push_back("Newest session compared: " + note);
}

} // namespace

std::string groupName(std::size_t index)
{
    std::string name(1, static_cast<char>('A' + index % 26));
    if (index >= 26)
        name += std::to_string(index / 26 + 1);
    return name;
}

std::string formatTime(double seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.4f", seconds);
    std::string result = text;
    if (result.back() == '0')
        result.pop_back();
    return result;
}

VerdictSettings rowSettings(std::size_t baseRuns, std::size_t otherRuns, const VerdictSettings& settings)
{
    VerdictSettings together = settings;
    together.level = 1 - (1 - settings.level) / static_cast<double>(kRows);
    if (std::min(baseRuns, otherRuns) >= kRowsTogetherRuns && ranks::criticalValue(baseRuns, otherRuns, 1 - together.level))
        return together;
    return settings;
}

MachineStats machineStats(const Machine& machine)
{
    MachineStats stats;
    std::size_t good = 0;
    for (const Run& run : machine.runs) {
        stats.used.push_back(isGood(run));
        good += isGood(run) ? 1 : 0;
    }
    stats.flagged = good != machine.runs.size();
    stats.fromFlawedRuns = good == 0;
    if (stats.fromFlawedRuns)
        stats.used.assign(machine.runs.size(), true);
    for (std::size_t line = 0; line < kLines.size(); ++line)
        stats.lines[line] = lineStats(machine, stats.used, line);
    summaryScores(machine, stats);
    return stats;
}

Comparison compare(std::vector<Machine> machines, const VerdictSettings& settings)
{
    Comparison c;
    c.settings = settings;
    c.machines = std::move(machines);
    c.stats.resize(c.machines.size());
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const Machine& machine = c.machines[m];
        MachineStats& stats = c.stats[m];
        c.severalRuns = c.severalRuns || machine.runs.size() > 1;
        if (!machine.infoError.empty())
            c.notes.push_back(machine.infoError + "; the machine's runs are compared without its description");
        c.notes.insert(c.notes.end(), machine.notes.begin(), machine.notes.end());

        stats = machineStats(machine);
        std::vector<std::string> leftOut;
        for (std::size_t r = 0; r < machine.runs.size(); ++r) {
            const Run& run = machine.runs[r];
            if (!isGood(run))
                leftOut.push_back(run.name);
            for (const std::string& problem : run.transcript.problems)
                c.problems.push_back(run.name + ": " + problem);
        }
        if (!machine.incomplete.empty())
            c.problems.push_back(machine.name + (machine.session.empty() ? "" : "/" + machine.session) +
                                 ": the recorded session is incomplete: " + machine.incomplete);
        disturbanceNotes(c, m);
        if (stats.flagged && machine.runs.size() > 1)
            c.notes.push_back(machine.name + ": " +
                              (stats.fromFlawedRuns ? "no run is complete with exact values; its figures come from all "
                                                      "its runs and are not to be trusted"
                                                    : "left out of its statistics: " + joined(leftOut, ", ")));
    }

    sessionNote(c);
    groupFingerprints(c);
    // Ratios to the baseline, their intervals and verdicts.
    for (std::size_t m = 1; m < c.machines.size(); ++m) {
        const bool flawed = c.stats[0].fromFlawedRuns || c.stats[m].fromFlawedRuns;
        // The fewest times of any row decide whether the rows can be judged together.
        std::size_t baseRuns = c.stats[0].summary.scores.size(), otherRuns = c.stats[m].summary.scores.size();
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            baseRuns = std::min(baseRuns, c.stats[0].lines[line].runs);
            otherRuns = std::min(otherRuns, c.stats[m].lines[line].runs);
        }
        const VerdictSettings rows = rowSettings(baseRuns, otherRuns, c.settings);
        c.stats[m].rowLevel = rows.level;
        c.stats[m].rowsTogether = rows.level != c.settings.level;
        const auto judged = [&](const std::vector<double>& base, const std::vector<double>& other) {
            RatioEstimate estimate = compareTimes(base, other, rows);
            if (flawed) {
                estimate.verdict = Verdict::undecided;
                estimate.doubt = Doubt::flawedRuns;
                estimate.runsNeeded.reset();
            }
            return estimate;
        };
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            const LineStats& base = c.stats[0].lines[line];
            LineStats& stats = c.stats[m].lines[line];
            if (base.runs == 0 || stats.runs == 0 || !(base.median > 0))
                continue;
            stats.medianRatio = stats.median / base.median;
            stats.estimate = judged(base.times, stats.times);
            stats.ratio = stats.estimate->estimate;
        }
        Summary& summary = c.stats[m].summary;
        double logSum = 0, medianLogSum = 0;
        bool every = true;
        for (const std::size_t line : kSummaryLines) {
            every = every && c.stats[m].lines[line].ratio.has_value();
            if (every) {
                logSum += std::log(*c.stats[m].lines[line].ratio);
                medianLogSum += std::log(*c.stats[m].lines[line].medianRatio);
            }
        }
        if (every) {
            summary.ratio = std::exp(logSum / static_cast<double>(kSummaryLines.size()));
            summary.medianRatio = std::exp(medianLogSum / static_cast<double>(kSummaryLines.size()));
        }
        if (every && !c.stats[0].summary.scores.empty() && !summary.scores.empty()) {
            summary.estimate = judged(c.stats[0].summary.scores, summary.scores);
            summary.ratio = summary.estimate->estimate;
        }
        undecidedNote(c, m);
    }
    for (std::size_t m = 0; m < c.machines.size(); ++m)
        outlierNotes(c, m);
    return c;
}
