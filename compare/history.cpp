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

// How far apart two sets of times are: the Mann-Whitney statistic,
// standardised (ties count a half); the larger, the clearer.
double rankDistance(const std::vector<double>& before, const std::vector<double>& after)
{
    double u = 0;
    for (const double a : before)
        for (const double b : after)
            u += b > a ? 1 : b == a ? 0.5 : 0;
    const double m = static_cast<double>(before.size()), n = static_cast<double>(after.size());
    return std::abs(u - m * n / 2) / std::sqrt(m * n * (m + n + 1) / 12);
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

// Every run of one side slower than every run of the other, by more than
// the threshold: a boundary too few runs may leave unconfirmed, but not one
// to merge away.
bool separated(const std::vector<double>& before, const std::vector<double>& after, double threshold)
{
    const auto [lowBefore, highBefore] = std::minmax_element(before.begin(), before.end());
    const auto [lowAfter, highAfter] = std::minmax_element(after.begin(), after.end());
    return *lowAfter > *highBefore * (1 + threshold) || *highAfter * (1 + threshold) < *lowBefore;
}

// The levels of `data`: where each starts (an index into `data`), and
// whether that boundary is a confirmed change. Bottom up: every session
// starts as a level of its own; while some boundary between two
// neighbouring levels is neither called slower or faster (at the level
// corrected for every boundary looked at) nor separated, the one of those
// whose levels are closest goes, and its neighbours are tested again. So a
// level that comes back (a step up and a step down) is found as well as a
// single step, and a level of a few sessions is kept apart until enough
// runs confirm it or it merges.
struct Levels {
    std::vector<std::size_t> starts;
    std::vector<bool> confirmed;
};

Levels levelsOf(const std::vector<SessionTimes>& data, const VerdictSettings& settings)
{
    struct Bound {
        std::size_t at;
        bool holds, apart;
        double distance;
    };
    std::vector<Bound> bounds;
    for (std::size_t at = 1; at < data.size(); ++at)
        bounds.push_back({at, false, false, 0});
    const std::size_t tries = data.size() > 1 ? data.size() - 1 : 1;
    const auto evaluate = [&](std::size_t i) {
        const std::size_t from = i == 0 ? 0 : bounds[i - 1].at;
        const std::size_t to = i + 1 < bounds.size() ? bounds[i + 1].at : data.size();
        const std::vector<double> before = timesOf(data, from, bounds[i].at), after = timesOf(data, bounds[i].at, to);
        bounds[i].holds = differs(judged(before, after, tries, settings).verdict);
        bounds[i].apart = separated(before, after, settings.threshold);
        bounds[i].distance = rankDistance(before, after);
    };
    for (std::size_t i = 0; i < bounds.size(); ++i)
        evaluate(i);
    for (;;) {
        std::optional<std::size_t> weakest;
        for (std::size_t i = 0; i < bounds.size(); ++i)
            if (!bounds[i].holds && !bounds[i].apart && (!weakest || bounds[i].distance < bounds[*weakest].distance))
                weakest = i;
        if (!weakest)
            break;
        bounds.erase(bounds.begin() + static_cast<std::ptrdiff_t>(*weakest));
        if (*weakest > 0)
            evaluate(*weakest - 1);
        if (*weakest < bounds.size())
            evaluate(*weakest);
    }
    Levels levels;
    for (const Bound& bound : bounds) {
        levels.starts.push_back(bound.at);
        levels.confirmed.push_back(bound.holds);
    }
    return levels;
}

struct LineFindings {
    std::vector<std::size_t> kept;       // the indices into the data that are no excursion
    Levels levels;                       // of the kept sessions, indices into `kept`
    std::vector<std::size_t> excursions; // indices into the data
};

// The stretch of data[] of the level that data[at] belongs to.
std::pair<std::size_t, std::size_t> levelAround(const Levels& levels, std::size_t at, std::size_t size)
{
    const auto next = std::upper_bound(levels.starts.begin(), levels.starts.end(), at);
    return {next == levels.starts.begin() ? 0 : *(next - 1), next == levels.starts.end() ? size : *next};
}

// Changes and excursions. An excursion is a session that was off and came
// back: a level of one session between two boundaries of opposite
// directions that differs from the levels on both sides, or a session that
// differs from the rest of its level. Excursions are then left out and the
// levels found again, so that a machine whose level moved a little while a
// busy session was off shows that move, not two steps.
LineFindings findChanges(const std::vector<SessionTimes>& data, const VerdictSettings& settings)
{
    LineFindings found;
    const Levels levels = levelsOf(data, settings);
    const std::vector<std::size_t>& starts = levels.starts;
    const std::size_t tries = data.size();
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        if (starts[i + 1] != starts[i] + 1)
            continue;
        const std::size_t s = starts[i];
        std::vector<double> around = timesOf(data, i == 0 ? 0 : starts[i - 1], s);
        const std::vector<double> after = timesOf(data, s + 1, i + 2 < starts.size() ? starts[i + 2] : data.size());
        const bool up = compareTimes(around, data[s].times, {}).estimate > 1;
        const bool back = compareTimes(data[s].times, after, {}).estimate > 1;
        around.insert(around.end(), after.begin(), after.end());
        if (up != back && differs(judged(around, data[s].times, tries, settings).verdict))
            found.excursions.push_back(s);
    }
    for (std::size_t i = 0; i <= starts.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : starts[i - 1];
        const std::size_t to = i < starts.size() ? starts[i] : data.size();
        for (std::size_t s = from + 1; s + 1 < to; ++s) {
            std::vector<double> rest = timesOf(data, from, s);
            const std::vector<double> later = timesOf(data, s + 1, to);
            rest.insert(rest.end(), later.begin(), later.end());
            if (differs(judged(rest, data[s].times, tries, settings).verdict))
                found.excursions.push_back(s);
        }
    }
    std::sort(found.excursions.begin(), found.excursions.end());
    std::vector<SessionTimes> reduced;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (!std::binary_search(found.excursions.begin(), found.excursions.end(), i)) {
            found.kept.push_back(i);
            reduced.push_back(data[i]);
        }
    found.levels = found.excursions.empty() ? levels : levelsOf(reduced, settings);
    return found;
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
        std::vector<SessionTimes> kept;
        for (const std::size_t i : found.kept)
            kept.push_back(data[i]);
        const Levels& levels = found.levels;
        for (std::size_t c = 0; c < levels.starts.size(); ++c) {
            if (!levels.confirmed[c])
                continue;
            const std::size_t cut = levels.starts[c];
            const std::size_t from = c == 0 ? 0 : levels.starts[c - 1];
            const std::size_t to = c + 1 < levels.starts.size() ? levels.starts[c + 1] : kept.size();
            Change change;
            change.machine = m;
            change.line = line;
            change.session = kept[cut].session;
            const std::vector<double> before = timesOf(kept, from, cut), after = timesOf(kept, cut, to);
            change.before = medianOf(before);
            change.after = medianOf(after);
            change.verdict = judged(before, after, kept.size() - 1, report.settings).verdict;
            change.estimate = compareTimes(before, after, report.settings);
            // Between the last session before it that was no excursion and this one.
            change.facts = factChanges(own.infos[kept[cut - 1].session], own.infos[change.session]);
            if (change.verdict == Verdict::slower && change.session + 1 == history.sessions.size())
                report.newestSlower = true;
            report.changes.push_back(change);
        }
        for (const std::size_t s : found.excursions) {
            Excursion excursion;
            excursion.machine = m;
            excursion.line = line;
            excursion.session = data[s].session;
            // Against the level of the sessions around it.
            const auto at = static_cast<std::size_t>(
                std::lower_bound(found.kept.begin(), found.kept.end(), s) - found.kept.begin());
            const auto [from, to] = levelAround(levels, at, kept.size());
            const std::vector<double> around = timesOf(kept, from, to);
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
