// The wander model and the statistics on it: the distributions against
// known values, the model's estimates on generated sessions, the history's
// steps and the comparison's verdicts, and their rates on some hundred
// generated histories and comparisons (the full measurement with its counts
// is bench/wander_bench).
#include "distributions.h"
#include "sitting.h"
#include "steps.h"
#include "wander.h"
#include "wander_generated.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace cpubench;
using wandergen::Session;

TEST(WanderDistributions, KnownValues)
{
    EXPECT_NEAR(normalQuantile(0.975), 1.959964, 1e-6);
    EXPECT_NEAR(normalQuantile(1e-6), -4.753424, 1e-5);
    EXPECT_NEAR(tQuantileUpper(0.025, 4), 2.776445, 1e-5);
    EXPECT_NEAR(tQuantileUpper(0.005, 10), 3.169273, 1e-5);
    EXPECT_NEAR(tUpperTail(2.0, 3), 0.069663, 1e-6);
    EXPECT_NEAR(chiSquareQuantile(0.95, 10), 18.307, 0.05);
    // Two sessions: one boundary, the plain two-sided normal test.
    EXPECT_NEAR(noStepProbability({1, 1}, 1.959964), 0.95, 1e-4);
}

// The largest standardised step over the boundaries of n sessions without
// one, by simulation, against the bridge's probability: the correction for
// neighbouring boundaries must be neither Bonferroni's nor none.
TEST(WanderDistributions, LargestStepOfSessionsWithoutOne)
{
    std::mt19937_64 random(5);
    std::normal_distribution<double> normal;
    const std::vector<double> variances = {1, 1, 2, 1, 1, 0.5, 1, 1};
    const double critical = noStepCritical(variances, 0.05);
    int beyond = 0;
    constexpr int kDraws = 40000;
    for (int i = 0; i < kDraws; ++i) {
        std::vector<double> x;
        for (const double v : variances)
            x.push_back(std::sqrt(v) * normal(random));
        double largest = 0, weight = 0, sum = 0, total = 0, totalSum = 0;
        for (std::size_t s = 0; s < x.size(); ++s) {
            total += 1 / variances[s];
            totalSum += x[s] / variances[s];
        }
        for (std::size_t b = 1; b < x.size(); ++b) {
            weight += 1 / variances[b - 1];
            sum += x[b - 1] / variances[b - 1];
            const double z = ((totalSum - sum) / (total - weight) - sum / weight) /
                             std::sqrt(1 / weight + 1 / (total - weight));
            largest = std::max(largest, std::abs(z));
        }
        beyond += largest > critical ? 1 : 0;
    }
    EXPECT_NEAR(static_cast<double>(beyond) / kDraws, 0.05, 0.005);
    EXPECT_GT(critical, -normalQuantile(0.025));
    EXPECT_LT(critical, -normalQuantile(0.025 / 7));
    // One more session, more places to look: a higher critical value.
    EXPECT_GT(largestStepCritical(11, 0.01, 1e9), largestStepCritical(10, 0.01, 1e9));
    EXPECT_GT(largestStepCritical(10, 0.01, 8), largestStepCritical(10, 0.01, 1e9));
}

TEST(WanderModel, EstimatesEachLineAndTheMachineWidePart)
{
    std::mt19937_64 random(11);
    const wandergen::Shape shape = wandergen::randomShape(random, 0.03);
    const WanderModel model = fitWander(wandergen::linesOf(wandergen::history(shape, 80, 4, random)));
    EXPECT_EQ(model.source, WanderSource::sessions);
    EXPECT_EQ(model.sessions, 80u);
    for (std::size_t l = 0; l < kLineCount; ++l) {
        EXPECT_NEAR(std::log(model.scale[l] / shape.scale[l]), 0, 0.3) << l;
        EXPECT_NEAR(std::log(model.spread[l] / shape.spread[l]), 0, 0.15) << l;
    }
    EXPECT_NEAR(model.share, shape.share, 0.15);
    EXPECT_GT(model.typicalDf, 20);

    // Too few sessions: the measured default, with this machine's spread.
    const WanderModel few = fitWander(wandergen::linesOf(wandergen::history(shape, 3, 4, random)));
    EXPECT_EQ(few.source, WanderSource::measuredDefault);
    EXPECT_EQ(few.scale, measuredDefaultWander().scale);
    EXPECT_NEAR(std::log(few.spread[3] / shape.spread[3]), 0, 0.6);
}

