// A lab's history: changes found where times really moved, with the facts
// that changed then; none where only noise is; a busy session that returns;
// values that turn wrong; the exit status for a scheduled job. Histories are
// made of the committed real runs of one idle machine.
#include "history.h"
#include "phrases.h"
#include "write.h"

#include "idle_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace cpubench;

// The times of the lines starting with one of `labels` multiplied by `factor`.
std::string scaled(const std::string& text, double factor, const std::vector<std::string>& labels)
{
    static const std::regex time(" in ([0-9]+\\.[0-9]+) s");
    std::istringstream in(text);
    std::string result;
    for (std::string line; std::getline(in, line);) {
        for (const std::string& label : labels) {
            std::smatch found;
            if (line.rfind(label, 0) == 0 && std::regex_search(line, found, time)) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, " in %.3f s", std::stod(found[1].str()) * factor);
                line = found.prefix().str() + seconds + found.suffix().str();
            }
        }
        result += line + "\n";
    }
    return result;
}

// A history of `sessions` sessions of `runs` runs each, drawn at random
// without repeats from the idle runs; `edit` may change a session's texts.
template <typename Edit>
History history(const std::string& name, std::size_t sessions, std::size_t runs, std::mt19937& random, Edit edit)
{
    static const std::vector<std::string> idle = idleRuns();
    std::vector<std::size_t> order(idle.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    for (std::size_t i = order.size() - 1; i > 0; --i)
        std::swap(order[i], order[random() % (i + 1)]);
    History h;
    h.name = name;
    for (std::size_t s = 0; s < sessions; ++s) {
        Session session;
        session.name = "2026-12-0" + std::to_string(s + 1) + "T02.00Z";
        session.machine.name = name;
        session.machine.info.kernel = "6.1.0-26-amd64";
        for (std::size_t r = 0; r < runs; ++r) {
            std::string text = idle[order[(s * runs + r) % order.size()]];
            edit(s, text, session.machine.info);
            session.machine.runs.push_back({name + "/" + session.name + "/run-" + std::to_string(r + 1) + ".txt",
                                            readTranscript(text)});
        }
        h.sessions.push_back(std::move(session));
    }
    return h;
}

const auto kUnchanged = [](std::size_t, std::string&, MachineInfo&) {};

// The histories analysed, each by itself, at the default settings.
HistoryReport analysed(const std::vector<History>& histories)
{
    HistoryReport report;
    for (const History& history : histories)
        report.machines.push_back(analyseHistory(history, report.settings, false));
    return report;
}

TEST(History, AStepIsFoundAtItsSessionWithTheFactThatChanged)
{
    std::mt19937 random(7);
    // From the sixth session of ten on, GMP and the copy take 15% longer, and the kernel is another.
    const History h = history("alpha", 10, 3, random, [](std::size_t s, std::string& text, MachineInfo& info) {
        if (s >= 5) {
            text = scaled(text, 1.15, {"GMP", "Copy"});
            info.kernel = "6.1.0-27-amd64";
        }
    });
    const HistoryReport report = analysed({h});
    ASSERT_EQ(report.machines[0].changes.size(), 2u) << [&] { std::ostringstream o; writeHistoryText(o, report); return o.str(); }();
    for (const Change& change : report.machines[0].changes) {
        EXPECT_TRUE(change.line == 2 || change.line == 8) << change.line;
        EXPECT_EQ(change.session, 5u);
        EXPECT_EQ(change.verdict, Verdict::slower);
        EXPECT_LT(*change.estimate.low, 1.15);
        EXPECT_GT(*change.estimate.high, 1.15);
        ASSERT_EQ(change.facts.size(), 1u);
        EXPECT_EQ(change.facts[0].key + " " + change.facts[0].before + " " + change.facts[0].after,
                  "kernel 6.1.0-26-amd64 6.1.0-27-amd64");
    }
    EXPECT_TRUE(report.machines[0].excursions.empty());
    // The newest level is slower than the one before it: the alarm stays on.
    EXPECT_EQ(historyStatus(report), 3);
}

TEST(History, ABusySessionThatReturnsIsNoChangeButTheNewestIsAnAlert)
{
    std::mt19937 random(11);
    const auto busy = [](std::size_t at) {
        return [at](std::size_t s, std::string& text, MachineInfo&) {
            if (s == at)
                text = scaled(text, 1.4, {"double", "SSE2", "GMP", "INT64"});
        };
    };
    const HistoryReport back = analysed({history("beta", 6, 5, random, busy(2))});
    EXPECT_TRUE(back.machines[0].changes.empty());
    // Four of nine lines off at once are partly the machine's common part:
    // most of them, not always all, stand out as the line's excursion.
    ASSERT_GE(back.machines[0].excursions.size(), 3u);
    for (const Excursion& excursion : back.machines[0].excursions) {
        EXPECT_EQ(excursion.session, 2u);
        EXPECT_EQ(excursion.verdict, Verdict::slower);
    }
    // The same session as the newest has not come back (yet): a change, and
    // the status a nightly job alerts on.
    const HistoryReport now = analysed({history("beta", 6, 5, random, busy(5))});
    ASSERT_EQ(now.machines[0].changes.size(), 4u);
    EXPECT_EQ(now.machines[0].changes[0].session, 5u);
    EXPECT_EQ(historyStatus(now), 3);
    std::ostringstream text;
    writeHistoryText(text, now);
    EXPECT_NE(text.str().find("\n  beta, GMP mpz_pow_ui, from 2026-12-06T02.00Z: slower, "), std::string::npos)
        << text.str();
}

TEST(History, TheSessionWhereValuesTurnedWrongIsNamed)
{
    std::mt19937 random(13);
    const History h = history("gamma", 4, 4, random, [](std::size_t s, std::string& text, MachineInfo&) {
        if (s >= 2)
            text = std::regex_replace(text, std::regex("= 54885"), "= 54886");
    });
    const HistoryReport report = analysed({h});
    EXPECT_EQ(report.machines[0].wrongFrom, 2u);
    ASSERT_FALSE(report.machines[0].notes.empty());
    EXPECT_EQ(report.machines[0].notes[0].kind, HistoryNote::Kind::wrongFrom);
    EXPECT_EQ(historyStatus(report), 1); // wins over any slowdown
}

const std::vector<std::string> kLabels = {"double", "SSE2", "GMP", "INT64", "4Kern", "8Kern", "18Kern", "MUL", "Copy"};

// A machine that wanders: each session and line off by its own factor
// (`wander`, a standard deviation of the log), the runs inside a session
// spread by `spread`, and from session `stepAt` on the lines `stepped`
// `step` times slower. Made from one real run's times.
History wandering(std::mt19937& random, std::size_t sessions, std::size_t runs, double wander, double spread,
                  std::size_t stepAt = SIZE_MAX, double step = 1, const std::vector<std::string>& stepped = {})
{
    static const std::string real = idleRuns()[0];
    std::normal_distribution<double> normal;
    History h;
    h.name = "wandering";
    for (std::size_t s = 0; s < sessions; ++s) {
        Session session;
        session.name = "2026-11-" + std::to_string(10 + s) + "T02.00Z";
        session.machine.name = h.name;
        std::vector<double> offsets;
        for (std::size_t line = 0; line < kLabels.size(); ++line)
            offsets.push_back(wander * normal(random));
        for (std::size_t r = 0; r < runs; ++r) {
            std::string text = real;
            for (std::size_t line = 0; line < kLabels.size(); ++line) {
                double factor = std::exp(offsets[line] + spread * normal(random));
                if (s >= stepAt && std::find(stepped.begin(), stepped.end(), kLabels[line]) != stepped.end())
                    factor *= step;
                text = scaled(text, factor, {kLabels[line]});
            }
            session.machine.runs.push_back({h.name + "/" + session.name + "/run-" + std::to_string(r + 1) + ".txt",
                                            readTranscript(text)});
        }
        h.sessions.push_back(std::move(session));
    }
    return h;
}

TEST(History, SessionsThatWanderAreNoChangeButAStepAmongThemIs)
{
    std::mt19937 random(20261208);
    // 8 sessions of 4 runs, 3% between sessions, 0.5% inside, no step.
    int changed = 0, alerts = 0;
    constexpr int kHistories = 20;
    for (int i = 0; i < kHistories; ++i) {
        const HistoryReport report = analysed({wandering(random, 8, 4, 0.03, 0.005)});
        std::vector<bool> seen(kLineCount);
        for (const Change& change : report.machines[0].changes)
            seen[change.line] = true;
        for (const bool line : seen)
            changed += line ? 1 : 0;
        alerts += historyStatus(report) == 3 ? 1 : 0;
    }
    // A 25% step on two lines from session 6 of 10, under the same wander.
    int found = 0, elsewhere = 0;
    for (int i = 0; i < kHistories; ++i) {
        const HistoryReport report =
            analysed({wandering(random, 10, 4, 0.03, 0.005, 5, 1.25, {"GMP", "MUL"})});
        for (const Change& change : report.machines[0].changes) {
            const bool step = (change.line == 2 || change.line == 7) && change.session == 5 &&
                              change.verdict == Verdict::slower;
            (step ? found : elsewhere) += 1;
        }
    }
    std::printf("wandering sessions: %d of %d line histories with a change, %d of %d histories alert; a 25%% step "
                "found at its session in %d of %d line histories, %d changes elsewhere\n",
                changed, kHistories * 9, alerts, kHistories, found, 2 * kHistories, elsewhere);
    EXPECT_LE(changed, kHistories * 9 / 10);
    EXPECT_GE(found, 2 * kHistories * 3 / 4);
}

TEST(History, TheAlarmFiresWhileTheNewestLevelIsSlower)
{
    // Ten nightly sessions of two runs (real runs in the order they were
    // made), then one to four sessions with every time 15% slower.
    const std::vector<std::string> idle = idleRuns();
    std::vector<int> statuses;
    for (std::size_t slow = 1; slow <= 4; ++slow) {
        History h;
        h.name = "nightly";
        for (std::size_t s = 0; s < 10 + slow; ++s) {
            Session session;
            session.name = "2026-11-" + std::to_string(10 + s) + "T02.00Z";
            session.machine.name = h.name;
            for (std::size_t r = 0; r < 2; ++r) {
                const std::string& text = idle[(2 * s + r) % idle.size()];
                session.machine.runs.push_back({"run-" + std::to_string(r + 1) + ".txt",
                                                readTranscript(s >= 10 ? scaled(text, 1.15, kLabels) : text)});
            }
            h.sessions.push_back(std::move(session));
        }
        const HistoryReport report = analysed({h});
        statuses.push_back(historyStatus(report));
        // Dated to the first slow session.
        int dated = 0;
        for (const Change& change : report.machines[0].changes)
            dated += change.session == 10 && change.verdict == Verdict::slower ? 1 : 0;
        EXPECT_GE(dated, 1) << slow;
    }
    EXPECT_EQ(statuses, (std::vector<int>{3, 3, 3, 3}));
}

TEST(History, AShortHistoryCountsTheDefaultWander)
{
    // Three sessions are too few to measure the machine's wander: the
    // measured default counts, and says so. A large step of one line is
    // still called at its first session; one within the default's wander is
    // not.
    for (const double factor : {1.15, 1.3}) {
        std::mt19937 random(17);
        const History h = history("short", 3, 4, random, [&](std::size_t s, std::string& text, MachineInfo&) {
            if (s == 2)
                text = scaled(text, factor, {"GMP"});
        });
        const HistoryReport report = analysed({h});
        const MachineHistory& m = report.machines[0];
        EXPECT_EQ(m.wander.source, WanderSource::measuredDefault);
        EXPECT_TRUE(m.undecided.empty()) << factor;
        if (factor < 1.2) {
            EXPECT_TRUE(m.changes.empty());
            EXPECT_EQ(historyStatus(report), 0);
            continue;
        }
        ASSERT_EQ(m.changes.size(), 1u);
        EXPECT_EQ(m.changes[0].line, 2u);
        EXPECT_EQ(m.changes[0].session, 2u);
        EXPECT_EQ(historyStatus(report), 3);
        std::ostringstream text;
        writeHistoryText(text, report);
        EXPECT_NE(text.str().find("short: fewer than 4 sessions, so its tests count the default wander"),
                  std::string::npos)
            << text.str();
    }
}

TEST(History, FalseChangeRateOnRealRunsOfOneMachine)
{
    // Six sessions of five runs, each history drawn anew from the thirty
    // real runs: at most one line history in ten may show a change.
    std::mt19937 random(20261208);
    constexpr int kHistories = 100;
    std::vector<int> changed(kLineCount), excursions(kLineCount);
    int alerts = 0, found = 0;
    for (int i = 0; i < kHistories; ++i) {
        const HistoryReport report = analysed({history("idle", 6, 5, random, kUnchanged)});
        alerts += historyStatus(report) == 3 ? 1 : 0;
        // And how often a 10% slowdown of every line in the newest session alerts.
        const HistoryReport slowed = analysed(
            {history("slowed", 6, 5, random, [](std::size_t s, std::string& text, MachineInfo&) {
                if (s == 5)
                    text = scaled(text, 1.10, {"double", "SSE2", "GMP", "INT64", "4Kern", "8Kern", "18Kern", "MUL", "Copy"});
            })});
        found += historyStatus(slowed) == 3 ? 1 : 0;
        std::vector<bool> seen(kLineCount);
        for (const Change& change : report.machines[0].changes)
            seen[change.line] = true;
        for (std::size_t line = 0; line < seen.size(); ++line)
            changed[line] += seen[line] ? 1 : 0;
        for (const Excursion& excursion : report.machines[0].excursions)
            ++excursions[excursion.line];
    }
    int total = 0;
    std::printf("%-16s %8s %11s\n", "line", "changes", "excursions");
    for (std::size_t line = 0; line < changed.size(); ++line) {
        std::printf("%-16s %7d%% %10d%%\n", std::string(kLines[line].label).c_str(),
                    100 * changed[line] / kHistories, 100 * excursions[line] / kHistories);
        total += changed[line];
    }
    const double rate = static_cast<double>(total) / (kHistories * kLineCount);
    std::printf("line histories with a change: %.1f%%; histories whose newest session was called slower: %d%%, "
                "and with a 10%% slowdown in it: %d%%\n",
                100 * rate, 100 * alerts / kHistories, 100 * found / kHistories);
    EXPECT_LE(rate, 0.10);

    // The same runs in the order they were made, as six sessions of five:
    // the machine's speed wandered while they ran (for the record).
    const std::vector<std::string> idle = idleRuns();
    History ordered;
    ordered.name = "ordered";
    for (std::size_t s = 0; s < 6; ++s) {
        Session session;
        session.name = "2026-12-0" + std::to_string(s + 1) + "T02.00Z";
        session.machine.name = ordered.name;
        for (std::size_t r = 0; r < 5; ++r)
            session.machine.runs.push_back({"run-" + std::to_string(r + 1) + ".txt", readTranscript(idle[s * 5 + r])});
        ordered.sessions.push_back(std::move(session));
    }
    const HistoryReport inOrder = analysed({ordered});
    std::ostringstream text;
    writeHistoryText(text, inOrder);
    std::printf("in time order: %zu changes, %zu excursions, status %d\n%s", inOrder.machines[0].changes.size(),
                inOrder.machines[0].excursions.size(), historyStatus(inOrder), text.str().c_str());
}

} // namespace

