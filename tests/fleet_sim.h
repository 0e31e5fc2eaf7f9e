// Generated fleets for the fleet analysis, made of the committed real runs
// (tests/data/idle-runs): each machine its own speed per line and its own
// wander between sessions (each line at its own scale, from a third to five
// thirds of the typical wander, the copy widest; a share of each session's
// offset common to all its lines), and its own spread inside a session (1%
// to 3%: each real run's deviation from the line's median, scaled). Some
// machines make a kernel change at one session (with the mitigations it
// brings), which may slow some lines; a few update their firmware at
// sessions of their own, which does nothing; one machine may slow down with
// no fact changing. Used by fleet_test (small) and fleet_benchmark.
#pragma once

#include "analyse/fleet.h"
#include "analyse/session_means.h"

#include "idle_runs.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace fleetsim {

using cpubench::analyse::Facts;

inline constexpr std::size_t kLines = 9;
inline constexpr std::size_t kInt64 = 3, kMulMod = 7, kCopy = 8;

struct Shape {
    std::size_t machines = 50, sessions = 10, runs = 4;
    double wander = 0.03; // the typical standard deviation of a session's offset (log)
    double shared = 0.5;  // the share of its variance common to all lines of the machine
    // The kernel change: the first `changed` machines, at session `changeAt`,
    // the lines `affected` times `effect`.
    std::size_t changed = 30, changeAt = 5;
    double effect = 1;
    std::vector<std::size_t> affected = {kInt64, kMulMod};
    // The first changed machine's effect on those lines, when it moves
    // differently from the rest; 0: as the rest.
    double outlier = 0;
    // Machines (after the changed ones) that update their firmware, each at
    // a session of its own; it changes nothing.
    std::size_t firmware = 5;
    // One machine (the last) slowed on every line from `slowAt` on, with no
    // fact changing; 1: none.
    double slowdown = 1;
    std::size_t slowAt = 6;
};

struct Machine {
    std::vector<std::vector<std::vector<double>>> times; // [session][line][run], seconds
    std::vector<Facts> facts;                            // per session
};

// The nine times of each committed run.
inline const std::vector<std::vector<double>>& idleTimes()
{
    static const std::vector<std::vector<double>> times = [] {
        static const std::regex time(" in ([0-9]+\\.[0-9]+) s");
        std::vector<std::vector<double>> all;
        for (const std::string& text : idleRuns()) {
            std::vector<double> run;
            for (auto it = std::sregex_iterator(text.begin(), text.end(), time); it != std::sregex_iterator(); ++it)
                run.push_back(std::stod((*it)[1].str()));
            if (run.size() == kLines)
                all.push_back(run);
        }
        return all;
    }();
    return times;
}