TEST(WanderModel, ABusySessionMovesItLittle)
{
    std::mt19937_64 random(12);
    const wandergen::Shape shape = wandergen::randomShape(random, 0.02);
    std::vector<Session> sessions = wandergen::history(shape, 12, 4, random);
    const WanderModel quiet = fitWander(wandergen::linesOf(sessions));
    // Others took much of the team lines and the copy in one session.
    for (auto& run : sessions[5])
        for (const std::size_t l : {4u, 5u, 6u, 8u})
            run[l] *= 1.8;
    const WanderModel busy = fitWander(wandergen::linesOf(sessions));
    for (const std::size_t l : {4u, 5u, 6u, 8u})
        EXPECT_LT(busy.scale[l], 2 * quiet.scale[l]) << l;
    EXPECT_NEAR(busy.scale[0], quiet.scale[0], 0.2 * quiet.scale[0]);
}

TEST(WanderModel, OtherMachinesInformTheRelativeScales)
{
    std::mt19937_64 random(13);
    wandergen::Shape shape = wandergen::randomShape(random, 0.02);
    const WanderModel own = fitWander(wandergen::linesOf(wandergen::history(shape, 5, 4, random)));
    std::vector<WanderModel> others;
    for (int i = 0; i < 4; ++i)
        others.push_back(fitWander(wandergen::linesOf(wandergen::history(shape, 30, 4, random))));
    const WanderModel pooled = poolScales(own, others);
    double ownError = 0, pooledError = 0;
    for (std::size_t l = 0; l < kLineCount; ++l) {
        ownError += std::abs(std::log(own.scale[l] / shape.scale[l]));
        pooledError += std::abs(std::log(pooled.scale[l] / shape.scale[l]));
        EXPECT_GT(pooled.scaleDf[l], own.scaleDf[l]);
    }
    EXPECT_LT(pooledError, ownError);
    EXPECT_EQ(poolScales(measuredDefaultWander(), others).scale, measuredDefaultWander().scale);
}

// The lines stepped at `at` by `factor`.
wandergen::Step stepOf(std::size_t at, double factor, std::vector<std::size_t> lines)
{
    return [=](std::size_t s, std::size_t l) {
        return s >= at && std::find(lines.begin(), lines.end(), l) != lines.end() ? factor : 1.0;
    };
}

TEST(WanderSteps, AStepIsFoundAtItsSessionAndABusySessionIsAnExcursion)
{
    std::mt19937_64 random(21);
    const wandergen::Shape shape = wandergen::randomShape(random, 0.02);
    std::vector<Session> sessions = wandergen::history(shape, 10, 4, random, stepOf(5, 1.25, {2, 8}));
    for (auto& run : sessions[2])
        for (const std::size_t l : {4u, 5u, 6u})
            run[l] *= 1.7;
    const StepReport report = findSteps(wandergen::linesOf(sessions));
    for (std::size_t l = 0; l < kLineCount; ++l) {
        const LineSteps& line = report.lines[l];
        if (l == 2 || l == 8) {
            ASSERT_EQ(line.changes.size(), 1u) << l;
            EXPECT_EQ(line.changes[0].session, 5u);
            EXPECT_EQ(line.changes[0].direction, Direction::slower);
            EXPECT_LT(line.changes[0].low, 1.25);
            EXPECT_GT(line.changes[0].high, 1.25);
            EXPECT_LE(line.changes[0].low, line.changes[0].ratio);
            EXPECT_GE(line.changes[0].high, line.changes[0].ratio);
        } else {
            EXPECT_TRUE(line.changes.empty()) << l;
        }
        if (l >= 4 && l <= 6) {
            ASSERT_EQ(line.excursions.size(), 1u) << l;
            EXPECT_EQ(line.excursions[0].session, 2u);
            EXPECT_EQ(line.excursions[0].direction, Direction::slower);
        }
    }
    // The newest level is slower than the one before it.
    EXPECT_TRUE(report.newestSlower);
}