namespace fleet {

// Twelve machines of ten sessions: from the sixth on, eight of them run
// kernel 27, which `slowdown` slows INT64MulDiv128 by; the machine "odd"
// (kernel 26 throughout) is 25% slower on the copy from the seventh on.
std::vector<History> fleetOf(double slowdown, std::mt19937& random)
{
    std::vector<History> machines;
    for (int m = 0; m < 12; ++m) {
        const bool updated = m < 8;
        const std::string name = m == 11 ? "odd" : "host-" + std::to_string(m);
        machines.push_back(history(name, 10, 3, random, [&](std::size_t s, std::string& text, MachineInfo& info) {
            if (updated && s >= 5) {
                info.kernel = "6.1.0-27-amd64";
                text = scaled(text, slowdown, {"INT64MulDiv128"});
            }
            if (name == "odd" && s >= 6)
                text = scaled(text, 1.25, {"Copy"});
        }));
    }
    return machines;
}

std::string textOf(const HistoryReport& report)
{
    std::ostringstream out;
    writeHistoryText(out, report);
    return out.str();
}

} // namespace fleet

TEST(History, AFactChangeAcrossMachinesIsOneFindingAndAMachineChangedAloneIsNamed)
{
    std::mt19937 random(11);
    const HistoryReport report = analysed(fleet::fleetOf(1.04, random));
    const std::string text = fleet::textOf(report);
    // Each machine alone sees too little of 4% to call it, or calls it on
    // its own; the fleet calls it once, with the machines that made it.
    const std::size_t at = text.find("\nFleet (findings across machines):\n");
    ASSERT_NE(at, std::string::npos) << text;
    const std::regex finding("kernel 6\\.1\\.0-26-amd64 -> 6\\.1\\.0-27-amd64, 8 of 12 machines: INT64MulDiv128 "
                             "([0-9.]+)x \\(([0-9.]+)\\.\\.([0-9.]+)\\),\\s+slower");
    std::smatch found;
    const std::string fleetPart = text.substr(at);
    ASSERT_TRUE(std::regex_search(fleetPart, found, finding)) << fleetPart;
    EXPECT_LT(std::stod(found[2].str()), 1.04);
    EXPECT_GT(std::stod(found[3].str()), 1.04);
    // No other line is called at the kernel, and the copy of "odd" is named as
    // a change with no fact changed.
    EXPECT_EQ(fleetPart.find("machines: double mul log"), std::string::npos) << fleetPart;
    EXPECT_NE(fleetPart.find("  odd, from 2026-12-07T02.00Z: Copy 2 GB 1."), std::string::npos) << fleetPart;
    // The kernel's slowdown is the newest level of its machines: an alert.
    EXPECT_EQ(historyStatus(report), 3);

    std::ostringstream json;
    writeHistoryJson(json, report);
    EXPECT_NE(json.str().find("\"fleet\": {"), std::string::npos);
    std::ostringstream html;
    writeHistoryHtml(html, report);
    EXPECT_NE(html.str().find("<section class=\"fleet\"><h2>Fleet</h2>"), std::string::npos);
}

TEST(History, AFactChangeThatDidNothingIsNoFleetFinding)
{
    std::mt19937 random(12);
    std::vector<History> machines = fleet::fleetOf(1.0, random);
    machines.pop_back(); // without "odd"
    const HistoryReport report = analysed(machines);
    const std::string text = fleet::textOf(report);
    EXPECT_EQ(text.find("Fleet (findings across machines)"), std::string::npos) << text;
}