inline std::vector<Machine> fleet(const Shape& shape, std::mt19937& random)
{
    const auto& idle = idleTimes();
    // Each line's median and the standard deviation of its log-times.
    std::vector<double> median(kLines), deviation(kLines);
    for (std::size_t l = 0; l < kLines; ++l) {
        std::vector<double> logs;
        for (const auto& run : idle)
            logs.push_back(std::log(run[l]));
        std::sort(logs.begin(), logs.end());
        median[l] = logs[logs.size() / 2];
        double mean = 0, squares = 0;
        for (const double x : logs)
            mean += x / static_cast<double>(logs.size());
        for (const double x : logs)
            squares += (x - mean) * (x - mean);
        deviation[l] = std::sqrt(squares / static_cast<double>(logs.size() - 1));
    }
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    std::vector<Machine> machines(shape.machines);
    for (std::size_t m = 0; m < shape.machines; ++m) {
        Machine& machine = machines[m];
        std::vector<double> speed(kLines), scale(kLines);
        for (std::size_t l = 0; l < kLines; ++l) {
            speed[l] = 0.1 * normal(random);
            scale[l] = shape.wander * (1.0 / 3 + 4.0 / 3 * uniform(random));
        }
        scale[kCopy] = shape.wander * 5 / 3;
        const double spread = 0.01 + 0.02 * uniform(random);
        const bool changes = m < shape.changed;
        const bool firmware = m >= shape.changed && m < shape.changed + shape.firmware;
        const std::size_t firmwareAt = 1 + random() % (shape.sessions - 1);
        const bool slow = shape.slowdown != 1 && m + 1 == shape.machines;
        for (std::size_t s = 0; s < shape.sessions; ++s) {
            const bool after = changes && s >= shape.changeAt;
            machine.facts.push_back({{"processor", m % 2 ? "AMD EPYC 7763 64-Core Processor" : "Intel Xeon Gold 6338"},
                                     {"kernel", after ? "6.1.0-27-amd64" : "6.1.0-26-amd64"},
                                     {"mitigations.retbleed", after ? "Mitigation: untrained return thunk"
                                                                    : "Vulnerable"},
                                     {"firmware_version", firmware && s >= firmwareAt ? "2.21.0" : "2.19.1"},
                                     {"gmp_version", "6.2.1"}});
            const double common = normal(random);
            std::vector<double> offset(kLines);
            for (std::size_t l = 0; l < kLines; ++l) {
                offset[l] = speed[l] + scale[l] * (std::sqrt(shape.shared) * common +
                                                   std::sqrt(1 - shape.shared) * normal(random));
                if (after && std::find(shape.affected.begin(), shape.affected.end(), l) != shape.affected.end())
                    offset[l] += std::log(m == 0 && shape.outlier > 0 ? shape.outlier : shape.effect);
                if (slow && s >= shape.slowAt)
                    offset[l] += std::log(shape.slowdown);
            }
            std::vector<std::vector<double>> lines(kLines);
            for (std::size_t r = 0; r < shape.runs; ++r) {
                const auto& run = idle[random() % idle.size()];
                for (std::size_t l = 0; l < kLines; ++l)
                    lines[l].push_back(std::exp(median[l] + offset[l] +
                                                (std::log(run[l]) - median[l]) * spread / deviation[l]));
            }
            machine.times.push_back(lines);
        }
    }
    return machines;
}

// The fleet analysed as the history will: each machine's levels by the
// stand-in model and its own changes by the stand-in rule, then the
// findings across machines.
struct Analysed {
    std::vector<std::unique_ptr<cpubench::analyse::SessionMeans>> levels;
    std::vector<cpubench::analyse::Place> places;
    cpubench::analyse::FleetReport report;
};

inline Analysed analyse(const std::vector<Machine>& machines, const cpubench::analyse::FleetSettings& settings = {})
{
    using namespace cpubench::analyse;
    Analysed result;
    std::vector<FleetMachine> input;
    for (std::size_t m = 0; m < machines.size(); ++m) {
        const std::vector<std::size_t> bounds = factBounds(machines[m].facts);
        auto levels = std::make_unique<SessionMeans>(machines[m].times, kLines);
        const auto own = standInChanges(*levels, m, kLines, bounds, settings);
        // Each line's variance from the differences that cross neither a
        // fact change nor the machine's own change on that line.
        std::vector<std::vector<std::size_t>> byLine(kLines, bounds);
        for (const Place& place : own) {
            byLine[place.line].push_back(place.session);
            std::sort(byLine[place.line].begin(), byLine[place.line].end());
        }
        levels->estimate(byLine);
        result.places.insert(result.places.end(), own.begin(), own.end());
        input.push_back({machines[m].facts, levels.get()});
        result.levels.push_back(std::move(levels));
    }
    result.report = analyseFleet(input, result.places, kLines, settings);
    return result;
}

// The finding of the kernel change on `line`, if it was tested.
inline const cpubench::analyse::FleetFinding* kernelFinding(const cpubench::analyse::FleetReport& report,
                                                           std::size_t line)
{
    for (const auto& finding : report.findings)
        for (const auto& fact : report.groups[finding.group].facts)
            if (fact.key == "kernel" && finding.line == line)
                return &finding;
    return nullptr;
}

inline bool differs(cpubench::analyse::FleetVerdict verdict)
{
    return verdict == cpubench::analyse::FleetVerdict::slower || verdict == cpubench::analyse::FleetVerdict::faster;
}

} // namespace fleetsim
