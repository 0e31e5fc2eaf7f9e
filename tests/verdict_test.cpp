// The statistics behind the verdicts: the exact rank distribution against
// published tables, the four verdicts on small samples, and the rates at
// which real runs of one unchanged machine are called different (must be
// rare) and a 10% slowdown is found (must be common).
#include "comparison.h"
#include "ranks.h"
#include "read.h"
#include "robust.h"
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

using namespace cpubench;

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

// How often real runs of one machine split into two machines are called
// different, per row and in any of the ten rows of a comparison, and how
// often a 10% slowdown of the second machine is found.
struct Rates {
    int comparisons = 0;
    std::vector<std::array<int, 4>> unchanged = std::vector<std::array<int, 4>>(kRows);
    std::vector<int> slowed = std::vector<int>(kRows);
    std::vector<int> overlapFound = std::vector<int>(kRows);
    int anyFalse = 0;     // comparisons with a false + or - in some row
    int slowedFaster = 0; // a slowdown called faster or the same: never
    double falseRate() const
    {
        int calls = 0;
        for (std::size_t line = 0; line < kLineCount; ++line)
            calls += unchanged[line][static_cast<std::size_t>(Verdict::faster)] +
                     unchanged[line][static_cast<std::size_t>(Verdict::slower)];
        return static_cast<double>(calls) / (comparisons * static_cast<int>(kLineCount));
    }
    // Of the lines but the copy's, whose first touch of memory varies by a fifth.
    double foundRate(const std::vector<int>& counts) const
    {
        int found = 0;
        for (std::size_t line = 0; line + 1 < kLineCount; ++line)
            found += counts[line];
        return static_cast<double>(found) / (comparisons * static_cast<int>(kLineCount - 1));
    }
    double familyRate() const { return static_cast<double>(anyFalse) / comparisons; }
};

// `runs` runs per machine: in shuffled splits (drawn anew each time), or in
// time order (each machine a stretch of consecutive runs, the second right
// after the first, as two sessions of one machine are).
Rates measure(std::size_t runs, bool timeOrder, int shuffles = 200)
{
    const std::vector<std::string> texts = idleRuns();
    // A fixed generator and a shuffle written out, so that every compiler
    // draws the same splits.
    std::mt19937 random(20261208);
    Rates rates;
    const int splits = timeOrder ? static_cast<int>(texts.size() - 2 * runs + 1) : shuffles;
    for (int split = 0; split < splits; ++split) {
        std::vector<std::size_t> order(texts.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = timeOrder ? static_cast<std::size_t>(split) + i : i;
        if (!timeOrder)
            for (std::size_t i = order.size() - 1; i > 0; --i)
                std::swap(order[i], order[random() % (i + 1)]);
        Machine a, b, c;
        a.name = "a";
        b.name = "b";
        c.name = "c";
        for (std::size_t i = 0; i < runs; ++i) {
            a.runs.push_back({"a/" + std::to_string(i), readTranscript(texts[order[i]])});
            b.runs.push_back({"b/" + std::to_string(i), readTranscript(texts[order[runs + i]])});
            c.runs.push_back({"c/" + std::to_string(i), readTranscript(slowedDown(texts[order[runs + i]], 1.10))});
        }
        const Comparison comparison = compare({a, b, c});
        EXPECT_TRUE(comparison.problems.empty());
        ++rates.comparisons;
        bool anyFalse = false;
        for (std::size_t row = 0; row < kRows; ++row) {
            const auto estimateOf = [&](std::size_t m) {
                const MachineStats& stats = comparison.stats[m];
                return row < kLineCount ? *stats.lines[row].estimate : *stats.summary.estimate;
            };
            const Verdict same = estimateOf(1).verdict, slow = estimateOf(2).verdict;
            ++rates.unchanged[row][static_cast<std::size_t>(same)];
            anyFalse = anyFalse || same == Verdict::faster || same == Verdict::slower;
            rates.slowed[row] += slow == Verdict::slower ? 1 : 0;
            rates.slowedFaster += slow == Verdict::faster || slow == Verdict::same ? 1 : 0;
            if (row < kLineCount)
                rates.overlapFound[row] +=
                    comparison.stats[2].lines[row].fastest.seconds > comparison.stats[0].lines[row].slowest.seconds ? 1 : 0;
            // The ratio shown is the one the verdict rests on, inside its interval.
            for (std::size_t m = 1; m <= 2; ++m) {
                const RatioEstimate estimate = estimateOf(m);
                const double ratio = row < kLineCount ? *comparison.stats[m].lines[row].ratio
                                                                : *comparison.stats[m].summary.ratio;
                EXPECT_EQ(ratio, estimate.estimate);
                if (estimate.low) {
                    EXPECT_TRUE(*estimate.low <= ratio && ratio <= *estimate.high);
                }
            }
        }
        rates.anyFalse += anyFalse ? 1 : 0;
    }
    return rates;
}

TEST(Verdict, RatesOnRealRunsOfOneMachine)
{
    ASSERT_GE(idleRuns().size(), 20u);
    // The figures the documentation gives, for the record.
    std::printf("%5s %-9s %12s %10s %10s %9s\n", "runs", "order", "comparisons", "false/row", "any false",
                "+10% found");
    for (const std::size_t runs : std::initializer_list<std::size_t>{4, 5, 6, 7, 8, 10}) {
        for (const bool timeOrder : {false, true}) {
            const Rates rates = measure(runs, timeOrder);
            std::printf("%5zu %-9s %12d %9.1f%% %9.1f%% %8.1f%%\n", runs, timeOrder ? "time" : "shuffled",
                        rates.comparisons, 100 * rates.falseRate(), 100 * rates.familyRate(),
                        100 * rates.foundRate(rates.slowed));
            EXPECT_EQ(rates.slowedFaster, 0);
            // One session per machine: each verdict counts the default
            // wander between sittings, so no false + or - in the ten rows in
            // either order, shuffled or in time. (A 10% difference is then
            // too small to find from one sitting each; the power with a
            // machine's own sessions is measured in wander_test.cpp.)
            EXPECT_LE(rates.familyRate(), 0.05) << runs;
        }
    }
    const Rates five = measure(5, false);
    std::printf("%-16s %6s %6s %6s %9s   %7s\n", "5 runs, shuffled", "faster", "slower", "same", "undecided", "+10%");
    for (std::size_t row = 0; row < kRows; ++row) {
        const auto& u = five.unchanged[row];
        std::printf("%-16s %6d %6d %6d %9d   %6.1f%%\n",
                    row < kLineCount ? std::string(kLines[row].label).c_str() : "summary", u[0],
                    u[1], u[2], u[3], 100.0 * five.slowed[row] / five.comparisons);
    }
}

} // namespace