TEST(WanderSteps, TheMorningAfterASlowdownAndAChangeOnAQuietMachineAtItsFirstSession)
{
    std::mt19937_64 random(22);
    const wandergen::Shape shape = wandergen::randomShape(random, 0.02);
    // Ten normal sessions, then two lines 20% slower: the rule on the newest.
    const StepReport slow =
        findSteps(wandergen::linesOf(wandergen::history(shape, 11, 4, random, stepOf(10, 1.2, {3, 7}))));
    EXPECT_TRUE(slow.newestSlower);
    EXPECT_TRUE(slow.lines[3].newest.alarm || !slow.lines[3].changes.empty());
    // Three normal sessions, then GMP four times slower (built without
    // assembly code): called at the fourth session, nothing else.
    wandergen::Shape quiet = shape;
    quiet.scale.fill(0.01);
    const StepReport gmp = findSteps(wandergen::linesOf(wandergen::history(quiet, 4, 4, random, stepOf(3, 4, {2}))));
    ASSERT_EQ(gmp.lines[2].changes.size(), 1u);
    EXPECT_EQ(gmp.lines[2].changes[0].session, 3u);
    EXPECT_TRUE(gmp.newestSlower);
    for (std::size_t l = 0; l < kLineCount; ++l)
        if (l != 2) {
            EXPECT_TRUE(gmp.lines[l].changes.empty()) << l;
        }
}

TEST(WanderSteps, RatesOnGeneratedHistories)
{
    std::mt19937_64 random(23);
    int changed = 0, lines = 0, alerts = 0, found = 0, stepped = 0;
    constexpr int kHistories = 60;
    for (int i = 0; i < kHistories; ++i) {
        const wandergen::Shape shape = wandergen::randomShape(random, 0.03);
        const StepReport none = findSteps(wandergen::linesOf(wandergen::history(shape, 8, 4, random)));
        for (const LineSteps& line : none.lines) {
            changed += line.changes.empty() ? 0 : 1;
            ++lines;
        }
        alerts += none.newestSlower ? 1 : 0;
        const std::size_t a = random() % kLineCount, b = (a + 1 + random() % (kLineCount - 1)) % kLineCount;
        const StepReport step =
            findSteps(wandergen::linesOf(wandergen::history(shape, 10, 4, random, stepOf(5, 1.15, {a, b}))));
        for (const std::size_t l : {a, b}) {
            ++stepped;
            for (const LineChange& change : step.lines[l].changes)
                found += change.session == 5 ? 1 : 0;
        }
    }
    std::printf("no step: %d of %d line histories changed, %d of %d histories status 3; 15%% step found at its "
                "session in %d of %d\n",
                changed, lines, alerts, kHistories, found, stepped);
    EXPECT_LE(changed, lines * 2 / 100 + 3);
    EXPECT_LE(alerts, kHistories * 5 / 100 + 3);
    EXPECT_GE(found, stepped * 80 / 100);
}

// Undecided: where a step stands that the wander estimated does not
// confirm but a wander at the low end of what the sessions allow would;
// never where a change was called, and the scale it names lies below the
// model's.
TEST(WanderSteps, UndecidedIsWhatTheSessionsCannotTellYet)
{
    std::mt19937_64 random(24);
    int undecided = 0;
    for (int i = 0; i < 40; ++i) {
        const wandergen::Shape shape = wandergen::randomShape(random, 0.03);
        const StepReport report =
            findSteps(wandergen::linesOf(wandergen::history(shape, 6, 4, random, stepOf(3, 1.08, {0, 1, 2, 3}))));
        for (std::size_t l = 0; l < kLineCount; ++l)
            for (const LineUndecided& u : report.lines[l].undecided) {
                ++undecided;
                EXPECT_LT(u.scaleNeeded, report.model.scale[l]);
                EXPECT_GT(u.scaleNeeded, 0);
                for (const LineChange& change : report.lines[l].changes)
                    EXPECT_NE(change.session, u.session);
            }
    }
    EXPECT_GT(undecided, 0);
}

