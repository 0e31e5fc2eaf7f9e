// The statistics behind the verdicts: the exact rank distribution against
// published tables, the four verdicts on small samples, and the rates at
// which real runs of one unchanged machine are called different (must be
// rare) and a 10% slowdown is found (must be common).
#include "machine.h"
#include "stats.h"
#include "verdict.h"

#include "idle_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

TEST(Verdict, ExactDistributionMatchesPublishedCriticalValues)
{
    // Two-sided critical values of U from the published tables: U at or
    // below them is significant.
    struct Row {
        std::size_t m, n;
        double alpha;
        int critical; // -1: the level cannot be reached
    };
    const Row table[] = {
        {2, 2, 0.05, -1}, {3, 3, 0.05, -1}, {2, 8, 0.05, 0},  {3, 5, 0.05, 0},   {3, 7, 0.05, 1},
        {4, 4, 0.05, 0},  {4, 6, 0.05, 2},  {4, 8, 0.05, 4},  {5, 5, 0.05, 2},   {5, 7, 0.05, 5},
        {5, 10, 0.05, 8}, {6, 6, 0.05, 5},  {7, 7, 0.05, 8},  {7, 8, 0.05, 10},  {8, 8, 0.05, 13},
        {10, 10, 0.05, 23}, {20, 20, 0.05, 127}, {5, 5, 0.01, 0}, {8, 8, 0.01, 7}, {10, 10, 0.01, 16},
        {20, 20, 0.01, 105},
    };
    for (const Row& row : table) {
        const std::optional<std::size_t> critical = ranks::criticalValue(row.m, row.n, row.alpha);
        EXPECT_EQ(critical ? static_cast<int>(*critical) : -1, row.critical)
            << row.m << " and " << row.n << " at " << row.alpha;
    }
    // Exact probabilities: P(U <= 2) = 4/252 for five runs against five, and
    // the whole distribution sums to one, symmetric, also far beyond small
    // samples (where 128-bit counts are needed).
    const std::vector<long double> five = ranks::mannWhitneyDistribution(5, 5);
    EXPECT_NEAR(static_cast<double>(five[0] + five[1] + five[2]), 4.0 / 252, 1e-15);
    const std::vector<long double> big = ranks::mannWhitneyDistribution(60, 60);
    long double sum = 0;
    for (const long double p : big)
        sum += p;
    EXPECT_NEAR(static_cast<double>(sum), 1.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(big[100] / big[3600 - 100]), 1.0, 1e-9);
    EXPECT_NEAR(static_cast<double>(big[0]) * 9.6614908840363322e34, 1.0, 1e-12); // 1 / C(120, 60)
    EXPECT_EQ(ranks::fewestRunsToDecide(0.05), 4u);
}

std::vector<double> scaled(std::vector<double> times, double factor)
{
    for (double& time : times)
        time *= factor;
    return times;
}

TEST(Verdict, FourVerdictsOnSmallSamples)
{
    const VerdictSettings settings; // 95%, 2%
    const std::vector<double> base = {1.000, 1.010, 0.990, 1.004, 1.020};

    const RatioEstimate slower = compareTimes(base, scaled(base, 1.10), settings);
    EXPECT_EQ(slower.verdict, Verdict::slower);
    EXPECT_NEAR(slower.estimate, 1.10, 1e-9);
    EXPECT_LT(*slower.low, 1.10);
    EXPECT_GT(*slower.high, 1.10);
    EXPECT_NEAR(slower.confidence, 1 - 8.0 / 252, 1e-12);
    EXPECT_EQ(compareTimes(base, scaled(base, 0.90), settings).verdict, Verdict::faster);

    const RatioEstimate same = compareTimes(base, {1.002, 1.008, 0.995, 1.001, 1.012}, settings);
    EXPECT_EQ(same.verdict, Verdict::same);
    // 1% apart, with a spread of 3%: neither beyond 2% nor within it.
    const RatioEstimate spread = compareTimes(base, {1.04, 0.99, 1.01, 1.03, 1.00}, settings);
    EXPECT_EQ(spread.verdict, Verdict::undecided);
    EXPECT_EQ(spread.doubt, Doubt::tooMuchSpread);
    // A 1% difference with no overlap is real but not beyond 2%.
    const RatioEstimate small = compareTimes({1.000, 1.001, 1.002, 1.003}, {1.012, 1.013, 1.011, 1.010}, {0.95, 0.02});
    EXPECT_EQ(small.verdict, Verdict::same);
    const RatioEstimate near = compareTimes({1.000, 1.001, 1.002, 1.003}, {1.012, 1.013, 1.011, 1.030}, {0.95, 0.02});
    EXPECT_EQ(near.verdict, Verdict::undecided);
    EXPECT_EQ(near.doubt, Doubt::smallDifference);

    // Three runs against three can never reach 5%, however far apart.
    const RatioEstimate few = compareTimes({1, 1.01, 1.02}, {2, 2.01, 2.02}, settings);
    EXPECT_EQ(few.verdict, Verdict::undecided);
    EXPECT_EQ(few.doubt, Doubt::tooFewRuns);
    EXPECT_FALSE(few.low);
    EXPECT_EQ(few.runsNeeded, 4u);
    EXPECT_EQ(doubtText(few, settings), "too few runs (3 and 3; a decision at 95% needs 4 runs per machine or more)");
    // Four against four can: the interval is then the smallest and largest pairwise ratio.
    const RatioEstimate four = compareTimes({1, 1, 1, 1}, {1.1, 1.2, 1.3, 1.4}, settings);
    EXPECT_EQ(four.verdict, Verdict::slower);
    EXPECT_NEAR(*four.low, 1.1, 1e-12);
    EXPECT_NEAR(*four.high, 1.4, 1e-12);
}

