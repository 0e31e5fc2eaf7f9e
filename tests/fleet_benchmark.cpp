// The fleet analysis on generated fleets (tests/fleet_sim.h), FLEETS of each
// kind, with the counts behind every rate:
//   a kernel change that slows two lines by 3% on 30 of 50 machines: found,
//     its interval holding 1.03, and what else is called;
//   the same kernel change doing nothing: fleets with any finding (the false
//     rate), and the kernel called "same";
//   one machine 10% slower on every line with nothing changed: named;
//   the 3% kernel change with one of its machines 25% slower instead: that
//     machine named as moving differently.
// A benchmark, run by hand: fleet_benchmark [FLEETS [SEED]]
#include "fleet_sim.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using cpubench::analyse::FleetVerdict;

struct Counts {
    int fleets = 0, anyFinding = 0, findings = 0, tests = 0;
    int found[fleetsim::kLines] = {}, covers[fleetsim::kLines] = {}, same[fleetsim::kLines] = {};
    int movedDifferently = 0, outlierNamed = 0, unexplainedFleets = 0, unexplainedMachines = 0, slowNamed = 0;
    int confirmedFleets = 0, confirmedMachines = 0, slowConfirmed = 0;
    double ratioSum[fleetsim::kLines] = {};
};

Counts run(const fleetsim::Shape& shape, int fleets, std::mt19937& random)
{
    Counts c;
    for (int f = 0; f < fleets; ++f) {
        const auto analysed = fleetsim::analyse(fleetsim::fleet(shape, random));
        const auto& report = analysed.report;
        ++c.fleets;
        c.tests += static_cast<int>(report.tests);
        bool any = false;
        for (const auto& finding : report.findings) {
            const bool affected = shape.effect != 1 && fleetsim::kernelFinding(report, finding.line) == &finding &&
                                  std::find(shape.affected.begin(), shape.affected.end(), finding.line) !=
                                      shape.affected.end();
            if (fleetsim::differs(finding.verdict) && !affected) {
                ++c.findings;
                any = true;
            }
            for (const auto& machine : finding.machines) {
                const bool outlier = shape.outlier > 0 && machine.machine == 0 &&
                                     fleetsim::kernelFinding(report, finding.line) == &finding &&
                                     std::find(shape.affected.begin(), shape.affected.end(), finding.line) !=
                                         shape.affected.end();
                if (machine.movedDifferently)
                    ++(outlier ? c.outlierNamed : c.movedDifferently);
            }
        }
        c.anyFinding += any ? 1 : 0;
        for (std::size_t line = 0; line < fleetsim::kLines; ++line)
            if (const auto* kernel = fleetsim::kernelFinding(report, line)) {
                c.found[line] += kernel->verdict == FleetVerdict::slower ? 1 : 0;
                c.same[line] += kernel->verdict == FleetVerdict::same ? 1 : 0;
                c.covers[line] += kernel->low <= shape.effect && shape.effect <= kernel->high ? 1 : 0;
                c.ratioSum[line] += kernel->ratio;
            }
        bool falseName = false, falseConfirmed = false;
        for (const auto& named : report.unexplained) {
            const bool slow = shape.slowdown != 1 && named.machine + 1 == shape.machines && named.session == shape.slowAt;
            c.slowNamed += slow ? 1 : 0;
            c.slowConfirmed += slow && named.confirmed ? 1 : 0;
            if (!slow) {
                ++c.unexplainedMachines;
                falseName = true;
                c.confirmedMachines += named.confirmed ? 1 : 0;
                falseConfirmed = falseConfirmed || named.confirmed;
            }
        }
        c.unexplainedFleets += falseName ? 1 : 0;
        c.confirmedFleets += falseConfirmed ? 1 : 0;
    }
    return c;
}

void print(const char* title, const Counts& c, const fleetsim::Shape& shape)
{
    std::printf("%s: %d fleets of %zu machines x %zu sessions x %zu runs, typical wander %.0f%%\n", title, c.fleets,
                shape.machines, shape.sessions, shape.runs, shape.wander * 100);
    for (std::size_t line = 0; line < fleetsim::kLines; ++line)
        std::printf("  kernel, line %zu: slower in %d, same in %d, interval holds %.2f in %d, mean ratio %.4f\n", line,
                    c.found[line], c.same[line], shape.effect, c.covers[line], c.ratioSum[line] / c.fleets);
    std::printf("  other findings (slower/faster): %d of %d tests, in %d of %d fleets\n", c.findings, c.tests,
                c.anyFinding, c.fleets);
    std::printf("  machines named as moving differently: %d", c.movedDifferently);
    if (shape.outlier > 0)
        std::printf(" besides the one that did, named on %d of %d lines", c.outlierNamed,
                    c.fleets * static_cast<int>(shape.affected.size()));
    std::printf("\n");
    std::printf("  machines named as changed with no fact changed: %d (in %d of %d fleets)", c.unexplainedMachines,
                c.unexplainedFleets, c.fleets);
    if (shape.slowdown != 1)
        std::printf("; the slowed machine named in %d of %d", c.slowNamed, c.fleets);
    std::printf("\n    confirmed at the fleet's level: %d (in %d fleets)", c.confirmedMachines, c.confirmedFleets);
    if (shape.slowdown != 1)
        std::printf("; the slowed machine in %d of %d", c.slowConfirmed, c.fleets);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    const int fleets = argc > 1 ? std::atoi(argv[1]) : 100;
    std::mt19937 random(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 20261209u);
    const auto started = std::chrono::steady_clock::now();

    fleetsim::Shape slowed;
    slowed.effect = 1.03;
    print("3% slower on two lines for 30 machines at a kernel change", run(slowed, fleets, random), slowed);
    fleetsim::Shape none;
    print("the kernel change does nothing", run(none, fleets, random), none);
    fleetsim::Shape lone;
    lone.slowdown = 1.10;
    print("one machine 10% slower from session 6, nothing changed", run(lone, fleets, random), lone);

    fleetsim::Shape odd = slowed;
    odd.outlier = 1.25;
    print("the 3% kernel change with one machine 25% slower instead", run(odd, fleets, random), odd);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%.1f s for %d fleets\n", seconds, 4 * fleets);
}
