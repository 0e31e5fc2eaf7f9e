#include "stats.h"

#include <algorithm>
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

// The statistics of one line over the runs marked in `used`.
LineStats lineStats(const Machine& machine, const std::vector<bool>& used, std::size_t line)
{
    struct Time {
        double seconds;
        const std::string* text;
    };
    std::vector<Time> times;
    LineStats stats;
    for (std::size_t r = 0; r < machine.runs.size(); ++r) {
        if (!used[r])
            continue;
        const LineResult& result = machine.runs[r].transcript.lines[line];
        if (result.mark == Mark::wrong)
            stats.mark = Mark::wrong;
        else if (stats.mark == Mark::missing)
            stats.mark = result.mark;
        if (!result.time.empty())
            times.push_back({std::strtod(result.time.c_str(), nullptr), &result.time});
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

Comparison compare(std::vector<Machine> machines)
{
    Comparison c;
    c.machines = std::move(machines);
    c.stats.resize(c.machines.size());
    for (std::size_t m = 0; m < c.machines.size(); ++m) {
        const Machine& machine = c.machines[m];
        MachineStats& stats = c.stats[m];
        c.severalRuns = c.severalRuns || machine.runs.size() > 1;
        if (!machine.infoError.empty())
            c.notes.push_back(machine.infoError + "; the machine's runs are compared without its description");
        c.notes.insert(c.notes.end(), machine.notes.begin(), machine.notes.end());

        std::vector<std::string> leftOut;
        for (const Run& run : machine.runs) {
            stats.used.push_back(isGood(run));
            if (!isGood(run))
                leftOut.push_back(run.name);
            for (const std::string& problem : run.transcript.problems)
                c.problems.push_back(run.name + ": " + problem);
        }
        stats.flagged = !leftOut.empty();
        stats.fromFlawedRuns = leftOut.size() == machine.runs.size();
        if (stats.fromFlawedRuns)
            stats.used.assign(machine.runs.size(), true);
        if (stats.flagged && machine.runs.size() > 1)
            c.notes.push_back(machine.name + ": " +
                              (stats.fromFlawedRuns ? "no run is complete with exact values; its figures come from all "
                                                      "its runs and are not to be trusted"
                                                    : "left out of its statistics: " + joined(leftOut, ", ")));
        for (std::size_t line = 0; line < kLines.size(); ++line)
            stats.lines[line] = lineStats(machine, stats.used, line);
    }

    // Ratios to the baseline, and the noise rule.
    for (std::size_t m = 1; m < c.machines.size(); ++m) {
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            const LineStats& base = c.stats[0].lines[line];
            LineStats& stats = c.stats[m].lines[line];
            if (base.runs == 0 || stats.runs == 0 || !(base.median > 0))
                continue;
            stats.ratio = stats.median / base.median;
            stats.withinNoise = !c.stats[0].fromFlawedRuns && !c.stats[m].fromFlawedRuns && base.runs >= 2 &&
                                stats.runs >= 2 && std::max(base.fastest, stats.fastest) <=
                                                       std::min(base.slowest, stats.slowest);
        }
    }
    sessionNote(c);
    groupFingerprints(c);
    return c;
}
