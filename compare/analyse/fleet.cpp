#include "analyse/fleet.h"

#include "analyse/student_t.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

namespace cpubench::analyse {

namespace {

using FactMap = std::map<std::string, std::string>;

// A log-ratio known to within the clock's millisecond in a line of seconds
// at best: no variance below this.
constexpr double kLeastVariance = 1e-10;

// Beyond this many machines, the machine left out moves tau^2 little: the
// prediction of it keeps the fleet's tau^2 (and is k times cheaper).
constexpr std::size_t kExactLeaveOneOut = 100;

struct Weighted {
    double mean = 0, weights = 0, q = 0; // q: Cochran's Q at that tau^2
};

Weighted weighted(const std::vector<double>& y, const std::vector<double>& v, double tau2)
{
    Weighted result;
    double sum = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double w = 1 / (v[i] + tau2);
        result.weights += w;
        sum += w * y[i];
    }
    result.mean = sum / result.weights;
    for (std::size_t i = 0; i < y.size(); ++i)
        result.q += (y[i] - result.mean) * (y[i] - result.mean) / (v[i] + tau2);
    return result;
}

// Paule and Mandel's tau^2: where Q(tau^2) = k - 1 (Q falls as tau^2
// grows), 0 when Q(0) is at or below it already.
double pauleMandel(const std::vector<double>& y, const std::vector<double>& v)
{
    const double target = static_cast<double>(y.size()) - 1;
    if (y.size() < 2 || weighted(y, v, 0).q <= target)
        return 0;
    double spread = 0;
    const double mean = weighted(y, v, 0).mean;
    for (const double value : y)
        spread += (value - mean) * (value - mean);
    double low = 0, high = std::max(spread / target, kLeastVariance);
    while (weighted(y, v, high).q > target)
        high *= 2;
    for (int i = 0; i < 100 && high - low > 1e-12 * high; ++i) {
        const double middle = (low + high) / 2;
        (weighted(y, v, middle).q > target ? low : high) = middle;
    }
    return (low + high) / 2;
}

// Hartung and Knapp's variance of the estimate at tau^2, never below the
// usual 1 / sum of weights.
double hartungKnapp(const Weighted& at, std::size_t k)
{
    return std::max(1.0, at.q / (static_cast<double>(k) - 1)) / at.weights;
}

FleetVerdict verdictOf(double low, double high, double ratio, double threshold)
{
    if (low > 1 && ratio > 1 + threshold)
        return FleetVerdict::slower;
    if (high < 1 && ratio < 1 - threshold)
        return FleetVerdict::faster;
    if (low >= 1 - threshold && high <= 1 + threshold)
        return FleetVerdict::same;
    return FleetVerdict::undecided;
}

} // namespace

std::vector<std::vector<FactChange>> factChangesBySession(const std::vector<Facts>& sessions)
{
    std::vector<std::vector<FactChange>> changes(sessions.size());
    FactMap last;
    bool known = false;
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        if (sessions[s].empty())
            continue;
        FactMap now;
        for (const auto& [key, text] : sessions[s])
            if (!text.empty())
                now[key] = text;
        if (known) {
            std::set<std::string> keys;
            for (const auto& entry : last)
                keys.insert(entry.first);
            for (const auto& entry : now)
                keys.insert(entry.first);
            for (const std::string& key : keys) {
                const auto before = last.find(key), after = now.find(key);
                const std::string from = before == last.end() ? "" : before->second;
                const std::string to = after == now.end() ? "" : after->second;
                if (from != to)
                    changes[s].push_back({key, from, to});
            }
        }
        last = std::move(now);
        known = true;
    }
    return changes;
}

RandomEffects randomEffects(const std::vector<double>& y, const std::vector<double>& v, double alpha)
{
    RandomEffects result;
    const std::size_t k = y.size();
    std::vector<double> floored(v);
    for (double& each : floored)
        each = std::max(each, kLeastVariance);
    result.tau2 = pauleMandel(y, floored);
    const Weighted at = weighted(y, floored, result.tau2);
    result.estimate = at.mean;
    result.df = static_cast<double>(k) - 1;
    if (k < 2) {
        result.standardError = std::sqrt(1 / at.weights);
        result.low = result.high = result.estimate;
        return result;
    }
    result.standardError = std::sqrt(hartungKnapp(at, k));
    const double half = studentCritical(alpha, result.df) * result.standardError;
    result.low = result.estimate - half;
    result.high = result.estimate + half;
    return result;
}

namespace {

// What the steps of a fleet's analysis share: the input, each machine's
// fact changes by session, and where a level may start on each machine's
// line.
struct Fleet {
    const std::vector<FleetMachine>& machines;
    const std::vector<Place>& places;
    std::size_t lineCount;
    std::vector<std::vector<std::vector<FactChange>>> changesAt;
    std::vector<std::vector<std::vector<std::size_t>>> bounds;

