#include "history.h"

#include <algorithm>
#include <cmath>

namespace {

using expected::kLines;

// The good runs' times of one session on one line.
struct SessionTimes {
    std::size_t session; // in the machine's sessions
    std::vector<double> times;
};

std::vector<double> timesOf(const std::vector<SessionTimes>& data, std::size_t from, std::size_t to)
{
    std::vector<double> times;
    for (std::size_t i = from; i < to; ++i)
        times.insert(times.end(), data[i].times.begin(), data[i].times.end());
    return times;
}

bool differs(Verdict verdict)
{
    return verdict == Verdict::slower || verdict == Verdict::faster;
}

// The split of data[from, to) with the largest standardised rank sum of the
// runs after it against those before it; none when there is no split.
std::optional<std::size_t> bestSplit(const std::vector<SessionTimes>& data, std::size_t from, std::size_t to)
{
    struct Value {
        double log;
        std::size_t session;
    };
    std::vector<Value> pooled;
    for (std::size_t i = from; i < to; ++i)
        for (const double time : data[i].times)
            pooled.push_back({std::log(std::max(time, 0.0005)), i - from});
    std::sort(pooled.begin(), pooled.end(), [](const Value& a, const Value& b) { return a.log < b.log; });
    std::vector<double> rankSums(to - from, 0);
    std::vector<double> counts(to - from, 0);
    for (std::size_t i = 0; i < pooled.size();) {
        std::size_t j = i;
        while (j < pooled.size() && pooled[j].log == pooled[i].log)
            ++j;
        const double midrank = (static_cast<double>(i + j) + 1) / 2; // ties share their ranks
        for (std::size_t k = i; k < j; ++k) {
            rankSums[pooled[k].session] += midrank;
            counts[pooled[k].session] += 1;
        }
        i = j;
    }
    const double total = static_cast<double>(pooled.size());
    double afterSum = 0, after = 0;
    for (std::size_t s = 0; s < rankSums.size(); ++s) {
        afterSum += rankSums[s];
        after += counts[s];
    }
    std::optional<std::size_t> best;
    double bestZ = 0;
    for (std::size_t k = 1; k < rankSums.size(); ++k) {
        afterSum -= rankSums[k - 1];
        after -= counts[k - 1];
        const double before = total - after;
        if (before == 0 || after == 0)
            continue;
        const double u = afterSum - after * (after + 1) / 2;
        const double z = std::abs(u - before * after / 2) / std::sqrt(before * after * (total + 1) / 12);
        if (!best || z > bestZ) {
            best = from + k;
            bestZ = z;
        }
    }
    return best;
}

// The verdict between two stretches at the level corrected for `tries`
// splits or sessions looked at, on each of the nine lines: a machine's
// history is one family of tests, so that noise makes a change (and a
// scheduled job's alert) in few histories, not in some line of most.
RatioEstimate judged(const std::vector<double>& before, const std::vector<double>& after, std::size_t tries,
                     const VerdictSettings& settings)
{
    const double looks = static_cast<double>(std::max<std::size_t>(tries, 1) * expected::kLineCount);
    const VerdictSettings strict{1 - (1 - settings.level) / looks, settings.threshold};
    return compareTimes(before, after, strict);
}

void segment(const std::vector<SessionTimes>& data, std::size_t from, std::size_t to, const VerdictSettings& settings,
             std::vector<std::size_t>& cuts)
{
    if (to - from < 2)
        return;
    const std::optional<std::size_t> split = bestSplit(data, from, to);
    if (!split || !differs(judged(timesOf(data, from, *split), timesOf(data, *split, to), to - from - 1, settings).verdict))
        return;
    cuts.push_back(*split);
    segment(data, from, *split, settings, cuts);
    segment(data, *split, to, settings, cuts);
}

struct LineFindings {
    std::vector<std::size_t> cuts;       // indices into the data where a level starts
    std::vector<std::size_t> excursions; // indices into the data
};

LineFindings findChanges(const std::vector<SessionTimes>& data, const VerdictSettings& settings)
{
    LineFindings found;
    std::vector<std::size_t>& cuts = found.cuts;
    segment(data, 0, data.size(), settings, cuts);
    std::sort(cuts.begin(), cuts.end());
    const auto bounds = [&](std::size_t i) {
        return std::pair<std::size_t, std::size_t>{i == 0 ? 0 : cuts[i - 1], i + 1 < cuts.size() ? cuts[i + 1] : data.size()};
    };
    // Each change again between its final neighbours; a change that no
    // longer holds goes, until all hold.
    for (bool removed = true; removed;) {
        removed = false;
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            const auto [from, to] = bounds(i);
            if (!differs(judged(timesOf(data, from, cuts[i]), timesOf(data, cuts[i], to), to - from - 1, settings).verdict)) {
                cuts.erase(cuts.begin() + static_cast<std::ptrdiff_t>(i));
                removed = true;
                break;
            }
        }
    }
    // One session between two changes, with sides that do not differ: an
    // excursion.
    for (std::size_t i = 0; i + 1 < cuts.size();) {
        if (cuts[i + 1] != cuts[i] + 1) {
            ++i;
            continue;
        }
        const std::size_t from = i == 0 ? 0 : cuts[i - 1];
        const std::size_t to = i + 2 < cuts.size() ? cuts[i + 2] : data.size();
        if (differs(compareTimes(timesOf(data, from, cuts[i]), timesOf(data, cuts[i + 1], to), settings).verdict)) {
            ++i;
            continue;
        }
        found.excursions.push_back(cuts[i]);
        cuts.erase(cuts.begin() + static_cast<std::ptrdiff_t>(i), cuts.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    // A session inside a level that differs from the rest of it.
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : cuts[i - 1];
        const std::size_t to = i < cuts.size() ? cuts[i] : data.size();
        for (std::size_t s = from + 1; s + 1 < to; ++s) {
            if (std::find(found.excursions.begin(), found.excursions.end(), s) != found.excursions.end())
                continue;
            std::vector<double> rest = timesOf(data, from, s);
            const std::vector<double> later = timesOf(data, s + 1, to);
            rest.insert(rest.end(), later.begin(), later.end());
            if (differs(judged(rest, data[s].times, to - from, settings).verdict))
                found.excursions.push_back(s);
        }
    }
    std::sort(found.excursions.begin(), found.excursions.end());
    return found;
}

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool hasWrongValue(const Machine& machine)
{
    for (const Run& run : machine.runs)
        for (const LineResult& line : run.transcript.lines)
            if (line.mark == Mark::wrong)
                return true;
    return false;
}

void analyseMachine(HistoryReport& report, const History& history, std::size_t m)
{
    MachineHistory own;
    own.name = history.name;
    own.source = history.source;
    std::vector<MachineStats> stats;
    bool wrongBefore = false;
    for (std::size_t s = 0; s < history.sessions.size(); ++s) {
        const Session& session = history.sessions[s];
        const Machine& machine = session.machine;
        own.sessions.push_back(session.name);
        own.infos.push_back(machine.info);
        stats.push_back(machineStats(machine));
        own.runs.push_back(machine.runs.size());
        std::size_t good = 0;
        for (bool used : stats.back().used)
            good += used && !stats.back().fromFlawedRuns ? 1 : 0;
        own.goodRuns.push_back(good);
        std::array<SessionLine, expected::kLineCount> lines{};
        for (std::size_t line = 0; line < kLines.size(); ++line) {
            const LineStats& ls = stats.back().lines[line];
            if (!stats.back().fromFlawedRuns && ls.runs > 0)
                lines[line] = {ls.runs, ls.median, ls.fastest, ls.slowest};
        }
        own.lines.push_back(lines);

        const bool newest = s + 1 == history.sessions.size();
        for (const Run& run : machine.runs) {
            for (const std::string& problem : run.transcript.problems)
                report.problems.push_back(run.name + ": " + problem);
            report.newestFlawed = report.newestFlawed || (newest && !run.transcript.problems.empty());
        }
        if (!machine.infoError.empty())
            report.notes.push_back(machine.infoError + "; the session's runs are used without its description");
        report.notes.insert(report.notes.end(), machine.notes.begin(), machine.notes.end());
        const bool wrong = hasWrongValue(machine);
        if (wrong && !wrongBefore)
            own.wrongFrom = s;
        wrongBefore = wrongBefore || wrong;
    }
    if (own.wrongFrom)
        report.notes.push_back(own.name + ": values wrong from session " + own.sessions[*own.wrongFrom] + " on" +
                               (*own.wrongFrom > 0 ? ", exact in every session before it: a fault of the machine's "
                                                     "hardware or software that started then"
                                                   : ", its first session"));

    for (std::size_t line = 0; line < kLines.size(); ++line) {
        std::vector<SessionTimes> data;
        for (std::size_t s = 0; s < stats.size(); ++s)
            if (!stats[s].fromFlawedRuns && !stats[s].lines[line].times.empty())
                data.push_back({s, stats[s].lines[line].times});
        if (data.size() < 2)
            continue;
        const LineFindings found = findChanges(data, report.settings);
        const auto isExcursion = [&](std::size_t i) {
            return std::find(found.excursions.begin(), found.excursions.end(), i) != found.excursions.end();
        };
        for (std::size_t c = 0; c < found.cuts.size(); ++c) {
            const std::size_t cut = found.cuts[c];
            const std::size_t from = c == 0 ? 0 : found.cuts[c - 1];
            const std::size_t to = c + 1 < found.cuts.size() ? found.cuts[c + 1] : data.size();
            Change change;
            change.machine = m;
            change.line = line;
            change.session = data[cut].session;
            const std::vector<double> before = timesOf(data, from, cut), after = timesOf(data, cut, to);
            change.before = medianOf(before);
            change.after = medianOf(after);
            change.verdict = judged(before, after, to - from - 1, report.settings).verdict;
            change.estimate = compareTimes(before, after, report.settings);
            // The facts of the last session before it that was no excursion.
            std::size_t previous = cut - 1;
            while (previous > from && isExcursion(previous))
                --previous;
            change.facts = factChanges(own.infos[data[previous].session], own.infos[change.session]);
            if (change.verdict == Verdict::slower && change.session + 1 == history.sessions.size())
                report.newestSlower = true;
            report.changes.push_back(change);
        }
        for (const std::size_t s : found.excursions) {
            Excursion excursion;
            excursion.machine = m;
            excursion.line = line;
            excursion.session = data[s].session;
            // Against the sessions around it, up to the changes on either side.
            const auto next = std::upper_bound(found.cuts.begin(), found.cuts.end(), s);
            const std::size_t from = next == found.cuts.begin() ? 0 : *(next - 1);
            const std::size_t to = next == found.cuts.end() ? data.size() : *next;
            std::vector<double> around;
            for (std::size_t i = from; i < to; ++i)
                if (i != s && !isExcursion(i))
                    around.insert(around.end(), data[i].times.begin(), data[i].times.end());
            if (around.empty())
                continue;
            excursion.estimate = compareTimes(around, data[s].times, report.settings);
            excursion.verdict = excursion.estimate.estimate > 1 ? Verdict::slower : Verdict::faster;
            report.excursions.push_back(excursion);
        }
    }
    report.machines.push_back(std::move(own));
}

} // namespace

HistoryReport analyseHistories(const std::vector<History>& histories, const VerdictSettings& settings)
{
    HistoryReport report;
    report.settings = settings;
    for (std::size_t m = 0; m < histories.size(); ++m)
        analyseMachine(report, histories[m], m);
    std::stable_sort(report.changes.begin(), report.changes.end(), [](const Change& a, const Change& b) {
        return a.machine != b.machine ? a.machine < b.machine : a.session != b.session ? a.session < b.session
                                                                                        : a.line < b.line;
    });
    return report;
}

int historyStatus(const HistoryReport& report)
{
    return report.newestFlawed ? 1 : report.newestSlower ? 3 : 0;
}