TEST(WanderSitting, OneMachineAgainstItselfAndTenPercentSlower)
{
    std::mt19937_64 random(31);
    int anyFalse = 0, headline = 0, interleavedFalse = 0, interleavedFound = 0;
    constexpr int kComparisons = 150;
    // The wander from each machine's five earlier sessions; the newest compared.
    const auto side = [](const std::vector<Session>& sessions) {
        return sideOfRuns(wandergen::logsOf(sessions.back()), fitWander(wandergen::linesOf(sessions)));
    };
    for (int i = 0; i < kComparisons; ++i) {
        const wandergen::Shape shape = wandergen::randomShape(random, 0.02);
        const std::vector<Session> a = wandergen::history(shape, 6, 5, random);
        const std::vector<Session> b = wandergen::history(shape, 6, 5, random);
        std::vector<Session> slower = b;
        for (Session& session : slower)
            for (auto& run : session)
                for (double& t : run)
                    t *= 1.1;
        const SittingComparison same = compareSittings(side(a), side(b), Pairing::sittings);
        bool any = false;
        for (const RowResult& row : same.rows) {
            any = any || row.verdict == Verdict::slower || row.verdict == Verdict::faster;
            ASSERT_TRUE(row.low && row.high);
            EXPECT_TRUE(*row.low <= row.ratio && row.ratio <= *row.high);
            EXPECT_GT(row.wanderShare, 0);
        }
        EXPECT_EQ(same.baseSource, WanderSource::sessions);
        anyFalse += any ? 1 : 0;
        headline +=
            compareSittings(side(a), side(slower), Pairing::sittings).rows[kSummaryRow].verdict == Verdict::slower ? 1
                                                                                                                    : 0;
        // Interleaved A B B A: no wander term, the exact rank test.
        const auto pair = wandergen::interleaved(shape, 6, random, [](std::size_t s, std::size_t) {
            return s == 1 ? 1.1 : 1.0;
        });
        const auto sameRuns = wandergen::interleaved(shape, 6, random);
        const auto alone = [](const Session& s) {
            return sideOfRuns(wandergen::logsOf(s), fitWander({wandergen::linesOf(s)}));
        };
        const SittingComparison ab = compareSittings(alone(pair.first), alone(pair.second), Pairing::interleaved);
        EXPECT_EQ(ab.rows[kSummaryRow].df, 0);
        EXPECT_EQ(ab.rows[kSummaryRow].wanderShare, 0);
        interleavedFound += ab.rows[kSummaryRow].verdict == Verdict::slower ? 1 : 0;
        const SittingComparison aa =
            compareSittings(alone(sameRuns.first), alone(sameRuns.second), Pairing::interleaved);
        interleavedFalse += aa.rows[kSummaryRow].verdict == Verdict::slower ||
                                    aa.rows[kSummaryRow].verdict == Verdict::faster
                                ? 1
                                : 0;
    }
    std::printf("sittings, 5 runs: some false row in %d of %d, headline found 10%% in %d; interleaved, 6 runs: "
                "false headline %d, found %d\n",
                anyFalse, kComparisons, headline, interleavedFalse, interleavedFound);
    EXPECT_LE(anyFalse, kComparisons * 5 / 100 + 4);
    EXPECT_GE(headline, kComparisons * 75 / 100);
    EXPECT_LE(interleavedFalse, kComparisons * 5 / 100 + 4);
    EXPECT_GE(interleavedFound, kComparisons * 90 / 100);
}

// With one session per machine, the default stands in and says so.
TEST(WanderSitting, OneSessionUsesTheMeasuredDefault)
{
    std::mt19937_64 random(32);
    const wandergen::Shape shape = wandergen::randomShape(random, 0.02);
    const Session a = wandergen::history(shape, 1, 4, random)[0];
    const SittingSide side = sideOfRuns(wandergen::logsOf(a), fitWander({wandergen::linesOf(a)}));
    const SittingComparison c = compareSittings(side, side, Pairing::sittings);
    EXPECT_EQ(c.baseSource, WanderSource::measuredDefault);
    EXPECT_EQ(c.rows[kSummaryRow].verdict, Verdict::undecided);
    EXPECT_NEAR(c.rows[kSummaryRow].ratio, 1, 1e-12);
    EXPECT_GT(c.rows[kSummaryRow].wanderShare, 0.5);
}

TEST(WanderSitting, InterleavedRowsKeepTheExactRankInterval)
{
    // Five runs each, every B slower than every A: the smallest two-sided p
    // of 5 against 5 (2/252), and the interval of the pairwise ratios.
    std::vector<std::array<double, kLineCount>> a, b;
    for (int r = 0; r < 5; ++r) {
        std::array<double, kLineCount> x{}, y{};
        for (std::size_t l = 0; l < kLineCount; ++l) {
            x[l] = std::log(1.0 + 0.01 * r);
            y[l] = x[l] + std::log(1.3);
        }
        a.push_back(x);
        b.push_back(y);
    }
    const WanderModel none = measuredDefaultWander();
    const SittingComparison c = compareSittings(sideOfRuns(a, none), sideOfRuns(b, none), Pairing::interleaved);
    const RowResult& head = c.rows[kSummaryRow];
    EXPECT_NEAR(head.p, 2.0 / 252, 1e-12);
    EXPECT_EQ(head.verdict, Verdict::slower);
    EXPECT_NEAR(head.ratio, 1.3, 1e-9);
    // 2/252 is above the lines' share of the level: they stay undecided
    // until the headline passes its weight on, then Holm among them.
    EXPECT_NEAR(head.level, 1 - 0.05 * kHeadlineWeight, 1e-12);
    for (std::size_t l = 0; l < kLineCount; ++l)
        EXPECT_EQ(c.rows[l].verdict, Verdict::undecided) << l;
}

} // namespace