TEST(Verdict, NamesARunFarFromItsMachinesOthers)
{
    const std::vector<Outlier> found = outliers({2.05, 2.30, 2.52, 3.85, 2.20});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].index, 3u);
    EXPECT_NEAR(found[0].factor, 3.85 / std::sqrt(2.20 * 2.30), 1e-9); // the others' median of logs
    // The spread of the copy line on an idle machine is no outlier.
    EXPECT_TRUE(outliers({14.4, 16.9, 13.1, 17.8, 15.2}).empty());
    EXPECT_TRUE(outliers({1.0, 9.0}).empty());
}

// Every time in the transcript multiplied by `factor`, printed as cpubench
// prints it: the values stay exact.
std::string slowedDown(const std::string& text, double factor)
{
    static const std::regex time(" in ([0-9]+\\.[0-9]+) s");
    std::string result;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), time), end; it != end; ++it) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", std::stod((*it)[1].str()) * factor);
        result.append(last, (*it)[0].first).append(" in ").append(seconds).append(" s");
        last = (*it)[0].second;
    }
    return result.append(last, text.cend());
}

TEST(Verdict, RatesOnRealRunsOfOneMachine)
{
    const std::vector<std::string> runs = idleRuns();
    ASSERT_GE(runs.size(), 10u);
    // A fixed generator and a shuffle written out, so that every compiler
    // draws the same splits.
    std::mt19937 random(20261208);
    constexpr int kSplits = 200;
    constexpr std::size_t kRuns = 5;
    const std::size_t lines = expected::kLineCount + 1; // and the summary
    std::vector<std::array<int, 4>> unchanged(lines), slowed(lines);
    std::vector<int> overlapFound(lines);
    for (int split = 0; split < kSplits; ++split) {
        std::vector<std::size_t> order(runs.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        for (std::size_t i = order.size() - 1; i > 0; --i)
            std::swap(order[i], order[random() % (i + 1)]);
        Machine a, b, c;
        a.name = "a";
        b.name = "b";
        c.name = "c";
        for (std::size_t i = 0; i < kRuns; ++i) {
            a.runs.push_back({"a/" + std::to_string(i), readTranscript(runs[order[i]])});
            b.runs.push_back({"b/" + std::to_string(i), readTranscript(runs[order[kRuns + i]])});
            c.runs.push_back({"c/" + std::to_string(i), readTranscript(slowedDown(runs[order[kRuns + i]], 1.10))});
        }
        const Comparison comparison = compare({a, b, c});
        ASSERT_TRUE(comparison.problems.empty());
        for (std::size_t line = 0; line < lines; ++line) {
            const auto verdictOf = [&](std::size_t m) {
                const MachineStats& stats = comparison.stats[m];
                return line < expected::kLineCount ? stats.lines[line].estimate->verdict : stats.summary.estimate->verdict;
            };
            ++unchanged[line][static_cast<std::size_t>(verdictOf(1))];
            ++slowed[line][static_cast<std::size_t>(verdictOf(2))];
            if (line < expected::kLineCount) {
                const LineStats& base = comparison.stats[0].lines[line];
                const LineStats& slow = comparison.stats[2].lines[line];
                overlapFound[line] += slow.fastest > base.slowest ? 1 : 0;
            }
        }
    }
    // The figures the documentation gives, for the record.
    int falseCalls = 0, found = 0, foundByOverlap = 0, judged = 0;
    std::printf("%-16s %6s %6s %6s %9s   %7s %8s\n", "line", "faster", "slower", "same", "undecided", "+10%",
                "overlap");
    for (std::size_t line = 0; line < lines; ++line) {
        const std::string label = line < expected::kLineCount ? std::string(expected::kLines[line].label) : "summary";
        const auto& u = unchanged[line];
        char overlap[16] = "       -";
        if (line < expected::kLineCount)
            std::snprintf(overlap, sizeof overlap, "%7.1f%%", 100.0 * overlapFound[line] / kSplits);
        std::printf("%-16s %6d %6d %6d %9d   %6.1f%% %s\n", label.c_str(), u[0], u[1], u[2], u[3],
                    100.0 * slowed[line][static_cast<std::size_t>(Verdict::slower)] / kSplits, overlap);
        if (line >= expected::kLineCount)
            continue;
        falseCalls += u[static_cast<std::size_t>(Verdict::faster)] + u[static_cast<std::size_t>(Verdict::slower)];
        if (label != "Copy 2 GB") {
            found += slowed[line][static_cast<std::size_t>(Verdict::slower)];
            foundByOverlap += overlapFound[line];
            judged += kSplits;
        }
    }
    const double falseRate = static_cast<double>(falseCalls) / (kSplits * expected::kLineCount);
    const double foundRate = static_cast<double>(found) / judged;
    std::printf("false differences %.2f%%, a 10%% slowdown found %.1f%% (overlap rule %.1f%%)\n", 100 * falseRate,
                100 * foundRate, 100.0 * foundByOverlap / judged);
    EXPECT_LE(falseRate, 0.05);
    EXPECT_GE(foundRate, 0.75);
    EXPECT_GE(found, foundByOverlap);
    // A slowdown is never called faster or the same.
    for (const auto& s : slowed)
        EXPECT_EQ(s[static_cast<std::size_t>(Verdict::faster)] + s[static_cast<std::size_t>(Verdict::same)], 0);
}

} // namespace