    bool usable(const Place& p) const
    {
        return p.machine < machines.size() && machines[p.machine].levels && p.line < lineCount && p.session > 0 &&
               p.session < machines[p.machine].facts.size() &&
               p.session < machines[p.machine].levels->sessionCount();
    }

    // The machine's shift on the line at session s, between the bounds around it.
    std::optional<LevelShift> shiftAt(std::size_t m, std::size_t line, std::size_t s) const
    {
        const MachineLevels* levels = machines[m].levels;
        if (!levels || s == 0 || s >= levels->sessionCount())
            return std::nullopt;
        const std::vector<std::size_t>& at = bounds[m][line];
        const auto next = std::upper_bound(at.begin(), at.end(), s);
        const auto previous = std::lower_bound(at.begin(), at.end(), s);
        const std::size_t from = previous == at.begin() ? 0 : *(previous - 1);
        const std::size_t to = next == at.end() ? levels->sessionCount() : *next;
        std::optional<LevelShift> shift = levels->shift(line, from, s, to);
        if (shift && (!std::isfinite(shift->logRatio) || !std::isfinite(shift->standardError)))
            shift.reset();
        return shift;
    }
};

// The groups: each fact change with the (machine, session) where it was
// made; fact changes made at the very same places are one group.
std::vector<FleetGroup> groupsOf(const Fleet& fleet)
{
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::pair<std::size_t, std::size_t>>>
        byFact;
    for (std::size_t m = 0; m < fleet.machines.size(); ++m)
        for (std::size_t s = 0; s < fleet.changesAt[m].size(); ++s)
            for (const FactChange& fact : fleet.changesAt[m][s])
                byFact[{fact.key, fact.before, fact.after}].emplace_back(m, s);
    std::map<std::vector<std::pair<std::size_t, std::size_t>>, std::vector<FactChange>> byPlaces;
    for (const auto& [fact, at] : byFact) {
        std::set<std::size_t> distinct;
        for (const auto& each : at)
            distinct.insert(each.first);
        if (distinct.size() >= kFewestMachines)
            byPlaces[at].push_back({std::get<0>(fact), std::get<1>(fact), std::get<2>(fact)});
    }
    std::vector<FleetGroup> groups;
    for (auto& [at, facts] : byPlaces)
        groups.push_back({std::move(facts), at});
    return groups;
}

// Where a level may start on each machine's line: a fact change, or the
// machine's own change on that line.
void findBounds(Fleet& fleet)
{
    fleet.bounds.assign(fleet.machines.size(), {});
    for (std::size_t m = 0; m < fleet.machines.size(); ++m) {
        std::vector<std::size_t> facts;
        for (std::size_t s = 1; s < fleet.changesAt[m].size(); ++s)
            if (!fleet.changesAt[m][s].empty())
                facts.push_back(s);
        fleet.bounds[m].assign(fleet.lineCount, facts);
    }
    for (const Place& p : fleet.places)
        if (fleet.usable(p) && p.kind == PlaceKind::change)
            fleet.bounds[p.machine][p.line].push_back(p.session);
    for (auto& machine : fleet.bounds)
        for (auto& line : machine)
            std::sort(line.begin(), line.end());
}

// Each machine of a finding against the prediction the others make of it,
// its own error known to its own degrees of freedom.
void markMovedDifferently(FleetFinding& finding, const std::vector<double>& y, const std::vector<double>& v,
                          const RandomEffects& effect, double alpha, const FleetSettings& settings)
{
    const std::size_t k = y.size();
    const double df = static_cast<double>(k) - 2;
    std::vector<double> floored(v);
    for (double& each : floored)
        each = std::max(each, kLeastVariance);
    const Weighted all = weighted(y, floored, effect.tau2);
    for (std::size_t i = 0; i < k; ++i) {
        double mean = 0, tau2 = effect.tau2, variance = 0;
        if (k <= kExactLeaveOneOut) {
            std::vector<double> otherY(y), otherV(floored);
            otherY.erase(otherY.begin() + static_cast<std::ptrdiff_t>(i));
            otherV.erase(otherV.begin() + static_cast<std::ptrdiff_t>(i));
            tau2 = pauleMandel(otherY, otherV);
            const Weighted others = weighted(otherY, otherV, tau2);
            mean = others.mean;
            variance = hartungKnapp(others, k - 1);
        } else {
            const double w = 1 / (floored[i] + tau2);
            const double weights = all.weights - w;
            mean = (all.mean * all.weights - w * y[i]) / weights;
            variance = 1 / weights;
        }
        const double spread = std::sqrt(tau2 + floored[i] + variance);
        const double critical = studentCritical(alpha / static_cast<double>(k),
                                                std::min(df, std::max(finding.machines[i].shift.df, 1.0)));
        const double off = y[i] - mean;
        finding.machines[i].movedDifferently =
            std::abs(off) > critical * spread && std::abs(std::exp(off) - 1) > settings.threshold;
    }
}

// A group's change tested on one line across the machines that made it;
// none with fewer than kFewestMachines of them timed on both sides.
std::optional<FleetFinding> testGroup(const Fleet& fleet, const std::vector<FleetGroup>& groups, std::size_t g,
                                      std::size_t line, double alpha, const FleetSettings& settings)
{
    FleetFinding finding;
    finding.group = g;
    finding.line = line;
    std::vector<double> y, v;
    for (const auto& [m, s] : groups[g].sessions) {
        const std::optional<LevelShift> shift = fleet.shiftAt(m, line, s);
        if (!shift)
            continue;
        finding.machines.push_back({m, s, *shift, false});
        y.push_back(shift->logRatio);
        v.push_back(shift->standardError * shift->standardError);
    }
    const std::size_t k = y.size();
    if (k < kFewestMachines)
        return std::nullopt;
    const RandomEffects effect = randomEffects(y, v, alpha);
    finding.ratio = std::exp(effect.estimate);
    finding.low = std::exp(effect.low);
    finding.high = std::exp(effect.high);
    finding.confidence = 1 - alpha;
    finding.tau = std::sqrt(effect.tau2);
    finding.verdict = verdictOf(finding.low, finding.high, finding.ratio, settings.threshold);
    if (k >= 3) {
        const double half = studentCritical(alpha, static_cast<double>(k) - 2) *
                            std::sqrt(effect.tau2 + effect.standardError * effect.standardError);
        finding.predictionLow = std::exp(effect.estimate - half);
        finding.predictionHigh = std::exp(effect.estimate + half);
        markMovedDifferently(finding, y, v, effect, alpha, settings);
    }
    return finding;
}

// Each machine's places at a group's sessions go with its finding on that line.
void attachPlaces(const Fleet& fleet, FleetReport& report)
{
    std::map<std::pair<std::size_t, std::size_t>, std::vector<std::size_t>> groupsAt;
    for (std::size_t g = 0; g < report.groups.size(); ++g)
        for (const auto& at : report.groups[g].sessions)
            groupsAt[at].push_back(g);
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> findingOf;
    for (std::size_t f = 0; f < report.findings.size(); ++f)
        findingOf[{report.findings[f].group, report.findings[f].line}] = f;
    for (std::size_t p = 0; p < fleet.places.size(); ++p) {
        const auto groups = groupsAt.find({fleet.places[p].machine, fleet.places[p].session});
        if (!fleet.usable(fleet.places[p]) || groups == groupsAt.end())
            continue;
        for (const std::size_t g : groups->second)
            if (const auto f = findingOf.find({g, fleet.places[p].line}); f != findingOf.end())
                report.findings[f->second].places.push_back(p);
    }
}

// Changes where no fact changed, by machine and session; confirmed where
// some line's shift holds at the level corrected for every machine and line.
std::vector<Unexplained> unexplainedOf(const Fleet& fleet, const FleetSettings& settings)
{
    std::map<std::pair<std::size_t, std::size_t>, std::set<std::size_t>> byPlace;
    for (const Place& p : fleet.places)
        if (fleet.usable(p) && p.kind == PlaceKind::change && fleet.changesAt[p.machine][p.session].empty())
            byPlace[{p.machine, p.session}].insert(p.line);
    const double alpha = (1 - settings.level) /
                         static_cast<double>(std::max<std::size_t>(fleet.machines.size() * fleet.lineCount, 1));
    std::vector<Unexplained> result;
    for (const auto& [at, lines] : byPlace) {
        Unexplained named{at.first, at.second, {lines.begin(), lines.end()}, {}, false};
        for (const std::size_t line : named.lines) {
            const LevelShift shift = fleet.shiftAt(at.first, line, at.second).value_or(LevelShift{0, 0, 0});
            named.shifts.push_back(shift);
            if (shift.standardError > 0 && shift.df > 0 &&
                std::abs(shift.logRatio) / shift.standardError > studentCritical(alpha, shift.df))
                named.confirmed = true;
        }
        result.push_back(std::move(named));
    }
    return result;
}

} // namespace

FleetReport analyseFleet(const std::vector<FleetMachine>& machines, const std::vector<Place>& places,
                         std::size_t lineCount, const FleetSettings& settings)
{
    Fleet fleet{machines, places, lineCount, {}, {}};
    for (const FleetMachine& machine : machines)
        fleet.changesAt.push_back(factChangesBySession(machine.facts));
    findBounds(fleet);
    FleetReport report;
    report.groups = groupsOf(fleet);
    report.tests = report.groups.size() * lineCount;
    const double alpha = (1 - settings.level) / static_cast<double>(std::max<std::size_t>(report.tests, 1));
    for (std::size_t g = 0; g < report.groups.size(); ++g)
        for (std::size_t line = 0; line < lineCount; ++line)
            if (std::optional<FleetFinding> finding = testGroup(fleet, report.groups, g, line, alpha, settings))
                report.findings.push_back(std::move(*finding));
    attachPlaces(fleet, report);
    report.unexplained = unexplainedOf(fleet, settings);
    return report;
}

} // namespace cpubench::analyse