namespace {

// What other machines' folders can hold reaches these functions as numbers:
// none of it may crash, hang or give a number that is not one.
TEST(WanderInput, OddFiguresAreHandled)
{
    using cpubench::SessionLines;
    std::vector<SessionLines> sessions(7);
    for (std::size_t s = 0; s < sessions.size(); ++s)
        for (std::size_t l = 0; l < kLineCount; ++l)
            sessions[s][l] = {4, std::log(1.0 + 0.01 * static_cast<double>(s % 3)), 0.01};
    sessions[1][0] = {4, NAN, NAN};
    sessions[2][1] = {4, INFINITY, -1};
    sessions[3][2] = {0, 5, 5};
    for (auto& session : sessions)
        session[3] = {1, 0.5, 0}; // one run each, the same time every session
    sessions[4][4] = {1000000, 1e300, 1e300};
    const WanderModel model = fitWander(sessions);
    for (std::size_t l = 0; l < kLineCount; ++l) {
        EXPECT_TRUE(std::isfinite(model.scale[l]) && model.scale[l] > 0) << l;
        EXPECT_TRUE(std::isfinite(model.spread[l])) << l;
    }
    const StepReport report = findSteps(sessions);
    for (const LineSteps& line : report.lines)
        for (const LineChange& change : line.changes)
            EXPECT_TRUE(std::isfinite(change.ratio) && change.low <= change.ratio && change.ratio <= change.high);
    EXPECT_FALSE(findSteps({}).newestSlower);
    EXPECT_FALSE(findSteps({sessions[0]}).newestSlower);

    std::vector<std::array<double, kLineCount>> runs(3);
    for (auto& run : runs)
        run.fill(0.1);
    runs[0][0] = NAN;
    runs[1][1] = -INFINITY;
    const SittingSide side = sideOfRuns(runs, measuredDefaultWander());
    const SittingComparison c = compareSittings(side, side, Pairing::sittings);
    for (const RowResult& row : c.rows)
        EXPECT_TRUE(row.judged && std::isfinite(row.ratio) && row.verdict != Verdict::slower);
    const SittingComparison empty = compareSittings(SittingSide{}, side, Pairing::interleaved);
    for (const RowResult& row : empty.rows)
        EXPECT_FALSE(row.judged);
}

// Random figures of every odd kind, in many histories.
TEST(WanderInput, RandomFiguresNeverBreakIt)
{
    std::mt19937_64 random(42);
    const double odd[] = {NAN, INFINITY, -INFINITY, 0, -1, 1e300, -1e300, 1e-300, 0.5};
    const std::size_t runs[] = {0, 1, 2, 4, 1000000};
    for (int i = 0; i < 30; ++i) {
        std::vector<cpubench::SessionLines> sessions(2 + random() % 9);
        for (auto& session : sessions)
            for (auto& line : session) {
                const bool wild = random() % 4 == 0;
                line.runs = runs[random() % 5];
                line.mean = wild ? odd[random() % 9] : 0.01 * static_cast<double>(random() % 100);
                line.spread = wild ? odd[random() % 9] : 0.02;
            }
        const StepReport report = findSteps(sessions);
        for (const LineSteps& line : report.lines) {
            for (const LineChange& change : line.changes)
                EXPECT_FALSE(std::isnan(change.ratio));
            EXPECT_FALSE(std::isnan(line.newest.score));
        }
    }
}

// A long history: a lab keeps years of nightly sessions (stretches of more
// than 64 sessions are referred to Bonferroni; the test's time limit
// catches a history that takes too long).
TEST(WanderInput, ALongHistory)
{
    std::mt19937_64 random(41);
    const wandergen::Shape shape = wandergen::randomShape(random, 0.02);
    const StepReport report = findSteps(wandergen::linesOf(wandergen::history(shape, 400, 2, random)));
    EXPECT_EQ(report.model.sessions, 400u);
}

} // namespace
